#pragma once

#include <memory>

#include "service/ClassProvider.h"

namespace kestrava::service {

// Win32_Process, Win32_Processor, Win32_LogicalDisk, Win32_NTEventLogFile, Win32_ComputerSystem
// and Win32_OperatingSystem from /proc, /sys, /etc and /var/log (library kestrava_linux_providers).
ProviderList makeLinuxProviders();

// Win32_Service from systemd over D-Bus, or the SysV init scripts where no systemd answers
// (library kestrava_systemd_provider).
std::unique_ptr<ClassProvider> makeServiceProvider();

}  // namespace kestrava::service

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrava::service::linuxsys {

// The first structure of one SMBIOS type, as the kernel exposes it in
// /sys/firmware/dmi/entries/<type>-0/raw (readable by root only); nullopt when unreadable.
std::optional<std::string> readSmbiosStructure(const std::string& sysRoot, int type);

// A byte of a structure's formatted area; nullopt past the length the structure declares.
std::optional<int64_t> smbiosByte(const std::optional<std::string>& structure, size_t offset);

// SMBIOS structure types and offsets the computer system class reads.
namespace smbios {
inline constexpr int kSystemType = 1;
inline constexpr size_t kWakeUpType = 0x18;
inline constexpr int kChassisType = 3;
inline constexpr size_t kBootUpState = 0x09;
inline constexpr size_t kPowerSupplyState = 0x0A;
inline constexpr size_t kThermalState = 0x0B;
inline constexpr int kHardwareSecurityType = 24;
inline constexpr size_t kSecuritySettings = 0x04;
}  // namespace smbios

}  // namespace kestrava::service::linuxsys

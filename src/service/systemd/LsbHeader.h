#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrava::service {

// The descriptive fields of an init script's LSB comment block (### BEGIN INIT INFO).
struct LsbHeader {
  std::string shortDescription;
  std::string description;  // continuation lines joined with single blanks
};

LsbHeader parseLsbHeader(std::string_view scriptText);
// Reads the block from the first 16 KiB of the script; empty fields when there is none.
LsbHeader readLsbHeader(const std::filesystem::path& script);

}  // namespace kestrava::service

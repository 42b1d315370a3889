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

bool isValidUtf8(std::string_view text);
// The text with every byte that is not part of a valid UTF-8 sequence replaced by '?'.
std::string withValidUtf8(std::string_view text);

}  // namespace kestrava::service

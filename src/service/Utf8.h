#pragma once

#include <string>
#include <string_view>

namespace kestrava::service {

// A byte that starts no valid UTF-8 sequence decodes to this base plus the byte, so invalid
// input still compares deterministically and never matches a real character.
inline constexpr char32_t kInvalidByteBase = 0x110000;
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point that starts at pos and moves pos past it; pos must be < s.size().
// Overlong forms, surrogates and values above U+10FFFF count as invalid bytes.
char32_t decodeUtf8(std::string_view s, size_t& pos);

bool isInvalidByte(char32_t c);

// Appends a valid code point as UTF-8.
void appendUtf8(std::string& out, char32_t c);

// Simple case folding of the Latin, Greek, Cyrillic and Armenian letters (and fullwidth Latin):
// enough to compare names and text without regard to case as the management service does.
char32_t foldCase(char32_t c);

// Compares two texts code point by code point after folding; -1, 0 or 1.
int compareFolded(std::string_view a, std::string_view b);

}  // namespace kestrava::service

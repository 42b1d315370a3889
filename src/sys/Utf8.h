#pragma once

#include <string>
#include <string_view>

namespace kestrava::sys {

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

// Whether every byte belongs to a well-formed sequence.
bool isValidUtf8(std::string_view text);

// The bytes as valid UTF-8: every byte that starts no well-formed sequence becomes U+FFFD;
// everything else, newlines and spaces too, passes unchanged.
std::string validUtf8(std::string_view bytes);

// The same, but every such byte becomes a plain '?'.
std::string validUtf8WithQuestionMarks(std::string_view bytes);

}  // namespace kestrava::sys

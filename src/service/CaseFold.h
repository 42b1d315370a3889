#pragma once

#include <string_view>

namespace kestrava::service {

// Simple case folding of the Latin, Greek, Cyrillic and Armenian letters (and fullwidth Latin):
// enough to compare names and text without regard to case as the management service does.
char32_t foldCase(char32_t c);

// Compares two texts code point by code point after folding; -1, 0 or 1. An invalid byte
// compares as itself, above every character.
int compareFolded(std::string_view a, std::string_view b);

}  // namespace kestrava::service

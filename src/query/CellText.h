#pragma once

#include <string>
#include <string_view>

#include "core/Value.h"

namespace kestrava::query {

// Text as it may reach a terminal: the one rule for every text from another computer (names,
// values, errors). Valid UTF-8; control characters shown as \n, \t, \xHH; line separators and
// bidirectional overrides as \uHHHH.
std::string terminalText(std::string_view text);

// A value as one line of a table cell: terminalText, null and empty as nothing; arrays as {a, b}.
std::string cellTextNullAsBlank(const Value& value);

// A value as a CSV field's content: valid UTF-8, line breaks kept (the field gets quoted);
// null and empty as nothing; arrays as {a, b}.
std::string plainText(const Value& value);

// Columns a text takes on a terminal: wide East Asian characters two, combining marks none.
size_t displayWidth(std::string_view utf8);

}  // namespace kestrava::query

#pragma once

#include <string>
#include <string_view>

namespace kestrava::service {

// A parsed object path naming one instance: Class='key', Class="key", Class.Prop='key', or an
// unquoted integer key (Class=42). Inside quotes a backslash takes the next character as it is,
// so the paths that makeObjectPath builds read back to the same key. Blanks are allowed around
// the path and around '='. Anything else throws ComError "Invalid object path: " with what it
// found, its column and what was expected.
struct ObjectPath {
  std::string className;
  std::string keyProperty;  // empty when the path names none
  std::string key;

  static ObjectPath parse(std::string_view text);
};

}  // namespace kestrava::service

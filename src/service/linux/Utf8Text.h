#pragma once

#include <string>
#include <string_view>

namespace kestrava::service::linuxsys {

// The bytes as valid UTF-8: every byte that starts no well-formed sequence (overlong forms,
// surrogates and values past U+10FFFF included) becomes U+FFFD; everything else, newlines and
// spaces too, passes unchanged.
std::string validUtf8(std::string_view bytes);

}  // namespace kestrava::service::linuxsys

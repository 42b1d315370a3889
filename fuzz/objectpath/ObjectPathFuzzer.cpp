// Feeds arbitrary text to the object path parser. A refusal is ComError "Invalid object path: "
// with a detail that quotes a bounded part of the text, however long the text. An accepted path's
// class and key, written back the way the program writes paths, read back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/ComError.h"
#include "core/ManagementObject.h"
#include "service/ObjectPath.h"

namespace {

using namespace kestrava;
using namespace kestrava::service;

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ObjectPath path;
  try {
    path = ObjectPath::parse(text);
  } catch (const ComError& e) {
    check(e.number() == err::kWbemInvalidObjectPath);
    check(e.description().rfind("Invalid object path: ", 0) == 0 && e.description().size() < 160);
    return 0;
  }
  check(!path.className.empty());
  const ObjectPath again = ObjectPath::parse(makeObjectPath(path.className, path.key));
  check(again.className == path.className && again.key == path.key && again.keyProperty.empty());

  // Any key, as raw bytes, survives the round trip.
  const ObjectPath raw = ObjectPath::parse(makeObjectPath("C", text));
  check(raw.key == text);
  return 0;
}

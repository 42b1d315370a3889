#include "service/linux/ProcIo.h"

#include "service/linux/FileAccess.h"
#include "service/linux/KeyValueText.h"

namespace kestrava::service::linuxsys {

ProcIo parseProcIo(std::string_view text) {
  ProcIo io;
  forEachKeyValue(text, ':', [&](std::string_view key, std::string_view value) {
    if (key == "rchar")
      io.rchar = parseUnsigned(value);
    else if (key == "wchar")
      io.wchar = parseUnsigned(value);
    else if (key == "syscr")
      io.syscr = parseUnsigned(value);
    else if (key == "syscw")
      io.syscw = parseUnsigned(value);
  });
  return io;
}

}  // namespace kestrava::service::linuxsys

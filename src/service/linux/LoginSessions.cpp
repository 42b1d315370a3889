#include "service/linux/LoginSessions.h"

#include <utmp.h>

#include <cstring>

#include "service/linux/FileAccess.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

namespace {
std::string fixedField(const char* field, size_t size) {
  return sys::validUtf8(std::string_view(field, ::strnlen(field, size)));
}
}  // namespace

bool LoginSession::onConsole() const {
  std::string_view l = line;
  if (l == "console") return true;
  if (l.starts_with("tty") && isAllDigits(l.substr(3))) return true;
  return l.starts_with(':') && l.size() > 1;
}

std::vector<LoginSession> parseUtmp(std::string_view bytes) {
  std::vector<LoginSession> out;
  for (size_t off = 0; off + sizeof(struct utmp) <= bytes.size(); off += sizeof(struct utmp)) {
    struct utmp rec;
    std::memcpy(&rec, bytes.data() + off, sizeof rec);
    if (rec.ut_type != USER_PROCESS || rec.ut_user[0] == '\0') continue;
    out.push_back(
        {fixedField(rec.ut_user, sizeof rec.ut_user), fixedField(rec.ut_line, sizeof rec.ut_line)});
  }
  return out;
}

}  // namespace kestrava::service::linuxsys

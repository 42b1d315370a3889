#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrava::service::linuxsys {

// A user logged in as the utmp file records it (a USER_PROCESS record).
struct LoginSession {
  std::string user;        // valid UTF-8
  std::string line;        // the terminal: "tty1", "pts/0", ":0"
  bool onConsole() const;  // a local console: ttyN, console or an X display ":N"
};

// The login records of a utmp file's bytes; a trailing partial record is ignored.
std::vector<LoginSession> parseUtmp(std::string_view bytes);

}  // namespace kestrava::service::linuxsys

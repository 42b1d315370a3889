#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  std::string err;
};

// The built kestrava with the given environment changes and arguments; its standard error.
Outcome runDesktop(const std::string& environment, const std::string& args) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                              environment + " timeout 20 " KESTRAVA_DESKTOP_PROGRAM " " + args +
                              " 2>&1 >/dev/null";
  Outcome run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer{};
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
    run.err.append(buffer.data(), n);
  const int wait = ::pclose(pipe);
  run.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  return run;
}

std::string stdoutOf(const std::string& args) {
  std::string out;
  FILE* pipe = ::popen(
      ("env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 " KESTRAVA_DESKTOP_PROGRAM " " + args).c_str(),
      "r");
  if (!pipe) return out;
  std::array<char, 4096> buffer{};
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
    out.append(buffer.data(), n);
  return ::pclose(pipe) == 0 ? out : "failed: " + out;
}

const std::string kNoDisplay =
    "kestrava: needs a graphical display; over SSH try `xvfb-run -a kestrava`\n";

TEST(DesktopProgram, WithoutADisplayItSaysSoInOneLineAndExits1) {
  const Outcome none = runDesktop("", "");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, kNoDisplay);

  // A display that is named but cannot be opened: Qt's own fatal error is replaced.
  const Outcome unreachable = runDesktop("DISPLAY=:7391", "");
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_EQ(unreachable.err, kNoDisplay);
}

TEST(DesktopProgram, VersionAndHelpNeedNoDisplay) {
  EXPECT_EQ(stdoutOf("--version"), "kestrava " KESTRAVA_VERSION "\n");
  const std::string help = stdoutOf("--help");
  EXPECT_EQ(help.rfind("Usage: kestrava ", 0), 0u) << help;
  EXPECT_NE(help.find("--version"), std::string::npos) << help;
  EXPECT_NE(help.find("xvfb-run -a kestrava"), std::string::npos) << help;
}

}  // namespace

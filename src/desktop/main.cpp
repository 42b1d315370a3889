#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/MDIKestrava.h"
#include "app/frmAbout.h"
#include "connect/Connector.h"
#include "platform/Layout.h"
#include "sys/ChildCleanup.h"
#include "views/Views.h"

namespace {

constexpr const char* kNoDisplay =
    "kestrava: needs a graphical display; over SSH try `xvfb-run -a kestrava`\n";

constexpr const char* kUsage =
    "Usage: kestrava [--help] [--version] [-platform NAME]\n"
    "Opens the main window of Kestrava, which looks into this computer or another one over SSH.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Needs a graphical display (DISPLAY or WAYLAND_DISPLAY); over SSH try `xvfb-run -a kestrava`.\n"
    "For scripts and terminals: kestrava-query. See kestrava(1).\n";

bool hasArgument(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Qt's own platform choice is trusted when the user made it; otherwise a window needs a display.
bool displayPossible(int argc, char** argv) {
  return isSet("QT_QPA_PLATFORM") || hasArgument(argc, argv, "-platform") ||
         hasArgument(argc, argv, "--platform") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

// Qt's messages while it opens the display: dropped when it cannot, passed on when it can.
struct StartupMessage {
  QtMsgType type;
  std::string category, text;
};
std::vector<StartupMessage> startupMessages;

void holdStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    // A display that cannot be opened is Qt's one fatal error while the application is made.
    std::fputs(kNoDisplay, stderr);
    std::fflush(stderr);
    std::_Exit(1);
  }
  startupMessages.push_back({type, context.category ? context.category : "", text.toStdString()});
}

void passOnStartupMessages() {
  qInstallMessageHandler(nullptr);
  for (const StartupMessage& m : startupMessages) {
    const QMessageLogContext context(nullptr, 0, nullptr, m.category.c_str());
    qt_message_output(m.type, context, QString::fromStdString(m.text));
  }
  startupMessages.clear();
}

}  // namespace

int main(int argc, char** argv) {
  if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (hasArgument(argc, argv, "--version")) {
    std::printf("kestrava %s\n", KESTRAVA_VERSION_STRING);
    return 0;
  }
  if (!displayPossible(argc, argv)) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }

  // Every ssh the window starts ends with it, however it ends.
  kestrava::sys::endChildrenOnEveryExit();
  qInstallMessageHandler(holdStartupMessage);
  QApplication app(argc, argv);
  passOnStartupMessages();
  QApplication::setApplicationName("Kestrava");
  QApplication::setApplicationVersion(KESTRAVA_VERSION_STRING);
  QApplication::setDesktopFileName("kestrava");
  QApplication::setWindowIcon(QIcon(kestrava::frmAbout::icon()));
  // The windows are designed around an 8.25 point sans-serif default font.
  QApplication::setFont(kestrava::sansSerif(8.25));

  kestrava::MDIKestrava main(&kestrava::connectComputer, &kestrava::makeViewWindow);
  main.show();
  main.Form_Load();
  return QApplication::exec();
}

#include <QApplication>

#include "app/MDIKestrava.h"
#include "app/frmAbout.h"
#include "connect/Connector.h"
#include "platform/Layout.h"
#include "sys/ChildCleanup.h"
#include "views/Views.h"

int main(int argc, char** argv) {
  // Every ssh the window starts ends with it, however it ends.
  kestrava::sys::endChildrenOnEveryExit();
  QApplication app(argc, argv);
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

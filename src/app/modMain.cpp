#include "app/modMain.h"

#include <QCoreApplication>

#include "app/MDIKestrava.h"

namespace kestrava {

void ExitProgram(MDIKestrava& main) {
  main.close();
  QCoreApplication::quit();
}

}  // namespace kestrava

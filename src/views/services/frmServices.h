#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ListControl.h"
#include "platform/SWbemObject.h"
#include "platform/Timer.h"
#include "views/lists/ListViewWindow.h"

class QLabel;
class QPushButton;

namespace kestrava {

// The Services view: the services list with four actions above it. An action sends its request
// and makes the acted-on row blink; the end of the blink refills the list.
class frmServices : public ListViewWindow {
  Q_OBJECT
 public:
  frmServices(MDIKestrava& main, const ListViewDef& viewDef);

  void Start_Click() { serviceAction("StartService"); }
  void Stop_Click() { serviceAction("StopService"); }
  void Pause_Click() { serviceAction("PauseService"); }
  void Resume_Click() { serviceAction("ResumeService"); }
  void Timer1_Timer();

  ListControl* lvwService;
  QLabel* Label2;
  QPushButton* Start;
  QPushButton* Stop;
  QPushButton* Pause;
  QPushButton* Resume;
  Timer* Timer1;

  // The window's own state, kept between actions and ticks.
  std::string strServiceName;
  std::shared_ptr<SWbemObject> objService;
  ListItem itmService;
  int16_t intBlinkCount = 0;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void serviceAction(const char* method);
};

}  // namespace kestrava

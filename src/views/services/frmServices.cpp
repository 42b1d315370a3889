#include "views/services/frmServices.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "app/MDIKestrava.h"
#include "core/ManagementObject.h"
#include "platform/Err.h"
#include "platform/Layout.h"

namespace kestrava {

namespace {
QPushButton* actionButton(QWidget* parent, const char* name, int left) {
  auto* button = place(new QPushButton(name, parent), name, left, 600, 1215, 495);
  button->setFont(sansSerif(13.5, false));
  return button;
}
}  // namespace

frmServices::frmServices(MDIKestrava& main, const ListViewDef& viewDef)
    : ListViewWindow(main, viewDef) {
  lvwService = list();
  lvwService->setToolTip("Click on column header to sort");
  Label2 = place(new QLabel("ACTIONS:", this), "Label2", 480, 240, 3855, 255);
  Label2->setFont(sansSerif(12, true));
  Start = actionButton(this, "Start", 360);
  Stop = actionButton(this, "Stop", 1680);
  Pause = actionButton(this, "Pause", 3360);
  Resume = actionButton(this, "Resume", 4680);
  // Tab indexes: the list 0, Stop 1, Pause 2, Start 3, (the label 4), Resume 5.
  setTabOrder(lvwService, Stop);
  setTabOrder(Stop, Pause);
  setTabOrder(Pause, Start);
  setTabOrder(Start, Resume);

  Timer1 = new Timer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(250);
  Timer1->setEnabled(false);

  connect(Start, &QPushButton::clicked, this, &frmServices::Start_Click);
  connect(Stop, &QPushButton::clicked, this, &frmServices::Stop_Click);
  connect(Pause, &QPushButton::clicked, this, &frmServices::Pause_Click);
  connect(Resume, &QPushButton::clicked, this, &frmServices::Resume_Click);
  connect(Timer1, &Timer::Tick, this, &frmServices::Timer1_Timer);
}

void frmServices::serviceAction(const char* method) {
  Err().clear();
  if (!Err().step([&] { strServiceName = lvwService->SelectedItem().Text(); }))
    return;  // no selected row: nothing at all happens
  // The method must reach only the service fetched for this action, never an earlier one.
  objService.reset();
  Err().step([&] {
    objService = std::make_shared<SWbemObject>(
        deref(main_.WBEMServices).Get(makeObjectPath("Win32_Service", strServiceName), 0));
  });
  Err().step([&] { deref(objService).ExecMethod(method); });
  Err().step([&] { itmService = lvwService->FindItem(strServiceName); });
  Timer1->setEnabled(true);
}

void frmServices::Timer1_Timer() {
  intBlinkCount = static_cast<int16_t>(intBlinkCount + 1);
  // A row that is no longer in the list (or no row at all) is left alone; the tick still counts.
  const bool rowPresent = itmService.exists();
  if (intBlinkCount > 10) {
    if (rowPresent) itmService.setBold(false);
    Timer1->setEnabled(false);
    intBlinkCount = 0;
    ShowForm();
  } else {
    intBlinkCount = static_cast<int16_t>(intBlinkCount + 1);
    if (rowPresent) itmService.setBold(!itmService.Bold());
  }
}

void frmServices::paintEvent(QPaintEvent* event) {
  ListViewWindow::paintEvent(event);
  // The actions frame: four lines, 5 pixels wide.
  QPainter painter(this);
  painter.setPen(QPen(palette().color(QPalette::WindowText), 5));
  const int left = twipsToPixels(120), top = twipsToPixels(120), right = twipsToPixels(6120),
            bottom = twipsToPixels(1200);
  painter.drawLine(left, top, right, top);        // Line2
  painter.drawLine(left, top, left, bottom);      // Line3
  painter.drawLine(left, bottom, right, bottom);  // Line1
  painter.drawLine(right, top, right, bottom);    // Line4
}

}  // namespace kestrava

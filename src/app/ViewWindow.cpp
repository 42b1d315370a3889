#include "app/ViewWindow.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include "app/MDIKestrava.h"
#include "platform/BusyCursor.h"
#include "platform/Err.h"
#include "platform/MessageBox.h"
#include "platform/SWbemServices.h"
#include "platform/SWbemSink.h"
#include "platform/Twips.h"

namespace kestrava {

ViewWindow::ViewWindow(MDIKestrava& main, const char* windowName, const char* caption,
                       std::string query)
    : main_(main), query_(std::move(query)) {
  setObjectName(windowName);
  setWindowTitle(caption);
  setAccessibleName(caption);
  resize(twipsSize(11175, 7905));
}

QMdiSubWindow* ViewWindow::subWindow() const {
  return qobject_cast<QMdiSubWindow*>(parentWidget());
}

void ViewWindow::Form_Load() {
  QWidget* frame = subWindow() ? static_cast<QWidget*>(subWindow()) : this;
  const QSize outer = main_.frameGeometry().size();
  frame->resize(outer.width() - twipsToPixels(275), outer.height() - twipsToPixels(200));
}

void ViewWindow::showView() {
  QMdiSubWindow* frame = subWindow();
  if (!frame) {
    show();
    return;
  }
  frame->show();
  frame->raise();
  main_.mdiArea()->setActiveSubWindow(frame);
}

void ViewWindow::hideView() {
  if (QMdiSubWindow* frame = subWindow()) frame->hide();
}

void ViewWindow::ShowForm() {
  Err().clear();
  std::optional<SWbemObjectSet> set;
  {
    BusyCursor busy;
    Err().step([&] {
      deref(main_.WBEMServices)
          .ExecNotificationQueryAsync(*main_.eventSink, kServiceChangeQuery, "WQL", 0);
    });
    Err().step([&] { set.emplace(deref(main_.WBEMServices).ExecQuery(query_, "WQL", 16)); });
    if (Err().number() != err::kObjectNotSet) {
      fill(set);
      return;
    }
  }
  showMessage(this, "Please CONNECT to Local or Remote computer first", "Connect please!");
}

}  // namespace kestrava

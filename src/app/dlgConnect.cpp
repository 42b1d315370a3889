#include "app/dlgConnect.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>

#include "app/MDIKestrava.h"
#include "app/ViewWindow.h"
#include "platform/BusyCursor.h"
#include "platform/Err.h"
#include "platform/Layout.h"
#include "platform/SWbemServices.h"
#include "viewtable/ViewTable.h"

namespace kestrava {

dlgConnect::dlgConnect(MDIKestrava& main) : main_(main) {
  setObjectName("dlgConnect");
  setWindowTitle("Connect Dialog");
  setFont(sansSerif(8.25, false));
  setFixedSize(twipsSize(6255, 3420));

  OKButton = place(new QPushButton("OK", this), "OKButton", 4920, 2520, 975, 735);
  OKButton->setFont(sansSerif(13.5, false));
  // The dialog lives in an MDI child, not a window of its own: an auto-default button would
  // give up being the default when the focus leaves it, and Enter would then press nothing.
  OKButton->setAutoDefault(false);
  OKButton->setDefault(true);
  txtConnect = place(new QLineEdit(this), "txtConnect", 3600, 1560, 2535, 615);
  txtConnect->setAccessibleName("Name of remote computer");
  Label1 = place(new QLabel("Name of remote computer", this), "Label1", 360, 1680, 3135, 375);
  Label1->setFont(sansSerif(9.75, true));
  Label1->setBuddy(txtConnect);
  optLocal = place(new QRadioButton("Local Machine", this), "optLocal", 240, 720, 2175, 255);
  optLocal->setFont(sansSerif(8.25, true));
  optLocal->setChecked(true);
  optRemote = place(new QRadioButton("Remote Machine", this), "optRemote", 240, 1200, 2175, 255);
  optRemote->setFont(sansSerif(8.25, true));
  Label2 = place(new QLabel("Do you wish to connect to a local machine or remote?", this), "Label2",
                 120, 120, 5895, 375);
  Label2->setFont(sansSerif(9.75, true));

  setTabOrder(OKButton, txtConnect);
  setTabOrder(txtConnect, optLocal);
  setTabOrder(optLocal, optRemote);

  connect(optLocal, &QRadioButton::clicked, this, &dlgConnect::optLocal_Click);
  connect(optRemote, &QRadioButton::clicked, this, &dlgConnect::optRemote_Click);
  connect(OKButton, &QPushButton::clicked, this, &dlgConnect::OKButton_Click);
  Form_Load();
  OKButton->setFocus();
}

void dlgConnect::Form_Load() {
  txtConnect->setEnabled(false);
}

void dlgConnect::optLocal_Click() {
  txtConnect->setText(".");
  txtConnect->setEnabled(false);
}

void dlgConnect::optRemote_Click() {
  txtConnect->setEnabled(true);
  txtConnect->clear();
  txtConnect->setFocus();
}

void dlgConnect::OKButton_Click() {
  const std::string computer = txtConnect->text().toStdString();
  // A computer far away can send every view's data with the connect; each ShowForm still runs
  // its query.
  std::vector<std::string> queries;
  for (const ViewRow* row : kViewBuildOrder) queries.emplace_back(row->query());
  main_.ConnectWBEM(computer, queries);
  if (Err().number() != 0) return;  // the failure message has been shown; stay open

  BusyCursor busy;
  for (const ViewRow* row : kViewBuildOrder) main_.view(row->windowName())->hideView();
  main_.setWindowTitle("Kestrava - building - this may take a minute or two ...");
  for (const ViewRow* row : kViewBuildOrder) main_.view(row->windowName())->ShowForm();
  main_.setWindowTitle("Done building information");
  main_.setViewEntriesEnabled(true);
  closeDialog();
}

void dlgConnect::closeEvent(QCloseEvent* event) {
  event->accept();
}

void dlgConnect::closeDialog() {
  if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget()))
    frame->close();
  else
    close();
}

}  // namespace kestrava

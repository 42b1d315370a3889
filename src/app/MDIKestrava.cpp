#include "app/MDIKestrava.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>

#include "app/ViewWindow.h"
#include "app/dlgConnect.h"
#include "app/frmAbout.h"
#include "app/modMain.h"
#include "platform/BusyCursor.h"
#include "platform/Err.h"
#include "platform/MessageBox.h"
#include "platform/Twips.h"

namespace kestrava {

namespace {
struct MenuEntry {
  const char* name;
  const char* caption;
  const char* viewWindow;  // nullptr for the commands that are not view entries
};

constexpr MenuEntry kMenu[] = {
    {"Exit", "E&xit", nullptr},
    {"Connect", "&Connect", nullptr},
    {"Services", "&Services", "frmServices"},
    {"Processes", "&Processes", "frmProcesses"},
    {"ComputerSystem", "Comp&uter System", "frmComputerSystem"},
    {"LogicalDisk", "&Logical Disk", "frmLogicalDisk"},
    {"OperatingSystem", "&Operating System", "frmOperatingSystem"},
    {"Processor", "P&rocessor", "frmProcessor"},
    {"EventLog", "&EventLog", "frmEventLogFile"},
    {"About", "&About", nullptr},
};
}  // namespace

QString connectionFailureText(const std::string& description, const std::string& source) {
  return QString::fromStdString(description + source) +
         "\r\nEither:"
         "\r\n    1. You are not authorized to access this machine"
         "\r\n or 2. This is not a Windows 2000 machine"
         "\r\n or 3. DCOM is not setup on this Windows 2000 machine";
}

MDIKestrava::MDIKestrava(ConnectionFactory connections, QWidget* parent)
    : QMainWindow(parent), connections_(std::move(connections)) {
  setObjectName("MDIKestrava");
  setWindowTitle("MDIKestrava");
  mdiArea_ = new QMdiArea(this);
  mdiArea_->setObjectName("MDIClient");
  mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdiArea_);
  buildMenu();
  resize(twipsToPixels(11175), twipsToPixels(8385) + menuBar()->sizeHint().height());
}

MDIKestrava::~MDIKestrava() {
  // Views read the connection while they close; let them go before it does.
  for (auto& [name, frame] : views_) delete frame.data();
}

void MDIKestrava::buildMenu() {
  for (const auto& entry : kMenu) {
    auto* action = menuBar()->addAction(entry.caption);
    action->setObjectName(entry.name);
    entries_[entry.name] = action;
    const QString name = entry.name;
    if (entry.viewWindow) {
      const QString window = entry.viewWindow;
      connect(action, &QAction::triggered, this, [this, window] { showViewEntry(window); });
    } else if (name == "Exit") {
      connect(action, &QAction::triggered, this, &MDIKestrava::Exit_Click);
    } else if (name == "Connect") {
      connect(action, &QAction::triggered, this, &MDIKestrava::Connect_Click);
    } else {
      connect(action, &QAction::triggered, this, &MDIKestrava::About_Click);
    }
  }
}

void MDIKestrava::registerView(const QString& windowName, ViewFactory factory) {
  factories_[windowName] = std::move(factory);
}

void MDIKestrava::Form_Load() {
  Locator = std::make_unique<SWbemLocator>(connections_);
  eventSink = new SWbemSink(this);  // its events are connected to nothing: they are dropped
  for (const char* name : {"Services", "Processes", "ComputerSystem", "LogicalDisk",
                           "OperatingSystem", "Processor", "EventLog"})
    entries_.at(name)->setEnabled(false);
  Connect_Click();
}

void MDIKestrava::ConnectWBEM(const std::string& computer) {
  Err().clear();
  BusyCursor busy;
  Err().step([&] {
    if (!eventSink) throw objectNotSet();
    eventSink->Cancel();
  });
  Err().step([&] { WBEMServices = deref(Locator).ConnectServer(computer, "", "", "", "", "", 0); });
  if (!Err().pending()) return;
  busy.restore();
  showMessage(this, connectionFailureText(Err().description(), Err().source()), "Kestrava");
}

QMdiSubWindow* MDIKestrava::addChild(QWidget* widget) {
  QMdiSubWindow* frame = mdiArea_->addSubWindow(widget);
  frame->setAttribute(Qt::WA_DeleteOnClose);
  frame->setObjectName(widget->objectName() + "Frame");
  return frame;
}

ViewWindow* MDIKestrava::existingView(const QString& windowName) const {
  auto it = views_.find(windowName);
  if (it == views_.end() || it->second.isNull()) return nullptr;
  return qobject_cast<ViewWindow*>(it->second->widget());
}

ViewWindow* MDIKestrava::view(const QString& windowName) {
  if (ViewWindow* existing = existingView(windowName)) return existing;
  ViewWindow* window = factories_.at(windowName)(*this);
  QMdiSubWindow* frame = addChild(window);
  frame->hide();
  views_[windowName] = frame;
  window->Form_Load();
  return window;
}

QAction* MDIKestrava::menuEntry(const QString& name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : it->second;
}

void MDIKestrava::setViewEntriesEnabled(bool enabled) {
  for (const char* name : {"Services", "Processes", "ComputerSystem", "LogicalDisk",
                           "OperatingSystem", "Processor", "EventLog"})
    entries_.at(name)->setEnabled(enabled);
}

void MDIKestrava::Exit_Click() {
  ExitProgram(*this);
}

void MDIKestrava::Connect_Click() {
  if (connectDialog_.isNull()) {
    auto* dialog = new dlgConnect(*this);
    connectDialog_ = addChild(dialog);
    connectDialog_->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                   Qt::WindowCloseButtonHint);
    connectDialog_->adjustSize();
    connectDialog_->setFixedSize(connectDialog_->size());
    connectDialog_->move(twipsToPixels(600), twipsToPixels(600));
  }
  connectDialog_->show();
  connectDialog_->raise();
  mdiArea_->setActiveSubWindow(connectDialog_);
  connectDialog_->widget()->findChild<QWidget*>("OKButton")->setFocus();
}

void MDIKestrava::About_Click() {
  if (aboutBox_.isNull()) {
    auto* about = new frmAbout;
    aboutBox_ = addChild(about);
    aboutBox_->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint);
    aboutBox_->adjustSize();
    aboutBox_->setFixedSize(aboutBox_->size());
    aboutBox_->move(twipsToPixels(1200), twipsToPixels(900));
  }
  aboutBox_->show();
  aboutBox_->raise();
  mdiArea_->setActiveSubWindow(aboutBox_);
}

void MDIKestrava::showViewEntry(const QString& windowName) {
  view(windowName)->showView();
}

}  // namespace kestrava

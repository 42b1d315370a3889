#include "app/MDIKestrava.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <stdexcept>

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
// The menu's commands that are not view entries; the view entries stand between the two groups.
struct Command {
  const char* name;
  const char* caption;
  void (MDIKestrava::*click)();
};

constexpr Command kCommandsBefore[] = {
    {"Exit", "E&xit", &MDIKestrava::Exit_Click},
    {"Connect", "&Connect", &MDIKestrava::Connect_Click},
};
constexpr Command kCommandsAfter[] = {
    {"About", "&About", &MDIKestrava::About_Click},
};
}  // namespace

QString connectionFailureText(const std::string& description, const std::string& source) {
  return QString::fromStdString(description + source) +
         "\r\nEither:"
         "\r\n    1. You are not authorized to access this machine"
         "\r\n or 2. This is not a Windows 2000 machine"
         "\r\n or 3. DCOM is not setup on this Windows 2000 machine";
}

MDIKestrava::MDIKestrava(ConnectionFactory connections, ViewFactory views, QWidget* parent)
    : QMainWindow(parent), connections_(std::move(connections)), viewFactory_(std::move(views)) {
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

QAction* MDIKestrava::addMenuEntry(const char* name, const char* caption) {
  QAction* action = menuBar()->addAction(caption);
  action->setObjectName(name);
  entries_[name] = action;
  return action;
}

void MDIKestrava::buildMenu() {
  for (const Command& command : kCommandsBefore)
    connect(addMenuEntry(command.name, command.caption), &QAction::triggered, this, command.click);
  for (const ViewRow& row : kViews)
    connect(addMenuEntry(row.menuEntry, row.menuCaption), &QAction::triggered, this,
            [this, &row] { showViewEntry(row.windowName()); });
  for (const Command& command : kCommandsAfter)
    connect(addMenuEntry(command.name, command.caption), &QAction::triggered, this, command.click);
}

void MDIKestrava::Form_Load() {
  Locator = std::make_unique<SWbemLocator>(connections_);
  eventSink = new SWbemSink(this);  // its events are connected to nothing: they are dropped
  setViewEntriesEnabled(false);
  Connect_Click();
}

void MDIKestrava::ConnectWBEM(const std::string& computer,
                              const std::vector<std::string>& readAhead) {
  Err().clear();
  BusyCursor busy;
  Err().step([&] {
    if (!eventSink) throw objectNotSet();
    eventSink->Cancel();
  });
  Err().step([&] {
    deref(Locator).readAheadOnNextConnect(readAhead);
    WBEMServices = deref(Locator).ConnectServer(computer, "", "", "", "", "", 0);
  });
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

QMdiSubWindow* MDIKestrava::addDialogChild(QWidget* widget, int leftTwips, int topTwips) {
  QMdiSubWindow* frame = addChild(widget);
  // A fixed dialog border: a caption and a close box, no minimize or maximize button. Qt draws
  // the close box only beside the system menu.
  frame->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  frame->adjustSize();
  frame->setFixedSize(frame->size());
  frame->move(twipsToPixels(leftTwips), twipsToPixels(topTwips));
  return frame;
}

void MDIKestrava::bringToFront(QMdiSubWindow* frame) {
  frame->show();
  frame->raise();
  mdiArea_->setActiveSubWindow(frame);
}

ViewWindow* MDIKestrava::existingView(const QString& windowName) const {
  auto it = views_.find(windowName);
  if (it == views_.end() || it->second.isNull()) return nullptr;
  return qobject_cast<ViewWindow*>(it->second->widget());
}

ViewWindow* MDIKestrava::view(const QString& windowName) {
  if (ViewWindow* existing = existingView(windowName)) return existing;
  const ViewRow* row = findView(windowName.toStdString());
  if (!row)
    throw std::out_of_range("no view is shown in a window named " + windowName.toStdString());
  ViewWindow* window = viewFactory_(*this, *row);
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
  for (const ViewRow& row : kViews) entries_.at(row.menuEntry)->setEnabled(enabled);
}

void MDIKestrava::Exit_Click() {
  ExitProgram(*this);
}

void MDIKestrava::Connect_Click() {
  // An open dialog only comes to the front: whatever has the focus in it keeps it.
  if (connectDialog_.isNull()) connectDialog_ = addDialogChild(new dlgConnect(*this), 600, 600);
  bringToFront(connectDialog_);
}

void MDIKestrava::About_Click() {
  if (aboutBox_.isNull()) aboutBox_ = addDialogChild(new frmAbout, 1200, 900);
  bringToFront(aboutBox_);
}

void MDIKestrava::showViewEntry(const QString& windowName) {
  view(windowName)->showView();
}

}  // namespace kestrava

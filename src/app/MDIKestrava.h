#pragma once

#include <QMainWindow>
#include <QMdiSubWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/Connection.h"
#include "platform/SWbemLocator.h"
#include "platform/SWbemServices.h"
#include "platform/SWbemSink.h"
#include "viewtable/ViewTable.h"

class QAction;
class QMdiArea;

namespace kestrava {

class ViewWindow;

// The main window: the only top-level window, holding every other window of the program, the
// one connection to a management service and the ten menu entries.
class MDIKestrava : public QMainWindow {
  Q_OBJECT
 public:
  // Makes the window that shows a view of the table.
  using ViewFactory = std::function<ViewWindow*(MDIKestrava&, const ViewRow&)>;

  // The connection factory decides which service answers for a computer name; the view factory
  // makes each view's window on its first use.
  MDIKestrava(ConnectionFactory connections, ViewFactory views, QWidget* parent = nullptr);
  ~MDIKestrava() override;

  // The load: locator, sink, view entries disabled, then the Connect command.
  void Form_Load();

  // Opens or replaces the connection. Leaves the pending error (Err()) for the caller: number 0
  // when the connection is open; otherwise shows the connection failure message. readAhead
  // names the queries the caller runs next, in order (ConnectHints).
  void ConnectWBEM(const std::string& computer, const std::vector<std::string>& readAhead = {});

  std::unique_ptr<SWbemLocator> Locator;
  std::shared_ptr<SWbemServices> WBEMServices;
  SWbemSink* eventSink = nullptr;

  // The view window of that name, created (and sized) if it does not exist; a name that is no
  // view's throws std::out_of_range.
  ViewWindow* view(const QString& windowName);
  // The view window of that name if it exists now.
  ViewWindow* existingView(const QString& windowName) const;

  QAction* menuEntry(const QString& name) const;
  void setViewEntriesEnabled(bool enabled);
  QMdiArea* mdiArea() const { return mdiArea_; }
  QMdiSubWindow* connectDialog() const { return connectDialog_; }
  QMdiSubWindow* aboutBox() const { return aboutBox_; }

  // Menu commands.
  void Exit_Click();
  void Connect_Click();
  void About_Click();
  void showViewEntry(const QString& windowName);

 private:
  QMdiSubWindow* addChild(QWidget* widget);
  QMdiSubWindow* addDialogChild(QWidget* widget, int leftTwips, int topTwips);
  void bringToFront(QMdiSubWindow* frame);
  QAction* addMenuEntry(const char* name, const char* caption);
  void buildMenu();

  ConnectionFactory connections_;
  ViewFactory viewFactory_;
  QMdiArea* mdiArea_ = nullptr;
  std::map<QString, QPointer<QMdiSubWindow>> views_;
  std::map<QString, QAction*> entries_;
  QPointer<QMdiSubWindow> connectDialog_;
  QPointer<QMdiSubWindow> aboutBox_;
};

// The text of the connection failure message for the pending error.
QString connectionFailureText(const std::string& description, const std::string& source);

}  // namespace kestrava

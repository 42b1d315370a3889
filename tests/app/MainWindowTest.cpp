#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionTitleBar>
#include <QTest>
#include <set>

#include "app/ViewWindow.h"
#include "app/dlgConnect.h"
#include "app/frmAbout.h"
#include "platform/Err.h"
#include "platform/Twips.h"
#include "support/AppHarness.h"
#include "views/Views.h"
#include "viewtable/ViewTable.h"

namespace kestrava::testing {
namespace {

const char* kFailureTail =
    "\r\nEither:"
    "\r\n    1. You are not authorized to access this machine"
    "\r\n or 2. This is not a Windows 2000 machine"
    "\r\n or 3. DCOM is not setup on this Windows 2000 machine";

const ViewRow* findViewEntry(const QString& menuEntry) {
  for (const ViewRow& row : kViews)
    if (menuEntry == row.menuEntry) return &row;
  return nullptr;
}

// Clicks a child window's close box as a mouse does: along the right end of its title bar, where
// the style draws the box. Reports whether the window closed.
bool clickCloseBox(QMdiSubWindow* window) {
  QPointer<QMdiSubWindow> frame = window;
  QStyleOptionTitleBar option;
  option.initFrom(frame);
  const int height = frame->style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, frame);
  const int right = frame->width() - 1;
  for (int x = right; frame && x > right - 4 * height; x -= 2) {
    const QPointF at(x, height / 2);
    const QPointF global = frame->mapToGlobal(at);
    QMouseEvent move(QEvent::MouseMove, at, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    for (QMouseEvent* event : {&move, &press, &release})
      if (frame) QApplication::sendEvent(frame, event);
    AppHarness::processEvents();
  }
  return frame.isNull();
}

dlgConnect* dialogOf(AppHarness& app) {
  return app.main->connectDialog() ? qobject_cast<dlgConnect*>(app.main->connectDialog()->widget())
                                   : nullptr;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    addViewClasses(app.local);
    addViewClasses(app.remote);
    app.load();
  }
  AppHarness app;
};

// The menu as the user sees it: Exit and Connect, the table's view entries in its order, About;
// only the view entries disabled. Each entry is named by its caption without the access-key
// mark and spaces, and no two entries share an access key.
TEST_F(MainWindowTest, StartsWithTheConnectDialogAndOnlyThreeEntriesEnabled) {
  EXPECT_EQ(app.main->windowTitle(), "MDIKestrava");
  const auto actions = app.main->menuBar()->actions();
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(kViewCount + 3));
  EXPECT_EQ(actions[0]->text(), "E&xit");
  EXPECT_EQ(actions[1]->text(), "&Connect");
  EXPECT_EQ(actions.back()->text(), "&About");
  for (size_t i = 0; i < kViewCount; ++i) EXPECT_EQ(actions[2 + i]->text(), kViews[i].menuCaption);
  std::set<QChar> accessKeys;
  for (QAction* action : actions) {
    const QString caption = action->text();
    EXPECT_EQ(action->objectName(), QString(caption).remove('&').remove(' '));
    const qsizetype mark = caption.indexOf('&');
    ASSERT_TRUE(mark >= 0 && mark + 1 < caption.size()) << caption.toStdString();
    EXPECT_TRUE(accessKeys.insert(caption[mark + 1].toLower()).second) << caption.toStdString();
    EXPECT_EQ(action->isEnabled(), findViewEntry(action->objectName()) == nullptr)
        << caption.toStdString();
  }
  dlgConnect* dialog = dialogOf(app);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(app.main->connectDialog()->isVisible());
  EXPECT_EQ(dialog->windowTitle(), "Connect Dialog");
  EXPECT_FALSE(dialog->txtConnect->isEnabled());
  EXPECT_TRUE(dialog->txtConnect->text().isEmpty());
  EXPECT_TRUE(dialog->optLocal->isChecked());
  EXPECT_FALSE(dialog->optRemote->isChecked());
  EXPECT_EQ(dialog->Label2->text(), "Do you wish to connect to a local machine or remote?");
  EXPECT_EQ(dialog->Label1->text(), "Name of remote computer");
  EXPECT_TRUE(dialog->OKButton->isDefault());
  EXPECT_EQ(dialog->size(), twipsSize(6255, 3420));
  EXPECT_TRUE(app.main->WBEMServices == nullptr);
  EXPECT_TRUE(app.local.calls().empty()) << "nothing is sent before OK";
}

TEST_F(MainWindowTest, ConnectAndAboutOpenOneWindowEach) {
  QMdiSubWindow* first = app.main->connectDialog();
  app.main->menuEntry("Connect")->trigger();
  EXPECT_EQ(app.main->connectDialog(), first);
  app.main->menuEntry("About")->trigger();
  app.main->menuEntry("About")->trigger();
  int abouts = 0, dialogs = 0;
  for (auto* w : app.main->mdiArea()->subWindowList()) {
    abouts += qobject_cast<frmAbout*>(w->widget()) != nullptr;
    dialogs += qobject_cast<dlgConnect*>(w->widget()) != nullptr;
  }
  EXPECT_EQ(abouts, 1);
  EXPECT_EQ(dialogs, 1);
}

// Closing the Connect dialog by its close box connects nothing, builds nothing and leaves the
// menu as it was; the About box has a close box too.
TEST_F(MainWindowTest, CloseBoxClosesTheConnectDialogAndTheAboutBox) {
  ASSERT_TRUE(clickCloseBox(app.main->connectDialog()));
  EXPECT_EQ(app.main->connectDialog(), nullptr);
  EXPECT_TRUE(app.local.calls().empty());
  EXPECT_TRUE(app.messages.empty());
  EXPECT_EQ(app.main->windowTitle(), "MDIKestrava");
  for (const ViewRow& row : kViews) EXPECT_FALSE(app.main->menuEntry(row.menuEntry)->isEnabled());
  EXPECT_TRUE(app.main->mdiArea()->subWindowList().isEmpty());

  app.main->About_Click();
  EXPECT_TRUE(clickCloseBox(app.main->aboutBox()));
  EXPECT_EQ(app.main->aboutBox(), nullptr);
}

// Esc is no key of the Connect dialog, wherever the focus is: OK is its default button.
TEST_F(MainWindowTest, EscLeavesTheConnectDialogOpen) {
  app.main->activateWindow();
  AppHarness::processEvents();
  dlgConnect* dialog = dialogOf(app);
  ASSERT_NE(dialog, nullptr);
  QTest::keyClick(dialog->OKButton, Qt::Key_Escape);
  AppHarness::processEvents();
  ASSERT_EQ(dialogOf(app), dialog);
  dialog->optRemote->click();
  QTest::keyClicks(dialog->txtConnect, "far");
  QTest::keyClick(dialog->txtConnect, Qt::Key_Escape);
  AppHarness::processEvents();
  ASSERT_EQ(dialogOf(app), dialog);
  EXPECT_EQ(dialog->txtConnect->text(), "far");
  EXPECT_TRUE(app.local.calls().empty());
  EXPECT_TRUE(app.remote.calls().empty());
}

// Connect on an open dialog only brings it to the front: a name half typed keeps the focus.
TEST_F(MainWindowTest, ConnectOnTheOpenDialogKeepsItsFocus) {
  app.main->activateWindow();
  AppHarness::processEvents();
  dlgConnect* dialog = dialogOf(app);
  ASSERT_NE(dialog, nullptr);
  dialog->optRemote->click();
  QTest::keyClicks(dialog->txtConnect, "fa");
  ASSERT_EQ(QApplication::focusWidget(), dialog->txtConnect);
  for (bool aboutInFront : {false, true}) {
    if (aboutInFront) app.main->About_Click();
    app.main->menuEntry("Connect")->trigger();
    AppHarness::processEvents();
    EXPECT_EQ(app.main->mdiArea()->activeSubWindow(), app.main->connectDialog()) << aboutInFront;
    EXPECT_EQ(QApplication::focusWidget(), dialog->txtConnect) << aboutInFront;
  }
  EXPECT_EQ(dialog->txtConnect->text(), "fa");
}

// The etched line: the grey line one pixel high, the white one two pixels high just below it.
TEST_F(MainWindowTest, AboutBoxSeparatorShowsGreyAboveWhite) {
  app.main->About_Click();
  auto* about = qobject_cast<frmAbout*>(app.main->aboutBox()->widget());
  ASSERT_NE(about, nullptr);
  const QImage image = about->grab().toImage();
  const int grey = twipsToPixels(2445), white = twipsToPixels(2460);
  ASSERT_GT(white, grey);
  for (int x : {twipsToPixels(300), twipsToPixels(3000), twipsToPixels(5600)}) {
    EXPECT_EQ(image.pixelColor(x, grey), QColor(128, 128, 128)) << x;
    EXPECT_EQ(image.pixelColor(x, white), QColor(Qt::white)) << x;
    EXPECT_EQ(image.pixelColor(x, white + 1), QColor(Qt::white)) << x;
    EXPECT_NE(image.pixelColor(x, white + 2), QColor(Qt::white)) << x;
  }
}

TEST_F(MainWindowTest, AboutBoxShowsItsFixedTextsAndClosesOnOK) {
  app.main->About_Click();
  auto* about = qobject_cast<frmAbout*>(app.main->aboutBox()->widget());
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->windowTitle(), "About Kestrava");
  EXPECT_EQ(about->lblTitle->text(), "Kestrava");
  EXPECT_EQ(about->lblVersion->text(), "Version");
  EXPECT_TRUE(about->lblDisclaimer->text().isEmpty());
  EXPECT_EQ(about->lblDescription->text(),
            "View information about local or remote Windows 2000 computers (need Admin access). "
            "Can also start or stop services.");
  EXPECT_TRUE(about->cmdOK->isDefault());
  EXPECT_EQ(about->picIcon->pixmap().size(), QSize(32, 32));
  about->cmdOK->click();
  AppHarness::processEvents();
  EXPECT_EQ(app.main->aboutBox(), nullptr);
  app.main->About_Click();
  EXPECT_NE(app.main->aboutBox(), nullptr) << "the next About creates it anew";
}

TEST_F(MainWindowTest, OptionButtonsDecideTheNamePassedToTheLocator) {
  struct Case {
    const char* what;
    std::function<void(dlgConnect*)> act;
    std::string expected;
  };
  std::vector<Case> cases = {
      {"OK at once", [](dlgConnect*) {}, ""},
      {"local option", [](dlgConnect* d) { d->optLocal->click(); }, "."},
      {"remote option, nothing typed", [](dlgConnect* d) { d->optRemote->click(); }, ""},
      {"name typed then local again",
       [](dlgConnect* d) {
         d->optRemote->click();
         d->txtConnect->setText("far");
         d->optLocal->click();
       },
       "."},
      {"remote name unchanged",
       [](dlgConnect* d) {
         d->optRemote->click();
         d->txtConnect->setText(" odd 'name' ");
       },
       " odd 'name' "},
  };
  for (const auto& c : cases) {
    AppHarness fresh;
    std::string passed = "<none>";
    fresh.main = std::make_unique<MDIKestrava>(
        [&](const std::string& name, const ConnectHints&) -> std::unique_ptr<Connection> {
          passed = name;
          throw ComError(1, "refused ", "test");
        },
        &makeViewWindow);
    fresh.load();
    c.act(dialogOf(fresh));
    dialogOf(fresh)->OKButton->click();
    EXPECT_EQ(passed, c.expected) << c.what;
  }
}

// The dialog used from the keyboard alone, as a person without a mouse does: Tab to the options,
// Down to choose Remote, back to the name box, type, Enter. Enter must still press OK wherever
// the focus has travelled in between.
TEST_F(MainWindowTest, KeyboardAloneChoosesRemoteAndEnterPressesOK) {
  app.main->activateWindow();
  AppHarness::processEvents();
  dlgConnect* dialog = dialogOf(app);
  ASSERT_NE(dialog, nullptr);
  auto press = [](int key, Qt::KeyboardModifiers mods = {}) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, Qt::Key(key), mods);
    AppHarness::processEvents();
  };
  ASSERT_EQ(QApplication::focusWidget(), dialog->OKButton);
  press(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), dialog->optLocal) << "the disabled name box is skipped";
  press(Qt::Key_Down);
  EXPECT_TRUE(dialog->optRemote->isChecked());
  EXPECT_TRUE(dialog->txtConnect->isEnabled());
  press(Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_EQ(QApplication::focusWidget(), dialog->txtConnect);
  QTest::keyClicks(dialog->txtConnect, "far");
  EXPECT_TRUE(dialog->OKButton->isDefault()) << "OK stays the default button";
  press(Qt::Key_Return);
  EXPECT_EQ(app.main->connectDialog(), nullptr) << "Enter in the name box pressed OK";
  EXPECT_EQ(app.main->windowTitle(), "Done building information");
  EXPECT_FALSE(app.remote.calls().empty()) << "the build went to the named computer";
}

TEST_F(MainWindowTest, FailedConnectShowsTheMessageAndKeepsEverything) {
  app.local.failures().connect =
      ComError(-2147023174, "The RPC server is unavailable. ", "SWbemLocator");
  EXPECT_FALSE(app.connectVia(""));
  ASSERT_EQ(app.messages.size(), 1u);
  EXPECT_EQ(app.messages[0].title, "Kestrava");
  EXPECT_EQ(app.messages[0].text,
            QString("The RPC server is unavailable. SWbemLocator") + kFailureTail);
  EXPECT_NE(dialogOf(app), nullptr) << "the dialog stays open";
  for (const ViewRow& row : kViews) EXPECT_FALSE(app.main->menuEntry(row.menuEntry)->isEnabled());
  EXPECT_EQ(app.main->windowTitle(), "MDIKestrava");
  EXPECT_EQ(Err().number(), -2147023174);
}

TEST_F(MainWindowTest, SuccessfulBuildRefillsSevenViewsInOrder) {
  QString captionDuringBuild;
  app.local.onCall = [&](const std::string& call) {
    if (call.rfind("query", 0) == 0 && captionDuringBuild.isEmpty())
      captionDuringBuild = app.main->windowTitle();
  };
  ASSERT_TRUE(app.connectVia(""));
  EXPECT_TRUE(app.messages.empty());
  EXPECT_EQ(captionDuringBuild, "Kestrava - building - this may take a minute or two ...");
  EXPECT_EQ(app.main->windowTitle(), "Done building information");
  for (const ViewRow& row : kViews) EXPECT_TRUE(app.main->menuEntry(row.menuEntry)->isEnabled());

  const std::vector<std::string> expected = {
      "Select * From Win32_ComputerSystem", "Select * From Win32_NTEventLogFile",
      "Select * From Win32_LogicalDisk",    "Select * From Win32_OperatingSystem",
      "Select * From Win32_Process",        "Select * From Win32_Processor",
      "Select * From Win32_Service"};
  std::vector<std::string> sent;
  for (const auto& call : app.local.calls()) sent.push_back(call);
  ASSERT_GE(sent.size(), 15u);
  EXPECT_EQ(sent[0], "connect");
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(sent[1 + 2 * i],
              "subscribe Select * from __InstanceModificationEvent Within 2.0 Where TargetInstance "
              "Isa 'Win32_Service'");
    EXPECT_EQ(sent[2 + 2 * i], "query " + expected[i]);
  }
  EXPECT_EQ(app.local.activeSubscriptions(), 7u);
  EXPECT_EQ(app.main->eventSink->activeSubscriptions(), 7u);
  // Every view is shown; the Services view, filled last, is in front.
  for (const ViewRow& row : kViews)
    EXPECT_TRUE(app.main->existingView(row.windowName())->isVisible()) << row.windowName();
  EXPECT_EQ(app.main->mdiArea()->activeSubWindow(),
            app.main->existingView("frmServices")->subWindow());
}

TEST_F(MainWindowTest, ReconnectReplacesTheConnectionAndItsSubscriptions) {
  ASSERT_TRUE(app.connectVia(""));
  ASSERT_EQ(app.local.activeSubscriptions(), 7u);
  ASSERT_TRUE(app.connectVia("far"));
  EXPECT_EQ(app.local.activeSubscriptions(), 0u);
  EXPECT_EQ(app.local.openConnections(), 0u) << "the old connection is released";
  EXPECT_EQ(app.remote.activeSubscriptions(), 7u);
  EXPECT_EQ(app.main->windowTitle(), "Done building information");

  // A failed connect after that: the message, the far connection kept, its subscriptions gone.
  app.messages.clear();
  EXPECT_FALSE(app.connectVia("nowhere"));
  ASSERT_EQ(app.messages.size(), 1u);
  EXPECT_TRUE(app.messages[0].text.startsWith("The RPC server is unavailable. SWbemLocator\r\n"));
  EXPECT_EQ(app.remote.activeSubscriptions(), 0u);
  EXPECT_EQ(app.remote.openConnections(), 1u);
  for (const ViewRow& row : kViews) EXPECT_TRUE(app.main->menuEntry(row.menuEntry)->isEnabled());
}

TEST_F(MainWindowTest, CancelFailureIsReportedEvenWhenTheConnectSucceeds) {
  ASSERT_TRUE(app.connectVia(""));
  app.local.failures().cancel = ComError(-2147217406, "Cancel refused ", "SWbemSink");
  app.messages.clear();
  EXPECT_FALSE(app.connectVia("far"));
  ASSERT_EQ(app.messages.size(), 1u);
  EXPECT_TRUE(app.messages[0].text.startsWith("Cancel refused SWbemSink\r\nEither:"));
  EXPECT_EQ(app.remote.openConnections(), 1u) << "the new connection is already in place";
  EXPECT_EQ(app.main->eventSink->activeSubscriptions(), 0u);
}

TEST_F(MainWindowTest, ShowFormBeforeAnyConnectShowsTheNotConnectedMessage) {
  ViewWindow* view = app.main->view("frmProcesses");
  view->ShowForm();
  ASSERT_EQ(app.messages.size(), 1u);
  EXPECT_EQ(app.messages[0].text, "Please CONNECT to Local or Remote computer first");
  EXPECT_EQ(app.messages[0].title, "Connect please!");
  EXPECT_FALSE(view->subWindow()->isVisible());
  EXPECT_EQ(Err().number(), 91);
  EXPECT_EQ(Err().description(), "Object variable or With block variable not set");
}

TEST_F(MainWindowTest, ViewWindowsAreSizedFromTheMainWindowOnce) {
  app.main->resize(900, 700);
  const QSize outer = app.main->frameGeometry().size();
  ViewWindow* view = app.main->view("frmLogicalDisk");
  EXPECT_EQ(view->subWindow()->size(),
            QSize(outer.width() - twipsToPixels(275), outer.height() - twipsToPixels(200)));
  app.main->resize(1000, 800);
  EXPECT_EQ(app.main->view("frmLogicalDisk")->subWindow()->size(),
            QSize(outer.width() - twipsToPixels(275), outer.height() - twipsToPixels(200)));
}

// Each view entry brings the window whose caption its own begins (access-key mark and spaces
// aside), without refilling it.
TEST_F(MainWindowTest, ViewEntryBringsAViewToTheFrontWithoutRefilling) {
  ASSERT_TRUE(app.connectVia(""));
  const size_t calls = app.local.calls().size();
  for (const ViewRow& row : kViews) {
    app.main->menuEntry(row.menuEntry)->trigger();
    QMdiSubWindow* front = app.main->mdiArea()->activeSubWindow();
    ASSERT_NE(front, nullptr);
    EXPECT_EQ(front, app.main->existingView(row.windowName())->subWindow());
    const QString windowCaption = front->widget()->windowTitle();
    EXPECT_TRUE(QString(windowCaption)
                    .remove(' ')
                    .startsWith(QString(row.menuCaption).remove('&').remove(' ')))
        << row.menuCaption << " raised " << windowCaption.toStdString();
  }
  EXPECT_EQ(app.local.calls().size(), calls) << "no refill";

  // A closed view comes back created anew and empty.
  app.main->existingView("frmProcesses")->subWindow()->close();
  AppHarness::processEvents();
  EXPECT_EQ(app.main->existingView("frmProcesses"), nullptr);
  app.main->menuEntry("Processes")->trigger();
  ViewWindow* again = app.main->existingView("frmProcesses");
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->subWindow()->isVisible());
  EXPECT_EQ(app.local.calls().size(), calls);
}

TEST_F(MainWindowTest, ExitClosesTheMainWindow) {
  app.main->menuEntry("Exit")->trigger();
  EXPECT_FALSE(app.main->isVisible());
}

}  // namespace
}  // namespace kestrava::testing

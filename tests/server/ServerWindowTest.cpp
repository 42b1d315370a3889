// The main window against the booted server, as a user drives it: the Connect dialog with Remote
// Machine and the server's alias, then the Services view acting on cron.service as admin.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <chrono>
#include <thread>

#include "app/MDIKestrava.h"
#include "app/dlgConnect.h"
#include "platform/MessageBox.h"
#include "remote/LoopbackRelay.h"
#include "server/ServerFixture.h"
#include "views/Views.h"
#include "views/services/frmServices.h"
#include "views/sheets/SheetViewWindow.h"

namespace kestrava::testing {
namespace {

void processEvents() {
  for (int i = 0; i < 3; ++i) {
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
  }
}

class ServerWindow : public BootedServer {
 protected:
  void SetUp() override {
    BootedServer::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    onServer("systemctl start cron.service; systemctl kill --signal=SIGCONT cron.service; true");
    Timer::setManualTicks(true);
    setMessageBoxHandler(
        [this](const QString& text, const QString&) { messages.push_back(text.toStdString()); });
    main = std::make_unique<MDIKestrava>(&connectComputer, &makeViewWindow);
    main->show();
    main->Form_Load();
  }
  void TearDown() override {
    main.reset();
    setMessageBoxHandler({});
    Timer::setManualTicks(false);
    if (!host_.empty())
      onServer("systemctl kill --signal=SIGCONT cron.service; systemctl start cron.service; true");
  }

  std::string cronCell(frmServices& view, int column) {
    ListItem row = view.lvwService->FindItem("cron.service");
    return row.isNothing() ? "<no row>" : row.SubItems(column);
  }

  // Selects cron's row, presses the button, waits until the server has done it, then lets the
  // blink run out so the view refills itself.
  void act(frmServices& view, QPushButton* button, const std::string& serverState) {
    ListItem row = view.lvwService->FindItem("cron.service");
    ASSERT_FALSE(row.isNothing());
    auto items = view.lvwService->ListItems();
    for (int i = 1; i <= items.Count(); ++i)
      if (items.Item(i).Text() == "cron.service")
        view.lvwService->selectionModel()->select(
            view.lvwService->model().index(i - 1, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    button->click();
    ASSERT_TRUE(view.Timer1->Enabled());
    for (int i = 0; i < 50; ++i) {
      const std::string out = onServer(
          "systemctl show -p ActiveState --value cron.service; ps -o stat= -p "
          "$(systemctl show -p MainPID --value cron.service) 2>/dev/null || true");
      if (lines(out).at(0) == serverState.substr(0, serverState.find(' ')) &&
          (serverState.find("held") == std::string::npos) == (out.find("\nT") == std::string::npos))
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (int tick = 0; tick < 6; ++tick) {
      view.Timer1->tick();
      processEvents();
    }
    ASSERT_FALSE(view.Timer1->Enabled());
  }

  std::unique_ptr<MDIKestrava> main;
  std::vector<std::string> messages;
};

TEST_F(ServerWindow, ARemoteViewBuildThenCronStoppedStartedPausedAndResumed) {
  ASSERT_NE(main->connectDialog(), nullptr);
  auto* dialog = qobject_cast<dlgConnect*>(main->connectDialog()->widget());
  dialog->optRemote->click();
  dialog->txtConnect->setText(QString::fromStdString(host_));
  dialog->OKButton->click();
  processEvents();
  ASSERT_EQ(main->connectDialog(), nullptr) << "the view build did not run";
  EXPECT_EQ(main->windowTitle(), "Done building information");
  EXPECT_TRUE(messages.empty());

  // The Computer System sheet names the server, not this machine.
  auto* sheet = qobject_cast<SheetViewWindow*>(main->existingView("frmComputerSystem"));
  ASSERT_NE(sheet, nullptr);
  bool named = false;
  for (int row = 0; row < sheet->grid()->Rows(); ++row)
    named = named || (sheet->grid()->TextAt(row, 0) == "Name" &&
                      sheet->grid()->TextAt(row, 1) == "kestrava-server");
  EXPECT_TRUE(named) << "the Computer System view does not show the server's name";

  auto* view = qobject_cast<frmServices*>(main->existingView("frmServices"));
  ASSERT_NE(view, nullptr);
  int state = -1;
  for (size_t i = 0; i < frmServicesDef.columns.size(); ++i)
    if (std::string_view(frmServicesDef.columns[i].header) == "Service State")
      state = static_cast<int>(i);
  ASSERT_GE(state, 0);
  EXPECT_EQ(cronCell(*view, state), "Running");

  act(*view, view->Stop, "inactive");
  EXPECT_EQ(cronCell(*view, state), "Stopped");
  act(*view, view->Start, "active");
  EXPECT_EQ(cronCell(*view, state), "Running");
  act(*view, view->Pause, "active held");
  EXPECT_EQ(cronCell(*view, state), "Paused");
  act(*view, view->Resume, "active");
  EXPECT_EQ(cronCell(*view, state), "Running");
  EXPECT_TRUE(messages.empty());
}

// The network to the server dies after the view build, and the user presses Stop: the window
// answers again within a minute, the blink and the refill run on, and nothing hangs after.
TEST_F(ServerWindow, AfterTheNetworkDiedTheWindowAnswersAgain) {
  const std::string port = std::getenv("KESTRAVA_TEST_SERVER_PORT");
  remote::testing::LoopbackRelay relay(std::stoi(port));
  main = std::make_unique<MDIKestrava>(
      [&](const std::string& computer, const ConnectHints& hints) {
        return connectComputerWithSsh(computer,
                                      {"-o", "Port=" + std::to_string(relay.port()), "-o",
                                       "HostKeyAlias=[127.0.0.1]:" + port},
                                      hints);
      },
      &makeViewWindow);
  main->show();
  main->Form_Load();
  auto* dialog = qobject_cast<dlgConnect*>(main->connectDialog()->widget());
  dialog->optRemote->click();
  dialog->txtConnect->setText(QString::fromStdString(host_));
  dialog->OKButton->click();
  processEvents();
  ASSERT_EQ(main->windowTitle(), "Done building information");
  auto* view = qobject_cast<frmServices*>(main->existingView("frmServices"));
  ASSERT_NE(view, nullptr);
  auto items = view->lvwService->ListItems();
  for (int i = 1; i <= items.Count(); ++i)
    if (items.Item(i).Text() == "cron.service")
      view->lvwService->selectionModel()->select(
          view->lvwService->model().index(i - 1, 0),
          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

  relay.blackHole();
  auto start = std::chrono::steady_clock::now();
  view->Stop->click();
  const double stopSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(stopSeconds, 60.0) << "the window did not answer within a minute";
  start = std::chrono::steady_clock::now();
  for (int tick = 0; tick < 6 && view->Timer1->Enabled(); ++tick) {
    view->Timer1->tick();
    processEvents();
  }
  EXPECT_FALSE(view->Timer1->Enabled());
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0)
      << "the refill waited again on the dead network";
  EXPECT_TRUE(messages.empty()) << "a service action shows no message";
}

}  // namespace
}  // namespace kestrava::testing

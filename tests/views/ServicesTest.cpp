#include <QLabel>
#include <QPushButton>

#include "app/ViewWindow.h"
#include "platform/Twips.h"
#include "views/ViewTest.h"
#include "views/services/frmServices.h"

namespace kestrava::testing {
namespace {

const std::string kSubscribe = std::string("subscribe ") + kServiceChangeQuery;
const std::string kQuery = "query Select * From Win32_Service";

using Calls = std::vector<std::string>;

// The Services view over three services; a stop or start request changes the service's state
// in the scripted service, as a real one would.
class ServicesTest : public ViewTest {
 protected:
  void SetUp() override {
    Timer::setManualTicks(true);
    ViewTest::SetUp();
    for (const char* name : {"alpha", "beta", "gamma"}) addService(app.local, name, "Running");
    app.local.onMethod = [this](const std::string& path, const std::string& method) {
      for (auto& object : app.local.objects("Win32_Service")) {
        if (object.path() != path) continue;
        if (method == "StopService") object.set("State", Value::text("Stopped"));
        if (method == "StartService") object.set("State", Value::text("Running"));
      }
      return Value::integer(0);
    };
    connect();
    view = qobject_cast<frmServices*>(app.main->existingView("frmServices"));
    ASSERT_NE(view, nullptr);
    app.local.clearCalls();
  }

  void TearDown() override {
    ViewTest::TearDown();
    Timer::setManualTicks(false);
  }

  static void addService(ScriptedService& service, const std::string& name, const char* state) {
    service.addObject("Win32_Service", {{"Name", Value::text(name)},
                                        {"DisplayName", Value::text(name + " display")},
                                        {"State", Value::text(state)},
                                        {"AcceptPause", Value::boolean(false)}});
  }

  void select(const std::string& name) {
    ListControl& list = *view->lvwService;
    auto items = list.ListItems();
    for (int i = 1; i <= items.Count(); ++i) {
      if (items.Item(i).Text() != name) continue;
      list.selectionModel()->select(
          list.model().index(i - 1, 0),
          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      return;
    }
    FAIL() << "no row " << name;
  }

  // One tick of the running timer; a tick of a disabled timer fails the test.
  void tick() {
    ASSERT_TRUE(view->Timer1->Enabled()) << "tick of a stopped timer";
    view->Timer1->tick();
    AppHarness::processEvents();
  }

  // The names of the bold rows.
  std::vector<std::string> boldRows() {
    std::vector<std::string> bold;
    auto items = view->lvwService->ListItems();
    for (int i = 1; i <= items.Count(); ++i)
      if (items.Item(i).Bold()) bold.push_back(items.Item(i).Text());
    return bold;
  }

  std::string cell(const std::string& name, const char* header) {
    ListItem row = view->lvwService->FindItem(name);
    if (row.isNothing()) return "<no row>";
    return row.SubItems(columnHeaded(frmServicesDef, header));
  }

  // Five toggling ticks make `name` bold, plain, bold, plain, bold with the count at 2..10 and
  // nothing sent; the sixth refills the list and stops the timer.
  void expectFullBlink(const std::string& name) {
    const std::vector<std::vector<std::string>> pattern = {{name}, {}, {name}, {}, {name}};
    const size_t sent = app.local.calls().size();
    for (int t = 0; t < 5; ++t) {
      tick();
      EXPECT_EQ(boldRows(), pattern[t]) << "tick " << t + 1;
      EXPECT_EQ(view->intBlinkCount, 2 * (t + 1)) << "tick " << t + 1;
      EXPECT_TRUE(view->Timer1->Enabled()) << "tick " << t + 1;
    }
    EXPECT_EQ(app.local.calls().size(), sent) << "the toggling ticks send nothing";
    expectClosingTick();
  }

  void expectClosingTick() {
    const Calls before = app.local.calls();
    tick();
    EXPECT_FALSE(view->Timer1->Enabled());
    EXPECT_EQ(view->intBlinkCount, 0);
    EXPECT_TRUE(boldRows().empty());
    Calls refill(app.local.calls().begin() + static_cast<long>(before.size()),
                 app.local.calls().end());
    EXPECT_EQ(refill, (Calls{kSubscribe, kQuery}));
  }

  frmServices* view = nullptr;
};

TEST_F(ServicesTest, SingleActionBlinksTheRowThenRefillsWithTheNewState) {
  select("beta");
  view->Stop->click();
  EXPECT_EQ(app.local.calls(),
            (Calls{"get Win32_Service='beta'", "method Win32_Service='beta' StopService"}));
  EXPECT_TRUE(view->Timer1->Enabled());
  EXPECT_EQ(view->intBlinkCount, 0);
  EXPECT_EQ(view->strServiceName, "beta");
  EXPECT_EQ(view->itmService, view->lvwService->FindItem("beta"));
  // Until the refill the row shows the state read by the last refill.
  EXPECT_EQ(cell("beta", "Service State"), "Running");
  expectFullBlink("beta");
  EXPECT_EQ(cell("beta", "Service State"), "Stopped");
  EXPECT_EQ(cell("beta", "State"), "Stopped");
  EXPECT_EQ(cell("alpha", "Service State"), "Running");
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(ServicesTest, EachButtonCallsItsOwnMethodOnTheSelectedService) {
  const std::vector<std::pair<QPushButton*, const char*>> buttons = {
      {view->Start, "StartService"},
      {view->Stop, "StopService"},
      {view->Pause, "PauseService"},
      {view->Resume, "ResumeService"}};
  for (const auto& [button, method] : buttons) {
    select("gamma");
    app.local.clearCalls();
    button->click();
    EXPECT_EQ(app.local.calls(), (Calls{"get Win32_Service='gamma'",
                                        std::string("method Win32_Service='gamma' ") + method}));
    for (int t = 0; t < 6; ++t) tick();
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(ServicesTest, SecondActionAfterACompletedBlinkBlinksWithTheSameRhythm) {
  select("alpha");
  view->Stop->click();
  expectFullBlink("alpha");
  select("gamma");
  app.local.clearCalls();
  view->Stop->click();
  EXPECT_EQ(app.local.calls(),
            (Calls{"get Win32_Service='gamma'", "method Win32_Service='gamma' StopService"}));
  EXPECT_EQ(view->intBlinkCount, 0);
  expectFullBlink("gamma");
}

TEST_F(ServicesTest, SecondActionDuringABlinkMovesItWithoutRestartingTheCount) {
  select("alpha");
  view->Stop->click();
  tick();
  tick();
  ASSERT_EQ(view->intBlinkCount, 4);
  ASSERT_TRUE(boldRows().empty());
  select("gamma");
  app.local.clearCalls();
  view->Stop->click();
  EXPECT_EQ(app.local.calls(),
            (Calls{"get Win32_Service='gamma'", "method Win32_Service='gamma' StopService"}));
  EXPECT_EQ(view->intBlinkCount, 4);
  EXPECT_TRUE(view->Timer1->Enabled());
  const std::vector<std::vector<std::string>> pattern = {{"gamma"}, {}, {"gamma"}};
  for (int t = 0; t < 3; ++t) {
    tick();
    EXPECT_EQ(boldRows(), pattern[t]) << "tick " << t + 3 << ": alpha stays plain";
  }
  expectClosingTick();
  EXPECT_EQ(cell("alpha", "State"), "Stopped");
  EXPECT_EQ(cell("gamma", "State"), "Stopped");
}

TEST_F(ServicesTest, RowLeftBoldByAMovedBlinkStaysBoldUntilTheRefill) {
  select("alpha");
  view->Stop->click();
  tick();  // alpha bold
  select("beta");
  view->Start->click();
  tick();  // beta bold
  EXPECT_EQ(boldRows(), (std::vector<std::string>{"alpha", "beta"}));
  for (int t = 0; t < 3; ++t) tick();  // beta plain, bold, plain
  EXPECT_EQ(boldRows(), (std::vector<std::string>{"alpha"}));
  expectClosingTick();
}

TEST_F(ServicesTest, WithoutASelectedRowNothingHappens) {
  for (bool emptyList : {false, true}) {
    if (emptyList) {
      app.local.clearObjects("Win32_Service");
      ASSERT_TRUE(refillShows(view));
      ASSERT_EQ(view->lvwService->ListItems().Count(), 0);
    }
    view->lvwService->clearSelection();
    app.local.clearCalls();
    for (QPushButton* button : {view->Start, view->Stop, view->Pause, view->Resume})
      button->click();
    EXPECT_TRUE(app.local.calls().empty()) << "empty list: " << emptyList;
    EXPECT_FALSE(view->Timer1->Enabled()) << "empty list: " << emptyList;
    EXPECT_TRUE(view->itmService.isNothing());
  }
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(ServicesTest, RefusedRequestBlinksAndRefillsAsAfterSuccess) {
  app.local.onMethod = [](const std::string&, const std::string&) { return Value::integer(10); };
  select("alpha");
  view->Start->click();
  EXPECT_EQ(app.local.calls(),
            (Calls{"get Win32_Service='alpha'", "method Win32_Service='alpha' StartService"}));
  expectFullBlink("alpha");
  EXPECT_EQ(cell("alpha", "State"), "Running");
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(ServicesTest, MethodCallThatFailsStillBlinksAndRefills) {
  app.local.failures().method =
      ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemObjectEx");
  select("beta");
  view->Pause->click();
  EXPECT_EQ(app.local.calls(),
            (Calls{"get Win32_Service='beta'", "method Win32_Service='beta' PauseService"}));
  EXPECT_EQ(view->itmService, view->lvwService->FindItem("beta"));
  expectFullBlink("beta");
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(ServicesTest, FailedFetchNeverSendsTheMethodToAnEarlierService) {
  select("alpha");
  view->Stop->click();
  expectFullBlink("alpha");
  ASSERT_NE(view->objService, nullptr);
  // beta disappears between the refill and the next action.
  auto& services = app.local.objects("Win32_Service");
  services.erase(services.begin() + 1);
  select("beta");
  app.local.clearCalls();
  view->Start->click();
  EXPECT_EQ(app.local.calls(), (Calls{"get Win32_Service='beta'"}));
  EXPECT_EQ(view->objService, nullptr);
  EXPECT_TRUE(view->Timer1->Enabled()) << "the action still goes on to the blink";
  expectFullBlink("beta");
  EXPECT_TRUE(view->lvwService->FindItem("beta").isNothing()) << "the refill shows it gone";
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(ServicesTest, NameIsEscapedInTheObjectPath) {
  struct Case {
    std::string name;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"a'b", "Win32_Service='a\\'b'"},
      {"back\\slash", "Win32_Service='back\\\\slash'"},
      {"x' or Name='a", "Win32_Service='x\\' or Name=\\'a'"},
  };
  addService(app.local, "a", "Running");
  for (const auto& c : cases) addService(app.local, c.name, "Running");
  ASSERT_TRUE(refillShows(view));
  for (const auto& c : cases) {
    select(c.name);
    app.local.clearCalls();
    view->Stop->click();
    EXPECT_EQ(app.local.calls(), (Calls{"get " + c.path, "method " + c.path + " StopService"}))
        << c.name;
    for (int t = 0; t < 6; ++t) tick();
    EXPECT_EQ(cell(c.name, "State"), "Stopped") << c.name;
  }
  EXPECT_EQ(cell("a", "State"), "Running") << "no name reaches another service";
}

TEST_F(ServicesTest, RefillWithoutAConnectionShowsTheMessageAndKeepsTheRows) {
  select("beta");
  view->Stop->click();
  for (int t = 0; t < 5; ++t) tick();
  const auto rows = rowsOf(*view->lvwService);
  app.main->WBEMServices.reset();
  tick();
  ASSERT_EQ(app.messages.size(), 1u);
  EXPECT_EQ(app.messages[0].text, "Please CONNECT to Local or Remote computer first");
  EXPECT_EQ(app.messages[0].title, "Connect please!");
  EXPECT_EQ(rowsOf(*view->lvwService), rows);
  EXPECT_TRUE(boldRows().empty()) << "the closing tick clears the bold type first";
  EXPECT_FALSE(view->Timer1->Enabled());
  EXPECT_EQ(view->intBlinkCount, 0);
}

TEST_F(ServicesTest, RowRebuiltDuringABlinkIsLeftAloneAndTheRefillStillComes) {
  select("beta");
  view->Stop->click();
  tick();
  ASSERT_EQ(boldRows(), (std::vector<std::string>{"beta"}));
  ASSERT_TRUE(app.connectVia(""));  // the view build refills every view mid-blink
  EXPECT_FALSE(view->itmService.exists());
  for (int t = 0; t < 4; ++t) {
    tick();
    EXPECT_TRUE(boldRows().empty()) << "no row of the new list is touched";
  }
  EXPECT_EQ(view->intBlinkCount, 10);
  app.local.clearCalls();
  expectClosingTick();
}

TEST_F(ServicesTest, TenTimerRefillsLeaveSeventeenSubscriptions) {
  ASSERT_EQ(app.local.activeSubscriptions(), 7u);
  for (int i = 0; i < 10; ++i) {
    select("alpha");
    view->Start->click();
    for (int t = 0; t < 6; ++t) tick();
  }
  EXPECT_EQ(app.local.activeSubscriptions(), 17u);
  EXPECT_EQ(app.main->eventSink->activeSubscriptions(), 17u);
  ASSERT_TRUE(app.connectVia("far"));
  EXPECT_EQ(app.local.activeSubscriptions(), 0u);
  EXPECT_EQ(app.remote.activeSubscriptions(), 7u);
  EXPECT_EQ(app.main->eventSink->activeSubscriptions(), 7u);
}

TEST_F(ServicesTest, ControlsHaveTheirTextsFontsPlacesAndTabOrder) {
  EXPECT_EQ(view->windowTitle(), "Services");
  EXPECT_EQ(view->Label2->text(), "ACTIONS:");
  EXPECT_DOUBLE_EQ(view->Label2->font().pointSizeF(), 12.0);
  EXPECT_TRUE(view->Label2->font().bold());
  EXPECT_EQ(view->Label2->geometry(), twipsRect(480, 240, 3855, 255));
  struct Button {
    QPushButton* button;
    const char* text;
    int left;
  };
  for (const auto& b : {Button{view->Start, "Start", 360}, Button{view->Stop, "Stop", 1680},
                        Button{view->Pause, "Pause", 3360}, Button{view->Resume, "Resume", 4680}}) {
    EXPECT_EQ(b.button->text(), b.text);
    EXPECT_EQ(b.button->objectName(), b.text);
    EXPECT_DOUBLE_EQ(b.button->font().pointSizeF(), 13.5) << b.text;
    EXPECT_FALSE(b.button->font().bold()) << b.text;
    EXPECT_EQ(b.button->geometry(), twipsRect(b.left, 600, 1215, 495)) << b.text;
  }
  // The list stands where its table puts it: below the actions, inside the designed window.
  const ListViewDef& listDef = view->viewDef();
  EXPECT_EQ(view->lvwService->objectName(), "lvwService");
  EXPECT_EQ(view->lvwService->geometry(),
            twipsRect(listDef.left, listDef.top, listDef.width, listDef.height));
  for (const QWidget* above :
       {static_cast<QWidget*>(view->Label2), static_cast<QWidget*>(view->Start),
        static_cast<QWidget*>(view->Resume)})
    EXPECT_GT(view->lvwService->geometry().top(), above->geometry().bottom())
        << above->objectName().toStdString();
  EXPECT_GT(listDef.top, 1200) << "below the actions frame";
  EXPECT_GE(listDef.left, 0);
  EXPECT_LE(listDef.left + listDef.width, 11175);
  EXPECT_LE(listDef.top + listDef.height, 7905);
  EXPECT_EQ(view->lvwService->toolTip(), "Click on column header to sort");
  for (const char* other : {"frmProcesses", "frmProcessor", "frmLogicalDisk", "frmEventLogFile"})
    EXPECT_TRUE(listView(other)->list()->toolTip().isEmpty()) << other;
  EXPECT_EQ(view->Timer1->Interval(), 250);

  // Tab order: the list, Stop, Pause, Start, Resume (the label takes no focus).
  const std::vector<QWidget*> focusable = {view->lvwService, view->Start, view->Stop, view->Pause,
                                           view->Resume};
  std::vector<QWidget*> order;
  QWidget* w = view->lvwService;
  for (int guard = 0; guard < 100 && order.size() < focusable.size(); ++guard) {
    if (std::find(focusable.begin(), focusable.end(), w) != focusable.end() &&
        std::find(order.begin(), order.end(), w) == order.end())
      order.push_back(w);
    w = w->nextInFocusChain();
  }
  EXPECT_EQ(order, (std::vector<QWidget*>{view->lvwService, view->Stop, view->Pause, view->Start,
                                          view->Resume}));
  EXPECT_EQ(view->Label2->focusPolicy(), Qt::NoFocus);
}

TEST_F(ServicesTest, NewWindowStartsIdle) {
  view->subWindow()->close();
  AppHarness::processEvents();
  auto* fresh = qobject_cast<frmServices*>(app.main->view("frmServices"));
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(fresh->Timer1->Enabled());
  EXPECT_EQ(fresh->intBlinkCount, 0);
  EXPECT_TRUE(fresh->strServiceName.empty());
  EXPECT_EQ(fresh->objService, nullptr);
  EXPECT_TRUE(fresh->itmService.isNothing());
  EXPECT_EQ(fresh->lvwService->ListItems().Count(), 0);
}

TEST_F(ServicesTest, StateFillsBothStateColumns) {
  const auto rows = rowsOf(*view->lvwService);
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows) {
    EXPECT_EQ(row[columnHeaded(frmServicesDef, "Service State")], "Running");
    EXPECT_EQ(row[columnHeaded(frmServicesDef, "State")], "Running");
    EXPECT_EQ(row[columnHeaded(frmServicesDef, "AcceptPause")], "False");
    EXPECT_EQ(row[columnHeaded(frmServicesDef, "Service Description")], "");
    EXPECT_EQ(row[columnHeaded(frmServicesDef, "DisplayName")], row[0] + " display");
  }
}

}  // namespace
}  // namespace kestrava::testing

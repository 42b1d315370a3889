#include <QHeaderView>
#include <QTest>

#include "views/ViewTest.h"

namespace kestrava::testing {
namespace {

// The Processor view with four processors whose speeds and makers sort differently as text
// and as numbers.
class SortTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    const std::string cls = queriedClass(frmProcessorDef.query);
    struct Cpu {
      const char* id;
      int64_t speed;
      const char* maker;
    };
    for (const Cpu& cpu : {Cpu{"CPU10", 10, "beta"}, Cpu{"cpu2", 10000, "Alpha"},
                           Cpu{"CPU1", 9, "gamma"}, Cpu{"CPU3", 100, "ALPHA2"}})
      app.local.addObject(cls, {{"DeviceID", Value::text(cpu.id)},
                                {"CurrentClockSpeed", Value::integer(cpu.speed)},
                                {"Manufacturer", Value::text(cpu.maker)}});
    connect();
    view = listView(frmProcessorDef.windowName);
    list = view->list();
  }
  // A click on the header of that text, as the header reports it.
  void click(const char* header) {
    emit list->header()->sectionClicked(columnHeaded(frmProcessorDef, header));
  }
  std::vector<std::string> column(const char* header) {
    return columnOf(*list, columnHeaded(frmProcessorDef, header));
  }

  ListViewWindow* view = nullptr;
  ListControl* list = nullptr;
};

using Texts = std::vector<std::string>;

TEST_F(SortTest, TwoClicksOnOneHeaderReverseTheOrder) {
  click("CurrentClockSpeed");
  EXPECT_TRUE(list->Sorted());
  EXPECT_EQ(list->SortKey(), columnHeaded(frmProcessorDef, "CurrentClockSpeed"));
  const int first = list->SortOrder();
  const Texts ascending = {"9", "10", "100", "10000"};
  const Texts descending = {"10000", "100", "10", "9"};
  EXPECT_EQ(column("CurrentClockSpeed"), first == 0 ? ascending : descending);
  click("CurrentClockSpeed");
  EXPECT_EQ(list->SortOrder(), 1 - first);
  EXPECT_EQ(column("CurrentClockSpeed"), first == 0 ? descending : ascending);
  click("CurrentClockSpeed");
  EXPECT_EQ(column("CurrentClockSpeed"), first == 0 ? ascending : descending);
}

TEST_F(SortTest, FirstClickSortsAscending) {
  click("Manufacturer");
  EXPECT_EQ(list->SortOrder(), 0);
  EXPECT_EQ(column("Manufacturer"), (Texts{"Alpha", "ALPHA2", "beta", "gamma"}))
      << "text compares without regard to case";
}

TEST_F(SortTest, ClickOnAnotherHeaderGoesTheOtherWay) {
  click("Manufacturer");
  const int after = list->SortOrder();
  click("CurrentClockSpeed");
  EXPECT_EQ(list->SortOrder(), 1 - after);
  EXPECT_EQ(list->SortKey(), columnHeaded(frmProcessorDef, "CurrentClockSpeed"));
  EXPECT_EQ(column("CurrentClockSpeed"),
            after == 0 ? (Texts{"10000", "100", "10", "9"}) : (Texts{"9", "10", "100", "10000"}));
}

TEST_F(SortTest, FirstHeaderSortsByTheRowText) {
  // A real click on the first header, through the list's own header.
  QHeaderView* header = list->header();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
  EXPECT_EQ(list->SortKey(), 0);
  EXPECT_EQ(list->SortOrder(), 0);
  EXPECT_EQ(column("DeviceID"), (Texts{"CPU1", "cpu2", "CPU3", "CPU10"}));
}

TEST_F(SortTest, ClickOnAnEmptyListStillFlipsTheNextDirection) {
  app.local.clearObjects(queriedClass(frmProcessorDef.query));
  ASSERT_TRUE(refillShows(view));
  ASSERT_EQ(list->ListItems().Count(), 0);
  const int before = list->SortOrder();
  click("DeviceID");
  EXPECT_EQ(list->SortOrder(), 1 - before);
  EXPECT_TRUE(list->Sorted());
  // Rows that arrive later are sorted that way, and the next click goes the other way.
  const std::string cls = queriedClass(frmProcessorDef.query);
  for (const char* id : {"b", "c", "a"}) app.local.addObject(cls, {{"DeviceID", Value::text(id)}});
  ASSERT_TRUE(refillShows(view));
  EXPECT_EQ(column("DeviceID"), before == 1 ? (Texts{"a", "b", "c"}) : (Texts{"c", "b", "a"}));
  click("DeviceID");
  EXPECT_EQ(list->SortOrder(), before);
  EXPECT_EQ(column("DeviceID"), before == 1 ? (Texts{"c", "b", "a"}) : (Texts{"a", "b", "c"}));
}

TEST_F(SortTest, RefillKeepsTheSortSettings) {
  click("CurrentClockSpeed");
  click("CurrentClockSpeed");
  const int order = list->SortOrder();
  // The speeds change between the refills: the new values are sorted the same way.
  auto& cpus = app.local.objects(queriedClass(frmProcessorDef.query));
  for (size_t i = 0; i < cpus.size(); ++i)
    cpus[i].set("CurrentClockSpeed", Value::integer(static_cast<int64_t>(i) * 5));
  ASSERT_TRUE(refillShows(view));
  EXPECT_TRUE(list->Sorted());
  EXPECT_EQ(list->SortKey(), columnHeaded(frmProcessorDef, "CurrentClockSpeed"));
  EXPECT_EQ(list->SortOrder(), order);
  EXPECT_EQ(column("CurrentClockSpeed"),
            order == 0 ? (Texts{"0", "5", "10", "15"}) : (Texts{"15", "10", "5", "0"}));
}

TEST_F(SortTest, DirectionIsOneSettingOfTheWholeList) {
  // Whichever headers are clicked, every click flips the one direction.
  int expected = list->SortOrder();
  for (const char* header :
       {"DeviceID", "Manufacturer", "Manufacturer", "CurrentClockSpeed", "DeviceID"}) {
    click(header);
    expected = 1 - expected;
    EXPECT_EQ(list->SortOrder(), expected) << header;
    EXPECT_EQ(list->SortKey(), columnHeaded(frmProcessorDef, header)) << header;
  }
}

using ProcessSortTest = ViewTest;

TEST_F(ProcessSortTest, FirstHeaderSortsProcessesByNameNotByHandle) {
  const std::string cls = queriedClass(frmProcessesDef.query);
  for (const auto& [handle, name] : std::vector<std::pair<const char*, const char*>>{
           {"3", "sshd"}, {"10", "Bash"}, {"2", "bash"}, {"1", "agetty"}})
    app.local.addObject(cls, {{"Handle", Value::text(handle)}, {"Name", Value::text(name)}});
  connect();
  ListControl& list = *listView(frmProcessesDef.windowName)->list();
  emit list.header()->sectionClicked(0);
  ASSERT_EQ(list.SortOrder(), 0);
  const auto names = columnOf(list, 0);
  EXPECT_EQ(names.front(), "agetty");
  EXPECT_EQ(names.back(), "sshd");
  EXPECT_EQ(columnOf(list, columnHeaded(frmProcessesDef, "Handle")).front(), "1");
  emit list.header()->sectionClicked(columnHeaded(frmProcessesDef, "Handle"));
  EXPECT_EQ(columnOf(list, columnHeaded(frmProcessesDef, "Handle")), (Texts{"10", "3", "2", "1"}));
}

}  // namespace
}  // namespace kestrava::testing

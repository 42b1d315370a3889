#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QLocale>
#include <QTest>
#include <string>
#include <vector>

#include "core/ComError.h"
#include "platform/ListControl.h"
#include "platform/Twips.h"
#include "query/RowOrder.h"

namespace kestrava {
namespace {

// Collects what the model tester reports, so a broken model contract fails the test.
class ModelWarnings {
 public:
  ModelWarnings() { previous_ = qInstallMessageHandler(&ModelWarnings::record); }
  ~ModelWarnings() {
    qInstallMessageHandler(previous_);
    messages().clear();
  }
  static std::vector<std::string>& messages() {
    static std::vector<std::string> all;
    return all;
  }

 private:
  static void record(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) messages().push_back(text.toStdString());
  }
  QtMessageHandler previous_ = nullptr;
};

int errorOf(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const ComError& e) {
    return e.number();
  }
  return 0;
}

std::vector<std::string> column(ListControl& list, int col) {
  std::vector<std::string> texts;
  auto items = list.ListItems();
  for (int i = 1; i <= items.Count(); ++i) texts.push_back(items.Item(i).SubItems(col));
  return texts;
}

void clickHeader(ListControl& list, int logical) {
  QHeaderView* header = list.header();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(logical) + 5, header->height() / 2));
}

class ListControlTest : public ::testing::Test {
 protected:
  ListControl list{{"Name", "Size", "Kind"}};
};

TEST_F(ListControlTest, ModelKeepsItsContractThroughFillSortEditAndClear) {
  ModelWarnings warnings;
  QAbstractItemModelTester tester(&list.model(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  list.show();
  auto items = list.ListItems();
  for (int i = 0; i < 40; ++i) {
    auto row = items.Add("k" + std::to_string(i), "row" + std::to_string(i));
    row.setSubItems(1, std::to_string((i * 7) % 13));
    row.setSubItems(2, i % 2 ? "odd" : "even");
  }
  QApplication::processEvents();  // the batch reaches the view
  EXPECT_EQ(list.model().rowCount(), 40);
  list.setCurrentIndex(list.model().index(5, 0));
  list.setSorted(true);
  list.setSortKey(1);
  QApplication::processEvents();
  list.setSortOrder(1);
  QApplication::processEvents();
  items.Item(3).setSubItems(2, "edited");
  items.Item(4).setBold(true);
  items.Add("late", "late row");
  QApplication::processEvents();
  EXPECT_EQ(list.model().rowCount(), 41);
  items.Clear();
  EXPECT_EQ(list.model().rowCount(), 0);
  items.Add("again", "again");
  QApplication::processEvents();
  EXPECT_EQ(list.model().rowCount(), 1);
  EXPECT_TRUE(ModelWarnings::messages().empty()) << ModelWarnings::messages().front();
}

TEST_F(ListControlTest, DuplicateKeyIsRefusedAndTheFirstRowStaysAsItWas) {
  auto items = list.ListItems();
  auto first = items.Add("a", "first");
  first.setSubItems(1, "10");
  EXPECT_EQ(errorOf([&] { items.Add("a", "second"); }), err::kKeyNotUnique);
  ASSERT_EQ(items.Count(), 1);
  EXPECT_EQ(items.Item(1).Text(), "first");
  EXPECT_EQ(items.Item(1).SubItems(1), "10");
  // The same text under another key is a row of its own.
  items.Add("b", "first");
  EXPECT_EQ(items.Count(), 2);
}

TEST_F(ListControlTest, RowOfAClearedListFailsAndNeverNamesALaterRow) {
  auto items = list.ListItems();
  ListItem old = items.Add("a", "a");
  old.setBold(true);
  items.Clear();
  ListItem fresh = items.Add("a", "a");
  EXPECT_FALSE(old.exists());
  EXPECT_TRUE(fresh.exists());
  EXPECT_EQ(errorOf([&] { (void)old.Text(); }), 35600);
  EXPECT_EQ(errorOf([&] { old.setBold(false); }), 35600);
  EXPECT_FALSE(fresh.Bold());
  EXPECT_FALSE(old == fresh);
}

TEST_F(ListControlTest, NoRowFailsWith91AndNoSelectionIsNoRow) {
  ListItem nothing;
  EXPECT_TRUE(nothing.isNothing());
  EXPECT_FALSE(nothing.exists());
  EXPECT_EQ(errorOf([&] { (void)nothing.Text(); }), err::kObjectNotSet);
  EXPECT_EQ(errorOf([&] { nothing.setBold(true); }), err::kObjectNotSet);
  list.ListItems().Add("a", "a");
  EXPECT_TRUE(list.SelectedItem().isNothing());
}

TEST_F(ListControlTest, SubItemOutsideTheColumnsFails) {
  auto row = list.ListItems().Add("a", "a");
  EXPECT_EQ(errorOf([&] { row.setSubItems(3, "x"); }), 35600);
  EXPECT_EQ(errorOf([&] { row.setSubItems(0, "x"); }), 35600);
  EXPECT_EQ(row.Text(), "a") << "the row text is not a sub-item";
  EXPECT_EQ(row.SubItems(2), "");
}

TEST_F(ListControlTest, FindItemMatchesTheWholeTextFirstInDisplayOrder) {
  auto items = list.ListItems();
  items.Add("k1", "abc").setSubItems(1, "3");
  items.Add("k2", "ab").setSubItems(1, "2");
  items.Add("k3", "dup").setSubItems(1, "1");
  items.Add("k4", "dup").setSubItems(1, "0");
  EXPECT_EQ(list.FindItem("ab"), items.Item(2));
  EXPECT_TRUE(list.FindItem("a").isNothing()) << "no prefix match";
  EXPECT_TRUE(list.FindItem("abcd").isNothing());
  EXPECT_EQ(list.FindItem("dup").SubItems(1), "1");
  list.setSorted(true);
  list.setSortKey(1);  // ascending by the second column: the later "dup" now comes first
  EXPECT_EQ(list.FindItem("dup").SubItems(1), "0");
}

TEST_F(ListControlTest, SortIsNaturalAndIgnoresCaseWhateverTheUserLocale) {
  struct Case {
    const char* what;
    QLocale locale;
  };
  const std::vector<Case> cases = {
      {"C locale", QLocale::c()},
      {"English", QLocale(QLocale::English, QLocale::UnitedStates)},
      {"German", QLocale(QLocale::German, QLocale::Germany)},
  };
  const QLocale saved;
  for (const auto& c : cases) {
    QLocale::setDefault(c.locale);
    ListControl sorted({"Name", "Size"});
    auto items = sorted.ListItems();
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"gamma", "10000"}, {"Beta", "9"}, {"alpha", "10"}, {"delta", "100"}};
    for (const auto& [name, size] : rows) items.Add(name, name).setSubItems(1, size);
    sorted.setSorted(true);
    sorted.setSortKey(1);
    sorted.setSortOrder(0);
    EXPECT_EQ(column(sorted, 1), (std::vector<std::string>{"9", "10", "100", "10000"})) << c.what;
    sorted.setSortOrder(1);
    EXPECT_EQ(column(sorted, 1), (std::vector<std::string>{"10000", "100", "10", "9"})) << c.what;
    sorted.setSortKey(0);
    sorted.setSortOrder(0);
    EXPECT_EQ(column(sorted, 0), (std::vector<std::string>{"alpha", "Beta", "delta", "gamma"}))
        << c.what;
  }
  QLocale::setDefault(saved);
}

// kestrava-query --sort orders texts without Qt; it must agree with the lists.
TEST_F(ListControlTest, SortAgreesWithTheQueryToolsOrder) {
  const std::vector<std::string> texts = {
      "sda10", "cron.service", "Cron-x", "cron_x", "cron x", "cron10", "cron9", "cron09a", "sda1",
      "sda2",  "-x",           "_x",     "X1",     "a b",    "a-b",    "a_b",   "a.b",     "a,b",
      "[x]",   "(x)",          "~x",     "$x",     "#x",     "@x",     "100",   "20",      "3",
      "",      "a:b",          "a;b",    "a!b",    "a?b",    "a'b",    "a\"b",  "a{b",     "a*b",
      "a/b",   "a\\b",         "a&b",    "a%b",    "a`b",    "a^b",    "a+b",   "a<b",     "a=b",
      "a>b",   "a|b",          "b",      "a1b",    "aB",     "a\tb",   "Z",     "y9z",     "y10"};
  ListControl sorted({"Text"});
  auto items = sorted.ListItems();
  for (size_t i = 0; i < texts.size(); ++i) items.Add("k" + std::to_string(i), texts[i]);
  sorted.setSorted(true);
  sorted.setSortKey(0);
  sorted.setSortOrder(0);
  std::vector<std::string> expected = texts;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return query::compareNaturally(a, b) < 0; });
  EXPECT_EQ(column(sorted, 0), expected);
}

TEST_F(ListControlTest, SortSettingsRefuseValuesOutOfRangeAndKeepTheirOwn) {
  list.setSortOrder(1);
  list.setSortKey(2);
  EXPECT_EQ(errorOf([&] { list.setSortOrder(2); }), 380);
  EXPECT_EQ(errorOf([&] { list.setSortKey(40000); }), 6) << "a 16-bit column number overflows";
  EXPECT_EQ(errorOf([&] { list.setSortKey(-1); }), 380);
  EXPECT_EQ(list.SortOrder(), 1);
  EXPECT_EQ(list.SortKey(), 2);
  // A key past the last column sorts by empty texts: the order of addition stays.
  auto items = list.ListItems();
  items.Add("b", "b");
  items.Add("a", "a");
  list.setSortKey(7);
  list.setSorted(true);
  EXPECT_EQ(column(list, 0), (std::vector<std::string>{"b", "a"}));
}

TEST_F(ListControlTest, RowsAddedWhileSortedTakeTheirPlaceAndSelectionFollowsItsRow) {
  list.show();
  list.setSorted(true);
  list.setSortKey(0);
  list.setSortOrder(0);
  auto items = list.ListItems();
  for (const char* name : {"c", "a", "d", "b"}) items.Add(name, name);
  EXPECT_EQ(column(list, 0), (std::vector<std::string>{"a", "b", "c", "d"}));
  list.selectionModel()->select(list.model().index(1, 0),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  ASSERT_EQ(list.SelectedItem().Text(), "b");
  list.setSortOrder(1);
  EXPECT_EQ(column(list, 0), (std::vector<std::string>{"d", "c", "b", "a"}));
  EXPECT_EQ(list.SelectedItem().Text(), "b");
}

TEST_F(ListControlTest, BoldRowDrawsItsFirstColumnInBold) {
  list.show();
  auto row = list.ListItems().Add("a", "a");
  row.setSubItems(1, "x");
  row.setBold(true);
  list.flush();
  const auto first = list.model().data(list.model().index(0, 0), Qt::FontRole);
  ASSERT_TRUE(first.isValid());
  EXPECT_TRUE(first.value<QFont>().bold());
  row.setBold(false);
  EXPECT_FALSE(list.model().data(list.model().index(0, 0), Qt::FontRole).isValid());
}

TEST_F(ListControlTest, HeadersAreFixedOneInchLeftAlignedAndReportClicksFromOne) {
  list.resize(800, 300);
  list.show();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list.header()->sectionSize(i), twipsToPixels(1440)) << i;
    const auto align = list.model().headerData(i, Qt::Horizontal, Qt::TextAlignmentRole);
    EXPECT_TRUE(align.value<Qt::Alignment>().testFlag(Qt::AlignLeft)) << i;
  }
  EXPECT_EQ(list.model().headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Kind");
  std::vector<int> clicked;
  QObject::connect(&list, &ListControl::ColumnClick, [&](int index) { clicked.push_back(index); });
  clickHeader(list, 0);
  clickHeader(list, 2);
  EXPECT_EQ(clicked, (std::vector<int>{1, 3}));
}

}  // namespace
}  // namespace kestrava

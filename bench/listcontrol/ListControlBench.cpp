// Fill and header-click sort of the list control, and the shared list fill over a scripted
// service. Results are written down in docs/benchmarks.md.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <string>

#include "platform/Err.h"
#include "platform/ListControl.h"
#include "platform/SWbemLocator.h"
#include "support/ScriptedService.h"
#include "views/lists/InstanceList.h"
#include "viewtable/ViewTable.h"

namespace kestrava {
namespace {

constexpr int kColumns = 42;

QStringList headers() {
  QStringList h;
  for (int i = 0; i < kColumns; ++i) h << QString("Column%1").arg(i);
  return h;
}

// Texts like those of a process list: names, numbers, dates, paths.
std::string cellFor(int row, int column) {
  switch (column % 4) {
    case 0:
      return "process-" + std::to_string(row * 7919 % 100003);
    case 1:
      return std::to_string(row * 2654435761u % 1000000007u);
    case 2:
      return "20261209" + std::to_string(100000 + row % 899999) + ".000000+060";
    default:
      return "/usr/lib/x86_64-linux-gnu/worker" + std::to_string(row % 97);
  }
}

void fillThroughOperations(ListControl& list, int rows) {
  auto items = list.ListItems();
  items.Clear();
  for (int r = 0; r < rows; ++r) {
    ListItem row = items.Add(std::to_string(r), cellFor(r, 0));
    for (int c = 1; c < kColumns; ++c) row.setSubItems(c, cellFor(r, c));
  }
  list.flush();
}

void BM_ListFill(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  ListControl list(headers());
  for (auto _ : state) fillThroughOperations(list, rows);
  state.counters["rows"] = rows;
}
BENCHMARK(BM_ListFill)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_HeaderClickSort(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  ListControl list(headers());
  fillThroughOperations(list, rows);
  int column = 1;
  for (auto _ : state) {
    sortByHeader(list, column);  // one click: three property sets, one ordering
    list.flush();
    column = column % kColumns + 1;
  }
}
BENCHMARK(BM_HeaderClickSort)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);

void BM_ListMemoryPerRow(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const size_t before = mallinfo2().uordblks;
    auto* list = new ListControl(headers());
    fillThroughOperations(*list, rows);
    const size_t after = mallinfo2().uordblks;
    state.counters["bytes_per_row"] = static_cast<double>(after - before) / rows;
    delete list;
  }
}
BENCHMARK(BM_ListMemoryPerRow)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The shared list fill of a view: query, enumerate, convert, add, through the object model.
void BM_ProcessesViewFill(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  testing::ScriptedService service;
  std::vector<std::string> properties;
  for (const auto& column : frmProcessesDef.columns) properties.push_back(column.property);
  service.addClass("Win32_Process", "Handle", properties);
  for (int r = 0; r < rows; ++r) {
    std::vector<std::pair<std::string, Value>> values;
    for (size_t c = 0; c < frmProcessesDef.columns.size(); ++c) {
      const char* p = frmProcessesDef.columns[c].property;
      if (std::string(p) == "Handle") continue;
      if (c % 5 == 4)
        values.emplace_back(p, Value::null());
      else if (c % 5 == 3)
        values.emplace_back(p, Value::integer(r * 31 + static_cast<int>(c)));
      else
        values.emplace_back(p, Value::text(cellFor(r, static_cast<int>(c))));
    }
    values.emplace_back("Handle", Value::text(std::to_string(r)));
    service.addObject("Win32_Process", values);
  }
  auto connection = std::shared_ptr<Connection>(service.connect());
  SWbemServices services(connection);
  ListControl list(headers());
  for (auto _ : state) {
    std::optional<SWbemObjectSet> set(services.ExecQuery(frmProcessesDef.query));
    fillList(list, frmProcessesDef, set);
    list.flush();
    sortByHeader(list, 8);
    list.flush();
  }
}
BENCHMARK(BM_ProcessesViewFill)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace kestrava

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

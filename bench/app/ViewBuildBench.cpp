// The whole view build as the user starts it: OK in the Connect dialog against this computer,
// through the real local management service, with at least 1,000 processes
// (KESTRAVA_BENCH_PROCESSES overrides the count, KESTRAVA_BENCH_ITERATIONS the 10 iterations).
// One iteration is OK_Click (connect, then the seven views queried and filled, one after the
// other) and, timed apart, the event processing that follows it (the windows painted). After the
// timing, the heap the Processes view's rows hold is measured by one more refill of that view
// alone. Runs offscreen unless a display is chosen. Results are written down in docs/benchmarks.md.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <QApplication>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/MDIKestrava.h"
#include "app/ViewWindow.h"
#include "app/dlgConnect.h"
#include "common/ProcessPool.h"
#include "connect/Connector.h"
#include "platform/Err.h"
#include "platform/Layout.h"
#include "platform/ListControl.h"
#include "views/Views.h"
#include "views/lists/ListViewWindow.h"

namespace kestrava {
namespace {

// This process's peak resident memory (VmHWM) in MiB.
double peakResidentMib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

int rowsOf(MDIKestrava& main, const char* windowName) {
  auto* view = qobject_cast<ListViewWindow*>(main.view(windowName));
  return view ? view->list()->ListItems().Count() : -1;
}

double processCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_ViewBuild(benchmark::State& state, MDIKestrava* main) {
  using Clock = std::chrono::steady_clock;
  double paintSeconds = 0;
  double cpuSeconds = 0;  // every thread of this process, the service's readers included
  // The first build of a process is timed apart: it alone fills what later connections reuse
  // (the unit-file listing of the service manager, the processor load baseline).
  std::vector<double> buildMs;
  for (auto _ : state) {
    state.PauseTiming();
    main->Connect_Click();
    auto* dialog = qobject_cast<dlgConnect*>(main->connectDialog()->widget());
    QApplication::processEvents();
    state.ResumeTiming();
    const auto clicked = Clock::now();
    const double cpuBefore = processCpuSeconds();
    dialog->OKButton->click();
    state.PauseTiming();
    cpuSeconds += processCpuSeconds() - cpuBefore;
    buildMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - clicked).count());
    const bool built = main->windowTitle() == "Done building information";
    const auto painted = Clock::now();
    QApplication::processEvents();
    paintSeconds += std::chrono::duration<double>(Clock::now() - painted).count();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the closed dialog
    if (!built) {  // a failed connect leaves the dialog open and the title as it was
      state.SkipWithError(("connect failed: " + Err().description()).c_str());
      break;
    }
    main->setWindowTitle("MDIKestrava");
    state.ResumeTiming();
  }
  state.counters["all_threads_cpu_ms"] = cpuSeconds * 1000.0 / state.iterations();
  state.counters["paint_ms"] = benchmark::Counter(paintSeconds * 1000.0 / state.iterations());
  if (!buildMs.empty()) {
    state.counters["first_ms"] = buildMs.front();
    std::vector<double> later(buildMs.begin() + 1, buildMs.end());
    std::sort(later.begin(), later.end());
    if (!later.empty()) state.counters["later_median_ms"] = later[later.size() / 2];
  }
  state.counters["processes"] = rowsOf(*main, "frmProcesses");
  state.counters["services"] = rowsOf(*main, "frmServices");

  // The Processes view emptied, then refilled: what its rows hold on the heap, texts included.
  auto* processes = qobject_cast<ListViewWindow*>(main->view("frmProcesses"));
  processes->list()->ListItems().Clear();
  malloc_trim(0);
  const size_t before = mallinfo2().uordblks;
  processes->ShowForm();
  const size_t after = mallinfo2().uordblks;
  const int rows = rowsOf(*main, "frmProcesses");
  if (rows > 0)
    state.counters["list_bytes_per_process"] = static_cast<double>(after - before) / rows;
  state.counters["peak_resident_mib"] = peakResidentMib();
}

}  // namespace
}  // namespace kestrava

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  const char* count = std::getenv("KESTRAVA_BENCH_PROCESSES");
  kestrava::ProcessPool pool(count ? std::strtoul(count, nullptr, 10) : 1000);
  QApplication app(argc, argv);
  QApplication::setFont(kestrava::sansSerif(8.25));
  kestrava::MDIKestrava main(&kestrava::connectComputer, &kestrava::makeViewWindow);
  main.show();
  main.Form_Load();
  QApplication::processEvents();

  const char* iterations = std::getenv("KESTRAVA_BENCH_ITERATIONS");
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("GUI/view_build_local", kestrava::BM_ViewBuild, &main)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(iterations ? std::strtol(iterations, nullptr, 10) : 10);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Select * From Win32_NTEventLogFile over a log directory of one's choosing, through the local
// service: the first query counts every log, the ones after it find the counts by file identity.
// Usage: log_count_bench VAR_LOG_DIR [QUERIES] [KEY]; with KEY, a query for that log alone follows
// on a service that has counted nothing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "service/LocalService.h"
#include "service/linux/EventLogFileProvider.h"
#include "service/linux/SystemRoot.h"

namespace {

using namespace kestrava;
using service::linuxsys::EventLogFileProvider;
using service::linuxsys::SystemRoot;

std::unique_ptr<service::LocalService> serviceFor(const std::string& varLog) {
  SystemRoot root = SystemRoot::live();
  root.varLog = varLog;
  service::ProviderList providers;
  providers.push_back(std::make_unique<EventLogFileProvider>(root));
  return std::make_unique<service::LocalService>(std::move(providers));
}

// Runs the query and reads every object; prints its time, the objects and the records counted.
void timed(service::LocalService& service, const std::string& wql, const char* what) {
  const auto start = std::chrono::steady_clock::now();
  auto stream = service.execQuery(wql);
  size_t objects = 0;
  int64_t records = 0;
  while (auto object = stream->next()) {
    ++objects;
    const Value& n = object->get("NumberOfRecords");
    if (n.kind() == Value::Kind::Integer) records += n.asInteger();
  }
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  std::printf("%-28s %10.1f ms  %5zu logs  %12lld records\n", what, took.count(), objects,
              static_cast<long long>(records));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: log_count_bench VAR_LOG_DIR [QUERIES] [KEY]\n");
    return 2;
  }
  const std::string varLog = argv[1];
  const int queries = argc > 2 ? std::atoi(argv[2]) : 3;
  auto service = serviceFor(varLog);
  for (int i = 0; i < queries; ++i)
    timed(*service, "Select * From Win32_NTEventLogFile",
          i == 0 ? "Select *, first" : "Select *, again");
  if (argc > 3) {
    auto fresh = serviceFor(varLog);
    timed(*fresh,
          "Select * From Win32_NTEventLogFile Where LogFileName = '" + std::string(argv[3]) + "'",
          "key filter, nothing counted");
  }
  return 0;
}

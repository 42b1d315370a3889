#include "query/QueryTool.h"

#include <cstdio>
#include <mutex>

#include "query/CellText.h"
#include "query/EventWriter.h"
#include "query/ObjectWriter.h"

namespace kestrava::query {

namespace {
int runQuery(Connection& connection, const CommandLine& cmd, QueryToolContext& context) {
  auto writer = makeObjectWriter(cmd.format, context.out);
  auto stream = connection.execQuery(cmd.text);
  try {
    // Once the output fails, the rest of the result is not asked for.
    for (std::optional<ManagementObject> object; context.out && (object = stream->next());)
      writer->write(*object);
  } catch (const ComError&) {
    writer->finish();  // what came before the failure, in well-formed output
    throw;
  }
  writer->finish();
  return 0;
}

// How often a watch looks whether its output still takes what it writes.
constexpr auto kWatchPoll = std::chrono::milliseconds(100);

int runWatch(Connection& connection, const CommandLine& cmd, QueryToolContext& context) {
  std::mutex mutex;
  EventWriter writer(cmd.format, context.out);
  const SubscriptionId id = connection.subscribe(cmd.text, [&](const EventObject& event) {
    std::lock_guard lock(mutex);
    if (context.out) writer.write(event, context.timestamp());
  });
  for (;;) {
    if (context.waitForStop(kWatchPoll)) break;
    std::lock_guard lock(mutex);
    if (!context.out) break;
  }
  connection.cancel(id);
  return 0;
}
}  // namespace

int checkOutput(int status, QueryToolContext& context) {
  context.out.flush();
  if (context.out) return status;
  const std::string why = context.outputFailure ? context.outputFailure() : std::string();
  context.err << "kestrava-query: cannot write the output" << (why.empty() ? "" : ": ") << why
              << '\n';
  return 1;
}

std::string describeError(const ComError& error) {
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, " (0x%08X, %d)", static_cast<uint32_t>(error.number()),
                error.number());
  std::string description = error.description();
  while (!description.empty() && (description.back() == ' ' || description.back() == '\n'))
    description.pop_back();
  if (description.empty()) description = "Error";
  return terminalText(description) + numbers;
}

int runQueryTool(const CommandLine& cmd, QueryToolContext& context) {
  int status;
  try {
    auto connection = context.connect(cmd.host);
    switch (cmd.mode) {
      case CommandLine::Mode::Query:
        status = runQuery(*connection, cmd, context);
        break;
      case CommandLine::Mode::Get:
        writeSingleObject(cmd.format, connection->getObject(cmd.text), context.out);
        status = 0;
        break;
      case CommandLine::Mode::Call:
        writeReturnValue(cmd.format, connection->execMethod(cmd.text, cmd.method), context.out);
        status = 0;
        break;
      case CommandLine::Mode::Watch:
        status = runWatch(*connection, cmd, context);
        break;
      default:
        status = 0;
    }
  } catch (const ComError& e) {
    context.out.flush();
    context.err << "kestrava-query: " << describeError(e) << '\n';
    status = 1;
  }
  return checkOutput(status, context);
}

}  // namespace kestrava::query

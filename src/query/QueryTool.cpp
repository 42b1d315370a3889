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
    while (auto object = stream->next()) writer->write(*object);
  } catch (const ComError&) {
    writer->finish();  // what came before the failure, in well-formed output
    throw;
  }
  writer->finish();
  return 0;
}

int runWatch(Connection& connection, const CommandLine& cmd, QueryToolContext& context) {
  std::mutex mutex;
  EventWriter writer(cmd.format, context.out);
  const SubscriptionId id = connection.subscribe(cmd.text, [&](const EventObject& event) {
    std::lock_guard lock(mutex);
    writer.write(event, context.timestamp());
  });
  context.waitForStop();
  connection.cancel(id);
  return 0;
}
}  // namespace

std::string describeError(const ComError& error) {
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, " (0x%08X, %d)", static_cast<uint32_t>(error.number()),
                error.number());
  std::string description = error.description();
  while (!description.empty() && (description.back() == ' ' || description.back() == '\n'))
    description.pop_back();
  if (description.empty()) description = "Error";
  return cellTextNullAsBlank(Value::text(description)) + numbers;
}

int runQueryTool(const CommandLine& cmd, QueryToolContext& context) {
  try {
    auto connection = context.connect(cmd.host);
    switch (cmd.mode) {
      case CommandLine::Mode::Query:
        return runQuery(*connection, cmd, context);
      case CommandLine::Mode::Get:
        writeSingleObject(cmd.format, connection->getObject(cmd.text), context.out);
        return 0;
      case CommandLine::Mode::Call:
        writeReturnValue(cmd.format, connection->execMethod(cmd.text, cmd.method), context.out);
        return 0;
      case CommandLine::Mode::Watch:
        return runWatch(*connection, cmd, context);
      default:
        return 0;
    }
  } catch (const ComError& e) {
    context.out.flush();
    context.err << "kestrava-query: " << describeError(e) << '\n';
    return 1;
  }
}

}  // namespace kestrava::query

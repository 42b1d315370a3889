#include "query/QueryTool.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "query/CellText.h"
#include "query/EventWriter.h"
#include "query/Fleet.h"
#include "query/ObjectWriter.h"
#include "query/RowOrder.h"
#include "service/QueryPlan.h"
#include "service/WqlParser.h"

namespace kestrava::query {

namespace {

// How often a watch looks whether its output still takes what it writes.
constexpr auto kWatchPoll = std::chrono::milliseconds(100);
constexpr const char* kComputerColumn = "Computer";

void report(QueryToolContext& context, const std::string* computer, const ComError& error) {
  context.out.flush();
  context.err << "kestrava-query: " << (computer ? terminalText(*computer) + ": " : "")
              << describeError(error) << '\n';
}

// Objects with a leading column that names their computer; objects of one schema share one.
class ComputerColumn {
 public:
  ManagementObject add(const std::string& computer, const ManagementObject& object) {
    ManagementObject out(named(object.schema()));
    out.setAt(0, Value::text(computer));
    for (size_t i = 0; i < object.values().size(); ++i) out.setAt(i + 1, object.at(i));
    return out;
  }

  // The schema with the leading column, for objects of this schema.
  const SchemaPtr& named(const SchemaPtr& source) {
    if (source == source_ && named_) return named_;
    source_ = source;
    // A class with a Computer property of its own keeps it; the leading column gives way.
    std::string column = kComputerColumn;
    while (source_ && source_->indexOf(column)) column.insert(0, "_");
    std::vector<std::string> properties{column};
    std::vector<PropertyType> types{PropertyType::Other};
    if (source_) {
      properties.insert(properties.end(), source_->properties().begin(),
                        source_->properties().end());
      for (size_t i = 0; i < source_->size(); ++i) types.push_back(source_->typeOf(i));
    }
    auto& shared = byProperties_[{properties, types}];
    if (!shared)
      shared = std::make_shared<const ClassSchema>(source_ ? source_->className() : "", column,
                                                   properties, types);
    named_ = shared;
    return named_;
  }

 private:
  SchemaPtr source_, named_;
  std::map<std::pair<std::vector<std::string>, std::vector<PropertyType>>, SchemaPtr> byProperties_;
};

// A return value that tells of a refusal or failure: a number other than 0.
bool refused(const ManagementObject& result) {
  const Value& value = result.at(0);
  return value.kind() == Value::Kind::Integer && value.asInteger() != 0;
}

// The schema of a query's objects as the service's classes tell it: its select list, or every
// property of the class for Select *. Null when the service does not name its classes.
SchemaPtr resultSchema(Connection& connection, std::string_view wql) {
  try {
    const auto query = service::WqlParser::parseSelect(wql);
    for (const auto& schema : connection.classes())
      if (schema && equalsIgnoreCase(schema->className(), query.className))
        return service::QueryPlan(query, schema).resultSchema(schema);
  } catch (const ComError&) {
    // The service took a query this side cannot read: its objects will show their schema.
  }
  return nullptr;
}

// Refuses a --sort property that the query's objects lack.
void checkSortKeys(const CommandLine& cmd, const SchemaPtr& schema) {
  if (!schema) return;
  if (const SortKey* missing = missingSortKey(cmd.sort, *schema))
    throw UsageError("--sort " + terminalText(missing->property) +
                     ": the query returns no such property");
}

// The objects of one query, ordered and counted as --sort and --limit say, to one writer.
class QueryOutput {
 public:
  QueryOutput(const CommandLine& cmd, ObjectWriter& writer) : cmd_(cmd), writer_(writer) {
    if (!cmd.sort.empty()) order_.emplace(cmd.sort, cmd.limit);
  }

  // The objects' schema, when known before them: sort keys are checked against it.
  void expect(const SchemaPtr& schema) {
    if (!schema || shape_) return;
    shape_ = schema;
    checkSortKeys(cmd_, schema);
  }
  // False once the limit is reached without sorting: nothing more is wanted.
  bool add(ManagementObject&& object) {
    expect(object.schema());
    if (order_)
      order_->add(std::move(object));
    else if (wantsMore())
      writer_.write(object);
    ++count_;
    return wantsMore();
  }
  bool wantsMore() const { return order_ || !cmd_.limit || count_ < *cmd_.limit; }
  void finish() {
    if (order_)
      for (const auto& object : order_->take()) writer_.write(object);
    if (count_ == 0 && shape_) writer_.emptyResult(shape_);
    writer_.finish();
  }

 private:
  const CommandLine& cmd_;
  ObjectWriter& writer_;
  std::optional<RowOrder> order_;
  SchemaPtr shape_;
  size_t count_ = 0;
};

int runQuery(Connection& connection, const CommandLine& cmd, QueryToolContext& context) {
  auto writer = makeObjectWriter(cmd.format, context.out);
  auto stream = connection.execQuery(cmd.text);
  QueryOutput output(cmd, *writer);
  output.expect(resultSchema(connection, cmd.text));
  try {
    // Once the output fails, or the limit is reached, the rest of the result is not asked for.
    for (std::optional<ManagementObject> object;
         context.out && output.wantsMore() && (object = stream->next());)
      output.add(std::move(*object));
  } catch (const ComError&) {
    output.finish();  // what came before the failure, in well-formed output
    throw;
  }
  output.finish();
  return 0;
}

// A query travels with the connect, so a far side begins it as soon as it is ready.
ConnectHints hintsFor(const CommandLine& cmd) {
  if (cmd.mode == CommandLine::Mode::Query) return ConnectHints{{cmd.text}};
  return {};
}

int runOne(const CommandLine& cmd, const std::string& computer, QueryToolContext& context) {
  try {
    auto connection = context.connect(computer, hintsFor(cmd));
    switch (cmd.mode) {
      case CommandLine::Mode::Query:
        return runQuery(*connection, cmd, context);
      case CommandLine::Mode::Get:
        writeSingleObject(cmd.format, connection->getObject(cmd.text), context.out);
        return 0;
      case CommandLine::Mode::Call: {
        const auto result = methodResult(cmd.text, connection->execMethod(cmd.text, cmd.method));
        writeReturnValue(cmd.format, result, context.out);
        return refused(result) ? 1 : 0;
      }
      default:
        return 0;
    }
  } catch (const ComError& e) {
    report(context, nullptr, e);
    return 1;
  }
}

// A query, --get or --call on many computers: one table, CSV or JSON array whose rows begin
// with their computer; a --call's rows are its return values.
int runMany(const CommandLine& cmd, const std::vector<std::string>& computers,
            QueryToolContext& context) {
  auto writer = makeObjectWriter(cmd.format, context.out);
  QueryOutput output(cmd, *writer);
  ComputerColumn column;
  size_t failed = 0;
  askFleet(
      computers, cmd.parallel,
      [&](const std::string& computer, const ConnectHints&) {
        return context.connect(computer, hintsFor(cmd));
      },
      [&](Connection& connection, FleetAnswer& answer) {
        if (cmd.mode == CommandLine::Mode::Get) {
          answer.objects.push_back(connection.getObject(cmd.text));
        } else if (cmd.mode == CommandLine::Mode::Call) {
          answer.objects.push_back(
              methodResult(cmd.text, connection.execMethod(cmd.text, cmd.method)));
        } else {
          auto stream = connection.execQuery(cmd.text);
          answer.schema = resultSchema(connection, cmd.text);
          // Without --sort, no computer's rows beyond the limit can be printed.
          while (!cmd.limit || !cmd.sort.empty() || answer.objects.size() < *cmd.limit) {
            auto object = stream->next();
            if (!object) break;
            answer.objects.push_back(std::move(*object));
          }
        }
      },
      [&](const std::string& computer, FleetAnswer& answer) {
        if (answer.schema) output.expect(column.named(answer.schema));
        for (const auto& object : answer.objects) {
          if (cmd.mode == CommandLine::Mode::Call && refused(object)) ++failed;
          if (!output.add(column.add(computer, object))) break;
        }
        if (answer.error) {
          ++failed;
          report(context, &computer, *answer.error);
        }
        context.out.flush();
        return context.out && output.wantsMore();
      });
  output.finish();
  return failed ? 1 : 0;
}

// Events of one or many computers as they come, until the user stops the watch, the output
// fails, or no computer is left: one that drops out is reported and the others go on.
int runWatch(const CommandLine& cmd, const std::vector<std::string>& computers,
             QueryToolContext& context) {
  const bool named = cmd.namesComputers();
  std::mutex mutex;  // guards the output, the error output and the counts
  EventWriter writer(cmd.format, context.out, named);
  struct Watched {
    std::unique_ptr<Connection> connection;
    SubscriptionId id = 0;
  };
  std::vector<Watched> watched(computers.size());
  size_t failed = 0, live = 0;

  forEachInParallel(computers.size(), cmd.parallel, [&](size_t i) {
    const std::string& computer = computers[i];
    try {
      auto connection = context.connect(computer, {});
      const SubscriptionId id = connection->subscribe(cmd.text, [&](const EventObject& event) {
        std::lock_guard lock(mutex);
        if (context.out) writer.write(event, context.timestamp(), computer);
      });
      Connection& watching = *connection;
      {
        std::lock_guard lock(mutex);
        watched[i] = {std::move(connection), id};
        ++live;
      }
      watching.onLost([&](const ComError& error) {
        std::lock_guard lock(mutex);
        report(context, named ? &computer : nullptr, error);
        ++failed;
        --live;
      });
    } catch (const ComError& e) {
      std::lock_guard lock(mutex);
      report(context, named ? &computer : nullptr, e);
      ++failed;
    } catch (const std::exception& e) {
      std::lock_guard lock(mutex);
      report(context, named ? &computer : nullptr, ComError(err::kWbemFailed, e.what()));
      ++failed;
    }
  });

  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (!context.out || live == 0) break;
    }
    if (context.waitForStop(kWatchPoll)) break;
  }
  forEachInParallel(watched.size(), cmd.parallel, [&](size_t i) {
    if (!watched[i].connection) return;
    try {
      watched[i].connection->cancel(watched[i].id);
    } catch (const ComError&) {
      // A connection that has gone has nothing left to cancel.
    }
    watched[i].connection.reset();
  });
  return failed ? 1 : 0;
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

int runQueryTool(const CommandLine& cmd, const std::vector<std::string>& computers,
                 QueryToolContext& context) {
  int status;
  if (cmd.mode == CommandLine::Mode::Watch)
    status = runWatch(cmd, computers, context);
  else if (cmd.namesComputers())
    status = runMany(cmd, computers, context);
  else
    status = runOne(cmd, computers.empty() ? std::string() : computers.front(), context);
  return checkOutput(status, context);
}

}  // namespace kestrava::query

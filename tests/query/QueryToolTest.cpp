#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <thread>

#include "query/HostList.h"
#include "query/QueryTool.h"
#include "support/ScriptedService.h"

namespace kestrava::query {
namespace {

class QueryToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.addClass("Win32_Service", "Name", {"Name", "State"});
    service_.addObject("Win32_Service",
                       {{"Name", Value::text("a.service")}, {"State", Value::text("Running")}});
    service_.addObject("Win32_Service",
                       {{"Name", Value::text("b.service")}, {"State", Value::text("Stopped")}});
    network_.add("", service_);
    network_.add("far", remote_);
  }

  int run(std::vector<std::string> args, const std::string& input = "") {
    out_.str("");
    err_.str("");
    QueryToolContext context{network_.factory(), out_, err_,
                             [this](std::chrono::milliseconds) {
                               onWait();
                               return true;
                             },
                             [] { return std::string("T"); }};
    const CommandLine cmd = CommandLine::parse(args);
    std::istringstream in(input);
    return runQueryTool(cmd, computerNames(cmd, in), context);
  }

  testing::ScriptedService service_, remote_;
  testing::ScriptedNetwork network_;
  std::ostringstream out_, err_;
  std::function<void()> onWait = [] {};
};

TEST_F(QueryToolTest, QueryPrintsEveryObject) {
  EXPECT_EQ(run({"--format", "csv", "Select * From Win32_Service"}), 0);
  EXPECT_EQ(out_.str(), "Name,State\na.service,Running\nb.service,Stopped\n");
  EXPECT_EQ(err_.str(), "");
}

TEST_F(QueryToolTest, FailurePartWayKeepsOutputWellFormedThenReports) {
  service_.failures().enumerateAfter =
      std::make_pair(size_t{1}, ComError(err::kRpcServerUnavailable, "The RPC server is gone"));
  EXPECT_EQ(run({"--format", "json", "Select * From Win32_Service"}), 1);
  EXPECT_EQ(out_.str(), "[\n{\"Name\":\"a.service\",\"State\":\"Running\"}\n]\n");
  EXPECT_EQ(err_.str(), "kestrava-query: The RPC server is gone (0x800706BA, -2147023174)\n");
}

TEST_F(QueryToolTest, ErrorsGoToStandardErrorWithANonZeroStatus) {
  EXPECT_EQ(run({"Select * From Nope"}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), "kestrava-query: Invalid class (0x80041010, -2147217392)\n");

  EXPECT_EQ(run({"--host", "unknown", "Select * From Win32_Service"}), 1);
  EXPECT_NE(err_.str().find("0x800706BA"), std::string::npos) << err_.str();
}

TEST_F(QueryToolTest, HostChoosesTheComputer) {
  remote_.addClass("Win32_Service", "Name", {"Name"});
  remote_.addObject("Win32_Service", {{"Name", Value::text("far.service")}});
  EXPECT_EQ(run({"--host", "far", "--format", "csv", "Select * From Win32_Service"}), 0);
  EXPECT_EQ(out_.str(), "Name\nfar.service\n");
}

TEST_F(QueryToolTest, GetAndCall) {
  EXPECT_EQ(run({"--format", "json", "--get", "Win32_Service='b.service'"}), 0);
  EXPECT_EQ(out_.str(), "{\"Name\":\"b.service\",\"State\":\"Stopped\"}\n");

  service_.onMethod = [](const std::string&, const std::string& method) {
    return Value::integer(method == "StartService" ? 10 : 0);
  };
  // A refusal is no success: its meaning is printed and the status is 1.
  EXPECT_EQ(run({"--call", "Win32_Service='a.service'", "StartService"}), 1);
  EXPECT_EQ(out_.str(), "10 Service already running\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(run({"--format", "json", "--call", "Win32_Service='a.service'", "StopService"}), 0);
  EXPECT_EQ(out_.str(), "{\"ReturnValue\":0,\"Meaning\":\"Success\"}\n");
  const auto& calls = service_.calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "method Win32_Service='a.service' StartService"),
            calls.end());

  service_.failures().method = ComError(err::kWbemInvalidMethod, "Invalid method");
  EXPECT_EQ(run({"--call", "Win32_Service='a.service'", "Explode"}), 1);
  EXPECT_EQ(err_.str(), "kestrava-query: Invalid method (0x8004102E, -2147217362)\n");
}

TEST_F(QueryToolTest, WatchPrintsEventsUntilStoppedThenCancels) {
  auto schema = service_.objects("Win32_Service").front().schema();
  onWait = [&] {
    EXPECT_EQ(service_.activeSubscriptions(), 1u);
    EventObject e{"__InstanceModificationEvent", ManagementObject(schema),
                  ManagementObject(schema)};
    e.target.set("Name", Value::text("a.service"));
    e.previous.set("Name", Value::text("a.service"));
    e.target.set("State", Value::text("Stopped"));
    e.previous.set("State", Value::text("Running"));
    service_.deliver(e);
  };
  const std::string query =
      "Select * from __InstanceModificationEvent Within 2.0 Where TargetInstance Isa "
      "'Win32_Service'";
  EXPECT_EQ(run({"--watch", query}), 0);
  EXPECT_EQ(out_.str(), "T  Win32_Service='a.service'  State: Running -> Stopped\n");
  EXPECT_EQ(service_.activeSubscriptions(), 0u);

  service_.failures().subscribe = ComError(err::kWbemInvalidQuery, "Invalid query");
  bool waited = false;
  onWait = [&] { waited = true; };
  EXPECT_EQ(run({"--watch", "Select"}), 1);
  EXPECT_FALSE(waited);
}

// Computers db1..dbN with one service each, named after the computer.
class FleetTest : public QueryToolTest {
 protected:
  void addComputers(size_t count) {
    for (size_t i = 1; i <= count; ++i) {
      auto& service = *fleet_.emplace_back(std::make_unique<testing::ScriptedService>());
      const std::string name = "db" + std::to_string(i);
      service.addClass("Win32_Service", "Name", {"Name", "State"});
      service.addObject("Win32_Service", {{"Name", Value::text(name + ".service")},
                                          {"State", Value::text("Running")}});
      network_.add(name, service);
    }
  }
  std::vector<std::unique_ptr<testing::ScriptedService>> fleet_;
};

TEST_F(FleetTest, RowsNameTheirComputerInTheOrderNamedAndFailuresGoToStandardError) {
  addComputers(3);
  // The first named answers last: its rows still come first.
  fleet_[0]->onCall = [](const std::string& call) {
    if (call == "connect") std::this_thread::sleep_for(std::chrono::milliseconds(50));
  };
  const std::string query = "Select * From Win32_Service";
  EXPECT_EQ(run({"--format", "csv", "--host", "db1", "--hosts", "-", query},
                "# the rest\nnowhere\n  db3  \ndb2 # last\n"),
            1);
  EXPECT_EQ(out_.str(),
            "Computer,Name,State\n"
            "db1,db1.service,Running\n"
            "db3,db3.service,Running\n"
            "db2,db2.service,Running\n");
  EXPECT_EQ(err_.str(),
            "kestrava-query: nowhere: The RPC server is unavailable. (0x800706BA, -2147023174)\n");

  EXPECT_EQ(run({"--format", "json", "--host", "db2", "--host", "db1", query}), 0);
  EXPECT_EQ(out_.str(),
            "[\n{\"Computer\":\"db2\",\"Name\":\"db2.service\",\"State\":\"Running\"},\n"
            "{\"Computer\":\"db1\",\"Name\":\"db1.service\",\"State\":\"Running\"}\n]\n");
  EXPECT_EQ(run({"--host", "db1", "--host", "db2", "Select * From Nope"}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(),
            "kestrava-query: db1: Invalid class (0x80041010, -2147217392)\n"
            "kestrava-query: db2: Invalid class (0x80041010, -2147217392)\n");
}

TEST_F(FleetTest, GetAndCallGiveOneRowPerComputer) {
  addComputers(2);
  fleet_[1]->onMethod = [](const std::string&, const std::string&) { return Value::integer(5); };
  EXPECT_EQ(run({"--host", "db1", "--host", "db2", "--call", "Win32_Service='x'", "StopService"}),
            1);
  EXPECT_EQ(out_.str(),
            "Computer  ReturnValue  Meaning\n"
            "--------  -----------  -----------------------------\n"
            "db1                 0  Success\n"
            "db2                 5  Service cannot accept control\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(run({"--format", "csv", "--host", "db2", "--host", "db1", "--get",
                 "Win32_Service='db1.service'"}),
            1);
  EXPECT_EQ(out_.str(), "Computer,Name,State\ndb1,db1.service,Running\n");
  EXPECT_NE(err_.str().find("kestrava-query: db2: "), std::string::npos) << err_.str();
}

TEST_F(QueryToolTest, AnEmptyResultPrintsTheHeaderOfWhatWasAsked) {
  service_.addClass("Win32_Processor", "DeviceID", {"DeviceID", "LoadPercentage"});
  service_.nameClasses();
  struct Case {
    std::vector<std::string> args;
    const char* expected;
  };
  const Case cases[] = {
      {{"--format", "csv", "Select loadpercentage, DeviceID From Win32_Processor"},
       "LoadPercentage,DeviceID\n"},
      {{"Select * From Win32_Processor"}, "DeviceID  LoadPercentage\n--------  --------------\n"},
      {{"--format", "json", "Select * From Win32_Processor"}, "[]\n"},
      {{"--format", "list", "Select * From Win32_Processor"}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.args), 0);
    EXPECT_EQ(out_.str(), c.expected) << ::testing::PrintToString(c.args);
  }
}

TEST_F(QueryToolTest, SortAndLimitOneComputer) {
  service_.addObject("Win32_Service",
                     {{"Name", Value::text("c10.service")}, {"State", Value::text("running")}});
  service_.addObject("Win32_Service",
                     {{"Name", Value::text("c9.service")}, {"State", Value::text("Running")}});
  EXPECT_EQ(run({"--format", "csv", "--sort", "state:desc", "--sort", "Name", "--limit", "3",
                 "Select * From Win32_Service"}),
            0);
  EXPECT_EQ(out_.str(), "Name,State\nb.service,Stopped\na.service,Running\nc9.service,Running\n");
  EXPECT_EQ(run({"--format", "csv", "--limit", "2", "Select * From Win32_Service"}), 0);
  EXPECT_EQ(out_.str(), "Name,State\na.service,Running\nb.service,Stopped\n");

  // A property the objects lack is a command line that cannot be run; nothing is printed.
  EXPECT_THROW(run({"--sort", "ProcessId", "Select * From Win32_Service"}), UsageError);
  EXPECT_EQ(out_.str(), "");
  service_.nameClasses();
  service_.clearObjects("Win32_Service");
  EXPECT_THROW(run({"--sort", "State", "Select Name From Win32_Service"}), UsageError);
  EXPECT_EQ(out_.str(), "");
}

TEST_F(FleetTest, SortAndLimitAcrossEveryComputer) {
  addComputers(3);
  fleet_[1]->addObject("Win32_Service",
                       {{"Name", Value::text("aa.service")}, {"State", Value::text("Stopped")}});
  fleet_[2]->addObject("Win32_Service",
                       {{"Name", Value::text("zz.service")}, {"State", Value::text("Stopped")}});
  const std::vector<std::string> hosts{"--host", "db1", "--host", "db2", "--host", "db3"};
  auto args = [&](std::vector<std::string> more) {
    more.insert(more.begin(), hosts.begin(), hosts.end());
    more.push_back("Select * From Win32_Service");
    return more;
  };
  EXPECT_EQ(
      run(args({"--format", "csv", "--sort", "State:desc", "--sort", "Name:desc", "--limit", "4"})),
      0);
  EXPECT_EQ(out_.str(),
            "Computer,Name,State\n"
            "db3,zz.service,Stopped\n"
            "db2,aa.service,Stopped\n"
            "db3,db3.service,Running\n"
            "db2,db2.service,Running\n");
  EXPECT_EQ(run(args({"--format", "csv", "--sort", "computer:desc", "--limit", "1"})), 0);
  EXPECT_EQ(out_.str(), "Computer,Name,State\ndb3,db3.service,Running\n");

  // Without --sort the first rows in the order named; computers past the limit are not asked.
  fleet_[2]->clearCalls();
  EXPECT_EQ(run(args({"--parallel", "1", "--format", "csv", "--limit", "1"})), 0);
  EXPECT_EQ(out_.str(), "Computer,Name,State\ndb1,db1.service,Running\n");
  EXPECT_EQ(fleet_[2]->calls(), std::vector<std::string>{});

  for (auto& service : fleet_) {
    service->clearObjects("Win32_Service");
    service->nameClasses();
  }
  EXPECT_EQ(run(args({"--format", "csv"})), 0);
  EXPECT_EQ(out_.str(), "Computer,Name,State\n");
}

TEST_F(FleetTest, NoMoreThanParallelComputersAreAskedAtOnce) {
  addComputers(6);
  std::mutex mutex;
  int open = 0, most = 0;
  for (auto& service : fleet_)
    service->onCall = [&](const std::string& call) {
      std::unique_lock lock(mutex);
      if (call == "connect") {
        most = std::max(most, ++open);
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
      } else if (call == "release") {
        --open;
      }
    };
  std::vector<std::string> args{"--parallel", "2", "--format", "csv"};
  for (int i = 1; i <= 6; ++i) args.insert(args.end(), {"--host", "db" + std::to_string(i)});
  args.push_back("Select Name From Win32_Service");
  EXPECT_EQ(run(args), 0);
  EXPECT_EQ(most, 2);
  const std::string out = out_.str();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 7) << out;
}

TEST(HostList, NamesOneALineWithoutCommentsOrBlanksEachOnce) {
  std::istringstream file("db1\n\n  # a comment\n\tadmin@db2  # trailing\ndb1\n");
  EXPECT_EQ(readHostList(file), (std::vector<std::string>{"db1", "admin@db2", "db1"}));

  std::istringstream in("db3\ndb1\n");
  EXPECT_EQ(computerNames(CommandLine::parse({"--host", "db1", "--hosts", "-", "q"}), in),
            (std::vector<std::string>{"db1", "db3"}));
  std::istringstream none;
  EXPECT_EQ(computerNames(CommandLine::parse({"q"}), none), std::vector<std::string>{""});
  EXPECT_THROW(computerNames(CommandLine::parse({"--hosts", "/nonexistent/list", "q"}), none),
               UsageError);
  std::istringstream onlyComments("# nothing\n");
  EXPECT_THROW(computerNames(CommandLine::parse({"--hosts", "-", "q"}), onlyComments), UsageError);
}

}  // namespace
}  // namespace kestrava::query

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

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

  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    QueryToolContext context{network_.factory(), out_, err_,
                             [this](std::chrono::milliseconds) {
                               onWait();
                               return true;
                             },
                             [] { return std::string("T"); }};
    return runQueryTool(CommandLine::parse(args), context);
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
  EXPECT_EQ(run({"--call", "Win32_Service='a.service'", "StartService"}), 0);
  EXPECT_EQ(out_.str(), "10\n");
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

}  // namespace
}  // namespace kestrava::query

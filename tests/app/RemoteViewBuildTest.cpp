// The view build as OK in the Connect dialog runs it, against a far computer reached through the
// protocol (an in-process agent): how many round trips it costs, so that one added shows.
#include <gtest/gtest.h>

#include "app/ViewWindow.h"
#include "app/dlgConnect.h"
#include "remote/RemoteConnection.h"
#include "remote/RemoteTestSupport.h"
#include "support/AppHarness.h"
#include "views/Views.h"
#include "viewtable/ViewTable.h"

namespace kestrava::testing {
namespace {

class RemoteViewBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    addViewClasses(app.remote);
    app.main = std::make_unique<MDIKestrava>(
        [this](const std::string& computer, const ConnectHints& hints) {
          agents.push_back(std::make_unique<remote::testing::InProcessAgent>([this] {
            return std::make_unique<remote::testing::NamingClasses>(app.remote.connect(), classes);
          }));
          auto connection = std::make_unique<remote::RemoteConnection>(
              agents.back()->transport(), computer, remote::RemoteLimits{}, hints.readAhead);
          far = connection.get();
          return connection;
        },
        &makeViewWindow);
    // Two objects in each view's class, whose shape the far side names.
    for (const ViewRow* row : kViewBuildOrder) {
      const std::string& query = app.main->view(row->windowName())->query();
      const std::string cls = query.substr(query.rfind(' ') + 1);
      app.remote.addObject(cls, {});
      classes.push_back(app.remote.objects(cls).front().schema());
      app.remote.clearObjects(cls);
      for (const char* key : {"1", "2"})
        app.remote.addObject(cls, {{classes.back()->keyProperty(), Value::text(key)}});
    }
    app.load();
  }
  void TearDown() override { app.main.reset(); }

  AppHarness app;
  std::vector<SchemaPtr> classes;
  std::vector<std::unique_ptr<remote::testing::InProcessAgent>> agents;
  remote::RemoteConnection* far = nullptr;
};

TEST_F(RemoteViewBuild, CostsTheHandshakeAloneForAllSevenViews) {
  ASSERT_TRUE(app.connectVia("far"));
  ASSERT_TRUE(app.messages.empty()) << app.messages.front().text.toStdString();
  ASSERT_NE(far, nullptr);
  EXPECT_EQ(far->roundTrips(), 1u) << "the views' queries travel with the hello";
  size_t queries = 0, subscriptions = 0;
  for (const auto& call : app.remote.calls()) {
    queries += call.rfind("query ", 0) == 0;
    subscriptions += call.rfind("subscribe ", 0) == 0;
  }
  EXPECT_EQ(queries, 7u) << "each view's data is read once";
  EXPECT_EQ(subscriptions, 7u);
  EXPECT_EQ(app.main->windowTitle(), "Done building information");
}

}  // namespace
}  // namespace kestrava::testing

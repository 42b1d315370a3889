#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "core/ComError.h"
#include "service/LocalService.h"
#include "service/core/FakeProvider.h"

namespace kestrava::service {
namespace {

using testing::FakeProvider;

class LocalServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto things = std::make_unique<FakeProvider>(
        "Kestrava_Thing", "Id", std::vector<std::string>{"Id", "Name", "Pid", "State", "Size"});
    things->setRows({
        {{"Id", Value::text("a")},
         {"Name", Value::text("alpha")},
         {"Pid", Value::integer(1)},
         {"State", Value::text("Running")},
         {"Size", Value::text("10")}},
        {{"Id", Value::text("b")},
         {"Name", Value::text("beta")},
         {"Pid", Value::integer(2)},
         {"State", Value::text("Stopped")},
         {"Size", Value::text("20000000000")}},
        {{"Id", Value::text("it's")},
         {"Name", Value::text("gamma")},
         {"Pid", Value::integer(3)},
         {"State", Value::text("Running")}},
    });
    auto other =
        std::make_unique<FakeProvider>("Kestrava_Other", "Code", std::vector<std::string>{"Code"});
    things_ = things.get();
    other_ = other.get();
    ProviderList providers;
    providers.push_back(std::move(things));
    providers.push_back(std::move(other));
    service_ = std::make_unique<LocalService>(std::move(providers));
  }

  std::vector<ManagementObject> query(const std::string& wql) {
    auto stream = service_->execQuery(wql);
    std::vector<ManagementObject> out;
    while (auto object = stream->next()) out.push_back(std::move(*object));
    return out;
  }

  static std::vector<std::string> idsOf(const std::vector<ManagementObject>& objects) {
    std::vector<std::string> ids;
    for (const auto& o : objects) ids.push_back(o.get("Id").asText());
    return ids;
  }

  template <typename F>
  static ComError errorOf(F&& f) {
    try {
      f();
    } catch (const ComError& e) {
      return e;
    }
    return ComError(0, "no error");
  }

  FakeProvider* things_ = nullptr;
  FakeProvider* other_ = nullptr;
  std::unique_ptr<LocalService> service_;
};

TEST_F(LocalServiceTest, SelectStarAsksForEverythingAndDeliversInProviderOrder) {
  auto objects = query("Select * From Kestrava_Thing");
  EXPECT_EQ(idsOf(objects), (std::vector<std::string>{"a", "b", "it's"}));
  ASSERT_EQ(things_->requests().size(), 1u);
  EXPECT_TRUE(things_->requests()[0].wantsAll());
  EXPECT_EQ(objects[1].get("Name"), Value::text("beta"));
  EXPECT_EQ(objects[2].get("Size"), Value::null());
  EXPECT_EQ(objects[2].path(), "Kestrava_Thing='it\\'s'");
}

TEST_F(LocalServiceTest, AsksOnlyForSelectedWhereAndKeyProperties) {
  auto objects = query("Select Name From Kestrava_Thing Where Pid > 1");
  ASSERT_EQ(things_->requests().size(), 1u);
  const PropertySet wanted = things_->requests()[0];
  EXPECT_FALSE(wanted.wantsAll());
  // Id (key), Name (selected), Pid (Where); not State, not Size.
  EXPECT_EQ((std::vector<bool>{wanted.wants(0), wanted.wants(1), wanted.wants(2), wanted.wants(3),
                               wanted.wants(4)}),
            (std::vector<bool>{true, true, true, false, false}));
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0].get("Name"), Value::text("beta"));
  EXPECT_EQ(objects[1].get("name"), Value::text("gamma"));
}

TEST_F(LocalServiceTest, ProjectionKeepsOnlyTheSelectListInItsOrder) {
  auto objects = query("select STATE, name, State from kestrava_thing");
  ASSERT_EQ(objects.size(), 3u);
  const auto& schema = *objects[0].schema();
  EXPECT_EQ(schema.className(), "Kestrava_Thing");
  EXPECT_EQ(schema.properties(), (std::vector<std::string>{"State", "Name"}));
  EXPECT_EQ(objects[0].values(),
            (std::vector<Value>{Value::text("Running"), Value::text("alpha")}));
  EXPECT_EQ(errorOf([&] { objects[0].get("Pid"); }).number(), err::kNoSuchMember);
  // One schema shared by every object of the query, not a copy per object.
  EXPECT_EQ(objects[0].schema().get(), objects[2].schema().get());

  auto withKey = query("Select Id, Name From Kestrava_Thing");
  EXPECT_EQ(withKey[2].path(), "Kestrava_Thing='it\\'s'");
}

TEST_F(LocalServiceTest, WhereFilters) {
  EXPECT_EQ(idsOf(query("Select * From Kestrava_Thing Where State = 'running'")),
            (std::vector<std::string>{"a", "it's"}));
  EXPECT_EQ(idsOf(query("Select * From Kestrava_Thing Where Size > 1e9")),
            (std::vector<std::string>{"b"}));
  EXPECT_EQ(idsOf(query("Select * From Kestrava_Thing Where Size Is Null Or Name Like 'a%'")),
            (std::vector<std::string>{"a", "it's"}));
  EXPECT_TRUE(query("Select * From Kestrava_Thing Where Pid > 100").empty());
}

TEST_F(LocalServiceTest, RefusedQueriesThrowAtOnceWithTheirNumbers) {
  struct Case {
    const char* wql;
    int32_t number;
  };
  const Case cases[] = {
      {"Select * From Nope", -2147217392},
      {"Select * From", -2147217385},
      {"Select Missing From Kestrava_Thing", -2147217385},
      {"Select * From Kestrava_Thing Where Missing = 1", -2147217385},
      {"Select * From Kestrava_Thing Where Name Like '[x'", -2147217385},
      {"Select * from __InstanceModificationEvent Within 2 Where TargetInstance Isa "
       "'Kestrava_Thing'",
       -2147217385},
  };
  for (const auto& c : cases) {
    ComError e = errorOf([&] { service_->execQuery(c.wql); });
    EXPECT_EQ(e.number(), c.number) << c.wql;
    EXPECT_EQ(e.source(), "SWbemServicesEx") << c.wql;
  }
  EXPECT_EQ(things_->enumerations(), 0u);
}

// Takes what execQueryInto pushes, and wants no more after `keep` objects.
struct Collector final : ObjectSink {
  explicit Collector(size_t keep = SIZE_MAX) : keep(keep) {}
  void accepted() override { wasAccepted = true; }
  bool object(ManagementObject&& o) override {
    objects.push_back(std::move(o));
    return objects.size() < keep;
  }
  size_t keep;
  bool wasAccepted = false;
  std::vector<ManagementObject> objects;
};

TEST_F(LocalServiceTest, PushedQueriesGiveWhatStreamedOnesGiveAndStopWhenTheSinkHasEnough) {
  for (const char* wql :
       {"Select * From Kestrava_Thing", "Select Name From Kestrava_Thing Where Pid > 1"}) {
    Collector pushed;
    service_->execQueryInto(wql, pushed);
    EXPECT_TRUE(pushed.wasAccepted);
    auto streamed = query(wql);
    ASSERT_EQ(pushed.objects.size(), streamed.size()) << wql;
    for (size_t i = 0; i < streamed.size(); ++i) {
      EXPECT_EQ(pushed.objects[i].schema()->properties(), streamed[i].schema()->properties());
      EXPECT_EQ(pushed.objects[i].values(), streamed[i].values()) << wql;
    }
  }
  Collector refused;
  EXPECT_EQ(errorOf([&] { service_->execQueryInto("Select * From Nope", refused); }).number(),
            err::kWbemInvalidClass);
  EXPECT_FALSE(refused.wasAccepted) << "a refusal comes before the acceptance";
  Collector one(1);
  service_->execQueryInto("Select * From Kestrava_Thing", one);
  EXPECT_EQ(idsOf(one.objects), (std::vector<std::string>{"a"}));
  things_->failAfter(1, ComError(err::kWbemAccessDenied, "Access denied", "SWbemServicesEx"));
  Collector partWay;
  EXPECT_EQ(
      errorOf([&] { service_->execQueryInto("Select * From Kestrava_Thing", partWay); }).number(),
      err::kWbemAccessDenied);
  EXPECT_TRUE(partWay.wasAccepted);
  EXPECT_EQ(partWay.objects.size(), 1u);
}

TEST_F(LocalServiceTest, EnumerationFailingPartWayDeliversWhatWasReadThenTheError) {
  things_->failAfter(2, ComError(err::kWbemAccessDenied, "Access denied", "SWbemServicesEx"));
  auto stream = service_->execQuery("Select * From Kestrava_Thing");
  ASSERT_TRUE(stream->next());
  ASSERT_TRUE(stream->next());
  EXPECT_EQ(errorOf([&] { stream->next(); }).number(), err::kWbemAccessDenied);
  EXPECT_FALSE(stream->next());  // finished after the throw
}

TEST_F(LocalServiceTest, ProviderFailureOtherThanComErrorBecomesGenericFailure) {
  things_->throwNonComError();
  auto stream = service_->execQuery("Select * From Kestrava_Thing");
  ComError e = errorOf([&] { stream->next(); });
  EXPECT_EQ(e.number(), err::kWbemFailed);
  EXPECT_EQ(e.source(), "SWbemServicesEx");
}

TEST_F(LocalServiceTest, GetObjectByEachPathForm) {
  EXPECT_EQ(service_->getObject("Kestrava_Thing='b'").get("Name"), Value::text("beta"));
  EXPECT_EQ(service_->getObject("kestrava_thing.ID=\"b\"").get("Pid"), Value::integer(2));
  EXPECT_EQ(service_->getObject("Kestrava_Thing='it\\'s'").get("Name"), Value::text("gamma"));
  EXPECT_EQ(service_->getObject(makeObjectPath("Kestrava_Thing", "it's")).get("Pid"),
            Value::integer(3));
}

TEST_F(LocalServiceTest, GetObjectErrors) {
  struct Case {
    const char* path;
    int32_t number;
  };
  const Case cases[] = {
      {"Kestrava_Thing='B'", -2147217406},  // keys compare exactly
      {"Kestrava_Thing='zz'", -2147217406},
      {"Kestrava_Thing=''", -2147217406},
      {"Nope='a'", -2147217392},
      {"Kestrava_Thing.Name='alpha'", -2147217350},  // not the key property
      {"Kestrava_Thing='a", -2147217350},
      {"Kestrava_Thing", -2147217350},
  };
  for (const auto& c : cases) {
    ComError e = errorOf([&] { service_->getObject(c.path); });
    EXPECT_EQ(e.number(), c.number) << c.path;
    EXPECT_EQ(e.source(), "SWbemServicesEx") << c.path;
  }
}

TEST_F(LocalServiceTest, ExecMethodReachesTheInstanceOrFails) {
  EXPECT_EQ(service_->execMethod("Kestrava_Thing='it\\'s'", "Ping"), Value::integer(4));
  EXPECT_EQ(things_->invoked(), (std::vector<std::string>{"it's Ping"}));

  EXPECT_EQ(errorOf([&] { service_->execMethod("Kestrava_Thing='zz'", "Ping"); }).number(),
            -2147217406);
  EXPECT_EQ(errorOf([&] { service_->execMethod("Kestrava_Thing='a'", "Explode"); }).number(),
            err::kWbemInvalidMethod);
  EXPECT_EQ(errorOf([&] { service_->execMethod("Kestrava_Thing=a", "Ping"); }).number(),
            -2147217350);
  EXPECT_EQ(errorOf([&] { service_->execMethod("Nope='a'", "Ping"); }).number(), -2147217392);
  // The missing instance was never handed to the provider's method.
  EXPECT_EQ(things_->invoked().size(), 2u);
}

TEST(LocalServiceSetup, TwoProvidersForOneClassAreRefused) {
  ProviderList providers;
  providers.push_back(std::make_unique<FakeProvider>("C", "K", std::vector<std::string>{"K"}));
  providers.push_back(std::make_unique<FakeProvider>("c", "K", std::vector<std::string>{"K"}));
  EXPECT_THROW(LocalService{std::move(providers)}, std::invalid_argument);
}

}  // namespace
}  // namespace kestrava::service

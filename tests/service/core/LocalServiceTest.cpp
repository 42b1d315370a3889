#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/ComError.h"
#include "service/LazyProvider.h"
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

TEST_F(LocalServiceTest, AWhereThatPinsTheKeyTellsTheProviderWhichKey) {
  EXPECT_EQ(idsOf(query("Select * From Kestrava_Thing Where Id = 'B' And State = 'Stopped'")),
            (std::vector<std::string>{"b"}));
  EXPECT_EQ(idsOf(query("Select * From Kestrava_Thing Where State = 'x' Or Id = 'a'")),
            (std::vector<std::string>{"a"}));
  EXPECT_TRUE(query("Select Name From Kestrava_Thing Where Id = 'b' And Pid = 1").empty());
  EXPECT_EQ(query("Select * From Kestrava_Thing Where Not Id = 'a'").size(), 2u);
  // Only the clauses that cannot match another key pass it on; the filter still decides.
  EXPECT_EQ(things_->keyTexts(), (std::vector<std::string>{"B", "b"}));
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

TEST_F(LocalServiceTest, NotFoundNamesThePathAndTheCloseKeyAndAnUnknownClassNamesItself) {
  other_->setRows({{{"Code", Value::text("sshd.service")}},
                   {{"Code", Value::text("ssh.service")}},
                   {{"Code", Value::text("ssh.service.d")}}});
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { service_->getObject("Kestrava_Other='ssh'"); },
       "Not found: Kestrava_Other='ssh' (did you mean Kestrava_Other='ssh.service'?)"},
      {[&] { service_->execMethod("Kestrava_Thing='B'", "Ping"); },
       "Not found: Kestrava_Thing='B' (did you mean Kestrava_Thing='b'?)"},
      {[&] { service_->getObject("Kestrava_Thing='it'"); }, "Not found: Kestrava_Thing='it'"},
      {[&] { service_->getObject("Kestrava_Widget='a'"); },
       "Invalid class: no class Kestrava_Widget"},
      {[&] { service_->execQuery("Select Nmae From Kestrava_Thing"); },
       "Invalid query: Kestrava_Thing has no property Nmae"},
  };
  for (const auto& [call, description] : cases) EXPECT_EQ(errorOf(call).description(), description);
  EXPECT_TRUE(things_->invoked().empty());
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

namespace kestrava::service {
namespace {

// Yields objects keyed 0, 1, ... up to a count, waiting at a gate after the first when it has
// one; logs what is asked of it and counts what it yields. Finds one object by its key at once.
class PacedProvider final : public ClassProvider {
 public:
  PacedProvider(int count, bool gated) : count_(count), opened_(!gated) {}
  const SchemaPtr& schema() const override { return schema_; }
  void enumerate(const PropertySet&, const std::function<bool(ManagementObject&&)>& sink) override {
    log("enumerate");
    for (int i = 0; i < count_; ++i) {
      ++yielded;
      if (!sink(object(i))) return log("stopped");
      std::unique_lock lock(mutex_);
      open_.wait(lock, [&] { return opened_; });
    }
    log("finished");
  }
  std::optional<ManagementObject> get(const std::string& key) override {
    return object(std::stoi(key));
  }
  Value invoke(const std::string&, std::string_view) override {
    log("invoke");
    return Value::integer(0);
  }
  void open() {
    std::lock_guard lock(mutex_);
    opened_ = true;
    open_.notify_all();
  }
  std::vector<std::string> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::atomic<int> yielded{0};

 private:
  ManagementObject object(int i) const {
    ManagementObject o(schema_);
    o.set("K", Value::text(std::to_string(i)));
    return o;
  }
  void log(const char* call) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back(call);
  }
  SchemaPtr schema_ =
      std::make_shared<const ClassSchema>("Paced", "K", std::vector<std::string>{"K"});
  int count_;
  std::mutex mutex_;
  std::condition_variable open_;
  bool opened_;
  std::vector<std::string> calls_;
};

// A service over one paced provider.
struct PacedService {
  PacedService(int count, bool gated) {
    auto owned = std::make_unique<PacedProvider>(count, gated);
    provider = owned.get();
    ProviderList providers;
    providers.push_back(std::move(owned));
    service = std::make_unique<LocalService>(std::move(providers));
  }
  PacedProvider* provider;
  std::unique_ptr<LocalService> service;
};

TEST(LocalServiceStreaming, ObjectsComeAsYieldedAndALaterCallWaitsForTheQuery) {
  for (const char* wql : {"Select * From Paced", "Select K From Paced"}) {
    SCOPED_TRACE(wql);
    PacedService paced(3, true);
    auto stream = paced.service->execQuery(wql);
    // Issued after the query, so it runs after the query's read, however the threads run.
    auto method = std::async(std::launch::async,
                             [&] { return paced.service->execMethod("Paced='0'", "Go"); });
    auto first = std::async(std::launch::async, [&] { return stream->next(); });
    ASSERT_EQ(first.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the first object waited for the whole enumeration";
    EXPECT_EQ(first.get()->get("K"), Value::text("0"));
    paced.provider->open();
    method.get();
    EXPECT_EQ(stream->next()->get("K"), Value::text("1"));
    EXPECT_EQ(stream->next()->get("K"), Value::text("2"));
    EXPECT_FALSE(stream->next());
    EXPECT_EQ(paced.provider->calls(),
              (std::vector<std::string>{"enumerate", "finished", "invoke"}));
  }
}

TEST(LocalServiceStreaming, AStreamEndedEarlyStopsItsEnumeration) {
  for (const char* wql : {"Select K From Paced", "Select * From Paced"}) {
    SCOPED_TRACE(wql);
    PacedService paced(10'000'000, false);
    auto stream = paced.service->execQuery(wql);
    ASSERT_TRUE(stream->next());
    stream.reset();
    EXPECT_EQ(paced.provider->calls(), (std::vector<std::string>{"enumerate", "stopped"}))
        << "the enumeration ran to its end for nobody";
  }
}

TEST(LocalServiceStreaming, ASlowReaderHoldsTheProviderBackAndACallMeanwhileStillGoesThrough) {
  for (const char* wql : {"Select K From Paced", "Select * From Paced"}) {
    SCOPED_TRACE(wql);
    PacedService paced(20000, false);
    auto stream = paced.service->execQuery(wql);
    ASSERT_TRUE(stream->next());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (paced.provider->yielded < 200 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // room to run ahead, if it could
    EXPECT_LT(paced.provider->yielded, 1000) << "the provider ran ahead of its reader";

    // The reader calls the provider again before it reads on: that call is not held up.
    auto got =
        std::async(std::launch::async, [&] { return paced.service->getObject("Paced='7'"); });
    ASSERT_EQ(got.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(got.get().get("K"), Value::text("7"));
    size_t read = 1;
    while (stream->next()) ++read;
    EXPECT_EQ(read, 20000u);
  }
}

TEST(LocalServiceLazy, AProviderIsMadeByItsFirstCallAndAFailedMakeIsTriedAgain) {
  int made = 0;
  bool fail = true;
  ProviderList providers;
  providers.push_back(std::make_unique<testing::FakeProvider>("Kestrava_Thing", "Id",
                                                              std::vector<std::string>{"Id"}));
  auto schema = std::make_shared<const ClassSchema>("Lazy", "K", std::vector<std::string>{"K"});
  providers.push_back(std::make_unique<LazyProvider>(schema, [&] {
    ++made;
    if (fail) throw ComError(err::kWbemFailed, "Generic failure", "SWbemServicesEx");
    return std::make_unique<testing::FakeProvider>("Lazy", "K", std::vector<std::string>{"K"});
  }));
  LocalService service(std::move(providers));
  service.execQuery("Select * From Kestrava_Thing")->next();
  EXPECT_EQ(made, 0) << "made for a query of another class";
  EXPECT_THROW(service.execQuery("Select K From Lazy")->next(), ComError);
  fail = false;
  EXPECT_FALSE(service.execQuery("Select K From Lazy")->next());
  EXPECT_FALSE(service.execQuery("Select * From Lazy")->next());
  EXPECT_EQ(made, 2);
}

}  // namespace
}  // namespace kestrava::service

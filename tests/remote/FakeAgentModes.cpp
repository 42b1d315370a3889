#include "remote/FakeAgentModes.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "core/ComError.h"

namespace kestrava::remote::testing {

namespace {

using namespace std::chrono_literals;

long fromEnvironment(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

// Stands for an agent stuck in its service: it reads nothing more, and only finds out that
// its client has gone when its output is closed on the far end (as its next write would).
[[noreturn]] void hangUntilOutputCloses() {
  for (int i = 0; i < 600; ++i) {
    pollfd p{STDOUT_FILENO, 0, 0};
    if (::poll(&p, 1, 100) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) break;
  }
  std::_Exit(0);
}

struct Texts {
  std::string className, name, origin, index, blob, failure, result;
};

Texts textsFor(const std::string& mode) {
  if (mode == "escapes")
    return {"Esc\x1b[2JClass",
            "Name\x1b[31m",
            "Origin\x1b]0;owned\x07",
            "Index",
            "Blob\xc2\x9b"
            "1m",
            "query \x1b[2Jfailed",
            "\x1b[5mdone\xe2\x80\xae"};
  return {"Kestrava_Fake", "Name", "Origin", "Index", "Blob", "query failed", "done on "};
}

class FakeStream final : public ObjectStream {
 public:
  FakeStream(std::function<ManagementObject(long)> make, long count, bool hang)
      : make_(std::move(make)), count_(count), hang_(hang) {}
  std::optional<ManagementObject> next() override {
    if (hang_ && delivered_ == 1) hangUntilOutputCloses();
    if (delivered_ >= count_) return std::nullopt;
    if (delivered_ == 0)
      std::this_thread::sleep_for(
          std::chrono::milliseconds(fromEnvironment("KESTRAVA_FAKE_DELAY_MS", 0)));
    return make_(delivered_++);
  }

 private:
  std::function<ManagementObject(long)> make_;
  long count_, delivered_ = 0;
  bool hang_;
};

class FakeService final : public Connection {
 public:
  explicit FakeService(const std::string& mode) : texts_(textsFor(mode)), hang_(mode == "hang") {
    const char* computer = std::getenv("KESTRAVA_FAKE_COMPUTER");
    computer_ = computer ? computer : "";
    if (mode == "escapes") computer_ += "\x1b[7m";
    schema_ = std::make_shared<const ClassSchema>(
        texts_.className, texts_.name,
        std::vector<std::string>{texts_.name, texts_.origin, texts_.index, texts_.blob});
  }
  ~FakeService() override {
    for (auto& [id, watch] : watches_) stop(*watch);
  }

  std::unique_ptr<ObjectStream> execQuery(std::string_view wql) override {
    if (wql.find("Fail") != std::string_view::npos)
      throw ComError(err::kWbemInvalidQuery, texts_.failure + " ", "kestrava-fake-agent");
    return std::make_unique<FakeStream>([this](long i) { return object(i); },
                                        fromEnvironment("KESTRAVA_FAKE_OBJECTS", 3), hang_);
  }
  ManagementObject getObject(std::string_view) override {
    if (hang_) hangUntilOutputCloses();
    return object(0);
  }
  Value execMethod(std::string_view, std::string_view) override {
    if (hang_) hangUntilOutputCloses();
    return Value::text(texts_.result + computer_);
  }
  SubscriptionId subscribe(std::string_view, EventCallback callback) override {
    auto watch = std::make_unique<Watch>();
    watch->thread = std::thread([this, w = watch.get(), callback = std::move(callback)] {
      const long dropAfter = fromEnvironment("KESTRAVA_FAKE_DROP_AFTER", -1);
      for (long n = 0; !w->stopped; ++n) {
        if (n == dropAfter) std::_Exit(0);
        EventObject event{"__InstanceModificationEvent", object(n + 1), object(n)};
        callback(event);
        for (int i = 0; i < 10 && !w->stopped; ++i) std::this_thread::sleep_for(10ms);
      }
    });
    watches_[++lastId_] = std::move(watch);
    return lastId_;
  }
  void cancel(SubscriptionId id) override {
    if (auto it = watches_.find(id); it != watches_.end()) {
      stop(*it->second);
      watches_.erase(it);
    }
  }

 private:
  struct Watch {
    std::atomic<bool> stopped{false};
    std::thread thread;
  };
  static void stop(Watch& watch) {
    watch.stopped = true;
    if (watch.thread.joinable()) watch.thread.join();
  }

  ManagementObject object(long index) const {
    ManagementObject o(schema_);
    o.setAt(0, Value::text(computer_ + "-" + std::to_string(index)));
    o.setAt(1, Value::text(computer_));
    o.setAt(2, Value::integer(index));
    o.setAt(3, Value::text(std::string(
                   static_cast<size_t>(fromEnvironment("KESTRAVA_FAKE_BLOB_BYTES", 0)), 'b')));
    return o;
  }

  Texts texts_;
  bool hang_;
  std::string computer_;
  SchemaPtr schema_;
  std::map<SubscriptionId, std::unique_ptr<Watch>> watches_;
  SubscriptionId lastId_ = 0;
};

}  // namespace

std::unique_ptr<Connection> openFakeService(const std::string& mode) {
  if (mode != "fleet" && mode != "escapes" && mode != "hang") return nullptr;
  return std::make_unique<FakeService>(mode);
}

}  // namespace kestrava::remote::testing

#include "support/ScriptedService.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace kestrava::testing {

struct ScriptedService::State {
  std::mutex mutex;
  std::map<std::string, std::pair<SchemaPtr, std::vector<ManagementObject>>> classes;  // lower
  std::vector<std::string> calls;
  std::map<SubscriptionId, EventCallback> subscriptions;
  SubscriptionId nextId = 0;
  size_t openConnections = 0;
  bool namesClasses = false;
  Failures* failures = nullptr;
  std::function<Value(const std::string&, const std::string&)>* onMethod = nullptr;
  std::function<void(const std::string&)>* onCall = nullptr;

  void log(std::string entry) {
    {
      std::lock_guard lock(mutex);
      calls.push_back(entry);
    }
    if (onCall && *onCall) (*onCall)(entry);
  }
  std::pair<SchemaPtr, std::vector<ManagementObject>>& classNamed(std::string_view name) {
    auto it = classes.find(toLowerAscii(name));
    if (it == classes.end())
      throw ComError(err::kWbemInvalidClass, "Invalid class ", "SWbemServicesEx");
    return it->second;
  }
};

namespace {

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

// "Select * From Class": the class named after the last "From".
std::string queriedClass(std::string_view wql) {
  std::string lower = toLowerAscii(wql);
  auto at = lower.rfind(" from ");
  if (lower.rfind("select ", 0) != 0 || at == std::string::npos)
    throw ComError(err::kWbemInvalidQuery, "Invalid query ", "SWbemServicesEx");
  std::string name = trim(wql.substr(at + 6));
  if (name.empty()) throw ComError(err::kWbemInvalidQuery, "Invalid query ", "SWbemServicesEx");
  return name;
}

class ScriptedStream final : public ObjectStream {
 public:
  ScriptedStream(std::vector<ManagementObject> objects,
                 std::optional<std::pair<size_t, ComError>> failAfter)
      : objects_(std::move(objects)), failAfter_(std::move(failAfter)) {}
  std::optional<ManagementObject> next() override {
    if (failAfter_ && delivered_ == failAfter_->first) {
      auto error = failAfter_->second;
      failAfter_.reset();
      delivered_ = objects_.size();
      throw error;
    }
    if (delivered_ >= objects_.size()) return std::nullopt;
    return objects_[delivered_++];
  }

 private:
  std::vector<ManagementObject> objects_;
  std::optional<std::pair<size_t, ComError>> failAfter_;
  size_t delivered_ = 0;
};

class ScriptedConnection final : public Connection {
 public:
  explicit ScriptedConnection(std::shared_ptr<ScriptedService::State> state)
      : state_(std::move(state)) {
    std::lock_guard lock(state_->mutex);
    ++state_->openConnections;
  }
  ~ScriptedConnection() override {
    state_->log("release");
    std::lock_guard lock(state_->mutex);
    --state_->openConnections;
  }

  std::unique_ptr<ObjectStream> execQuery(std::string_view wql) override {
    state_->log("query " + std::string(wql));
    if (state_->failures->query) throw *state_->failures->query;
    auto& cls = state_->classNamed(queriedClass(wql));
    return std::make_unique<ScriptedStream>(cls.second, state_->failures->enumerateAfter);
  }

  ManagementObject getObject(std::string_view path) override {
    state_->log("get " + std::string(path));
    if (state_->failures->get) throw *state_->failures->get;
    auto eq = path.find('=');
    if (eq == std::string_view::npos)
      throw ComError(err::kWbemInvalidObjectPath, "Invalid object path ", "SWbemServicesEx");
    auto& cls = state_->classNamed(path.substr(0, eq));
    for (const auto& object : cls.second)
      if (object.path() == path) return object;
    throw ComError(err::kWbemNotFound, "Not found ", "SWbemServicesEx");
  }

  Value execMethod(std::string_view path, std::string_view method) override {
    state_->log("method " + std::string(path) + " " + std::string(method));
    if (state_->failures->method) throw *state_->failures->method;
    if (*state_->onMethod) return (*state_->onMethod)(std::string(path), std::string(method));
    return Value::integer(0);
  }

  SubscriptionId subscribe(std::string_view query, EventCallback callback) override {
    state_->log("subscribe " + std::string(query));
    if (state_->failures->subscribe) throw *state_->failures->subscribe;
    std::lock_guard lock(state_->mutex);
    SubscriptionId id = ++state_->nextId;
    state_->subscriptions.emplace(id, std::move(callback));
    return id;
  }

  std::vector<SchemaPtr> classes() override {
    std::vector<SchemaPtr> out;
    std::lock_guard lock(state_->mutex);
    if (state_->namesClasses)
      for (const auto& entry : state_->classes) out.push_back(entry.second.first);
    return out;
  }

  void cancel(SubscriptionId id) override {
    state_->log("cancel " + std::to_string(id));
    if (state_->failures->cancel) throw *state_->failures->cancel;
    std::lock_guard lock(state_->mutex);
    state_->subscriptions.erase(id);
  }

 private:
  std::shared_ptr<ScriptedService::State> state_;
};

}  // namespace

ScriptedService::ScriptedService() : state_(std::make_shared<State>()) {
  state_->failures = &failures_;
  state_->onMethod = &onMethod;
  state_->onCall = &onCall;
}

void ScriptedService::nameClasses() {
  std::lock_guard lock(state_->mutex);
  state_->namesClasses = true;
}

ScriptedService::~ScriptedService() {
  // Connections may outlive the service in a test; they then see no failures or handler.
  static Failures none;
  static std::function<Value(const std::string&, const std::string&)> noHandler;
  std::lock_guard lock(state_->mutex);
  state_->failures = &none;
  state_->onMethod = &noHandler;
  state_->onCall = nullptr;
}

SchemaPtr ScriptedService::addClass(const std::string& name, const std::string& key,
                                    std::vector<std::string> properties) {
  auto schema = std::make_shared<const ClassSchema>(name, key, std::move(properties));
  state_->classes[toLowerAscii(name)] = {schema, {}};
  return schema;
}

void ScriptedService::addObject(const std::string& className,
                                const std::vector<std::pair<std::string, Value>>& values) {
  auto& cls = state_->classNamed(className);
  ManagementObject object(cls.first);
  for (size_t i = 0; i < cls.first->size(); ++i) object.setAt(i, Value::null());
  for (const auto& [name, value] : values) object.set(name, value);
  cls.second.push_back(std::move(object));
}

void ScriptedService::clearObjects(const std::string& className) {
  state_->classNamed(className).second.clear();
}

std::vector<ManagementObject>& ScriptedService::objects(const std::string& className) {
  return state_->classNamed(className).second;
}

const std::vector<std::string>& ScriptedService::calls() const {
  return state_->calls;
}
size_t ScriptedService::timesCalled(const std::string& call) const {
  std::lock_guard lock(state_->mutex);
  return static_cast<size_t>(std::count(state_->calls.begin(), state_->calls.end(), call));
}
void ScriptedService::clearCalls() {
  state_->calls.clear();
}

size_t ScriptedService::activeSubscriptions() const {
  std::lock_guard lock(state_->mutex);
  return state_->subscriptions.size();
}

size_t ScriptedService::openConnections() const {
  std::lock_guard lock(state_->mutex);
  return state_->openConnections;
}

void ScriptedService::deliver(const EventObject& event) {
  std::vector<EventCallback> targets;
  {
    std::lock_guard lock(state_->mutex);
    for (auto& [id, callback] : state_->subscriptions) targets.push_back(callback);
  }
  for (auto& callback : targets) callback(event);
}

std::unique_ptr<Connection> ScriptedService::connect() {
  state_->log("connect");
  if (failures_.connect) throw *failures_.connect;
  return std::make_unique<ScriptedConnection>(state_);
}

ConnectionFactory ScriptedNetwork::factory() {
  return [this](const std::string& computer, const ConnectHints&) -> std::unique_ptr<Connection> {
    auto it = computers_.find(computer);
    if (it == computers_.end())
      throw ComError(err::kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemLocator");
    return it->second->connect();
  };
}

}  // namespace kestrava::testing

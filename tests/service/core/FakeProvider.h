#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/ComError.h"
#include "service/ClassProvider.h"

namespace kestrava::service::testing {

// A class provider over rows held in memory. It fills only the properties it is asked for (so a
// test sees exactly what the service requested), counts its reads and can fail part way.
// Rows may be changed from the test's thread while the service's poller reads them.
class FakeProvider final : public ClassProvider {
 public:
  using Row = std::map<std::string, Value>;  // property -> value; missing ones read as null

  FakeProvider(std::string className, std::string key, std::vector<std::string> properties)
      : schema_(std::make_shared<const ClassSchema>(std::move(className), std::move(key),
                                                    std::move(properties))) {}

  const SchemaPtr& schema() const override { return schema_; }

  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override {
    std::vector<Row> rows;
    std::optional<ComError> failure;
    size_t failAfter = 0;
    std::chrono::milliseconds delay{0};
    {
      std::lock_guard lock(mutex_);
      ++enumerations_;
      requests_.push_back(wanted);
      rows = rows_;
      failure = failure_;
      failAfter = failAfter_;
      delay = delay_;
      if (throwOther_) throw std::runtime_error("provider bug");
    }
    std::this_thread::sleep_for(delay);  // a slow source, such as init scripts
    for (size_t i = 0; i < rows.size(); ++i) {
      if (failure && i == failAfter) throw *failure;
      if (!sink(build(rows[i], wanted))) return;
    }
    if (failure && failAfter >= rows.size()) throw *failure;
  }

  // Keeps the key it was given, then enumerates everything: the service still filters.
  void enumerateKey(std::string_view keyText, const PropertySet& wanted,
                    const std::function<bool(ManagementObject&&)>& sink) override {
    {
      std::lock_guard lock(mutex_);
      keyTexts_.emplace_back(keyText);
    }
    enumerate(wanted, sink);
  }

  Value invoke(const std::string& key, std::string_view method) override {
    std::lock_guard lock(mutex_);
    invoked_.push_back(key + " " + std::string(method));
    if (method == "Ping") return Value::integer(static_cast<int64_t>(key.size()));
    return ClassProvider::invoke(key, method);
  }

  void setRows(std::vector<Row> rows) {
    std::lock_guard lock(mutex_);
    rows_ = std::move(rows);
  }
  void setValue(size_t row, const std::string& property, Value value) {
    std::lock_guard lock(mutex_);
    rows_.at(row)[property] = std::move(value);
  }
  void failAfter(size_t objects, ComError error) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(error);
    failAfter_ = objects;
  }
  void setDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    delay_ = delay;
  }
  void clearFailure() {
    std::lock_guard lock(mutex_);
    failure_.reset();
  }
  void throwNonComError() {
    std::lock_guard lock(mutex_);
    throwOther_ = true;
  }

  size_t enumerations() const {
    std::lock_guard lock(mutex_);
    return enumerations_;
  }
  std::vector<PropertySet> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::vector<std::string> keyTexts() const {
    std::lock_guard lock(mutex_);
    return keyTexts_;
  }
  std::vector<std::string> invoked() const {
    std::lock_guard lock(mutex_);
    return invoked_;
  }

 private:
  ManagementObject build(const Row& row, const PropertySet& wanted) const {
    ManagementObject object(schema_);
    for (size_t i = 0; i < schema_->size(); ++i) {
      if (!wanted.wants(i)) continue;
      auto it = row.find(schema_->properties()[i]);
      object.setAt(i, it == row.end() ? Value::null() : it->second);
    }
    return object;
  }

  SchemaPtr schema_;
  mutable std::mutex mutex_;
  std::vector<Row> rows_;
  std::optional<ComError> failure_;
  size_t failAfter_ = 0;
  std::chrono::milliseconds delay_{0};
  bool throwOther_ = false;
  size_t enumerations_ = 0;
  std::vector<PropertySet> requests_;
  std::vector<std::string> invoked_;
  std::vector<std::string> keyTexts_;
};

}  // namespace kestrava::service::testing

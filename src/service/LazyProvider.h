#pragma once

#include <functional>
#include <memory>

#include "service/ClassProvider.h"

namespace kestrava::service {

// A class provider made on first use: a connection that never asks for the class never pays for
// opening its source (the system bus, for the services). Its schema is known without it. A
// provider that cannot be made fails that call, and the next call tries again.
class LazyProvider final : public ClassProvider {
 public:
  using Make = std::function<std::unique_ptr<ClassProvider>()>;
  LazyProvider(SchemaPtr schema, Make make) : schema_(std::move(schema)), make_(std::move(make)) {}

  const SchemaPtr& schema() const override { return schema_; }
  void enumerate(const PropertySet& wanted,
                 const std::function<bool(ManagementObject&&)>& sink) override;
  void enumerateKey(std::string_view keyText, const PropertySet& wanted,
                    const std::function<bool(ManagementObject&&)>& sink) override;
  std::optional<ManagementObject> get(const std::string& key) override;
  bool exists(const std::string& key) override;
  Value invoke(const std::string& key, std::string_view method) override;

 private:
  ClassProvider& provider();

  SchemaPtr schema_;
  Make make_;
  std::unique_ptr<ClassProvider> provider_;
};

}  // namespace kestrava::service

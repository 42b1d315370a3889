#include "core/Value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/ComError.h"

namespace kestrava {

namespace {
[[noreturn]] void typeMismatch() {
  throw ComError(err::kTypeMismatch, "Type mismatch", "Kestrava");
}

std::string realToText(double d, std::string_view separator) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
  // Shortest form that reads back as the same double, then the user's separator.
  char buf[64];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  std::string s(buf);
  if (auto dot = s.find('.'); dot != std::string::npos) s.replace(dot, 1, separator);
  return s;
}
}  // namespace

const std::string& Value::asText() const {
  if (auto* p = std::get_if<std::string>(&v_)) return *p;
  typeMismatch();
}
int64_t Value::asInteger() const {
  if (auto* p = std::get_if<int64_t>(&v_)) return *p;
  typeMismatch();
}
double Value::asReal() const {
  if (auto* p = std::get_if<double>(&v_)) return *p;
  typeMismatch();
}
bool Value::asBoolean() const {
  if (auto* p = std::get_if<bool>(&v_)) return *p;
  typeMismatch();
}
const Value::Array& Value::asArray() const {
  if (auto* p = std::get_if<ArrayPtr>(&v_)) return **p;
  typeMismatch();
}

std::string Value::toText(std::string_view decimalSeparator) const {
  switch (kind()) {
    case Kind::Empty:
      return {};
    case Kind::Null:
      throw ComError(err::kInvalidUseOfNull, "Invalid use of Null", "Kestrava");
    case Kind::Text:
      return std::get<std::string>(v_);
    case Kind::Integer:
      return std::to_string(std::get<int64_t>(v_));
    case Kind::Real:
      return realToText(std::get<double>(v_), decimalSeparator);
    case Kind::Boolean:
      return std::get<bool>(v_) ? "True" : "False";
    case Kind::Array:
      typeMismatch();
  }
  typeMismatch();
}

std::string Value::debugString() const {
  switch (kind()) {
    case Kind::Null:
      return "<null>";
    case Kind::Array: {
      std::string out = "{";
      const auto& items = asArray();
      for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += items[i].debugString();
      }
      return out + "}";
    }
    default:
      return toText();
  }
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  if (a.kind() == Value::Kind::Array) return a.asArray() == b.asArray();
  return a.v_ == b.v_;
}

const char* kindName(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::Empty:
      return "empty";
    case Value::Kind::Null:
      return "null";
    case Value::Kind::Text:
      return "text";
    case Value::Kind::Integer:
      return "integer";
    case Value::Kind::Real:
      return "real";
    case Value::Kind::Boolean:
      return "boolean";
    case Value::Kind::Array:
      return "array";
  }
  return "?";
}

}  // namespace kestrava

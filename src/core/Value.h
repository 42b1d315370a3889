#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrava {

// A tagged property value as the management service delivers it: empty, null, text, 64-bit
// integer, real, Boolean or array. Dates and counts that can pass 32 bits travel as text.
class Value {
 public:
  enum class Kind { Empty, Null, Text, Integer, Real, Boolean, Array };
  using Array = std::vector<Value>;

  Value() = default;
  static Value null() { return Value(NullTag{}); }
  static Value text(std::string s) { return Value(std::move(s)); }
  static Value integer(int64_t i) { return Value(i); }
  static Value real(double d) { return Value(d); }
  static Value boolean(bool b) { return Value(b); }
  static Value array(Array items) { return Value(std::make_shared<const Array>(std::move(items))); }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isEmpty() const { return kind() == Kind::Empty; }
  bool isNull() const { return kind() == Kind::Null; }

  // Accessors for the kind the caller has checked; the wrong kind throws Type mismatch.
  const std::string& asText() const;
  int64_t asInteger() const;
  double asReal() const;
  bool asBoolean() const;
  const Array& asArray() const;

  // The standard conversion of a variant to text: text unchanged, integers as plain decimal,
  // reals with the given decimal separator, Booleans as True/False, empty as "". Null fails
  // with 94 "Invalid use of Null", an array with 13 "Type mismatch" (as ComError).
  std::string toText(std::string_view decimalSeparator = ".") const;

  // A readable rendering of any value, arrays and null included (for tools and diagnostics).
  std::string debugString() const;

  friend bool operator==(const Value& a, const Value& b);

 private:
  struct NullTag {
    friend bool operator==(NullTag, NullTag) { return true; }
  };
  using ArrayPtr = std::shared_ptr<const Array>;
  using Storage =
      std::variant<std::monostate, NullTag, std::string, int64_t, double, bool, ArrayPtr>;

  explicit Value(NullTag t) : v_(t) {}
  explicit Value(std::string s) : v_(std::move(s)) {}
  explicit Value(int64_t i) : v_(i) {}
  explicit Value(double d) : v_(d) {}
  explicit Value(bool b) : v_(b) {}
  explicit Value(ArrayPtr a) : v_(std::move(a)) {}

  Storage v_;
};

const char* kindName(Value::Kind kind);

}  // namespace kestrava

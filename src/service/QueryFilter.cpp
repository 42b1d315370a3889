#include "service/QueryFilter.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "service/CaseFold.h"
#include "service/ServiceErrors.h"

namespace kestrava::service {

namespace {
using Number = QueryFilter::Number;
using Kind = WqlCondition::Kind;
using Comparison = WqlCondition::Comparison;

// A whole text that reads as a decimal integer or real; nullopt otherwise.
std::optional<Number> numberOf(std::string_view text) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  Number n;
  if (auto [end, ec] = std::from_chars(first, last, n.integer); ec == std::errc() && end == last)
    return n;
  n.isInteger = false;
  if (auto [end, ec] = std::from_chars(first, last, n.real);
      ec == std::errc() && end == last && std::isfinite(n.real))
    return n;
  return std::nullopt;
}

std::optional<bool> booleanOf(std::string_view text) {
  if (equalsIgnoreCase(text, "true")) return true;
  if (equalsIgnoreCase(text, "false")) return false;
  return std::nullopt;
}

template <typename T>
int order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Exact for two integers and for an integer against a whole real in range; doubles otherwise.
std::optional<int> compareNumbers(const Number& a, const Number& b) {
  if (a.isInteger && b.isInteger) return order(a.integer, b.integer);
  const Number& i = a.isInteger ? a : b;
  const Number& r = a.isInteger ? b : a;
  if (i.isInteger && std::trunc(r.real) == r.real && r.real >= -9.2e18 && r.real <= 9.2e18) {
    const int c = order(i.integer, static_cast<int64_t>(r.real));
    return a.isInteger ? c : -c;
  }
  const double x = a.isInteger ? static_cast<double>(a.integer) : a.real;
  const double y = b.isInteger ? static_cast<double>(b.integer) : b.real;
  if (std::isnan(x) || std::isnan(y)) return std::nullopt;
  return order(x, y);
}

bool holds(Comparison comparison, int c) {
  switch (comparison) {
    case Comparison::Equal:
      return c == 0;
    case Comparison::NotEqual:
      return c != 0;
    case Comparison::Less:
      return c < 0;
    case Comparison::Greater:
      return c > 0;
    case Comparison::LessOrEqual:
      return c <= 0;
    case Comparison::GreaterOrEqual:
      return c >= 0;
  }
  return false;
}
}  // namespace

QueryFilter::QueryFilter(const WqlCondition& where, const ClassSchema& schema) {
  root_ = compile(where, schema);
}

size_t QueryFilter::compile(const WqlCondition& condition, const ClassSchema& schema) {
  Node node;
  node.kind = condition.kind;
  node.comparison = condition.comparison;
  if (condition.kind == Kind::And || condition.kind == Kind::Or || condition.kind == Kind::Not) {
    for (const auto& operand : condition.operands)
      node.operands.push_back(compile(operand, schema));
    nodes_.push_back(std::move(node));
    return nodes_.size() - 1;
  }
  auto index = schema.indexOf(condition.property);
  if (!index) throw noSuchProperty(schema, condition.property);
  node.property = *index;
  if (std::find(properties_.begin(), properties_.end(), *index) == properties_.end())
    properties_.push_back(*index);
  const Value& v = condition.literal;
  node.literal.kind = v.kind();
  if (condition.kind == Kind::Like) {
    node.like.emplace(v.asText());
  } else if (v.kind() == Value::Kind::Text && schema.typeOf(*index) == PropertyType::Integer64) {
    // A 64-bit count is a number whatever form its literal takes: '100000000' is 100000000.
    node.literal.number = numberOf(v.asText());
    if (!node.literal.number)
      throw invalidQuery("'" + v.asText() + "' is not a number, and " +
                         schema.properties()[*index] + " is a 64-bit integer");
    node.literal.kind = node.literal.number->isInteger ? Value::Kind::Integer : Value::Kind::Real;
  } else if (v.kind() == Value::Kind::Text) {
    node.literal.text = v.asText();
    node.literal.number = numberOf(v.asText());
    node.literal.boolean = booleanOf(v.asText());
  } else if (v.kind() == Value::Kind::Integer) {
    node.literal.number = Number{true, v.asInteger(), 0};
  } else if (v.kind() == Value::Kind::Real) {
    node.literal.number = Number{false, 0, v.asReal()};
  } else if (v.kind() == Value::Kind::Boolean) {
    node.literal.boolean = v.asBoolean();
  }
  nodes_.push_back(std::move(node));
  return nodes_.size() - 1;
}

std::optional<std::string> QueryFilter::requiredText(size_t property) const {
  const auto pins = [&](size_t index) {
    const Node& n = nodes_[index];
    return n.kind == Kind::Compare && n.comparison == Comparison::Equal && n.property == property &&
           n.literal.kind == Value::Kind::Text;
  };
  const Node& root = nodes_[root_];
  if (pins(root_)) return root.literal.text;
  if (root.kind == Kind::And)
    for (size_t operand : root.operands)
      if (pins(operand)) return nodes_[operand].literal.text;
  return std::nullopt;
}

bool QueryFilter::matches(const ManagementObject& object) const {
  return evaluate(root_, object);
}

bool QueryFilter::evaluate(size_t index, const ManagementObject& object) const {
  const Node& node = nodes_[index];
  switch (node.kind) {
    case Kind::And:
      return std::all_of(node.operands.begin(), node.operands.end(),
                         [&](size_t i) { return evaluate(i, object); });
    case Kind::Or:
      return std::any_of(node.operands.begin(), node.operands.end(),
                         [&](size_t i) { return evaluate(i, object); });
    case Kind::Not:
      return !evaluate(node.operands.front(), object);
    case Kind::IsNull:
    case Kind::IsNotNull: {
      const Value& v = object.at(node.property);
      return (v.isNull() || v.isEmpty()) == (node.kind == Kind::IsNull);
    }
    case Kind::Like:
      return likeMatches(object.at(node.property), *node.like);
    case Kind::Compare: {
      auto c = compare(object.at(node.property), node.literal);
      return c && holds(node.comparison, *c);
    }
  }
  return false;
}

std::optional<int> QueryFilter::compare(const Value& value, const Literal& literal) {
  switch (value.kind()) {
    case Value::Kind::Text: {
      const std::string& text = value.asText();
      if (literal.kind == Value::Kind::Text) return compareFolded(text, literal.text);
      if (literal.number) {
        auto n = numberOf(text);
        return n ? compareNumbers(*n, *literal.number) : std::nullopt;
      }
      auto b = booleanOf(text);
      if (b && literal.boolean) return order(*b, *literal.boolean);
      return std::nullopt;
    }
    case Value::Kind::Integer:
    case Value::Kind::Real: {
      if (!literal.number) return std::nullopt;
      const Number n = value.kind() == Value::Kind::Integer ? Number{true, value.asInteger(), 0}
                                                            : Number{false, 0, value.asReal()};
      return compareNumbers(n, *literal.number);
    }
    case Value::Kind::Boolean:
      if (!literal.boolean) return std::nullopt;
      return order(value.asBoolean(), *literal.boolean);
    default:
      return std::nullopt;
  }
}

bool QueryFilter::likeMatches(const Value& value, const LikePattern& pattern) {
  switch (value.kind()) {
    case Value::Kind::Text:
      return pattern.matches(value.asText());
    case Value::Kind::Integer:
    case Value::Kind::Real:
    case Value::Kind::Boolean:
      return pattern.matches(value.toText());
    default:
      return false;
  }
}

}  // namespace kestrava::service

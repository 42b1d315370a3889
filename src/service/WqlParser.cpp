#include "service/WqlParser.h"

#include <charconv>
#include <cmath>

#include "core/ClassSchema.h"
#include "service/ServiceErrors.h"

namespace kestrava::service {

namespace {
constexpr std::string_view kReserved[] = {"select", "from", "where", "and",  "or",
                                          "not",    "like", "is",    "null", "true",
                                          "false",  "isa",  "within"};

bool isReserved(std::string_view name) {
  for (std::string_view word : kReserved)
    if (equalsIgnoreCase(name, word)) return true;
  return false;
}

using Comparison = WqlCondition::Comparison;

std::optional<Comparison> comparisonOf(const WqlToken& token) {
  if (token.kind != WqlToken::Kind::Symbol) return std::nullopt;
  const std::string& s = token.text;
  if (s == "=") return Comparison::Equal;
  if (s == "<>" || s == "!=") return Comparison::NotEqual;
  if (s == "<") return Comparison::Less;
  if (s == ">") return Comparison::Greater;
  if (s == "<=") return Comparison::LessOrEqual;
  if (s == ">=") return Comparison::GreaterOrEqual;
  return std::nullopt;
}

// 'x' < Name is Name > 'x'.
Comparison mirrored(Comparison c) {
  switch (c) {
    case Comparison::Less:
      return Comparison::Greater;
    case Comparison::Greater:
      return Comparison::Less;
    case Comparison::LessOrEqual:
      return Comparison::GreaterOrEqual;
    case Comparison::GreaterOrEqual:
      return Comparison::LessOrEqual;
    default:
      return c;
  }
}

WqlCondition nodeOf(WqlCondition::Kind kind, std::vector<WqlCondition> operands) {
  WqlCondition node;
  node.kind = kind;
  node.operands = std::move(operands);
  return node;
}

constexpr const char* kEventClasses[] = {"__InstanceCreationEvent", "__InstanceDeletionEvent",
                                         "__InstanceModificationEvent"};

constexpr std::string_view kNotificationForms =
    "; the events that can be watched are Select * From __InstanceCreationEvent, "
    "__InstanceDeletionEvent or __InstanceModificationEvent, then Within SECONDS if wanted, "
    "Where TargetInstance Isa 'Class', then And conditions on TargetInstance.Property if wanted";

std::string columnOf(const WqlToken& token) {
  return " at column " + std::to_string(token.column);
}

// Sorting and limits are the client's: the words point there, whoever reports the error.
[[noreturn]] void refuseSortOrLimit(const WqlToken& token, std::string_view words) {
  throw invalidQuery(std::string(words) + columnOf(token) +
                     " is not supported: kestrava-query sorts with --sort PROPERTY[:desc] and "
                     "limits with --limit N");
}
}  // namespace

SelectQuery WqlParser::parseSelect(std::string_view text) {
  WqlParser p(text);
  SelectQuery query;
  p.expectKeyword("Select");
  if (p.atKeyword("top") && p.tokens_[p.pos_ + 1].kind == WqlToken::Kind::Number)
    refuseSortOrLimit(p.peek(), "Top");
  if (!p.acceptSymbol("*")) {
    do query.properties.push_back(p.expectName("a property name or *"));
    while (p.acceptSymbol(","));
  }
  p.expectKeyword("From");
  query.className = p.expectName("a class name");
  if (p.acceptKeyword("where")) {
    query.where = p.parseOr();
    p.expectEnd("And, Or or the end of the query");
  } else {
    p.expectEnd("Where or the end of the query");
  }
  return query;
}

NotificationQuery WqlParser::parseNotification(std::string_view text) {
  WqlParser p(text);
  p.notification_ = true;
  NotificationQuery query;
  p.expectKeyword("Select");
  if (!p.acceptSymbol("*")) p.fail("*");
  p.expectKeyword("From");
  for (const char* eventClass : kEventClasses)
    if (p.acceptKeyword(eventClass)) query.eventClass = eventClass;
  if (query.eventClass.empty())
    p.fail("__InstanceCreationEvent, __InstanceDeletionEvent or __InstanceModificationEvent");
  if (p.acceptKeyword("within")) {
    const WqlToken& seconds = p.peek();
    bool isInteger = false;
    int64_t integer = 0;
    query.withinSeconds = p.parseNumber(false, isInteger, integer);
    if (!(query.withinSeconds > 0)) p.failAt(seconds, "Within needs a positive number of seconds");
  }
  p.expectKeyword("Where");
  p.expectKeyword("TargetInstance");
  p.expectKeyword("Isa");
  if (p.peek().kind != WqlToken::Kind::String || p.peek().text.empty())
    p.fail("a class name in quotes");
  query.targetClass = p.tokens_[p.pos_++].text;
  if (p.acceptKeyword("and")) {
    std::vector<WqlCondition> operands;
    do operands.push_back(p.parseNot());
    while (p.acceptKeyword("and"));
    query.condition = operands.size() == 1 ? std::move(operands.front())
                                           : nodeOf(WqlCondition::Kind::And, std::move(operands));
  }
  p.expectEnd("And or the end of the query");
  return query;
}

WqlCondition WqlParser::parseOr() {
  std::vector<WqlCondition> operands;
  operands.push_back(parseAnd());
  while (acceptKeyword("or")) operands.push_back(parseAnd());
  if (operands.size() == 1) return std::move(operands.front());
  return nodeOf(WqlCondition::Kind::Or, std::move(operands));
}

WqlCondition WqlParser::parseAnd() {
  std::vector<WqlCondition> operands;
  operands.push_back(parseNot());
  while (acceptKeyword("and")) operands.push_back(parseNot());
  if (operands.size() == 1) return std::move(operands.front());
  return nodeOf(WqlCondition::Kind::And, std::move(operands));
}

WqlCondition WqlParser::parseNot() {
  if (++depth_ > kMaxDepth)
    failAt(peek(), "nests deeper than " + std::to_string(kMaxDepth) + " levels");
  WqlCondition result;
  if (acceptKeyword("not")) {
    std::vector<WqlCondition> operand;
    operand.push_back(parseNot());
    result = nodeOf(WqlCondition::Kind::Not, std::move(operand));
  } else if (acceptSymbol("(")) {
    result = parseOr();
    if (!acceptSymbol(")")) fail(")");
  } else {
    result = parseComparison();
  }
  --depth_;
  return result;
}

WqlCondition WqlParser::parseComparison() {
  if (peek().kind == WqlToken::Kind::Identifier && !isReserved(peek().text))
    return parsePropertyTest(expectProperty());
  // The literal may come first: 5 < ProcessId.
  if (peek().kind == WqlToken::Kind::End || atKeyword("null") ||
      (peek().kind == WqlToken::Kind::Identifier && !atKeyword("true") && !atKeyword("false")))
    fail(notification_ ? "a condition on TargetInstance.Property" : "a condition");
  WqlCondition node;
  node.literal = parseLiteral();
  auto comparison = comparisonOf(peek());
  if (!comparison) fail("=, <>, <, >, <= or >=");
  ++pos_;
  node.comparison = mirrored(*comparison);
  node.property = expectProperty();
  return node;
}

WqlCondition WqlParser::parsePropertyTest(std::string property) {
  WqlCondition node;
  node.property = std::move(property);
  if (acceptKeyword("is")) {
    node.kind = acceptKeyword("not") ? WqlCondition::Kind::IsNotNull : WqlCondition::Kind::IsNull;
    expectKeyword("Null");
    return node;
  }
  const bool negatedLike = acceptKeyword("not");
  if (negatedLike || acceptKeyword("like")) {
    if (negatedLike) expectKeyword("Like");
    if (peek().kind != WqlToken::Kind::String) fail("a pattern in quotes");
    node.kind = WqlCondition::Kind::Like;
    node.literal = Value::text(tokens_[pos_++].text);
    if (!negatedLike) return node;
    std::vector<WqlCondition> operand;
    operand.push_back(std::move(node));
    return nodeOf(WqlCondition::Kind::Not, std::move(operand));
  }
  auto comparison = comparisonOf(peek());
  if (!comparison) fail("=, <>, <, >, <=, >=, Like, Not Like or Is");
  const WqlToken& comparisonToken = tokens_[pos_++];
  node.comparison = *comparison;
  node.literal = parseLiteral();
  if (node.literal.isNull()) {
    // "= Null" and "<> Null" read as Is Null and Is Not Null; ordering against null is refused.
    if (node.comparison == Comparison::Equal)
      node.kind = WqlCondition::Kind::IsNull;
    else if (node.comparison == Comparison::NotEqual)
      node.kind = WqlCondition::Kind::IsNotNull;
    else
      failAt(comparisonToken, "compares with Null, which only = and <> can");
  }
  return node;
}

Value WqlParser::parseLiteral() {
  const WqlToken& token = peek();
  if (token.kind == WqlToken::Kind::String) return Value::text(tokens_[pos_++].text);
  if (acceptKeyword("true")) return Value::boolean(true);
  if (acceptKeyword("false")) return Value::boolean(false);
  if (acceptKeyword("null")) return Value::null();
  bool negative = false;
  if (acceptSymbol("-"))
    negative = true;
  else if (!acceptSymbol("+") && peek().kind != WqlToken::Kind::Number)
    fail("a string, number, True, False or Null");
  bool isInteger = false;
  int64_t integer = 0;
  const double real = parseNumber(negative, isInteger, integer);
  return isInteger ? Value::integer(integer) : Value::real(real);
}

// Reads a number token; an integer that fits 64 bits stays an integer, anything else is real.
double WqlParser::parseNumber(bool negative, bool& isInteger, int64_t& integer) {
  if (peek().kind != WqlToken::Kind::Number) fail("a number");
  const WqlToken& token = tokens_[pos_++];
  const std::string text = (negative ? "-" : "") + token.text;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  isInteger = text.find_first_of(".eE") == std::string::npos;
  if (isInteger) {
    auto [end, ec] = std::from_chars(first, last, integer);
    if (ec == std::errc() && end == last) return static_cast<double>(integer);
    isInteger = false;
  }
  double real = 0;
  auto [end, ec] = std::from_chars(first, last, real);
  if (ec != std::errc() || end != last || !std::isfinite(real))
    failAt(token, "is too large a number");
  return real;
}

bool WqlParser::atKeyword(std::string_view keyword) const {
  return peek().kind == WqlToken::Kind::Identifier && equalsIgnoreCase(peek().text, keyword);
}

bool WqlParser::atSymbol(std::string_view symbol) const {
  return peek().kind == WqlToken::Kind::Symbol && peek().text == symbol;
}

bool WqlParser::acceptKeyword(std::string_view keyword) {
  if (!atKeyword(keyword)) return false;
  ++pos_;
  return true;
}

bool WqlParser::acceptSymbol(std::string_view symbol) {
  if (!atSymbol(symbol)) return false;
  ++pos_;
  return true;
}

void WqlParser::expectKeyword(std::string_view keyword) {
  if (!acceptKeyword(keyword)) fail(keyword);
}

std::string WqlParser::expectName(std::string_view what) {
  if (peek().kind != WqlToken::Kind::Identifier || isReserved(peek().text)) fail(what);
  return tokens_[pos_++].text;
}

std::string WqlParser::expectProperty() {
  if (!notification_) return expectName("a property name");
  if (!acceptKeyword("TargetInstance")) fail("TargetInstance.Property");
  if (!acceptSymbol(".")) fail(". and a property of TargetInstance");
  return expectName("a property name");
}

void WqlParser::expectEnd(std::string_view what) {
  if (peek().kind == WqlToken::Kind::End) return;
  if (atKeyword("order") || atKeyword("limit")) refuseSortOrLimit(peek(), peek().written);
  fail(what);
}

void WqlParser::fail(std::string_view expected) const {
  failAt(peek(), "expected " + std::string(expected));
}

void WqlParser::failAt(const WqlToken& token, std::string_view problem) const {
  std::string detail;
  const std::string_view separator = problem.starts_with("expected") ? ", " : " ";
  if (token.kind == WqlToken::Kind::End) {
    detail = "the query ends" + columnOf(token);
  } else {
    const std::string written =
        token.written.size() > 30 ? token.written.substr(0, 30) + "..." : token.written;
    detail = "found '" + written + "'" + columnOf(token);
  }
  detail += std::string(separator) + std::string(problem);
  if (notification_) detail += kNotificationForms;
  throw invalidQuery(detail);
}

}  // namespace kestrava::service

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
}  // namespace

SelectQuery WqlParser::parseSelect(std::string_view text) {
  WqlParser p(text);
  SelectQuery query;
  p.expectKeyword("select");
  if (!p.acceptSymbol("*")) {
    do query.properties.push_back(p.expectName());
    while (p.acceptSymbol(","));
  }
  p.expectKeyword("from");
  query.className = p.expectName();
  if (p.acceptKeyword("where")) query.where = p.parseOr();
  p.expectEnd();
  return query;
}

NotificationQuery WqlParser::parseNotification(std::string_view text) {
  WqlParser p(text);
  NotificationQuery query;
  p.expectKeyword("select");
  if (!p.acceptSymbol("*")) throw invalidQuery();
  p.expectKeyword("from");
  query.eventClass = p.expectName();
  if (!equalsIgnoreCase(query.eventClass, "__InstanceModificationEvent")) throw invalidQuery();
  p.expectKeyword("within");
  bool isInteger = false;
  int64_t integer = 0;
  query.withinSeconds = p.parseNumber(false, isInteger, integer);
  if (!(query.withinSeconds > 0) || !std::isfinite(query.withinSeconds)) throw invalidQuery();
  p.expectKeyword("where");
  p.expectKeyword("targetinstance");
  p.expectKeyword("isa");
  if (p.peek().kind != WqlToken::Kind::String || p.peek().text.empty()) throw invalidQuery();
  query.targetClass = p.tokens_[p.pos_++].text;
  p.expectEnd();
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
  if (++depth_ > kMaxDepth) throw invalidQuery();
  WqlCondition result;
  if (acceptKeyword("not")) {
    std::vector<WqlCondition> operand;
    operand.push_back(parseNot());
    result = nodeOf(WqlCondition::Kind::Not, std::move(operand));
  } else if (acceptSymbol("(")) {
    result = parseOr();
    if (!acceptSymbol(")")) throw invalidQuery();
  } else {
    result = parseComparison();
  }
  --depth_;
  return result;
}

WqlCondition WqlParser::parseComparison() {
  if (peek().kind == WqlToken::Kind::Identifier && !isReserved(peek().text))
    return parsePropertyTest(tokens_[pos_++].text);
  // The literal may come first: 5 < ProcessId.
  WqlCondition node;
  node.literal = parseLiteral();
  if (node.literal.isNull()) throw invalidQuery();
  auto comparison = comparisonOf(peek());
  if (!comparison) throw invalidQuery();
  ++pos_;
  node.comparison = mirrored(*comparison);
  node.property = expectName();
  return node;
}

WqlCondition WqlParser::parsePropertyTest(std::string property) {
  WqlCondition node;
  node.property = std::move(property);
  if (acceptKeyword("is")) {
    node.kind = acceptKeyword("not") ? WqlCondition::Kind::IsNotNull : WqlCondition::Kind::IsNull;
    expectKeyword("null");
    return node;
  }
  const bool negatedLike = acceptKeyword("not");
  if (negatedLike || acceptKeyword("like")) {
    if (negatedLike) expectKeyword("like");
    if (peek().kind != WqlToken::Kind::String) throw invalidQuery();
    node.kind = WqlCondition::Kind::Like;
    node.literal = Value::text(tokens_[pos_++].text);
    if (!negatedLike) return node;
    std::vector<WqlCondition> operand;
    operand.push_back(std::move(node));
    return nodeOf(WqlCondition::Kind::Not, std::move(operand));
  }
  auto comparison = comparisonOf(peek());
  if (!comparison) throw invalidQuery();
  ++pos_;
  node.comparison = *comparison;
  node.literal = parseLiteral();
  if (node.literal.isNull()) {
    // "= Null" and "<> Null" read as Is Null and Is Not Null; ordering against null is refused.
    if (node.comparison == Comparison::Equal)
      node.kind = WqlCondition::Kind::IsNull;
    else if (node.comparison == Comparison::NotEqual)
      node.kind = WqlCondition::Kind::IsNotNull;
    else
      throw invalidQuery();
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
  else
    acceptSymbol("+");
  bool isInteger = false;
  int64_t integer = 0;
  const double real = parseNumber(negative, isInteger, integer);
  return isInteger ? Value::integer(integer) : Value::real(real);
}

// Reads a number token; an integer that fits 64 bits stays an integer, anything else is real.
double WqlParser::parseNumber(bool negative, bool& isInteger, int64_t& integer) {
  if (peek().kind != WqlToken::Kind::Number) throw invalidQuery();
  const std::string text = (negative ? "-" : "") + tokens_[pos_++].text;
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
  if (ec != std::errc() || end != last || !std::isfinite(real)) throw invalidQuery();
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
  if (!acceptKeyword(keyword)) throw invalidQuery();
}

std::string WqlParser::expectName() {
  if (peek().kind != WqlToken::Kind::Identifier || isReserved(peek().text)) throw invalidQuery();
  return tokens_[pos_++].text;
}

void WqlParser::expectEnd() {
  if (peek().kind != WqlToken::Kind::End) throw invalidQuery();
}

}  // namespace kestrava::service

#pragma once

#include <string_view>
#include <vector>

#include "service/WqlLexer.h"
#include "service/WqlQuery.h"

namespace kestrava::service {

// Parses the WQL the service understands; everything else throws ComError "Invalid query" with
// what was found, its column and what was expected. Keywords are matched without regard to
// case; names are kept as written.
class WqlParser {
 public:
  static SelectQuery parseSelect(std::string_view text);
  // Creation, deletion and modification events of the instances of one class, optionally only
  // those whose TargetInstance meets a condition.
  static NotificationQuery parseNotification(std::string_view text);

  // Nesting deeper than this (parentheses, Not) is refused rather than recursed into.
  static constexpr int kMaxDepth = 64;

 private:
  explicit WqlParser(std::string_view text) : tokens_(WqlLexer::tokenize(text)) {}

  WqlCondition parseOr();
  WqlCondition parseAnd();
  WqlCondition parseNot();
  WqlCondition parseComparison();
  WqlCondition parsePropertyTest(std::string property);
  Value parseLiteral();
  double parseNumber(bool negative, bool& isInteger, int64_t& integer);

  const WqlToken& peek() const { return tokens_[pos_]; }
  bool atKeyword(std::string_view keyword) const;
  bool atSymbol(std::string_view symbol) const;
  bool acceptKeyword(std::string_view keyword);
  bool acceptSymbol(std::string_view symbol);
  void expectKeyword(std::string_view keyword);
  std::string expectName(std::string_view what);
  // A property of a condition: a bare name, or TargetInstance.Name in a notification query.
  std::string expectProperty();
  void expectEnd(std::string_view what);
  // Throws "found <the token> at column N, expected <what>".
  [[noreturn]] void fail(std::string_view expected) const;
  [[noreturn]] void failAt(const WqlToken& token, std::string_view problem) const;

  std::vector<WqlToken> tokens_;
  size_t pos_ = 0;
  int depth_ = 0;
  bool notification_ = false;  // conditions name TargetInstance.Property; errors list the forms
};

}  // namespace kestrava::service

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ClassSchema.h"
#include "core/ManagementObject.h"
#include "service/LikePattern.h"
#include "service/WqlQuery.h"

namespace kestrava::service {

// A Where clause bound to one class: property names resolved to schema positions and literals
// prepared once, so testing an object costs no look-up and no allocation for the usual forms.
//
// Semantics: text compares without regard to case; numbers numerically (integer against real
// too); a text holding a number compares with a number literal as that number, and a text
// literal holding a number with a number property; True/False compare with Booleans and with
// the texts "True"/"False". Any other pairing, and any null, array or missing value, makes the
// comparison false. Is Null is true for a null (or unread) value. Not negates its operand.
class QueryFilter {
 public:
  // Throws ComError "Invalid query" when a property is not one of the class's.
  QueryFilter(const WqlCondition& where, const ClassSchema& schema);

  bool matches(const ManagementObject& object) const;

  // Schema positions the clause reads, each once.
  const std::vector<size_t>& properties() const { return properties_; }

  // The text the property must equal for any object to match (`P = 'text'`, alone or as a term
  // of an And); nullopt when the clause does not pin it.
  std::optional<std::string> requiredText(size_t property) const;

  struct Number {
    bool isInteger = true;
    int64_t integer = 0;
    double real = 0;
  };

 private:
  struct Literal {
    Value::Kind kind = Value::Kind::Empty;
    std::string text;              // Text
    std::optional<Number> number;  // Integer, Real, or a Text that reads as a number
    std::optional<bool> boolean;   // Boolean, or a Text "True"/"False"
  };
  struct Node {
    WqlCondition::Kind kind = WqlCondition::Kind::Compare;
    WqlCondition::Comparison comparison = WqlCondition::Comparison::Equal;
    size_t property = 0;
    Literal literal;
    std::optional<LikePattern> like;
    std::vector<size_t> operands;  // node indices
  };

  size_t compile(const WqlCondition& condition, const ClassSchema& schema);
  bool evaluate(size_t node, const ManagementObject& object) const;
  static std::optional<int> compare(const Value& value, const Literal& literal);
  static bool likeMatches(const Value& value, const LikePattern& pattern);

  std::vector<Node> nodes_;
  std::vector<size_t> properties_;
  size_t root_ = 0;
};

}  // namespace kestrava::service

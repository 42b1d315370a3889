#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Value.h"

namespace kestrava::service {

// One node of a Where clause as written, before it is bound to a class.
struct WqlCondition {
  enum class Kind { And, Or, Not, Compare, Like, IsNull, IsNotNull };
  enum class Comparison { Equal, NotEqual, Less, Greater, LessOrEqual, GreaterOrEqual };

  Kind kind = Kind::Compare;
  Comparison comparison = Comparison::Equal;
  std::string property;                // Compare, Like, IsNull, IsNotNull
  Value literal;                       // Compare: text, integer, real or Boolean; Like: pattern
  std::vector<WqlCondition> operands;  // And, Or: two or more; Not: one
};

// "Select * From Class" or "Select A, B From Class", with an optional Where clause.
struct SelectQuery {
  std::string className;
  std::vector<std::string> properties;  // as written; empty for *
  std::optional<WqlCondition> where;
};

// "Select * From __InstanceModificationEvent Within 2.0 Where TargetInstance Isa 'Class'", or
// creation or deletion events, with conditions on the instance after the Isa
// ("And TargetInstance.Name = 'cron.service'").
struct NotificationQuery {
  // How often the class is looked at when the query names no Within.
  static constexpr double kDefaultWithinSeconds = 2.0;

  std::string eventClass;  // as the events name it: "__InstanceCreationEvent", ...
  double withinSeconds = kDefaultWithinSeconds;
  std::string targetClass;
  std::optional<WqlCondition> condition;  // on TargetInstance; property names without the prefix
};

}  // namespace kestrava::service

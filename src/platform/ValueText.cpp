#include "platform/ValueText.h"

#include <QLocale>

namespace kestrava {

std::optional<ComError> cellTextRefusingNull(const Value& value, std::string& out) {
  switch (value.kind()) {
    case Value::Kind::Null:
      return ComError(err::kInvalidUseOfNull, "Invalid use of Null", "Kestrava");
    case Value::Kind::Array:
      return ComError(err::kTypeMismatch, "Type mismatch", "Kestrava");
    case Value::Kind::Text:
      out = value.asText();
      return std::nullopt;
    case Value::Kind::Real:
      out = value.toText(QLocale().decimalPoint().toStdString());
      return std::nullopt;
    default:
      out = value.toText();
      return std::nullopt;
  }
}

}  // namespace kestrava

#include "views/lists/InstanceList.h"

#include <vector>

#include "platform/Err.h"
#include "platform/ValueText.h"

namespace kestrava {

namespace {

// Where each column's property sits in the objects of one class, resolved once per class.
class ColumnIndex {
 public:
  explicit ColumnIndex(const ListViewDef& viewDef) : def_(viewDef) {}
  const std::vector<std::optional<size_t>>& forSchema(const SchemaPtr& schema) {
    if (schema != schema_) {
      schema_ = schema;
      indexes_.clear();
      for (const auto& column : def_.columns)
        indexes_.push_back(schema ? schema->indexOf(column.property) : std::nullopt);
    }
    return indexes_;
  }

 private:
  const ListViewDef& def_;
  SchemaPtr schema_;
  std::vector<std::optional<size_t>> indexes_;
};

// The key goes to the list unconverted: only a text value is a key.
std::string keyText(const Value& value) {
  if (value.kind() == Value::Kind::Text) return value.asText();
  if (value.kind() == Value::Kind::Null)
    throw ComError(err::kInvalidUseOfNull, "Invalid use of Null", "Kestrava");
  throw ComError(err::kInvalidKey, "Invalid key", "ListView");
}

std::string rowText(const Value& value) {
  std::string text;
  if (auto failure = cellTextRefusingNull(value, text)) throw *failure;
  return text;
}

ComError noSuchProperty(const char* name) {
  return ComError(err::kNoSuchMember,
                  std::string("Object doesn't support this property or method: '") + name + "'",
                  "SWbemObject");
}

}  // namespace

void fillList(ListControl& list, const ListViewDef& viewDef, std::optional<SWbemObjectSet>& set) {
  auto items = list.ListItems();
  Err().step([&] { items.Clear(); });
  if (!set) {
    Err().raise(objectNotSet());  // there is nothing to enumerate
    return;
  }
  ColumnIndex columns(viewDef);
  std::string text;
  for (;;) {
    std::optional<SWbemObject> object;
    if (!Err().step([&] { object = set->Next(); }) || !object) break;
    ListItem row;
    if (!Err().step([&] {
          row = items.Add(keyText(object->Property(viewDef.keyProperty)),
                          rowText(object->Property(viewDef.textProperty)));
        }))
      continue;  // no row: none of this object's values is written
    const auto& indexes = columns.forSchema(object->data().schema());
    for (size_t i = 1; i < viewDef.columns.size(); ++i) {
      Err().step([&]() -> std::optional<ComError> {
        if (!indexes[i]) return noSuchProperty(viewDef.columns[i].property);
        if (auto failure = cellTextRefusingNull(object->data().at(*indexes[i]), text))
          return failure;
        row.setSubItems(static_cast<int>(i), text);
        return std::nullopt;
      });
    }
  }
}

void sortByHeader(ListControl& list, int headerIndex) {
  list.setSortOrder(list.SortOrder() == 0 ? 1 : 0);
  list.setSorted(true);
  list.setSortKey(headerIndex - 1);
}

}  // namespace kestrava

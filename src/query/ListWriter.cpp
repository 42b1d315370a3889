#include "query/ListWriter.h"

#include <algorithm>

#include "query/CellText.h"

namespace kestrava::query {

void ListWriter::write(const ManagementObject& object) {
  const auto& schema = object.schema();
  if (!schema) return;
  std::vector<std::string> names;
  size_t width = 0;
  for (const auto& name : schema->properties()) {
    names.push_back(terminalText(name) + ':');
    width = std::max(width, displayWidth(names.back()));
  }
  std::string text = written_++ ? "\n" : "";
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string value = cellTextNullAsBlank(object.at(i));
    text += names[i];
    if (!value.empty()) text += std::string(width - displayWidth(names[i]) + 1, ' ') + value;
    text += '\n';
  }
  out_ << text;
}

}  // namespace kestrava::query

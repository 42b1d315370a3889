#include "query/RowOrder.h"

#include <algorithm>

#include "core/ClassSchema.h"
#include "query/CellText.h"

namespace kestrava::query {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Where a character sorts: blanks, then punctuation and symbols in the lists' own order, then
// digits, then letters (a and A alike), then every other byte by its value.
int rankOf(unsigned char c) {
  static constexpr std::string_view kBlanks = "\t\n\v\f\r ";
  static constexpr std::string_view kPunctuation = "_-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$";
  if (auto at = kBlanks.find(static_cast<char>(c)); at != std::string_view::npos)
    return static_cast<int>(at);
  if (auto at = kPunctuation.find(static_cast<char>(c)); at != std::string_view::npos)
    return 16 + static_cast<int>(at);
  if (isDigit(static_cast<char>(c))) return 64;
  if (isLetter(static_cast<char>(c))) return 128 + (c | 0x20);
  return 256 + c;
}

// A run of digits starting at pos, without its leading zeros; pos moves past the run.
std::string_view digitRun(std::string_view text, size_t& pos) {
  const size_t start = pos;
  while (pos < text.size() && isDigit(text[pos])) ++pos;
  std::string_view run = text.substr(start, pos - start);
  while (run.size() > 1 && run.front() == '0') run.remove_prefix(1);
  return run;
}

bool isNumber(const Value& v) {
  return v.kind() == Value::Kind::Integer || v.kind() == Value::Kind::Real;
}

int sign(auto difference) {
  return (difference > 0) - (difference < 0);
}

}  // namespace

std::optional<SortKey> parseSortKey(std::string_view text) {
  SortKey key;
  const size_t colon = text.rfind(':');
  if (colon != std::string_view::npos) {
    const std::string_view direction = text.substr(colon + 1);
    if (equalsIgnoreCase(direction, "desc"))
      key.descending = true;
    else if (!equalsIgnoreCase(direction, "asc"))
      return std::nullopt;
    text = text.substr(0, colon);
  }
  // A property name as WQL writes one.
  if (text.empty() || isDigit(text.front())) return std::nullopt;
  for (char c : text)
    if (!isDigit(c) && !isLetter(c) && c != '_') return std::nullopt;
  key.property = text;
  return key;
}

int compareNaturally(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      const std::string_view x = digitRun(a, i), y = digitRun(b, j);
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (const int c = x.compare(y)) return sign(c);
      continue;
    }
    if (const int c =
            rankOf(static_cast<unsigned char>(a[i])) - rankOf(static_cast<unsigned char>(b[j])))
      return sign(c);
    ++i;
    ++j;
  }
  return sign(static_cast<long>(a.size() - i) - static_cast<long>(b.size() - j));
}

int compareValues(const Value& a, const Value& b) {
  const bool aBlank = a.isNull() || a.isEmpty(), bBlank = b.isNull() || b.isEmpty();
  if (aBlank || bBlank) return static_cast<int>(bBlank) - static_cast<int>(aBlank);
  if (a.kind() == Value::Kind::Integer && b.kind() == Value::Kind::Integer)
    return a.asInteger() < b.asInteger() ? -1 : a.asInteger() > b.asInteger() ? 1 : 0;
  if (isNumber(a) && isNumber(b)) {
    const double x =
        a.kind() == Value::Kind::Real ? a.asReal() : static_cast<double>(a.asInteger());
    const double y =
        b.kind() == Value::Kind::Real ? b.asReal() : static_cast<double>(b.asInteger());
    return x < y ? -1 : y < x ? 1 : 0;
  }
  return compareNaturally(plainText(a), plainText(b));
}

const SortKey* missingSortKey(const std::vector<SortKey>& keys, const ClassSchema& schema) {
  for (const auto& key : keys)
    if (!schema.indexOf(key.property)) return &key;
  return nullptr;
}

bool RowOrder::before(const Row& a, const Row& b) const {
  static const Value blank;
  auto valueOf = [](const ManagementObject& o, const std::string& property) -> const Value& {
    const auto index = o.schema() ? o.schema()->indexOf(property) : std::nullopt;
    return index ? o.at(*index) : blank;
  };
  for (const auto& key : keys_) {
    const int c = compareValues(valueOf(a.object, key.property), valueOf(b.object, key.property));
    if (c) return key.descending ? c > 0 : c < 0;
  }
  return a.arrival < b.arrival;
}

void RowOrder::trim() {
  const auto less = [this](const Row& a, const Row& b) { return before(a, b); };
  std::nth_element(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(*limit_), rows_.end(),
                   less);
  rows_.resize(*limit_);
}

void RowOrder::add(ManagementObject object) {
  if (limit_ && *limit_ == 0) return;
  rows_.push_back({std::move(object), arrived_++});
  if (limit_ && rows_.size() >= 2 * *limit_) trim();
}

std::vector<ManagementObject> RowOrder::take() {
  const auto less = [this](const Row& a, const Row& b) { return before(a, b); };
  if (limit_ && rows_.size() > *limit_) trim();
  std::sort(rows_.begin(), rows_.end(), less);
  std::vector<ManagementObject> out;
  out.reserve(rows_.size());
  for (auto& row : rows_) out.push_back(std::move(row.object));
  rows_.clear();
  return out;
}

}  // namespace kestrava::query

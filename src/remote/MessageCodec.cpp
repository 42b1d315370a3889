#include "remote/MessageCodec.h"

#include <array>
#include <charconv>

#include "remote/ProtocolError.h"
#include "remote/ValueCodec.h"

namespace kestrava::remote {

namespace {

struct VerbInfo {
  Verb verb;
  const char* name;
  // The kinds of the body's values: I integer, T text, A array, * any.
  const char* shape;
};

constexpr auto kVerbs = std::to_array<VerbInfo>({
    {Verb::Hello, "hello", "ITT"},
    {Verb::Ready, "ready", "A"},
    {Verb::Query, "query", "T"},
    {Verb::Get, "get", "T"},
    {Verb::Call, "call", "TT"},
    {Verb::Subscribe, "subscribe", "T"},
    {Verb::Cancel, "cancel", "I"},
    {Verb::Ok, "ok", ""},
    {Verb::Schema, "schema", "ITTAA"},
    {Verb::Object, "object", "IA"},
    {Verb::End, "end", ""},
    {Verb::Result, "result", "*"},
    {Verb::Event, "event", "TIAIA"},
    {Verb::Busy, "busy", ""},
    {Verb::Error, "error", "ITT"},
});

// Each verb's entry sits at its enumerator's position, and the last verb is the last entry.
constexpr bool inStep() {
  for (size_t i = 0; i < kVerbs.size(); ++i)
    if (static_cast<size_t>(kVerbs[i].verb) != i) return false;
  return kVerbs.size() == static_cast<size_t>(Verb::Error) + 1;
}
static_assert(inStep(), "kVerbs must list every Verb in the enum's order");

constexpr size_t kMaxVerbLength = 9;

const VerbInfo& infoOf(Verb verb) {
  return kVerbs[static_cast<size_t>(verb)];
}

bool hasKind(const Value& value, char shape) {
  switch (shape) {
    case 'I':
      return value.kind() == Value::Kind::Integer;
    case 'T':
      return value.kind() == Value::Kind::Text;
    case 'A':
      return value.kind() == Value::Kind::Array;
    default:
      return true;
  }
}

void checkShape(const Message& message) {
  std::string_view shape = infoOf(message.verb).shape;
  const char* name = verbName(message.verb);
  if (message.body.size() != shape.size())
    throw ProtocolError(std::string("a ") + name + " message has " +
                        (message.body.size() > shape.size() ? "more" : "fewer") + " than its " +
                        std::to_string(shape.size()) + " values");
  for (size_t i = 0; i < shape.size(); ++i)
    if (!hasKind(message.body[i], shape[i]))
      throw ProtocolError(std::string("value ") + std::to_string(i + 1) + " of a " + name +
                          " message is " + kindName(message.body[i].kind()));
  if (message.verb == Verb::Error) {
    auto number = message.body[0].asInteger();
    if (number < INT32_MIN || number > INT32_MAX)
      throw ProtocolError("an error number is out of range");
  }
}

uint64_t parseId(std::string_view digits) {
  if (digits.empty() || digits.size() > 20 || (digits[0] == '0' && digits.size() > 1))
    throw ProtocolError("a message id is not a canonical decimal number");
  uint64_t id = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (ec != std::errc() || ptr != digits.data() + digits.size())
    throw ProtocolError("a message id is not a decimal number in range");
  return id;
}

std::string quoted(std::string_view s) {
  std::string out = "'";
  for (char c : s.substr(0, 24)) out += (c >= ' ' && c < 0x7f) ? c : '?';
  return out + (s.size() > 24 ? "...'" : "'");
}

}  // namespace

const char* verbName(Verb verb) {
  return infoOf(verb).name;
}

std::optional<Verb> verbNamed(std::string_view name) {
  for (const auto& info : kVerbs)
    if (name == info.name) return info.verb;
  return std::nullopt;
}

std::string encodePayload(const Message& message) {
  PayloadBuilder builder(message.verb, message.id);
  for (const auto& value : message.body) builder.add(value);
  return builder.payload();
}

Message decodePayload(std::string_view payload) {
  auto lineEnd = payload.find('\n');
  if (lineEnd == std::string_view::npos || lineEnd > kMaxVerbLength + 21)
    throw ProtocolError("a message has no header line");
  auto header = payload.substr(0, lineEnd);
  auto space = header.find(' ');
  if (space == std::string_view::npos) throw ProtocolError("a message header has no id");
  auto verb = verbNamed(header.substr(0, space));
  if (!verb) throw ProtocolError("unknown message kind " + quoted(header.substr(0, space)));
  Message message;
  message.verb = *verb;
  message.id = parseId(header.substr(space + 1));
  ValueReader reader(payload.substr(lineEnd + 1));
  const size_t expected = std::string_view(infoOf(message.verb).shape).size();
  while (!reader.atEnd() && message.body.size() <= expected) message.body.push_back(reader.read());
  checkShape(message);
  return message;
}

std::string frame(std::string_view payload) {
  std::string out = std::to_string(payload.size());
  out += '\n';
  out += payload;
  return out;
}

PayloadBuilder::PayloadBuilder(Verb verb, uint64_t id) {
  payload_ = verbName(verb);
  payload_ += ' ';
  payload_ += std::to_string(id);
  payload_ += '\n';
}

PayloadBuilder& PayloadBuilder::add(const Value& value) {
  appendValue(payload_, value);
  return *this;
}

PayloadBuilder& PayloadBuilder::addObject(int64_t schemaNumber, const ManagementObject& object) {
  appendInteger(payload_, schemaNumber);
  const auto& values = object.values();
  appendArrayHeader(payload_, values.size());
  for (const auto& value : values) appendValue(payload_, value);
  return *this;
}

}  // namespace kestrava::remote

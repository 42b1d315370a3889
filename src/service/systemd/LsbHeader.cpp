#include "service/systemd/LsbHeader.h"

#include <fstream>
#include <vector>

#include "sys/Utf8.h"

namespace kestrava::service {

namespace {

std::string_view trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

LsbHeader parseLsbHeader(std::string_view text) {
  LsbHeader header;
  bool inBlock = false;
  std::string* continued = nullptr;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (trim(line) == "### BEGIN INIT INFO") {
      inBlock = true;
      continue;
    }
    if (!inBlock) continue;
    if (trim(line) == "### END INIT INFO" || line.empty() || line[0] != '#') break;
    std::string_view body = line.substr(1);
    // A continuation line starts with a tab or at least two blanks after the '#'.
    if (continued && (body.starts_with("\t") || body.starts_with("  "))) {
      *continued += ' ';
      *continued += trim(body);
      continue;
    }
    continued = nullptr;
    body = trim(body);
    size_t colon = body.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = body.substr(0, colon);
    std::string_view value = trim(body.substr(colon + 1));
    if (key == "Short-Description") {
      header.shortDescription = sys::validUtf8WithQuestionMarks(value);
    } else if (key == "Description") {
      header.description = sys::validUtf8WithQuestionMarks(value);
      continued = &header.description;
    }
  }
  header.description = sys::validUtf8WithQuestionMarks(header.description);
  return header;
}

LsbHeader readLsbHeader(const std::filesystem::path& script) {
  std::ifstream in(script, std::ios::binary);
  if (!in) return {};
  std::vector<char> buffer(16 * 1024);
  in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  return parseLsbHeader(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
}

}  // namespace kestrava::service

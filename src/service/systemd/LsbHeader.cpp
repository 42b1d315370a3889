#include "service/systemd/LsbHeader.h"

#include <fstream>
#include <vector>

namespace kestrava::service {

namespace {

std::string_view trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Length of the valid UTF-8 sequence that starts at s[i], or 0.
size_t sequenceLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return 0;
  const auto c1 = n > 1 ? static_cast<unsigned char>(s[i + 1]) : 0;
  if (n == 2 && c < 0xC2) return 0;                                                 // overlong
  if (n == 3 && ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0))) return 0;  // surrogate
  if (n == 4 && ((c == 0xF0 && c1 < 0x90) || c > 0xF4 || (c == 0xF4 && c1 >= 0x90))) return 0;
  return n;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t n = sequenceLength(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string withValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t n = sequenceLength(text, i);
    if (n == 0) {
      out += '?';
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

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
      header.shortDescription = withValidUtf8(value);
    } else if (key == "Description") {
      header.description = withValidUtf8(value);
      continued = &header.description;
    }
  }
  header.description = withValidUtf8(header.description);
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

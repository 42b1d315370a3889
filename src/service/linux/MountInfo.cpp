#include "service/linux/MountInfo.h"

#include <array>

#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

std::string decodeOctalEscapes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && isOctal(s[i + 1]) && isOctal(s[i + 2]) &&
        isOctal(s[i + 3])) {
      int v = (s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0');
      if (v <= 0xFF) {
        out.push_back(static_cast<char>(v));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

bool MountEntry::readOnly() const {
  return options == "ro" || options.starts_with("ro,");
}

namespace {
// Next space-separated field of a mountinfo line; empty at the end.
std::string_view nextField(std::string_view& rest) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  size_t sp = rest.find(' ');
  std::string_view f = rest.substr(0, sp);
  rest = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
  return f;
}

bool parseDevice(std::string_view dev, MountEntry& m) {
  size_t colon = dev.find(':');
  if (colon == std::string_view::npos) return false;
  auto major = parseUnsigned(dev.substr(0, colon));
  auto minor = parseUnsigned(dev.substr(colon + 1));
  if (!major || !minor || *major > UINT32_MAX || *minor > UINT32_MAX) return false;
  m.major = static_cast<uint32_t>(*major);
  m.minor = static_cast<uint32_t>(*minor);
  return true;
}
}  // namespace

std::optional<MountEntry> parseMountInfoLine(std::string_view line) {
  MountEntry m;
  std::string_view rest = line;
  auto id = parseSigned(nextField(rest));
  auto parent = parseSigned(nextField(rest));
  if (!id || !parent || !parseDevice(nextField(rest), m)) return std::nullopt;
  m.id = *id;
  m.parentId = *parent;
  std::string_view root = nextField(rest), mountPoint = nextField(rest);
  m.options.assign(nextField(rest));
  if (root.empty() || mountPoint.empty() || m.options.empty()) return std::nullopt;
  // Optional fields ("shared:1 master:2") run up to a lone "-".
  for (int guard = 0;; ++guard) {
    std::string_view f = nextField(rest);
    if (f.empty() || guard > 64) return std::nullopt;
    if (f == "-") break;
  }
  std::string_view fsType = nextField(rest), source = nextField(rest);
  if (fsType.empty()) return std::nullopt;
  m.root = decodeOctalEscapes(root);
  m.mountPoint = decodeOctalEscapes(mountPoint);
  m.fsType.assign(fsType);
  m.source = decodeOctalEscapes(source);
  m.superOptions.assign(trimSpace(nextField(rest)));
  return m;
}

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> out;
  while (!text.empty() && out.size() < kMaxMounts) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (auto m = parseMountInfoLine(line)) out.push_back(std::move(*m));
  }
  return out;
}

}  // namespace kestrava::service::linuxsys

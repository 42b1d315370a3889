#include <gtest/gtest.h>

#include <string>

#include "core/ComError.h"
#include "core/ManagementObject.h"
#include "service/ObjectPath.h"

namespace kestrava::service {
namespace {

struct PathCase {
  std::string text;
  const char* className;
  const char* keyProperty;
  std::string key;
};

class AcceptedPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(AcceptedPath, ReadsClassPropertyAndKey) {
  const auto& c = GetParam();
  ObjectPath path = ObjectPath::parse(c.text);
  EXPECT_EQ(path.className, c.className) << c.text;
  EXPECT_EQ(path.keyProperty, c.keyProperty) << c.text;
  EXPECT_EQ(path.key, c.key) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AcceptedPath,
    ::testing::Values(
        PathCase{"Win32_Service='ssh.service'", "Win32_Service", "", "ssh.service"},
        PathCase{"Win32_Service=\"ssh.service\"", "Win32_Service", "", "ssh.service"},
        PathCase{"Win32_Service.Name='ssh.service'", "Win32_Service", "Name", "ssh.service"},
        PathCase{"win32_service.name=\"x\"", "win32_service", "name", "x"},
        PathCase{"Win32_Service='it\\'s'", "Win32_Service", "", "it's"},
        PathCase{"Win32_Service='a\\\\b'", "Win32_Service", "", "a\\b"},
        PathCase{"Win32_Service=\"say \\\"hi\\\"\"", "Win32_Service", "", "say \"hi\""},
        PathCase{"Win32_Service=\"it's\"", "Win32_Service", "", "it's"},
        PathCase{"Win32_Service='say \"hi\"'", "Win32_Service", "", "say \"hi\""},
        PathCase{"  Win32_Service = 'x'  ", "Win32_Service", "", "x"},
        PathCase{"C='a = b, c.d'", "C", "", "a = b, c.d"}, PathCase{"C=''", "C", "", ""},
        PathCase{"C=' '", "C", "", " "}, PathCase{"Win32_Process=42", "Win32_Process", "", "42"},
        PathCase{"Win32_Process.Handle=-1", "Win32_Process", "Handle", "-1"},
        PathCase{"C='\xC3\xA4\xFF'", "C", "", "\xC3\xA4\xFF"},
        PathCase{std::string("C='a\0b'", 7), "C", "", std::string("a\0b", 3)}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

class RefusedPath : public ::testing::TestWithParam<std::string> {};

TEST_P(RefusedPath, IsInvalidObjectPath) {
  try {
    ObjectPath::parse(GetParam());
    FAIL() << "accepted " << GetParam();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), -2147217350) << GetParam();
    EXPECT_EQ(e.description().rfind("Invalid object path: ", 0), 0u) << e.description();
  }
}

TEST(RefusedPathDetail, NamesWhatItFoundWhereAndWhatWasExpected) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "the path ends at column 1, expected a class name"},
      {"Win32_Service", "the path ends at column 14, expected ="},
      {"Win32_Service='x", "the quote at column 15 is never closed"},
      {"Win32_Service=x", "found 'x' at column 15, expected a key in quotes or a whole number"},
      {"Win32_Service='x' y", "found 'y' at column 19, expected the end after the key"},
      {"Win32_Service. Name='x'", "found a blank at column 15, expected a key property name"},
      {"9Class='x'", "found '9Class='x'' at column 1, expected a class name"},
      // Columns count characters, and a long rest is cut at a character's end.
      {"\xC3\xA4='x'", "found '\xC3\xA4='x'' at column 1, expected a class name"},
      {"C='\xC3\xA4' " + std::string(19, 'z') + "\xC3\xA4",
       "found '" + std::string(19, 'z') + "\xC3\xA4' at column 7, expected the end after the key"},
      // Bytes that are no UTF-8 are quoted no further than a character's length.
      {std::string(100, '\x95'),
       "found '" + std::string(23, '\x95') + "' at column 1, expected a class name"},
  };
  for (const auto& [path, detail] : cases) {
    try {
      ObjectPath::parse(path);
      ADD_FAILURE() << "accepted " << path;
    } catch (const ComError& e) {
      EXPECT_EQ(e.description(), "Invalid object path: " + detail) << path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RefusedPath,
    ::testing::Values("", " ", "Win32_Service", "Win32_Service=", "Win32_Service='x",
                      "Win32_Service=\"x'", "Win32_Service='x' y", "Win32_Service=x",
                      "Win32_Service='x\\", "='x'", "Win32_Service.='x'", ".Name='x'",
                      "Win32_Service..Name='x'", "Win32_Service. Name='x'", "9Class='x'",
                      "Win32_Service.Name='x',State='y'", "Win32_Service='x''",
                      "Win32_Service=='x'", "Win32_Service=1.5", "Win32_Service=-",
                      "Win32 Service='x'", "\\\\.\\root\\cimv2:Win32_Service='x'"),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ObjectPathRoundTrip, EveryNameMakeObjectPathBuildsReadsBack) {
  const std::string names[] = {"ssh.service",
                               "it's",
                               "back\\slash",
                               "\\'",
                               "trailing\\",
                               "'",
                               "''",
                               "systemd-fsck@dev-disk-by\\x2duuid-1234.service",
                               "with \"double\" quotes",
                               "\xC3\xA4\xE2\x82\xAC",
                               "\xFF\xFE",
                               "spaces and\nnewline",
                               ""};
  for (const auto& name : names) {
    const std::string text = makeObjectPath("Win32_Service", name);
    ObjectPath path = ObjectPath::parse(text);
    EXPECT_EQ(path.className, "Win32_Service") << text;
    EXPECT_EQ(path.key, name) << text;
  }
}

}  // namespace
}  // namespace kestrava::service

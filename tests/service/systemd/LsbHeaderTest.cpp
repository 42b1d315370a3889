#include "service/systemd/LsbHeader.h"

#include <gtest/gtest.h>

namespace kestrava::service {
namespace {

TEST(LsbHeader, ReadsDescriptionsWithContinuationLines) {
  const char* script = R"(#!/bin/sh
# Short-Description: not in the block
### BEGIN INIT INFO
# Provides:          ssh
# Required-Start:    $remote_fs $syslog
# Short-Description: OpenBSD Secure Shell server
# Description:       Lets people log in
#                    from far away.
#	Tab-continued too.
# Default-Start:     2 3 4 5
### END INIT INFO
# Description: after the block
)";
  LsbHeader h = parseLsbHeader(script);
  EXPECT_EQ(h.shortDescription, "OpenBSD Secure Shell server");
  EXPECT_EQ(h.description, "Lets people log in from far away. Tab-continued too.");
}

TEST(LsbHeader, MissingOrBrokenBlocksGiveEmptyFields) {
  EXPECT_EQ(parseLsbHeader("#!/bin/sh\necho hi\n").shortDescription, "");
  EXPECT_EQ(parseLsbHeader("").description, "");
  // A block that never ends stops at the first line that is not a comment.
  LsbHeader h =
      parseLsbHeader("### BEGIN INIT INFO\n# Short-Description: a\nexit 0\n# Description: b\n");
  EXPECT_EQ(h.shortDescription, "a");
  EXPECT_EQ(h.description, "");
  EXPECT_EQ(parseLsbHeader("### BEGIN INIT INFO\r\n# Short-Description: dos\r\n").shortDescription,
            "dos");
}

TEST(LsbHeader, Utf8IsCheckedAndRepaired) {
  EXPECT_TRUE(isValidUtf8("plain"));
  EXPECT_TRUE(isValidUtf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82"));
  EXPECT_FALSE(isValidUtf8("bad \xff byte"));
  EXPECT_FALSE(isValidUtf8("cut \xe2\x82"));
  EXPECT_FALSE(isValidUtf8("overlong \xc0\xaf"));
  EXPECT_FALSE(isValidUtf8("surrogate \xed\xa0\x80"));
  EXPECT_EQ(withValidUtf8("a\xff"
                          "b\xe2\x82"),
            "a?b??");
  LsbHeader h = parseLsbHeader("### BEGIN INIT INFO\n# Short-Description: x\xfey\n");
  EXPECT_EQ(h.shortDescription, "x?y");
}

}  // namespace
}  // namespace kestrava::service

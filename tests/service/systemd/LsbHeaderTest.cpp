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

TEST(LsbHeader, InvalidUtf8BecomesQuestionMarks) {
  LsbHeader h = parseLsbHeader("### BEGIN INIT INFO\n# Short-Description: x\xfey\n");
  EXPECT_EQ(h.shortDescription, "x?y");
}

}  // namespace
}  // namespace kestrava::service

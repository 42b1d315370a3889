// kestrava-query across several computers, all of them the booted server under other accounts
// and aliases, and one computer that does not exist.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "server/ServerFixture.h"

namespace kestrava::testing {
namespace {

class ServerFleet : public BootedServer {};

TEST_F(ServerFleet, EveryComputerAnswersUnderItsOwnNameAndTheMissingOneIsReported) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("kestrava-fleet-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::vector<std::string> named = {as("oper"), "kestrava-unknown-host.invalid", host_,
                                          as("root")};
  {
    std::ofstream hosts(dir / "hosts");
    hosts << "# the booted server, three ways, and a computer that is not there\n\n";
    for (const std::string& n : named) hosts << n << "\n";
  }
  const std::string command = std::string(KESTRAVA_QUERY_PROGRAM) + " --format csv --hosts " +
                              (dir / "hosts").string() +
                              " \"Select Name, State From Win32_Service Where Name = "
                              "'cron.service' Or Name = 'ssh.service'\" 2>" +
                              (dir / "err").string();
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  ASSERT_TRUE(pipe);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  const int status = ::pclose(pipe.release());
  std::ifstream errFile(dir / "err");
  const std::string err((std::istreambuf_iterator<char>(errFile)), {});
  std::filesystem::remove_all(dir);

  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "one computer failed";
  EXPECT_NE(err.find("kestrava-unknown-host.invalid"), std::string::npos) << err;
  const std::vector<std::string> rows = lines(out);
  ASSERT_EQ(rows.size(), 7u) << out;  // one header, two services from each of three computers
  EXPECT_EQ(rows[0].substr(0, rows[0].find(',')), "Computer");
  // Rows stay together, in the order the computers were named.
  const std::vector<std::string> answered = {as("oper"), as("oper"), host_,
                                             host_,      as("root"), as("root")};
  for (size_t i = 0; i < answered.size(); ++i) {
    EXPECT_EQ(rows[i + 1].substr(0, rows[i + 1].find(',')), answered[i]) << rows[i + 1];
    EXPECT_NE(rows[i + 1].find("Running"), std::string::npos) << rows[i + 1];
  }
}

}  // namespace
}  // namespace kestrava::testing

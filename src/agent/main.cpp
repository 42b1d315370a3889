// kestrava-agent: serves this computer's management service to one Kestrava over its standard
// input and output (Kestrava starts it through ssh), and exits when its input closes.
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "connect/Connector.h"
#include "remote/AgentSession.h"

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--version") == 0)) {
    std::cout << "kestrava-agent " << KESTRAVA_VERSION << "\n";
    return 0;
  }
  if (argc > 1) {
    std::cerr << "usage: kestrava-agent (run by Kestrava through ssh; speaks on stdin/stdout)\n";
    return 64;
  }
  // A client that goes away must end the session through a failed write, not kill the agent.
  ::signal(SIGPIPE, SIG_IGN);
  kestrava::remote::AgentSession session(STDIN_FILENO, STDOUT_FILENO,
                                         [] { return kestrava::connectComputer("."); });
  auto outcome = session.run();
  if (outcome == kestrava::remote::AgentSession::kProtocolViolation)
    std::cerr << "kestrava-agent: the client broke the protocol\n";
  else if (outcome == kestrava::remote::AgentSession::kFailed)
    std::cerr << "kestrava-agent: ran out of memory and ended the connection\n";
  return outcome;
}

#pragma once

#include <string>
#include <vector>

namespace kestrava::query {

// ssh options that let one ssh connection to a computer serve the next queries too: the first
// becomes a master (ControlMaster=auto) on a socket in a folder of this user's, and stays up to
// `seconds` after its last use (ControlPersist), so a query within that time skips the log-in.
// None when the user's ssh configuration for that computer says anything about ControlMaster or
// ControlPath (what ssh -G -v reports and the files it reads): theirs always wins. None too when
// ssh cannot tell or no safe folder for the socket can be made.
std::vector<std::string> connectionSharingOptions(const std::string& computer, unsigned seconds,
                                                  const std::string& sshProgram = "ssh");

// Whether a configuration file's text sets ControlMaster or ControlPath anywhere.
bool mentionsConnectionSharing(const std::string& configText);

// The folder for the shared connections' sockets: $XDG_RUNTIME_DIR/kestrava, else
// /tmp/kestrava-UID; made when missing; empty when it is not this user's alone.
std::string controlSocketFolder();

}  // namespace kestrava::query

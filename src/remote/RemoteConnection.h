#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/Connection.h"
#include "remote/RemoteLimits.h"
#include "remote/Transport.h"

namespace kestrava::remote {

class ClientSession;

// A connection to the management service of another computer, answered by kestrava-agent there.
// Opening it exchanges hellos (a version mismatch fails the connect, naming both versions);
// destroying it ends the transport and reaps its process. After the far side goes, every call
// fails with "The connection to NAME was lost"; a new connection starts afresh. A call that hears
// nothing from the far side within the silence limit fails, and ends the connection.
// Notification callbacks run on the connection's reader thread and must not call the
// connection back, except to cancel.
class RemoteConnection final : public Connection {
 public:
  // Connects over the transport; throws ComError with source SWbemLocator when it cannot. The
  // queries of readAhead travel with the hello, as readAhead() would send them after the connect.
  RemoteConnection(std::unique_ptr<Transport> transport, const std::string& computer,
                   RemoteLimits limits = {}, const std::vector<std::string>& readAhead = {});
  ~RemoteConnection() override;

  std::unique_ptr<ObjectStream> execQuery(std::string_view wql) override;
  ManagementObject getObject(std::string_view objectPath) override;
  Value execMethod(std::string_view objectPath, std::string_view method) override;
  SubscriptionId subscribe(std::string_view notificationQuery, EventCallback callback) override;
  void cancel(SubscriptionId id) override;
  void onLost(std::function<void(const ComError&)> callback) override;
  std::vector<SchemaPtr> classes() override;
  void readAhead(const std::vector<std::string>& queries) override;

  // The round trips this connection has cost its callers so far, the handshake's included (see
  // ClientSession::roundTrips).
  uint64_t roundTrips() const;

  // The process that carries the connection (ssh), or -1.
  int processId() const;

 private:
  std::shared_ptr<ClientSession> session_;
};

struct SshOptions {
  std::string sshProgram = "ssh";
  RemoteLimits limits;
  std::vector<std::string> sshArguments = {};  // more options for ssh, before the "--"
  std::vector<std::string> readAhead = {};     // queries sent with the hello
};

// Reaches kestrava-agent on the named computer through ssh. Refuses a name ssh could misread
// before anything runs. Throws ComError (source SWbemLocator) describing what went wrong.
std::unique_ptr<RemoteConnection> connectOverSsh(const std::string& computer,
                                                 const SshOptions& options = {});

}  // namespace kestrava::remote

#include "remote/RemoteConnection.h"

#include "remote/ClientSession.h"
#include "remote/SshTransport.h"

namespace kestrava::remote {

RemoteConnection::RemoteConnection(std::unique_ptr<Transport> transport,
                                   const std::string& computer, RemoteLimits limits,
                                   const std::vector<std::string>& readAhead)
    : session_(std::make_shared<ClientSession>(std::move(transport), computer, limits)) {
  session_->start(readAhead);
}

RemoteConnection::~RemoteConnection() {
  session_->close();
}

std::unique_ptr<ObjectStream> RemoteConnection::execQuery(std::string_view wql) {
  return session_->query(wql);
}

ManagementObject RemoteConnection::getObject(std::string_view objectPath) {
  return session_->get(objectPath);
}

Value RemoteConnection::execMethod(std::string_view objectPath, std::string_view method) {
  return session_->call(objectPath, method);
}

SubscriptionId RemoteConnection::subscribe(std::string_view notificationQuery,
                                           EventCallback callback) {
  return session_->subscribe(notificationQuery, std::move(callback));
}

void RemoteConnection::cancel(SubscriptionId id) {
  session_->cancel(id);
}

void RemoteConnection::onLost(std::function<void(const ComError&)> callback) {
  session_->onLost(std::move(callback));
}

void RemoteConnection::readAhead(const std::vector<std::string>& queries) {
  session_->readAhead(queries);
}

std::vector<SchemaPtr> RemoteConnection::classes() {
  return session_->classes();
}

uint64_t RemoteConnection::roundTrips() const {
  return session_->roundTrips();
}

int RemoteConnection::processId() const {
  return session_->processId();
}

std::unique_ptr<RemoteConnection> connectOverSsh(const std::string& computer,
                                                 const SshOptions& options) {
  auto transport =
      std::make_unique<SshTransport>(computer, options.sshProgram, options.sshArguments);
  return std::make_unique<RemoteConnection>(std::move(transport), computer, options.limits,
                                            options.readAhead);
}

}  // namespace kestrava::remote

#include "xmpp/sender.h"

namespace {

constexpr std::int32_t kStreamSocket = 1;

}  // namespace

TSender::TSender(const std::string& AUserName, const std::string& APassword)
    : Socket(std::make_unique<TSyncSocket>(kStreamSocket, true)), UserName(AUserName), Password(APassword) {
  // The liveness test must never eat a reply the session has yet to read.
  Socket->PeekOnTest = true;
}

TSender::~TSender() { TSender::Disconnect(); }

void TSender::SetErrorCode(std::int32_t Code) { ErrorCode = Code; }

bool TSender::Disconnect() {
  if (!Socket) return true;
  Socket->Close();
  return !Socket->IsConnected();
}

bool TSender::ConnectSocket(const std::string& Host, std::uint16_t HostPort) {
  Disconnect();
  Socket->Connect(Host, HostPort, 0);
  return Socket->IsConnected();
}

void TSender::SetAccount(const std::string& AUserName, const std::string& APassword) {
  if (AUserName == UserName && APassword == Password) return;
  Password = APassword;
  if (AUserName == UserName && Connected) return;
  const bool wasConnected = Connected;
  if (wasConnected) CloseSession();
  UserName = AUserName;
  if (wasConnected) Connect();
}

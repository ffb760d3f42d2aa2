#include "xmpp/sender.h"

namespace {

constexpr std::int32_t kStreamSocket = 1;

}  // namespace

TSender::TSender(const std::string& UserName, const std::string& Password)
    : Socket(std::make_unique<TSyncSocket>(kStreamSocket, true)), UserName(UserName), Password(Password) {
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

bool TSender::ConnectSocket(const std::string& Host, std::uint16_t Port) {
  Socket->Close();
  Socket->Connect(Host, Port, 0);
  return Socket->IsConnected();
}

void TSender::SetAccount(const std::string& UserName, const std::string& Password) {
  if (UserName == this->UserName && Password == this->Password) return;
  this->Password = Password;
  if (UserName == this->UserName && Connected) return;
  const bool wasConnected = Connected;
  if (wasConnected) CloseSession();
  this->UserName = UserName;
  if (wasConnected) Connect();
}

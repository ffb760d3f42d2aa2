// TSyncSocket's operations, written against the platform layer only.

#include "net/sync_socket.h"

#include "base/deadline.h"
#include "net/host_address.h"
#include "net/system_error.h"

namespace np = netplatform;

namespace {

// The operating-system family decides how a timed connect is finished; the
// system is asked once, at start-up.
const bool kNtFamily = np::IsNtFamily();

// How long the NT-family liveness test may wait for pending data.
constexpr std::int32_t kLivenessWaitMs = 5;

// The least share of a deadline one connect attempt gets: below it, a
// server on the far side of the world could not answer even when alive.
constexpr std::int32_t kLeastAttemptMs = 1000;

constexpr const char* kConnectingTo = "connecting to ";
constexpr const char* kHasNoV4 = " has no IPv4 address";
constexpr const char* kHasNoV6 = " has no IPv6 address";

bool OfFamilies(const np::Address& Address, TFamilies Families) {
  if (Families == TFamilies::Any) return true;
  return (Address.family == np::Family::V4) == (Families == TFamilies::V4Only);
}

// An attempt's time-out: an even share of what is left among the attempts
// still to come, within [kLeastAttemptMs, what is left]; 0 without a limit.
std::int32_t AttemptShare(const TDeadline& Deadline, std::size_t AttemptsLeft) {
  if (!Deadline.Limited()) return 0;
  const std::int32_t left = Deadline.Next();
  std::int32_t share = left / static_cast<std::int32_t>(AttemptsLeft > 0 ? AttemptsLeft : 1);
  if (share < kLeastAttemptMs) share = kLeastAttemptMs;
  return share < left ? share : left;
}

}  // namespace

// The first endpoint's failure, raised once no endpoint has connected.
struct TSyncSocket::TFirstFailure {
  bool Set = false;
  TConnectFailure Socket;      // a failed step, when Message is empty
  std::string Description;     // the resolver's own text for a failed look-up
  std::string Message;         // a failure of another kind, raised as it stands
  std::int32_t SharedMs = 0;   // an attempt's share that ran out
  std::string Address;         // ... and where it went
};

void TSyncSocket::ConnectToFirst(const std::vector<TEndpoint>& Endpoints, TFamilies Families,
                                 const TDeadline& Deadline, TConnectTrail& Trail) {
  Close();
  Trail = {};
  TFirstFailure first;
  for (std::size_t e = 0; e < Endpoints.size(); ++e) {
    const TEndpoint& endpoint = Endpoints[e];
    Trail.EndpointsTried = e + 1;
    std::vector<np::Address> addresses;
    np::ResolveFailure resolve;
    if (!ResolveHost(endpoint.Host, addresses, resolve)) {
      if (!first.Set) {
        first.Set = true;
        first.Socket = {sockErrResolve, resolve.number};
        first.Description = resolve.description.empty() ? SystemErrorText(resolve.number) : resolve.description;
      }
      continue;
    }
    std::erase_if(addresses, [Families](const np::Address& a) { return !OfFamilies(a, Families); });
    if (addresses.empty() && !first.Set) {
      first.Set = true;
      first.Message = std::string(SockErrorText(sockErrResolve)) + ". " + endpoint.Host +
                      (Families == TFamilies::V4Only ? kHasNoV4 : kHasNoV6);
    }
    for (std::size_t a = 0; a < addresses.size(); ++a) {
      Trail.Address = EndpointText(addresses[a], endpoint.Port);
      if (Deadline.Over()) throw EDeadlinePassed(Deadline.TimeoutMs(), kConnectingTo + Trail.Address);
      const std::int32_t share = AttemptShare(Deadline, addresses.size() - a + Endpoints.size() - e - 1);
      const TConnectFailure failure = TryConnect(addresses[a], endpoint.Port, share, true);
      if (failure.Code == 0) {
        if (FNonBlocking) {
          if (np::SetNonBlocking(FSocket, false) != 0) RaiseError(sockErrWinSock, np::LastError());
          FNonBlocking = false;
        }
        FLastWinSockError = 0;
        return;
      }
      const bool timedOut = share > 0 && failure.Code == sockErrConnect && failure.Number == 0;
      if (timedOut && Deadline.Over()) throw EDeadlinePassed(Deadline.TimeoutMs(), kConnectingTo + Trail.Address);
      if (first.Set) continue;
      first.Set = true;
      first.Socket = failure;
      if (timedOut) first.SharedMs = share, first.Address = Trail.Address;
    }
  }
  Close();
  if (!first.Message.empty()) throw EBaseError(first.Message);
  if (first.SharedMs > 0) throw EDeadlinePassed(first.SharedMs, kConnectingTo + first.Address);
  if (!first.Description.empty()) RaiseError(first.Socket.Code, first.Socket.Number, first.Description);
  RaiseError(first.Set ? first.Socket.Code : sockErrConnect, first.Socket.Number);
}


TSyncSocket::TSyncSocket(std::int32_t SocketType, bool StartWinSock) : FSocketType(SocketType) {
  if (StartWinSock) {
    int r = np::StartUp();
    if (r != 0) RaiseError(sockErrInit, r);
    FWinSockStarted = true;
  }
  FLastWinSockError = 0;
}

TSyncSocket::~TSyncSocket() {
  Close();
  if (FWinSockStarted) np::CleanUp();
}

void TSyncSocket::Connect(const std::string& Host, std::uint16_t Port, std::int32_t TimeoutMs) {
  if (FSocket != np::kInvalidSocket) Close();
  // The socket exists before the name is resolved, so a failed look-up
  // leaves it open but not connected. It is an IPv4 socket, for the family
  // tried first; an IPv6 address gets a socket of its own.
  FSocket = np::OpenSocket(FSocketType, np::Family::V4);
  if (FSocket == np::kInvalidSocket) RaiseError(sockErrCreate, np::LastError());
  FNonBlocking = false;

  // Raised from here, where nothing is left to clean up: a failed check is
  // the common case for a monitor, and unwinding is what it costs.
  const TConnectFailure failure = ConnectToHost(Host, Port, TimeoutMs);
  if (failure.Code != 0) RaiseError(failure.Code, failure.Number);

  if (FNonBlocking) {
    if (np::SetNonBlocking(FSocket, false) != 0) RaiseError(sockErrWinSock, np::LastError());
    FNonBlocking = false;
  }
  FLastWinSockError = 0;
}

// Resolves Host and tries its addresses; raises only when it has none.
TSyncSocket::TConnectFailure TSyncSocket::ConnectToHost(const std::string& Host, std::uint16_t Port,
                                                        std::int32_t TimeoutMs) {
  std::vector<np::Address> addresses;
  np::ResolveFailure failure;
  if (!ResolveHost(Host, addresses, failure)) {
    const std::string& own = failure.description;
    RaiseError(sockErrResolve, failure.number, own.empty() ? SystemErrorText(failure.number) : own);
  }
  return ConnectToAny(addresses, Port, TimeoutMs);
}

// Tries the addresses in turn until one connects; a time-out bounds all of
// them together. When none connects, the first one's failure is kept: the
// first is a name's IPv4 address where it has one (ResolveHost puts them
// first), so its reason is the one a person expects and can act on, while a
// later address (IPv6 on a network without it, say) mostly fails for a
// reason of its own.
TSyncSocket::TConnectFailure TSyncSocket::ConnectToAny(const std::vector<np::Address>& Addresses,
                                                       std::uint16_t Port, std::int32_t TimeoutMs) {
  const TDeadline deadline(TimeoutMs);
  TConnectFailure first{sockErrConnect, 0};  // kept only should there be no address at all
  for (std::size_t i = 0; i < Addresses.size(); ++i) {
    std::int32_t timeout = TimeoutMs;
    if (i > 0) {
      timeout = deadline.Next();
      if (deadline.Limited() && timeout < 0) break;
    }
    // The socket made before the look-up serves the first address if it is
    // IPv4; every other attempt needs a fresh socket of its address's family.
    const bool fresh = i > 0 || Addresses[i].family != np::Family::V4;
    const TConnectFailure failure = TryConnect(Addresses[i], Port, timeout, fresh);
    if (failure.Code == 0) return failure;
    if (i == 0) first = failure;
  }
  return first;
}

TSyncSocket::TConnectFailure TSyncSocket::TryConnect(const np::Address& Address, std::uint16_t Port,
                                                     std::int32_t TimeoutMs, bool FreshSocket) {
  if (FreshSocket) {
    Close();
    FSocket = np::OpenSocket(FSocketType, Address.family);
    if (FSocket == np::kInvalidSocket) return {sockErrCreate, np::LastError()};
    FNonBlocking = false;
  }
  if (FSocketType == 2 || TimeoutMs == 0) {
    if (np::Connect(FSocket, Address, Port) != 0) return {sockErrConnect, np::LastError()};
    FConnected = true;
    return {};
  }
  return ConnectTimed(Address, Port, TimeoutMs);
}

// Starts the connect in non-blocking mode and waits for it at most TimeoutMs.
// The socket is left in non-blocking mode; Connect switches it back.
TSyncSocket::TConnectFailure TSyncSocket::ConnectTimed(const np::Address& Address, std::uint16_t Port,
                                                       std::int32_t TimeoutMs) {
  if (np::SetNonBlocking(FSocket, true) != 0) return {sockErrWinSock, np::LastError()};
  FNonBlocking = true;
  // The attempt goes on in the background and the wait tells how it ended;
  // one that fails at once has its reason now and never shows it to the wait.
  if (np::StartConnect(FSocket, Address, Port) != 0) return {sockErrConnect, np::LastError()};

  if (kNtFamily) {
    int error = 0;
    int n = np::WaitConnect(FSocket, TimeoutMs, error);
    if (n == 0) return {sockErrConnect, 0};
    if (n != 1) return {sockErrConnect, error};
  } else {
    if (np::Wait(FSocket, np::WaitFor::Write, TimeoutMs) != 1) return {sockErrConnect, np::LastError()};
  }
  FConnected = true;
  return {};
}

void TSyncSocket::Close() noexcept {
  if (FSocket != np::kInvalidSocket) {
    FLastWinSockError = np::CloseSocket(FSocket);
    FSocket = np::kInvalidSocket;
  }
  if (FLastWinSockError != 0) FLastWinSockError = np::LastError();
  FConnected = false;
}

bool TSyncSocket::IsConnected() {
  if (!FConnected || FSocket == np::kInvalidSocket) return false;
  int n = np::Wait(FSocket, np::WaitFor::Read, kLivenessWaitMs);
  if (n == 0) return true;  // nothing pending: alive
  if (n != 1) return false;
  char probe[2];
  int r = PeekOnTest ? np::Peek(FSocket, probe, sizeof probe) : np::Receive(FSocket, probe, sizeof probe);
  return r > 0;
}

bool TSyncSocket::WaitForRead(std::int32_t TimeoutMs) { return WaitFor(np::WaitFor::Read, TimeoutMs); }

bool TSyncSocket::WaitForWrite(std::int32_t TimeoutMs) { return WaitFor(np::WaitFor::Write, TimeoutMs); }

bool TSyncSocket::WaitFor(np::WaitFor What, std::int32_t TimeoutMs) {
  int n = np::Wait(FSocket, What, TimeoutMs);
  FLastWinSockError = n == np::kSocketError ? np::LastError() : 0;
  return n == 1;
}

void TSyncSocket::SendBuffer(const void* Data, std::int32_t Length, std::int32_t TimeoutMs) {
  if (FSocket == np::kInvalidSocket) RaiseError(sockErrWinSock, 0);
  if (Length <= 0) return;  // a negative length is never passed; it sends nothing
  if (!WaitForWrite(TimeoutMs)) RaiseError(sockErrSend, FLastWinSockError);
  if (np::Send(FSocket, Data, Length) == np::kSocketError) RaiseError(sockErrSend, np::LastError());
}

void TSyncSocket::ReceiveText(std::int32_t TimeoutMs, std::string& Text) {
  // A failure leaves Text empty rather than holding a buffer of zero bytes.
  Text.clear();
  if (FSocket == np::kInvalidSocket) RaiseError(sockErrWinSock, 0);
  if (!WaitForRead(TimeoutMs)) RaiseError(sockErrRead, FLastWinSockError);
  Text.resize(kReceiveSize);
  int n = np::Receive(FSocket, Text.data(), kReceiveSize);
  if (n == np::kSocketError) {
    int error = np::LastError();
    Text.clear();
    RaiseError(sockErrRead, error);
  }
  Text.resize(static_cast<std::size_t>(n));
  if (n == 0) RaiseError(sockErrRead, 0);
}

void TSyncSocket::Send(std::string_view Data, std::int32_t TimeoutMs) {
  if (FSocket == np::kInvalidSocket) RaiseError(sockErrWinSock, 0);
  // TLS records must go out whole, so a short send is followed by the rest.
  std::size_t sent = 0;
  while (sent < Data.size()) {
    if (!WaitForWrite(TimeoutMs)) RaiseError(sockErrSend, FLastWinSockError);
    const int n = np::Send(FSocket, Data.data() + sent, static_cast<int>(Data.size() - sent));
    if (n == np::kSocketError) RaiseError(sockErrSend, np::LastError());
    sent += static_cast<std::size_t>(n);
  }
}

TByteStream::TReceived TSyncSocket::Receive(std::int32_t TimeoutMs, std::string& Into) {
  if (FSocket == np::kInvalidSocket) RaiseError(sockErrWinSock, 0);
  // A TLS server's session tickets would otherwise hold its next answer
  // until our delayed acknowledgement, some 40 ms and more.
  np::AcknowledgeAtOnce(FSocket);
  if (!WaitForRead(TimeoutMs)) {
    if (FLastWinSockError != 0) RaiseError(sockErrRead, FLastWinSockError);
    return TReceived::TimedOut;
  }
  char buffer[kReceiveSize];
  const int n = np::Receive(FSocket, buffer, kReceiveSize);
  if (n == np::kSocketError) RaiseError(sockErrRead, np::LastError());
  if (n == 0) return TReceived::Closed;
  Into.append(buffer, static_cast<std::size_t>(n));
  return TReceived::Data;
}

void TSyncSocket::RaiseError(std::int32_t Code, std::int32_t WinSockError) {
  RaiseError(Code, WinSockError, WinSockError != 0 ? SystemErrorText(WinSockError) : std::string());
}

void TSyncSocket::RaiseError(std::int32_t Code, std::int32_t WinSockError, const std::string& Description) {
  FLastErrorCode = Code;
  FLastWinSockError = WinSockError;
  throw EVHSyncSockError(Code, WinSockError, WinSockError != 0 ? Description : std::string());
}

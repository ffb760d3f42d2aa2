#pragma once
// TSyncSocket: a TCP client socket (IPv4 or IPv6) whose operations block the
// caller, each bounded by a time-out in milliseconds passed per call (0 waits
// without limit, -1 polls once). Every failure raises EVHSyncSockError with the code of
// the failed step; no failure closes the socket, the owner decides that.
//
// It is the plain socket alone: a conversation that wants TLS stacks a
// TTlsStream on it as a TByteStream.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/deadline.h"
#include "net/byte_stream.h"
#include "net/platform.h"
#include "net/sock_error.h"

// A place to connect to: a host as TSyncSocket::Connect takes it, and a port.
struct TEndpoint {
  std::string Host;
  std::uint16_t Port = 0;
};

// The address families a connect may use.
enum class TFamilies { Any, V4Only, V6Only };

// How far a connect over several endpoints got, for the caller's messages.
struct TConnectTrail {
  std::size_t EndpointsTried = 0;  // endpoints looked up and tried, whatever came of it
  std::string Address;             // the last attempt's address and port, "192.0.2.7:5222"
};

class TSyncSocket : public TByteStream {
 public:
  // SocketType 1 is a stream socket, 2 a datagram socket. With StartWinSock
  // the object starts the socket library and ends its use again when it is
  // destroyed; raises sockErrInit when the library cannot be started.
  TSyncSocket(std::int32_t SocketType, bool StartWinSock);
  // Closes the socket and ends this object's use of the socket library.
  ~TSyncSocket() override;

  TSyncSocket(const TSyncSocket&) = delete;
  TSyncSocket& operator=(const TSyncSocket&) = delete;

  // Closes any open socket, creates a new one and connects it to Host and
  // Port. Host is a dotted IPv4 address, an IPv6 address (bare or in
  // brackets) or a name; a name's addresses are tried in turn, IPv4 ones
  // first, and when none connects the first one's failure is raised.
  // TimeoutMs 0 is a plain blocking connect per address; any other value
  // bounds the whole connect by switching to non-blocking mode.
  void Connect(const std::string& Host, std::uint16_t Port, std::int32_t TimeoutMs);
  // Closes any open socket and connects to the first address that accepts:
  // Endpoints in order, each one's addresses in Connect's order, only those
  // of Families. The attempts share Deadline: each gets what is left divided
  // by the attempts still to come, at least a second and at most what is
  // left, so that a silent address cannot use up the time of a live one; an
  // unlimited Deadline lets each attempt wait as the system lets it. When
  // none connects it raises the first endpoint's failure (an attempt that
  // used up its share as EDeadlinePassed with that share), or EDeadlinePassed
  // with the whole limit once Deadline has passed. An endpoint whose name
  // has no address of Families fails as a look-up.
  void ConnectToFirst(const std::vector<TEndpoint>& Endpoints, TFamilies Families, const TDeadline& Deadline,
                      TConnectTrail& Trail);
  // Closes the socket if there is one; never raises.
  void Close() noexcept override;
  // Liveness test that costs at most 5 ms: false before Connect, after Close
  // and once the peer has closed. Without PeekOnTest it consumes up to 2
  // received bytes.
  bool IsConnected();
  // True when the socket becomes readable (writable) within TimeoutMs.
  bool WaitForRead(std::int32_t TimeoutMs);
  bool WaitForWrite(std::int32_t TimeoutMs);
  // Waits for writability, then one send of Data; a short send is not resent.
  void SendBuffer(const void* Data, std::int32_t Length, std::int32_t TimeoutMs);
  // Replaces Text with what one receive delivers, at most 20480 bytes; waits
  // for data at most TimeoutMs. A closed peer raises sockErrRead.
  void ReceiveText(std::int32_t TimeoutMs, std::string& Text);

  // The plain socket's bytes. Send sends all of Data, each wait for
  // writability bounded by TimeoutMs; Receive waits at most TimeoutMs and
  // appends what one receive delivers, at most kReceiveSize bytes. Failures
  // raise sockErrSend and sockErrRead with the system's reason; without a
  // socket, sockErrWinSock.
  void Send(std::string_view Data, std::int32_t TimeoutMs) override;
  TReceived Receive(std::int32_t TimeoutMs, std::string& Into) override;

  // IsConnected peeks at pending bytes instead of consuming them.
  bool PeekOnTest = false;

  // Read access to the state, for owners that need it and for tests.
  bool Connected() const { return FConnected; }
  netplatform::SocketHandle Socket() const { return FSocket; }

  // Largest chunk one ReceiveText returns.
  static constexpr std::int32_t kReceiveSize = 20480;

 private:
  // How one connect attempt failed: the code and error number it raises
  // with should it be the one reported. Code 0: it connected.
  struct TConnectFailure {
    std::int32_t Code = 0;
    std::int32_t Number = 0;
  };
  struct TFirstFailure;
  bool WaitFor(netplatform::WaitFor What, std::int32_t TimeoutMs);
  TConnectFailure ConnectToHost(const std::string& Host, std::uint16_t Port, std::int32_t TimeoutMs);
  TConnectFailure ConnectToAny(const std::vector<netplatform::Address>& Addresses, std::uint16_t Port,
                               std::int32_t TimeoutMs);
  // One attempt, on the socket there is or on a fresh one of the address's
  // family.
  TConnectFailure TryConnect(const netplatform::Address& Address, std::uint16_t Port, std::int32_t TimeoutMs,
                             bool FreshSocket);
  TConnectFailure ConnectTimed(const netplatform::Address& Address, std::uint16_t Port, std::int32_t TimeoutMs);
  // Records Code and WinSockError and raises; the description is the
  // system's text for WinSockError, or empty when it is 0.
  [[noreturn]] void RaiseError(std::int32_t Code, std::int32_t WinSockError);
  // As above with a description the caller has (a resolver's own text).
  [[noreturn]] void RaiseError(std::int32_t Code, std::int32_t WinSockError, const std::string& Description);

  bool FConnected = false;
  netplatform::SocketHandle FSocket = netplatform::kInvalidSocket;
  std::int32_t FSocketType;
  std::int32_t FLastErrorCode = 0;
  std::int32_t FLastWinSockError = 0;
  bool FNonBlocking = false;
  bool FWinSockStarted = false;
};

#pragma once
// TSender: the abstract base of a message sender that talks to one server
// over one socket of its own. It holds what every sender needs whatever its
// protocol (server, account, time-outs, session flags, the last error) and
// does the socket-level work; the protocol is the derived class's.

#include <cstdint>
#include <memory>
#include <string>

#include "net/sync_socket.h"

class TSender {
 public:
  // Creates the sender's socket, which starts the socket library; raises
  // EVHSyncSockError (sockErrInit) when that fails.
  TSender(const std::string& AUserName, const std::string& APassword);
  // Disconnects without a word to the server and frees the socket.
  virtual ~TSender();

  TSender(const TSender&) = delete;
  TSender& operator=(const TSender&) = delete;

  // Remembers the code of the last session error.
  virtual void SetErrorCode(std::int32_t Code);
  // Reads one reply, waiting at most TimeoutMs, and reacts to it.
  virtual void WaitResponse(std::int32_t TimeoutMs) = 0;
  // Closes the socket; true when it is closed afterwards. Never raises.
  virtual bool Disconnect();
  // Connects and opens the protocol session; returns only once it is
  // established, raises otherwise.
  virtual void Connect() = 0;
  // Ends the session and disconnects; never raises.
  virtual void CloseSession() = 0;
  // Sends a message and waits for its delivery to be confirmed.
  virtual void SendMessage(const std::string& Recipient, const std::string& Body) = 0;
  // Changes the account. A new user name ends an open session and opens a
  // new one; a new password alone takes effect at the next login.
  virtual void SetAccount(const std::string& AUserName, const std::string& APassword);

  // Drops any open socket, connects it anew with a plain blocking connect
  // and returns the socket's liveness test.
  bool ConnectSocket(const std::string& Host, std::uint16_t HostPort);

  std::unique_ptr<TSyncSocket> Socket;
  std::string Server;
  std::uint16_t Port = 0;
  std::int32_t ErrorCode = 0;           // code of the last session error; never reset
  std::int32_t ResponseTimeout = 60000;  // ms per reply while a session opens or closes
  std::int32_t ConfirmTimeout = 5000;    // ms per reply while a message awaits confirmation
  bool Connected = false;                // the protocol session is established
  bool Confirmed = false;                // the last message was confirmed as delivered
  std::string UserName;
  std::string Password;
  std::string LastError;                 // message of the last failure the sender caught
};

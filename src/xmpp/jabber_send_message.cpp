// TJabberSend's established session: sending a message and waiting for its
// confirmation, and closing the session.

#include "base/base_error.h"
#include "net/sock_error.h"
#include "text/out_buffer.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"
#include "xmpp/reply_deadline.h"
#include "xmpp/stanzas.h"

void TJabberSend::CloseSession() {
  try {
    if (Connected) {
      TOutBuffer buffer;
      BuildStreamClose(buffer);
      SendStanza(buffer);
      Closing = true;
      const TReplyDeadline deadline(ResponseTimeout, Deadline);
      while (Connected) WaitResponse(deadline.Next());
    }
  } catch (const std::exception&) {
    // A session that cannot be closed politely is closed all the same.
    Connected = false;
  }
  Closing = false;
  ProbeMode = false;
  Disconnect();
}

void TJabberSend::SendMessage(const std::string& ARecipient, const std::string& Body) {
  try {
    Confirmed = false;
    LastError.clear();
    MessageBody = Body;
    Recipient = ARecipient;
    // The socket is closed by now; failing at it would only say "Winsock error".
    if (!Connected && FEndedByServer) RaiseSendError(FEndedCode, TJabberReason::SessionEnded, FEndedBy);
    FMessageId = MessageId(StanzaCounter);
    TOutBuffer buffer;
    BuildMessage(buffer, ARecipient, Body, StanzaCounter);
    SendStanza(buffer);
    const TReplyDeadline deadline(ConfirmTimeout);
    while (!Confirmed) WaitResponse(deadline.Next());
  } catch (const EVHSyncSockError& failure) {
    if (failure.Code != sockErrRead) {
      LastError = MessageOf(failure);
      throw;
    }
    // Silence, a closed connection or a failed receive: nothing confirmed.
    LastError = JabberErrorText(jabberErrNotConfirmed);
    ErrorCode = jabberErrNotConfirmed;
  } catch (const EJabberSendError& failure) {
    LastError = MessageOf(failure);
  } catch (const std::exception& failure) {
    LastError = MessageOf(failure);
    throw;
  }
}

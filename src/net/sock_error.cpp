// Socket error codes, their texts and the composition of the message.

#include "net/sock_error.h"

namespace {

// Indexed by Code + 7, from sockErrWinSock to sockErrTimeout.
const char* const kSockErrorTexts[] = {
    "Winsock error",                           // -7
    "Connection error",                        // -6
    "Cannot read data",                        // -5
    "Cannot send data",                        // -4
    "Cannot create socket",                    // -3
    "Cannot resolve host name to IP address",  // -2
    "Cannot init WinSock",                     // -1
    "Timeout",                                 //  0
};

std::string ComposeMessage(std::int32_t Code, std::int32_t WinSockError, const std::string& Description) {
  std::string text = SockErrorText(Code);
  if (WinSockError != 0 && !Description.empty()) text += ". " + Description;
  return text;
}

}  // namespace

const char* SockErrorText(std::int32_t Code) {
  if (Code < sockErrWinSock || Code > sockErrTimeout) Code = sockErrWinSock;
  return kSockErrorTexts[Code - sockErrWinSock];
}

EVHSyncSockError::EVHSyncSockError(std::int32_t ACode, std::int32_t AWinSockError, const std::string& ADescription)
    : EBaseError(ComposeMessage(ACode, AWinSockError, ADescription)),
      Code(ACode),
      WinSockError(AWinSockError),
      Description(ADescription) {}

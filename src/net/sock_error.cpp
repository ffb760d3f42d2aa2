// Socket error codes, their texts and the composition of the message.

#include "net/sock_error.h"

#include "base/code_text.h"

namespace {

const TCodeText kTexts[] = {
    {sockErrWinSock, "Winsock error"},
    {sockErrConnect, "Connection error"},
    {sockErrRead, "Cannot read data"},
    {sockErrSend, "Cannot send data"},
    {sockErrCreate, "Cannot create socket"},
    {sockErrResolve, "Cannot resolve host name to IP address"},
    {sockErrInit, "Cannot init WinSock"},
    {sockErrTimeout, "Timeout"},
};

std::string ComposeMessage(std::int32_t Code, std::int32_t WinSockError, const std::string& Description) {
  std::string text = SockErrorText(Code);
  if (WinSockError != 0 && !Description.empty()) text += ". " + Description;
  return text;
}

}  // namespace

const char* SockErrorText(std::int32_t Code) { return TextOf(kTexts, Code, sockErrWinSock); }

EVHSyncSockError::EVHSyncSockError(std::int32_t ACode, std::int32_t AWinSockError, const std::string& ADescription)
    : EBaseError(ComposeMessage(ACode, AWinSockError, ADescription)),
      Code(ACode),
      WinSockError(AWinSockError),
      Description(ADescription) {}

// The texts of the socket's steps.

#include "net/sock_error.h"

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

}  // namespace

constinit const TErrorFamily kSockErrors{kTexts, sockErrWinSock, ". {}"};

// Without an error number there is nothing the description could explain.
EVHSyncSockError::EVHSyncSockError(std::int32_t ACode, std::int32_t AWinSockError, const std::string& ADescription)
    : ECodedError(kSockErrors, ACode, {}, AWinSockError != 0 ? ADescription : std::string()),
      WinSockError(AWinSockError),
      Description(ADescription) {}

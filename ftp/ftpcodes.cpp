#include "ftp/ftpcodes.h"

#include "platform/winsock.h"

namespace kv {

using namespace platform;

std::string_view DefaultInfoText(FtpInfo info) {
  switch (info) {
    case ftpInfoNotConnected: return "Not connected to the server";
    case ftpInfoBusy: return "The component is busy doing something";
    case ftpInfoResumable: return "This site can resume broken downloads/uploads";
    case ftpInfoLoggedIn: return "Logged in";
    case ftpInfoNotResumable: return "This site cannot resume broken downloads/uploads";
    case ftpInfoRetrying: return "Retrying...";
    case ftpInfoNothingToDo: return "I am afraid I have nothing to do";
    case ftpInfoRetryFinished: return "Retry Finished";
    default: return {};
  }
}

std::string_view ErrorTextOf(FtpError error) {
  switch (error) {
    case ftpErrNetworkDown: return "Network down";
    case ftpErrInvalidAddress: return "Invalid address specified";
    case ftpErrGeneral: return "General Winsock Error";
    case ftpErrAborted: return "Connection aborted due to timeout or other failure";
    case ftpErrReset: return "Connection reset by remote side";
    case ftpErrTimedOut: return kTextTimedOut;
    case ftpErrNoSockets: return "Out of sockets";
    case ftpErrNetUnreachable: return "Network unreachable";
    case ftpErrAddressNotAvailable: return "Address not available";
    case ftpErrRefused: return "Connection Refused";
    case ftpErrLookup: return "Address resolution error";
    case ftpErrHostUnreachable: return "Host unreachable";
    case ftpErrCommandRefused: return kTextAccessDenied;
    default: return {};
  }
}

SocketFailure FailureOfSocketError(int winSockError) {
  const auto known = [](FtpError code) { return SocketFailure{code, std::string(ErrorTextOf(code))}; };
  switch (winSockError) {
    case WSAENETDOWN: return known(ftpErrNetworkDown);
    case WSAEACCES: return known(ftpErrInvalidAddress);
    case WSAEINVAL: return {ftpErrWinSock, {}};
    case WSAENETRESET:
    case WSAENOBUFS: return known(ftpErrGeneral);
    case WSAECONNABORTED: return known(ftpErrAborted);
    case WSAECONNRESET: return known(ftpErrReset);
    case WSAETIMEDOUT: return known(ftpErrTimedOut);
    case WSAEMFILE: return known(ftpErrNoSockets);
    case WSAENETUNREACH: return known(ftpErrNetUnreachable);
    case WSAEADDRNOTAVAIL: return known(ftpErrAddressNotAvailable);
    case WSAECONNREFUSED: return known(ftpErrRefused);
    case WSAHOST_NOT_FOUND:
    case WSATRY_AGAIN:
    case WSANO_RECOVERY:
    case WSANO_DATA: return known(ftpErrLookup);
    case WSAEHOSTUNREACH: return known(ftpErrHostUnreachable);
    default:
      return {ftpErrWinSock,
              "Unexpected internal error in component (WinSock Error Code: " + std::to_string(winSockError) + ")"};
  }
}

}  // namespace kv

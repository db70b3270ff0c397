#pragma once
// The FTP component's report codes. Their numbers are the interface (log
// views and the copy engine compare them); the member names are ours.
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// What an info report is about.
enum FtpInfo : uint8_t {
  ftpInfoConnected = 0,      // the server's dotted address
  ftpInfoNotConnected = 1,   // refused operation, or "Disconnected"
  ftpInfoResolving = 2,      // the host name
  ftpInfoReceived = 3,       // raw control text
  ftpInfoSent = 4,           // a command line (passwords masked)
  ftpInfoBusy = 5,
  ftpInfoResumable = 6,
  ftpInfoDebug = 7,          // a log view shows it as a debug line; the component never reports it
  ftpInfoProgress = 8,
  ftpInfoTransferDone = 10,
  ftpInfoListingClosed = 11,
  ftpInfoLoggedIn = 12,
  ftpInfoSize = 13,
  ftpInfoListing = 14,
  ftpInfoEntryFound = 15,
  ftpInfoMultiLine = 16,
  ftpInfoNotResumable = 17,
  ftpInfoRetrying = 18,
  ftpInfoResolved = 19,
  ftpInfoNothingToDo = 20,
  ftpInfoRetryFinished = 21,
};

// What failed.
enum FtpError : uint8_t {
  ftpErrQuitRefused = 0,
  ftpErrNetworkDown = 1,
  ftpErrInvalidAddress = 2,
  ftpErrWinSock = 3,
  ftpErrGeneral = 4,
  ftpErrAborted = 5,
  ftpErrReset = 6,
  ftpErrTimedOut = 7,
  ftpErrNoSockets = 8,
  ftpErrNetUnreachable = 9,
  ftpErrAddressNotAvailable = 10,
  ftpErrRefused = 11,
  ftpErrStepRefused = 12,  // TYPE, PASV, PORT, PWD, SITE or a data step
  ftpErrLookup = 15,
  ftpErrHostUnreachable = 17,
  ftpErrNoServer = 18,
  ftpErrLocalOpen = 20,
  ftpErrLocalWrite = 21,
  ftpErrLocalRead = 22,
  ftpErrNoRemoteName = 23,
  ftpErrWelcomeRefused = 25,  // also HOST and OPEN
  ftpErrLoginRefused = 26,    // USER, PASS, ACCT or the proxy login
  ftpErrDataConnection = 27,
  ftpErrResume = 28,
  ftpErrCommandRefused = 29,
};

// What OnFtpNeedInfo asks for.
enum TMFtpInfoNeeded : uint8_t {
  niAccount = 0,
  niServer = 1,
  niLocalFile = 2,
  niResume = 3,
  niPassword = 4,
  niUser = 5,
};

inline constexpr std::string_view kTextDisconnected = "Disconnected";
inline constexpr std::string_view kTextTimedOut = "Connection timed out";
inline constexpr std::string_view kTextAccessDenied = "Access denied or file not found";
inline constexpr std::string_view kTextCannotResumeFile = "I don't know how to resume this file, I will overwrite it";
inline constexpr std::string_view kTextResumeDownloadFailed = "Failed to resume downloading file";
inline constexpr std::string_view kTextResumeUploadFailed = "Failed to resume uploading file";

// The text an info report carries when its caller gives none (empty for
// most codes).
std::string_view DefaultInfoText(FtpInfo info);

// The error a WinSock number stands for, with its text.
struct SocketFailure {
  FtpError code;
  std::string text;
};
SocketFailure FailureOfSocketError(int winSockError);
// The text of an error code raised without a WinSock number (empty for
// codes that have none).
std::string_view ErrorTextOf(FtpError error);

}  // namespace kv

#pragma once
// Sending a mail as the system's simple mail interface did: one message with
// a subject, a plain-text body, recipients and attached files, handed to the
// machine's mail system, with that interface's result codes.
//
// Here the mail system is a sendmail-compatible program: "/usr/sbin/sendmail
// -t -i", or the command line in the environment variable KESTROVANE_SENDMAIL
// (split as a shell splits it, never run through a shell). It gets the whole
// MIME message on its standard input and takes the recipients from the
// message's headers, so no address ever stands on a command line. It has
// kMailTimeLimit to read the message and end; then it is killed and the send
// has failed. Every failure is also written to standard error, since nobody
// else hears of it.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::platform {

// Result codes.
inline constexpr uint32_t SUCCESS_SUCCESS = 0;
inline constexpr uint32_t MAPI_E_FAILURE = 2;        // the mail program failed, ended badly or hung
inline constexpr uint32_t MAPI_E_LOGON_FAILURE = 3;  // no mail program could be started
inline constexpr uint32_t MAPI_E_ATTACHMENT_NOT_FOUND = 11;
inline constexpr uint32_t MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
inline constexpr uint32_t MAPI_E_BAD_RECIPTYPE = 15;
inline constexpr uint32_t MAPI_E_INVALID_RECIPS = 25;  // none, or an address that could forge headers

// Recipient classes.
inline constexpr uint32_t MAPI_ORIG = 0;
inline constexpr uint32_t MAPI_TO = 1;
inline constexpr uint32_t MAPI_CC = 2;
inline constexpr uint32_t MAPI_BCC = 3;

// Flags; nothing is ever shown, so they change nothing here.
inline constexpr uint32_t MAPI_LOGON_UI = 0x1;
inline constexpr uint32_t MAPI_NEW_SESSION = 0x2;

struct MapiRecipDesc {
  uint32_t recipClass = MAPI_TO;
  std::string address;  // refused when it holds CR, LF or NUL
};

struct MapiFileDesc {
  std::string pathName;  // Windows path of the file to attach
  std::string fileName;  // name the recipient sees; "" = the path's file name
};

struct MapiMessage {
  std::string subject;
  std::string noteText;  // the body, UTF-8
  std::vector<MapiRecipDesc> recips;
  std::vector<MapiFileDesc> files;
};

inline constexpr std::chrono::milliseconds kMailTimeLimit{60000};
inline constexpr const char* kSendmailVariable = "KESTROVANE_SENDMAIL";
inline constexpr const char* kDefaultSendmail = "/usr/sbin/sendmail -t -i";

// Builds the message (text/plain in UTF-8, each file a base64 attachment)
// and pipes it to the mail program. `limit` replaces kMailTimeLimit (tests).
uint32_t MAPISendMail(const MapiMessage& message, uint32_t flags, std::chrono::milliseconds limit = kMailTimeLimit);

}  // namespace kv::platform

#include "platform/mail.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string_view>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace kv::platform {
namespace {

constexpr size_t kBodyLineLength = 76;
// Source bytes per encoded word, so that a word stays within 75 characters.
constexpr size_t kEncodedWordBytes = 45;

// MIME base64; lineLength 0 writes one line without a line end.
std::string Base64(std::string_view bytes, size_t lineLength) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(bytes.size() / 3 * 4 + bytes.size() / 48 + 8);
  size_t column = 0;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (left > 1) n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (left > 2) n |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += left > 1 ? kAlphabet[(n >> 6) & 63] : '=';
    out += left > 2 ? kAlphabet[n & 63] : '=';
    column += 4;
    if (lineLength != 0 && column >= lineLength) {
      out += '\n';
      column = 0;
    }
  }
  if (lineLength != 0 && column != 0) out += '\n';
  return out;
}

bool IsPlainHeaderText(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// Anything but printable ASCII goes into encoded words, which can carry
// neither a line break nor a header of their own.
std::string HeaderText(std::string_view text) {
  if (IsPlainHeaderText(text)) return std::string(text);
  std::string out;
  while (!text.empty()) {
    size_t take = Utf8PrefixLength(text, kEncodedWordBytes);
    if (take == 0) take = 1;
    if (!out.empty()) out += "\n ";
    out += "=?UTF-8?B?" + Base64(text.substr(0, take), 0) + "?=";
    text.remove_prefix(take);
  }
  return out;
}

std::string FileNameParameter(std::string_view name) {
  if (IsPlainHeaderText(name) && name.find_first_of("\"\\") == std::string_view::npos) {
    return "filename=\"" + std::string(name) + "\"";
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "filename*=UTF-8''";
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                       std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::string DateHeader() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const time_t now = std::time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  const long offset = local.tm_gmtoff / 60;
  const long magnitude = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday], local.tm_mday,
                kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

std::string NewBoundary() {
  // "=_" never occurs in base64 text, so no part can end the message early.
  std::random_device random;
  char text[40];
  std::snprintf(text, sizeof text, "=_kestrovane_%08x%08x", random(), random());
  return text;
}

// An address that could add a header or a recipient of its own is refused.
bool IsSafeAddress(std::string_view address) {
  return !address.empty() && address.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

struct Built {
  uint32_t result = SUCCESS_SUCCESS;
  std::string why;
  std::string mime;
};

uint32_t CollectRecipients(const MapiMessage& message, std::string (&lists)[3], std::string& why) {
  for (const MapiRecipDesc& recip : message.recips) {
    if (recip.recipClass < MAPI_TO || recip.recipClass > MAPI_BCC) {
      why = "Empfängerart " + std::to_string(recip.recipClass) + " ist unbekannt";
      return MAPI_E_BAD_RECIPTYPE;
    }
    if (!IsSafeAddress(recip.address)) {
      why = "die Empfängeradresse ist leer oder enthält einen Zeilenumbruch oder ein Nullzeichen";
      return MAPI_E_INVALID_RECIPS;
    }
    std::string& list = lists[recip.recipClass - MAPI_TO];
    if (!list.empty()) list += ", ";
    list += recip.address;
  }
  if (lists[0].empty() && lists[1].empty() && lists[2].empty()) {
    why = "die Nachricht hat keinen Empfänger";
    return MAPI_E_INVALID_RECIPS;
  }
  return SUCCESS_SUCCESS;
}

std::string TextPart(const std::string& text) {
  return "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n\n" +
         Base64(text, kBodyLineLength);
}

uint32_t AppendAttachment(const MapiFileDesc& file, const std::string& boundary, std::string& mime,
                          std::string& why) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(file.pathName, bytes)) {
    const int err = GetLastError();
    why = "Anhang " + Quoted(file.pathName) + ": " + SysErrorMessage(err);
    return FileExists(file.pathName) ? MAPI_E_ATTACHMENT_OPEN_FAILURE : MAPI_E_ATTACHMENT_NOT_FOUND;
  }
  const std::string name = file.fileName.empty() ? ExtractFileName(file.pathName) : file.fileName;
  mime += "--" + boundary + "\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n";
  mime += "Content-Disposition: attachment; " + FileNameParameter(name) + "\n\n";
  mime += Base64(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), kBodyLineLength);
  return SUCCESS_SUCCESS;
}

Built BuildMimeMessage(const MapiMessage& message) {
  Built built;
  std::string lists[3];
  built.result = CollectRecipients(message, lists, built.why);
  if (built.result != SUCCESS_SUCCESS) return built;
  std::string& mime = built.mime;
  mime = "MIME-Version: 1.0\nDate: " + DateHeader() + "\nSubject: " + HeaderText(message.subject) + "\n";
  static constexpr const char* kHeaders[] = {"To", "Cc", "Bcc"};
  for (int i = 0; i < 3; ++i) {
    if (!lists[i].empty()) mime += std::string(kHeaders[i]) + ": " + lists[i] + "\n";
  }
  if (message.files.empty()) {
    mime += TextPart(message.noteText);
    return built;
  }
  const std::string boundary = NewBoundary();
  mime += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n";
  mime += "--" + boundary + "\n" + TextPart(message.noteText);
  for (const MapiFileDesc& file : message.files) {
    built.result = AppendAttachment(file, boundary, mime, built.why);
    if (built.result != SUCCESS_SUCCESS) return built;
  }
  mime += "--" + boundary + "--\n";
  return built;
}

uint32_t Failed(uint32_t code, const MapiMessage& message, const std::string& why) {
  std::string to;
  for (const MapiRecipDesc& recip : message.recips) to += (to.empty() ? "" : ", ") + recip.address;
  // The address may be the very text that was refused.
  std::fprintf(stderr, "Kestrovane: Mail an \"%s\" nicht gesendet (Fehler %u): %s\n", OneLine(to).c_str(), code,
               why.c_str());
  return code;
}

}  // namespace

uint32_t MAPISendMail(const MapiMessage& message, uint32_t, std::chrono::milliseconds limit) {
  const Built built = BuildMimeMessage(message);
  if (built.result != SUCCESS_SUCCESS) return Failed(built.result, message, built.why);

  const char* configured = std::getenv(kSendmailVariable);
  const std::string commandLine = configured && *configured ? configured : kDefaultSendmail;
  const std::optional<std::vector<std::string>> argv = ShellSplit(commandLine);
  if (!argv || argv->empty()) {
    return Failed(MAPI_E_LOGON_FAILURE, message, "das Mailprogramm " + Quoted(commandLine) + " ist ungültig");
  }
  const LimitedRun run = SpawnWithInputLimited(*argv, built.mime, limit);
  const std::string program = Quoted(argv->front());
  if (!run.started) {
    return Failed(MAPI_E_LOGON_FAILURE, message,
                  "das Mailprogramm " + program + " kann nicht gestartet werden: " + SysErrorMessage(GetLastError()));
  }
  if (run.timedOut) {
    return Failed(MAPI_E_FAILURE, message,
                  "das Mailprogramm " + program + " hat nach " + std::to_string((limit.count() + 999) / 1000) +
                      " s nicht geendet und wurde abgebrochen");
  }
  if (run.exitStatus != 0) {
    return Failed(MAPI_E_FAILURE, message,
                  "das Mailprogramm " + program + " endete mit dem Status " + std::to_string(run.exitStatus));
  }
  return SUCCESS_SUCCESS;
}

}  // namespace kv::platform

#include "ftp/ftpmsg.h"

#include <array>

#include "platform/text.h"
#include "platform/ui/viewfactory.h"

namespace kv {

using namespace platform;

namespace {

constexpr ui::ViewFactorySlot<MessengerViewFactory> kViewFactory("kv.ftp.TMFtpMessenger");

constexpr size_t kIndent = 12;

struct KindLook {
  std::string_view prefix;  // classic style
  uint32_t classic;
  uint32_t other;
};

constexpr std::array<KindLook, 6> kKinds{{
    {"COMMAND:>   ", kColorGreen, kColorBlue},
    {"DEBUG:>     ", kColorRed, kColorRed},
    {"ERROR:>     ", kColorRed, kColorRed},
    {"Exception:> ", kColorRed, kColorRed},
    {"            ", kColorBlack, kColorGreen},
    {"STATUS:>    ", kColorBlue, kColorPurple},
}};

const KindLook* LookOf(MessageKind kind) {
  const auto index = static_cast<size_t>(kind);
  return index < kKinds.size() ? &kKinds[index] : nullptr;
}

// The parts of a text between its line ends (CR LF, or LF alone).
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> parts;
  for (;;) {
    const size_t lf = text.find('\n');
    std::string_view part = text.substr(0, lf);
    if (!part.empty() && part.back() == '\r') part.remove_suffix(1);
    parts.emplace_back(part);
    if (lf == std::string_view::npos) return parts;
    text.remove_prefix(lf + 1);
  }
}

}  // namespace

MessengerViewFactory SetMessengerViewFactory(MessengerViewFactory factory) {
  return kViewFactory.Exchange(std::move(factory));
}

TMFtpMessenger::TMFtpMessenger(MessengerOptions options)
    : options_(std::move(options)), channel_(MessengerChannel::Create(kMessengerMaxLines)) {
  channel_->SetLook({});
  if (options_.hidden) return;
  if (const MessengerViewFactory factory = kViewFactory.Get()) view_ = factory(channel_);
}

TMFtpMessenger::~TMFtpMessenger() { Detach(); }

TMFtp* TMFtpMessenger::Client() const { return clientPresence_.expired() ? nullptr : client_; }

void TMFtpMessenger::SetClient(TMFtp* client) {
  if (client != nullptr && client == Client()) return;
  Detach();
  if (client == nullptr) return;
  client_ = client;
  clientPresence_ = client->Presence();
  infoSlot_ = client->AddInfoListener(
      [this](TMFtp& sender, FtpInfo info, const std::string& text) { InfoReceived(sender, info, text); });
  errorSlot_ = client->AddErrorListener(
      [this](TMFtp& sender, FtpError error, const std::string& text) { ErrorReceived(sender, error, text); });
}

void TMFtpMessenger::Detach() {
  if (TMFtp* client = Client()) {
    client->RemoveListener(infoSlot_);
    client->RemoveErrorListener(errorSlot_);
  }
  client_ = nullptr;
  clientPresence_.reset();
  infoSlot_ = errorSlot_ = -1;
}

void TMFtpMessenger::SetStyle(TMessengerStyle style) {
  style_ = style;
  MessengerLook look = channel_->CurrentLook();
  look.font = style == msgClassic ? kClassicFont : kPlainFont;
  look.fixedPitch = style == msgClassic;
  channel_->SetLook(std::move(look));
}

void TMFtpMessenger::SetAutoScroll(bool on) {
  autoScroll_ = on;
  MessengerLook look = channel_->CurrentLook();
  look.autoScroll = on;
  channel_->SetLook(std::move(look));
}

void TMFtpMessenger::InfoReceived(TMFtp& sender, FtpInfo info, const std::string& text) {
  bool show = true;
  if (OnMessageShow) OnMessageShow(*this, info, show);
  if (!show) return;
  switch (info) {
    case ftpInfoConnected: {
      const std::string& server = sender.Server();
      std::string who = server;
      if (server.empty() && text.empty())
        who = "specified server";
      else if (server.empty() || server == text)
        who = text;
      else if (!text.empty())
        who = server + "(ip: " + text + ")";
      ShowStatus("Connected to " + who + ", waiting for welcome message\r\n");
      connectionShown_ = true;
      break;
    }
    case ftpInfoNotConnected:
      if (!connectionShown_) break;
      ShowStatus("Disconnected\r\n");
      connectionShown_ = false;
      break;
    case ftpInfoReceived: ShowLine(text, MessageKind::Reply); break;
    case ftpInfoSent: ShowLine(text, MessageKind::Command); break;
    case ftpInfoResumable:
    case ftpInfoNotResumable:
    case ftpInfoRetrying:
    case ftpInfoNothingToDo: ShowStatus(text + "\r\n"); break;
    case ftpInfoDebug: ShowLine(text, MessageKind::Debug); break;
    case ftpInfoLoggedIn: ShowStatus("Login successful\r\n"); break;
    default: break;
  }
}

void TMFtpMessenger::ErrorReceived(TMFtp&, FtpError error, const std::string& text) {
  bool show = true;
  if (OnErrorShow) OnErrorShow(*this, error, show);
  if (show) ShowLine(text + "\r\n", MessageKind::Error);
}

// Classic: the prefix, and each further line of the text indented to line
// up behind it; a line end at the very end adds nothing. The other styles
// show the text as one item, the line of a reply without a time stamp.
void TMFtpMessenger::ShowLine(std::string_view text, MessageKind kind) {
  if (Trim(text).empty()) return;
  const KindLook* look = LookOf(kind);
  color_ = look == nullptr ? kColorBlack : style_ == msgClassic ? look->classic : look->other;
  if (style_ != msgClassic) {
    std::vector<std::string> parts = SplitLines(text);
    while (parts.size() > 1 && parts.back().empty()) parts.pop_back();
    std::string item = style_ == msgMFtpTime && kind != MessageKind::Reply ? "[" + TimeStamp() + "] " : "";
    for (size_t i = 0; i < parts.size(); ++i) item += (i > 0 ? "\n" : "") + parts[i];
    AddLine(std::move(item));
    return;
  }
  const std::vector<std::string> parts = SplitLines(std::string(look ? look->prefix : "") + std::string(text));
  AddLine(parts.front());
  for (size_t i = 1; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    if (last && Trim(parts[i]).empty()) break;  // what follows the last line end
    AddLine(std::string(kIndent, ' ') + parts[i]);
  }
}

void TMFtpMessenger::AddLine(std::string text) { channel_->Append({std::move(text), color_}); }

// Always "DD.MM.YY HH:NN:SS", whatever the locale says.
std::string TMFtpMessenger::TimeStamp() const {
  const CivilTime now = CivilFromDateTime(options_.clock ? options_.clock() : Now());
  return FormatDateShort(now) + " " + FormatTime(now);
}

}  // namespace kv

#pragma once
// TMFtpMessenger: the log view of an FTP component. It follows one TMFtp
// through an info and an error listener slot and writes what the component
// does: the commands it sends, the server's replies, status lines and
// errors, each kind in its own colour and, in the classic style, behind a
// fixed-width prefix.
//
// This is the view's model. It lives on the component's thread and keeps
// the lines in a LogChannel, from which its widget (ftp/windows) shows them
// on the window thread; headless, the lines are only kept. The channel keeps
// the last kMessengerMaxLines lines.
//
// A view and its component may be destroyed in either order: a view that
// goes removes its listeners from a component that is still there, and a
// component that goes is no longer the view's client.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftp.h"
#include "platform/time.h"
#include "platform/ui/logchannel.h"

namespace kv {

enum TMessengerStyle : int { msgClassic = 0, msgMFtp, msgMFtpTime };

// What a line shows; the numbers are the ones callers of ShowLine use.
enum class MessageKind : int { Command = 0, Debug = 1, Error = 2, Exception = 3, Reply = 4, Status = 5 };

// The toolkit's standard colours, as 0xRRGGBB.
inline constexpr uint32_t kColorBlack = 0x000000;
inline constexpr uint32_t kColorGreen = 0x008000;
inline constexpr uint32_t kColorBlue = 0x0000FF;
inline constexpr uint32_t kColorRed = 0xFF0000;
inline constexpr uint32_t kColorPurple = 0x800080;

inline constexpr size_t kMessengerMaxLines = 10000;
inline constexpr std::string_view kClassicFont = "Courier New";
inline constexpr std::string_view kPlainFont = "MS Sans Serif";

struct MessengerLine {
  std::string text;  // may hold "\n" in the styles other than the classic one
  uint32_t color = kColorBlack;
  friend bool operator==(const MessengerLine&, const MessengerLine&) = default;
};

struct MessengerLook {
  std::string font{kClassicFont};
  bool fixedPitch = true;  // a fixed-width font: the classic prefixes line up
  bool autoScroll = true;
  friend bool operator==(const MessengerLook&, const MessengerLook&) = default;
};

using MessengerChannel = platform::ui::LogChannel<MessengerLine, MessengerLook>;

class TMFtpMessenger;
// Show starts true; false suppresses the line of that code.
using TMessengerShowEvent = std::function<void(TMFtpMessenger& sender, FtpInfo info, bool& show)>;
using TMessengerShowEventE = std::function<void(TMFtpMessenger& sender, FtpError error, bool& show)>;

// --- The link to the window layer -------------------------------------------------

// What shows a messenger on screen; made on the messenger's thread and
// destroyed there when the messenger goes.
class IMessengerView {
 public:
  virtual ~IMessengerView() = default;
};
using MessengerViewFactory = std::function<std::unique_ptr<IMessengerView>(std::shared_ptr<MessengerChannel>)>;
// Installed once by the window layer; returns the factory it replaces.
MessengerViewFactory SetMessengerViewFactory(MessengerViewFactory factory);

// --- The model ---------------------------------------------------------------------

struct MessengerOptions {
  // No window of its own: the lines are kept for a widget that binds to the
  // channel itself (a log inside another window) or for nobody.
  bool hidden = false;
  // The local date and time of a time stamp; empty: platform::Now.
  std::function<platform::DateTime()> clock;
};

class TMFtpMessenger {
 public:
  explicit TMFtpMessenger(MessengerOptions options = {});
  ~TMFtpMessenger();
  TMFtpMessenger(const TMFtpMessenger&) = delete;
  TMFtpMessenger& operator=(const TMFtpMessenger&) = delete;

  // The component followed, or null (also once it was destroyed).
  TMFtp* Client() const;
  // Leaves the old client (when it is still there) and follows the new one
  // through one info and one error listener slot; a slot that could not be
  // had means that kind of report is not shown. The same client again
  // changes nothing.
  void SetClient(TMFtp* client);

  TMessengerStyle Style() const { return style_; }
  // Classic: "Courier New", fixed pitch; the others "MS Sans Serif".
  void SetStyle(TMessengerStyle style);
  bool AutoScroll() const { return autoScroll_; }
  void SetAutoScroll(bool on);
  // Kept for the view's settings; no rule reads it (blank lines are shown
  // as they come).
  bool EmptyLine = true;
  TMessengerShowEvent OnMessageShow;
  TMessengerShowEventE OnErrorShow;

  // The listeners.
  void InfoReceived(TMFtp& sender, FtpInfo info, const std::string& text);
  void ErrorReceived(TMFtp& sender, FtpError error, const std::string& text);
  // Formats one message by its kind and the style and appends it.
  void ShowLine(std::string_view text, MessageKind kind);
  // Appends one line in the colour of the last ShowLine.
  void AddLine(std::string text);

  std::vector<MessengerLine> Lines() const { return channel_->Lines(); }
  const std::shared_ptr<MessengerChannel>& Channel() const { return channel_; }
  bool HasView() const { return view_ != nullptr; }

 private:
  void Detach();
  void ShowStatus(std::string_view text) { ShowLine(text, MessageKind::Status); }
  std::string TimeStamp() const;

  MessengerOptions options_;
  std::shared_ptr<MessengerChannel> channel_;
  TMFtp* client_ = nullptr;
  std::weak_ptr<const void> clientPresence_;
  int infoSlot_ = -1;
  int errorSlot_ = -1;
  bool connectionShown_ = false;
  TMessengerStyle style_ = msgClassic;
  bool autoScroll_ = true;
  uint32_t color_ = kColorBlack;
  std::unique_ptr<IMessengerView> view_;
};

}  // namespace kv

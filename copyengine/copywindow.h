#pragma once
// The copy window: what the engine shows while it carries out a job (the
// file being copied, its size and progress, the total, the time elapsed) and
// its cancel button, which sets the engine-wide abort flag.
//
// TtfCopy is the window's model. It lives on the thread that runs the job
// and holds everything the window shows; the widget (copyengine/windows)
// lives on the window thread and is fed with snapshots. The widget's button
// and close box come back as messages to the model, which handles them while
// the job pumps its message loop: the cancel question is asked from there,
// so the job waits while it is open, and the engine sees the abort flag
// change only at those points.
//
// Without a window layer (tests, hidden runs, programs without a display)
// the model runs headless and nobody can press the button; a cancel question
// asked anyway is answered by the window layer's headless responder
// (platform/ui/question.h), "No" unless a test installs another.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ftp/ftpmsg.h"
#include "platform/msgloop.h"
#include "platform/ui/cancelflag.h"
#include "platform/ui/question.h"

namespace kv {

inline constexpr std::string_view kCopyWindowCaption = "Kestrovane [ Kopieren ]";
inline constexpr int kMsgAbortQuestion = 65295;
inline constexpr std::string_view kAbortQuestionText = "Möchten Sie den Vorgang abbrechen?";
// The cancel question as the window layer asks it (Yes/No, so unanswered
// it means "No").
platform::ui::Question CopyAbortQuestion(std::string_view text = kAbortQuestionText);

// --- The engine-wide abort flag --------------------------------------------------
// One per process: one CopyFiles runs at a time.
//
// The flag the window side assigns (an answer "No" withdraws a request not
// yet acted on).
platform::ui::CancelFlag& AbortFlag();
// What the engine tests between its steps: the flag as it was when the job
// last let the window process its messages.
bool AbortRequested();
// Lets the window process pending messages: shows what changed in the
// thread's copy window, pumps the thread's loop (where the button's clicks
// and the timer arrive) and then latches the abort flag. Every "let the
// window process pending messages" of the engine comes here or to
// TtfCopy::ProcessMessages, which is the same.
void ProcessCopyMessages();

// --- What the window shows --------------------------------------------------------

enum class CopyLabel : int {
  Label1,      // "Von:"
  tlSrc,       // source path
  Label2,      // "Nach:"
  tlDest,      // target path
  Label5,      // "Bisherige Kopierdauer:"
  tlTime,      // elapsed time
  Label3,      // "Dateigrösse:"
  tlFileSize,  // size of the current file
  Label4,      // "Gesamtgrösse:"
  tlFullSize,  // total size of the job
  tlAbort1,    // "Der Vorgang wird abgebrochen"
  tlabort2,    // "Bitte haben Sie etwas Geduld."
  Count
};
enum class CopyBar : int { pgFile, pgAll, Count };

struct CopyLabelState {
  std::string text;
  // Set when the text shows a path shortened to the label's width: the whole
  // path, which the widget shortens again with its own font.
  std::string path;
  int left = 0, top = 0;
  int width = 0;   // fixed-size labels only; 0: the label sizes itself to its text
  int height = 0;
  // >= 0: the label's right edge is kept there (left = rightEdge - width).
  int rightEdge = -1;
  bool visible = true;
  bool bold = false;
  bool red = false;
  int pointSize = 8;
  friend bool operator==(const CopyLabelState&, const CopyLabelState&) = default;
};

struct CopyBarState {
  int left = 0, top = 0, width = 0, height = 0;
  int32_t max = 100;
  int32_t position = 0;  // kept within 0..max, as a progress bar does
  friend bool operator==(const CopyBarState&, const CopyBarState&) = default;
};

struct CopyWindowSnapshot {
  std::string caption{kCopyWindowCaption};
  bool visible = true;
  // Minimized runs: shown without taking the foreground.
  bool activate = true;
  CopyLabelState labels[static_cast<int>(CopyLabel::Count)];
  CopyBarState bars[static_cast<int>(CopyBar::Count)];

  const CopyLabelState& label(CopyLabel id) const { return labels[static_cast<int>(id)]; }
  const CopyBarState& bar(CopyBar id) const { return bars[static_cast<int>(id)]; }
  friend bool operator==(const CopyWindowSnapshot&, const CopyWindowSnapshot&) = default;
};

// Layout at 96 dpi.
inline constexpr int kCopyWindowWidth = 531;
inline constexpr int kCopyWindowHeight = 288;
inline constexpr int kAbortButtonLeft = 402, kAbortButtonTop = 232;
inline constexpr int kAbortButtonWidth = 111, kAbortButtonHeight = 22;
inline constexpr std::string_view kAbortButtonText = "&Abbruch";
// The window as it is created.
CopyWindowSnapshot InitialCopyWindowSnapshot();

// Messages the widget sends to its model.
inline constexpr uint32_t kCopyMsgAbortClick = platform::WM_USER + 1;
inline constexpr uint32_t kCopyMsgClose = platform::WM_USER + 2;

// --- The link to the window layer ---------------------------------------------------

// What shows one TtfCopy on screen. Made on the job's thread, destroyed there
// when the model goes; it must not block that thread except inside AskAbort.
class ICopyWindowView {
 public:
  virtual ~ICopyWindowView() = default;
  // Called often; the view shows the latest snapshot and may skip others.
  virtual void Publish(const CopyWindowSnapshot& snapshot) = 0;
  // Beeps and asks the cancel question; waits for the answer while the
  // calling thread keeps pumping its loop. True for "Yes".
  virtual bool AskAbort(std::string_view question) = 0;
};

struct CopyWindowLink {
  platform::HandlerRef model;  // takes kCopyMsgAbortClick and kCopyMsgClose
  bool minimized = false;
  // The lines of the window's FTP log view (MFtpMessenger1).
  std::shared_ptr<MessengerChannel> ftpLog;
};
using CopyWindowViewFactory = std::function<std::unique_ptr<ICopyWindowView>(const CopyWindowLink&)>;
// Installed once by the window layer; an empty factory leaves every window
// headless. Returns the factory it replaces.
CopyWindowViewFactory SetCopyWindowViewFactory(CopyWindowViewFactory factory);

// --- The model ---------------------------------------------------------------------

struct CopyWindowOptions {
  bool hidden = false;     // the copy object's Hidden: no window at all
  bool minimized = false;  // the copy object's Minimized: shown without activation
  // Monotonic milliseconds; empty: platform::TickCount64.
  std::function<uint64_t()> clock;
};

class TtfCopy {
 public:
  // Clears the abort flag, shows "00:00:00" and starts the elapsed-time
  // timer (one tick a second while the job pumps).
  explicit TtfCopy(CopyWindowOptions options = {});
  ~TtfCopy();
  TtfCopy(const TtfCopy&) = delete;
  TtfCopy& operator=(const TtfCopy&) = delete;

  // The window of the job on the calling thread (the newest one alive), or
  // null: the engine's routines reach it from anywhere in the job.
  static TtfCopy* Current();

  const CopyWindowSnapshot& Snapshot() const { return state_; }
  const CopyLabelState& label(CopyLabel id) const { return state_.label(id); }
  const CopyBarState& bar(CopyBar id) const { return state_.bar(id); }
  bool HasView() const { return view_ != nullptr; }
  // A hidden window (the copy object's Hidden) is never shown.
  bool IsHidden() const { return options_.hidden; }

  void SetLabelText(CopyLabel id, std::string text);
  // A path shown shortened: text is what fits, path the whole.
  void SetLabelPath(CopyLabel id, std::string path, std::string text);
  void SetLabelRightEdge(CopyLabel id, int rightEdge);
  void SetBarMax(CopyBar id, int32_t max);
  void SetBarPosition(CopyBar id, int32_t position);
  // Width of a text in the labels' font, as the model measures it (the
  // widget measures again with the real font).
  int MeasureText(std::string_view text) const;

  // Lets the window process pending messages (see ProcessCopyMessages) and
  // shows what changed.
  void ProcessMessages();

  // The cancel button: beep, ask, and assign the answer to the abort flag.
  void sbAbortClick();
  // The close box: closes (hides) the window once an abort is requested;
  // otherwise refuses and asks the cancel question. True when it closed.
  bool FormClose();
  // Shows that the job is being cancelled: the path labels and their
  // captions go blank and the two red labels appear.
  void ShowAborting();
  // Shows the elapsed time.
  void Timer1Timer();
  // Stops the elapsed-time display after showing it one last time.
  void StopTimer();
  bool TimerRunning() const { return timerRunning_; }

  // Elapsed monotonic time as "HH:MM:SS"; hours go past 23.
  static std::string FormatElapsed(uint64_t milliseconds);

  // The FTP log view the window carries out of sight; FTP pairs attach it
  // to the run's FTP client.
  TMFtpMessenger MFtpMessenger1{MessengerOptions{.hidden = true, .clock = {}}};

 private:
  class Handler;
  CopyLabelState& mutableLabel(CopyLabel id) { return state_.labels[static_cast<int>(id)]; }
  CopyBarState& mutableBar(CopyBar id) { return state_.bars[static_cast<int>(id)]; }
  void Changed() { dirty_ = true; }
  void PublishIfChanged();
  bool Ask();
  uint64_t Now() const;

  CopyWindowOptions options_;
  CopyWindowSnapshot state_;
  bool dirty_ = true;
  uint64_t start_ = 0;
  bool timerRunning_ = false;
  bool questionOpen_ = false;
  TtfCopy* previous_ = nullptr;  // the thread's current window before this one
  std::unique_ptr<ICopyWindowView> view_;
  std::unique_ptr<Handler> handler_;  // last: gone before the rest of the model
};

}  // namespace kv

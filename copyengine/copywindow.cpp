#include "copyengine/copywindow.h"

#include <cstdio>
#include <string>
#include <utility>

#include "platform/time.h"
#include "platform/ui/jobstop.h"
#include "platform/ui/pathfit.h"
#include "platform/ui/viewfactory.h"

namespace kv {
namespace {

namespace ui = platform::ui;

constexpr uintptr_t kElapsedTimerId = 1;
constexpr unsigned kElapsedTimerIntervalMs = 1000;

// The window of the job running on this thread (one CopyFiles per thread).
thread_local TtfCopy* t_currentWindow = nullptr;

void PumpAndLatch() {
  platform::MessageLoop::Current().ProcessMessages();
  // A program that closes stops the job as the cancel button does.
  if (ui::AllJobsStopping()) AbortFlag().Request();
  AbortFlag().Latch();
}

// Once per process: the engine runs inside the server library, while the
// program that has the window thread installs the factory.
constexpr ui::ViewFactorySlot<CopyWindowViewFactory> kViewFactory{"kv.copyengine.TtfCopy"};

struct LabelSpec {
  CopyLabel id;
  int left, top, width, height;
  const char* text;
  bool bold;
};

// Width 0: the label sizes itself to its text.
constexpr LabelSpec kLabels[] = {
    {CopyLabel::Label1, 8, 8, 0, 0, "Von:", true},
    {CopyLabel::tlSrc, 8, 24, 500, 17, "", false},
    {CopyLabel::Label2, 8, 56, 0, 0, "Nach:", true},
    {CopyLabel::tlDest, 8, 72, 500, 13, "", false},
    {CopyLabel::Label5, 8, 104, 0, 0, "Bisherige Kopierdauer:", true},
    {CopyLabel::tlTime, 8, 120, 0, 0, "00:00:00", false},
    {CopyLabel::Label3, 8, 152, 0, 0, "Dateigrösse:", false},
    {CopyLabel::tlFileSize, 472, 152, 0, 0, "", false},
    {CopyLabel::Label4, 8, 192, 0, 0, "Gesamtgrösse:", false},
    {CopyLabel::tlFullSize, 472, 192, 0, 0, "", false},
    {CopyLabel::tlAbort1, 8, 24, 0, 0, "Der Vorgang wird abgebrochen", true},
    {CopyLabel::tlabort2, 8, 56, 0, 0, "Bitte haben Sie etwas Geduld.", true},
};

}  // namespace

// --- Abort flag ----------------------------------------------------------------------

ui::CancelFlag& AbortFlag() {
  static ui::CancelFlag flag;
  return flag;
}

bool AbortRequested() { return AbortFlag().Latched(); }

void ProcessCopyMessages() {
  if (TtfCopy* window = TtfCopy::Current()) {
    window->ProcessMessages();
  } else {
    PumpAndLatch();
  }
}

CopyWindowViewFactory SetCopyWindowViewFactory(CopyWindowViewFactory factory) {
  return kViewFactory.Exchange(std::move(factory));
}

ui::Question CopyAbortQuestion(std::string_view text) {
  return ui::Question{std::string(text), ui::QuestionKind::Confirmation, ui::QuestionButtons::YesNo};
}

CopyWindowSnapshot InitialCopyWindowSnapshot() {
  CopyWindowSnapshot s;
  for (const LabelSpec& spec : kLabels) {
    CopyLabelState& label = s.labels[static_cast<int>(spec.id)];
    label.left = spec.left;
    label.top = spec.top;
    label.width = spec.width;
    label.height = spec.height;
    label.text = spec.text;
    label.bold = spec.bold;
  }
  for (CopyLabel red : {CopyLabel::tlAbort1, CopyLabel::tlabort2}) {
    CopyLabelState& label = s.labels[static_cast<int>(red)];
    label.red = true;
    label.pointSize = 10;
    label.visible = false;
  }
  s.bars[static_cast<int>(CopyBar::pgFile)] = CopyBarState{8, 168, 505, 16, 100, 0};
  s.bars[static_cast<int>(CopyBar::pgAll)] = CopyBarState{8, 208, 505, 16, 100, 0};
  return s;
}

// --- Message handler on the job's thread ----------------------------------------------

class TtfCopy::Handler : public platform::MessageHandler {
 public:
  explicit Handler(TtfCopy& owner) : owner_(owner) {}

 protected:
  void HandleMessage(const platform::Message& message) override {
    switch (message.id) {
      case platform::WM_TIMER:
        if (message.wParam == kElapsedTimerId) owner_.Timer1Timer();
        break;
      case kCopyMsgAbortClick:
        owner_.sbAbortClick();
        break;
      case kCopyMsgClose:
        owner_.FormClose();
        break;
      default:
        break;
    }
  }

 private:
  TtfCopy& owner_;
};

// --- TtfCopy ---------------------------------------------------------------------------

TtfCopy::TtfCopy(CopyWindowOptions options)
    : options_(std::move(options)), state_(InitialCopyWindowSnapshot()) {
  state_.visible = !options_.hidden;
  state_.activate = !options_.minimized;
  handler_ = std::make_unique<Handler>(*this);
  AbortFlag().Clear();
  AbortFlag().Latch();
  start_ = Now();
  handler_->SetTimer(kElapsedTimerId, kElapsedTimerIntervalMs);
  timerRunning_ = true;
  if (!options_.hidden) {
    if (CopyWindowViewFactory factory = kViewFactory.Get()) {
      view_ = factory(CopyWindowLink{handler_->Ref(), options_.minimized, MFtpMessenger1.Channel()});
    }
  }
  previous_ = std::exchange(t_currentWindow, this);
  PublishIfChanged();
}

TtfCopy::~TtfCopy() {
  if (t_currentWindow == this) t_currentWindow = previous_;
  handler_.reset();  // no message reaches the model while it goes
  view_.reset();
}

TtfCopy* TtfCopy::Current() { return t_currentWindow; }

uint64_t TtfCopy::Now() const { return options_.clock ? options_.clock() : platform::TickCount64(); }

// Headless the font is unknown: every character counts the same width, as
// the window layer measures without fonts.
int TtfCopy::MeasureText(std::string_view text) const {
  int chars = 0;
  for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
  return chars * ui::kHeadlessCharWidth;
}

void TtfCopy::SetLabelText(CopyLabel id, std::string text) {
  CopyLabelState& label = mutableLabel(id);
  if (label.text == text && label.path.empty()) return;
  label.text = std::move(text);
  label.path.clear();
  Changed();
}

void TtfCopy::SetLabelPath(CopyLabel id, std::string path, std::string text) {
  CopyLabelState& label = mutableLabel(id);
  if (label.text == text && label.path == path) return;
  label.text = std::move(text);
  label.path = std::move(path);
  Changed();
}

void TtfCopy::SetLabelRightEdge(CopyLabel id, int rightEdge) {
  CopyLabelState& label = mutableLabel(id);
  if (label.rightEdge == rightEdge) return;
  label.rightEdge = rightEdge;
  Changed();
}

void TtfCopy::SetBarMax(CopyBar id, int32_t max) {
  CopyBarState& bar = mutableBar(id);
  if (max < 0) max = 0;
  if (bar.max == max) return;
  bar.max = max;
  if (bar.position > max) bar.position = max;
  Changed();
}

void TtfCopy::SetBarPosition(CopyBar id, int32_t position) {
  CopyBarState& bar = mutableBar(id);
  if (position < 0) position = 0;
  if (position > bar.max) position = bar.max;
  if (bar.position == position) return;
  bar.position = position;
  Changed();
}

void TtfCopy::PublishIfChanged() {
  if (!dirty_) return;
  dirty_ = false;
  if (view_) view_->Publish(state_);
}

void TtfCopy::ProcessMessages() {
  PublishIfChanged();
  PumpAndLatch();
  PublishIfChanged();
}

// Without a view nobody sees a box: the headless responder answers.
bool TtfCopy::Ask() {
  if (view_) return view_->AskAbort(kAbortQuestionText);
  return ui::Ask(CopyAbortQuestion(), /*hidden=*/true) == ui::Answer::Yes;
}

void TtfCopy::sbAbortClick() {
  // The question box is modal; a click that was queued before it opened is
  // the same request and gets no second box.
  if (questionOpen_) return;
  questionOpen_ = true;
  PublishIfChanged();
  bool yes = false;
  try {
    yes = Ask();
  } catch (...) {
    questionOpen_ = false;
    throw;
  }
  questionOpen_ = false;
  AbortFlag().Assign(yes);
  ProcessMessages();
}

bool TtfCopy::FormClose() {
  if (AbortFlag().IsRequested()) {
    if (state_.visible) {
      state_.visible = false;
      Changed();
      PublishIfChanged();
    }
    return true;
  }
  sbAbortClick();
  return false;
}

void TtfCopy::ShowAborting() {
  for (CopyLabel id : {CopyLabel::tlSrc, CopyLabel::tlDest, CopyLabel::Label2, CopyLabel::Label1}) {
    SetLabelText(id, "");
  }
  for (CopyLabel id : {CopyLabel::tlAbort1, CopyLabel::tlabort2}) {
    CopyLabelState& label = mutableLabel(id);
    if (!label.visible) {
      label.visible = true;
      Changed();
    }
  }
  ProcessMessages();
  ProcessMessages();
}

void TtfCopy::Timer1Timer() { SetLabelText(CopyLabel::tlTime, FormatElapsed(Now() - start_)); }

void TtfCopy::StopTimer() {
  if (!timerRunning_) return;
  Timer1Timer();
  handler_->KillTimer(kElapsedTimerId);
  timerRunning_ = false;
  PublishIfChanged();
}

std::string TtfCopy::FormatElapsed(uint64_t milliseconds) {
  const uint64_t seconds = milliseconds / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  return text;
}

}  // namespace kv

#include "copyengine/windows/copywidget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QStyle>
#include <QToolButton>

#include <string>

#include "copyengine/filecopy.h"
#include "copyengine/windows/compoldstamp.h"
#include "copyengine/windows/delfldrcheckwidget.h"
#include "platform/gui/geometry.h"
#include "platform/gui/remotewidget.h"
#include "platform/ui/question.h"
#include "platform/ui/snapshot.h"
#include "platform/ui/windowthread.h"

namespace kv {
namespace {

namespace gui = platform::gui;
namespace ui = platform::ui;

constexpr const char* kLabelNames[] = {"Label1", "tlSrc",      "Label2", "tlDest",     "Label5",   "tlTime",
                                       "Label3", "tlFileSize", "Label4", "tlFullSize", "tlAbort1", "tlabort2"};
static_assert(std::size(kLabelNames) == static_cast<size_t>(CopyLabel::Count));
constexpr const char* kBarNames[] = {"pgFile", "pgAll"};

// Labels of a fixed size keep it; the others size themselves to their text.
constexpr const char* kFixedSizeProperty = "kvFixedSize";

QString ToQt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

TtfCopyWidget::TtfCopyWidget(platform::HandlerRef model, bool minimized, std::optional<int> dpi, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      model_(model) {
  setObjectName("TtfCopy");
  setWindowTitle(ToQt(kCopyWindowCaption));
  setFont(QFont("MS Sans Serif", 8));
  setFixedSize(kCopyWindowWidth, kCopyWindowHeight);
  if (minimized) setAttribute(Qt::WA_ShowWithoutActivating);
  CreateControls();
  ApplyContent(InitialCopyWindowSnapshot());

  const int screenDpi = dpi.value_or(gui::ScreenDpi(this));
  scaleDivisor_ = ui::ScaleDivisor(screenDpi);
  gui::ScaleWindow(*this, screenDpi);
  gui::CenterOnDesktop(*this);
}

void TtfCopyWidget::CreateControls() {
  const CopyWindowSnapshot initial = InitialCopyWindowSnapshot();
  for (size_t i = 0; i < labels_.size(); ++i) {
    const CopyLabelState& state = initial.labels[i];
    auto* label = new QLabel(this);
    label->setObjectName(kLabelNames[i]);
    label->move(state.left, state.top);
    if (state.width > 0) {
      label->resize(state.width, state.height);
      label->setProperty(kFixedSizeProperty, true);
    }
    if (state.bold || state.pointSize != 8) {
      QFont font = label->font();
      font.setBold(state.bold);
      font.setPointSize(state.pointSize);
      label->setFont(font);
    }
    if (state.red) {
      QPalette palette = label->palette();
      palette.setColor(QPalette::WindowText, Qt::red);
      label->setPalette(palette);
    }
    labels_[i] = label;
  }
  for (size_t i = 0; i < bars_.size(); ++i) {
    const CopyBarState& state = initial.bars[i];
    auto* bar = new QProgressBar(this);
    bar->setObjectName(kBarNames[i]);
    bar->setGeometry(state.left, state.top, state.width, state.height);
    bar->setTextVisible(false);
    bars_[i] = bar;
  }
  sbAbort_ = new QToolButton(this);
  sbAbort_->setObjectName("sbAbort");
  sbAbort_->setText(ToQt(kAbortButtonText));
  sbAbort_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  sbAbort_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  sbAbort_->setAutoRaise(true);  // flat until hovered, as a speed button
  sbAbort_->setGeometry(kAbortButtonLeft, kAbortButtonTop, kAbortButtonWidth, kAbortButtonHeight);
  connect(sbAbort_, &QToolButton::clicked, this, [this] { model_.Post(kCopyMsgAbortClick); });
  MFtpMessenger1_ = new TMFtpMessengerWidget(this);
  MFtpMessenger1_->setObjectName("MFtpMessenger1");
  MFtpMessenger1_->setGeometry(kCopyWindowWidth, kCopyWindowHeight, 0, 0);
}

int TtfCopyWidget::ScaleX(int x) const {
  return ui::ScaleLength(x, scaleDivisor_);
}

void TtfCopyWidget::ApplyLabel(QLabel& label, const CopyLabelState& state) {
  QString text = ToQt(state.text);
  if (!state.path.empty()) {
    const QFontMetrics metrics(label.font());
    text = ToQt(ShortenPathText(state.path, label.width(), [&](std::string_view t) {
      return metrics.horizontalAdvance(ToQt(t));
    }));
  }
  if (label.text() != text) label.setText(text);
  if (!label.property(kFixedSizeProperty).toBool()) label.adjustSize();
  if (state.rightEdge >= 0) label.move(ScaleX(state.rightEdge) - label.width(), label.y());
  label.setVisible(state.visible);
}

void TtfCopyWidget::Apply(const CopyWindowSnapshot& snapshot) {
  ApplyContent(snapshot);
  if (!snapshot.activate) setAttribute(Qt::WA_ShowWithoutActivating);
  if (snapshot.visible != isVisible()) setVisible(snapshot.visible);
}

void TtfCopyWidget::ApplyContent(const CopyWindowSnapshot& snapshot) {
  setWindowTitle(ToQt(snapshot.caption));
  for (size_t i = 0; i < labels_.size(); ++i) ApplyLabel(*labels_[i], snapshot.labels[i]);
  for (size_t i = 0; i < bars_.size(); ++i) {
    const CopyBarState& state = snapshot.bars[i];
    if (bars_[i]->maximum() != state.max) bars_[i]->setRange(0, state.max);
    if (bars_[i]->value() != state.position) bars_[i]->setValue(state.position);
  }
}

void TtfCopyWidget::closeEvent(QCloseEvent* event) {
  event->ignore();
  model_.Post(kCopyMsgClose);
}

// --- The link between a model and its widget -------------------------------------

namespace {

class CopyWindowView : public ICopyWindowView {
 public:
  explicit CopyWindowView(const CopyWindowLink& link)
      : channel_(ui::SnapshotChannel<CopyWindowSnapshot>::Create()),
        remote_([channel = channel_, link] {
          auto* widget = new TtfCopyWidget(link.model, link.minimized);
          gui::BindSnapshots(*widget, channel);
          if (link.ftpLog) BindMessenger(*widget->ftpLog(), link.ftpLog);
          return widget;
        }) {}

  void Publish(const CopyWindowSnapshot& snapshot) override { channel_->Publish(snapshot); }

  bool AskAbort(std::string_view question) override {
    ui::WindowThread::Post([] { QApplication::beep(); });
    return ui::Ask(CopyAbortQuestion(question)) == ui::Answer::Yes;
  }

 private:
  std::shared_ptr<ui::SnapshotChannel<CopyWindowSnapshot>> channel_;
  gui::RemoteWidget<TtfCopyWidget> remote_;
};

}  // namespace

void InstallCopyWindow() {
  InstallCompOldStampWindow();
  InstallDelFldrCheckWindow();
  SetCopyWindowViewFactory(
      [](const CopyWindowLink& link) -> std::unique_ptr<ICopyWindowView> { return std::make_unique<CopyWindowView>(link); });
}

}  // namespace kv

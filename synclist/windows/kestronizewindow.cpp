#include "synclist/windows/kestronizewindow.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <memory>
#include <utility>

#include "platform/gui/geometry.h"
#include "platform/gui/pathfit.h"
#include "platform/gui/remotewidget.h"

namespace kv {
namespace {

namespace gui = platform::gui;
namespace ui = platform::ui;

// Layout at 96 dpi.
constexpr int kWidth = 517;
constexpr int kHeight = 153;
constexpr ui::Rect kSrcDestRect{8, 8, 501, 30};
constexpr ui::Rect kStatusRect{8, 42, 501, 30};
constexpr ui::Rect kAbortRect{421, 80, 88, 25};
constexpr ui::Rect kTimeBarRect{0, 115, 517, 19};
constexpr ui::Rect kStatusBarRect{0, 134, 517, 19};

void Place(QWidget& w, const ui::Rect& r) { w.setGeometry(r.left, r.top, r.width, r.height); }

QLabel* NewPanel(QWidget* parent, const char* name, const ui::Rect& rect, int frame) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFrameStyle(frame);
  label->setIndent(4);
  Place(*label, rect);
  return label;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

class KestronizeView : public TKestronizeView {
 public:
  explicit KestronizeView(const TKestronizeLink& link)
      : remote_([link]() -> TtfKestronizeWidget* {
          auto* widget = new TtfKestronizeWidget(link);
          gui::BindSnapshots(*widget, link.channel);
          return widget;
        }) {}

 private:
  gui::RemoteWidget<TtfKestronizeWidget> remote_;
};

}  // namespace

TtfKestronizeWidget::TtfKestronizeWidget(TKestronizeLink link, std::optional<int> dpi)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      link_(std::move(link)) {
  setObjectName(QStringLiteral("tfKestronize"));
  setWindowTitle(QString::fromUtf8(kKestronizeCaption));
  resize(kWidth, kHeight);
  CreateControls();
  const int screenDpi = dpi ? *dpi : gui::ScreenDpi(this);
  gui::ScaleWindow(*this, screenDpi);
  pathWidth_ = ui::ScaleLength(kKestronizePathWidth, ui::ScaleDivisor(screenDpi));
  setFixedSize(size());
  gui::CenterOnDesktop(*this);
}

void TtfKestronizeWidget::CreateControls() {
  tpSrcDest_ = NewPanel(this, "tpSrcDest", kSrcDestRect, QFrame::Panel | QFrame::Raised);
  tpStatus_ = NewPanel(this, "tpStatus", kStatusRect, QFrame::Panel | QFrame::Raised);
  stbTime_ = NewPanel(this, "stbTime", kTimeBarRect, QFrame::Panel | QFrame::Sunken);
  stbStatus_ = NewPanel(this, "stbStatus", kStatusBarRect, QFrame::Panel | QFrame::Sunken);

  sbAbort_ = new QPushButton(QStringLiteral("&Abbruch"), this);
  sbAbort_->setObjectName(QStringLiteral("sbAbort"));
  Place(*sbAbort_, kAbortRect);
  QObject::connect(sbAbort_, &QPushButton::clicked, this, [this] { link_.model.Post(kKestronizeAbortClick); });

  // Carries the per-pair runner in the model; never shown.
  sbAbgleich_ = new QPushButton(QStringLiteral("Abgleich"), this);
  sbAbgleich_->setObjectName(QStringLiteral("sbAbgleich"));
  sbAbgleich_->setVisible(false);
}

void TtfKestronizeWidget::Apply(const TKestronizeSnapshot& s) {
  tpSrcDest_->setText(Q(s.sourceDestinationText));
  tpStatus_->setText(Q(s.statusText));
  stbTime_->setText(Q(s.timeText));
  const std::string folder = gui::MinimizeNamePixels(s.currentFolder, stbStatus_->font(), pathWidth_);
  stbStatus_->setText(s.currentFolder.empty() ? QString() : QStringLiteral("Aktueller Pfad: ") + Q(folder));
  sbAbort_->setEnabled(s.abortEnabled);
  if (s.visible == shown_) return;
  shown_ = s.visible;
  if (!shown_) {
    hide();
  } else if (s.minimized) {
    showMinimized();
  } else {
    show();
  }
}

void TtfKestronizeWidget::closeEvent(QCloseEvent* event) {
  if (link_.abortFlag->IsRequested()) {
    event->accept();
    return;
  }
  event->ignore();
  link_.model.Post(kKestronizeCloseRequest);
}

void InstallKestronizeWindow() {
  SetKestronizeViewFactory(
      [](const TKestronizeLink& link) -> std::unique_ptr<TKestronizeView> { return std::make_unique<KestronizeView>(link); });
}

}  // namespace kv

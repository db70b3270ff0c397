#include "copyengine/windows/compoldstamp.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPalette>

#include "platform/gui/geometry.h"
#include "platform/gui/pathfit.h"
#include "platform/msgloop.h"

namespace kv {
namespace {

namespace gui = platform::gui;

// Layout at 96 dpi.
constexpr int kWidth = 573;
constexpr int kHeight = 156;
constexpr int kFolderRightGap = 5;

struct LabelSpec {
  const char* name;
  int left, top;
  const char* text;
  Qt::GlobalColor color;
};

constexpr LabelSpec kLabels[] = {
    {"Label1", 8, 8, "Die alten Zeitstempel werden mit den neuen verglichen und aktuallisiert.", Qt::black},
    {"Label2", 8, 24,
     "Diese Prüfung kann unter umständen einige Zeit in Anspruch nehmen, bitte gedulden Sie sich", Qt::black},
    {"Label3", 8, 40,
     "einen Augenblick. Ist die erweiterte Synchronisation abgeschalten wird diese Prüfung nicht vorgenommen.",
     Qt::black},
    {"tlSFldr", 24, 72, "Quellordner :", Qt::blue},
    {"tlDFldr", 24, 96, "Zielordner :", Qt::red},
    {"tlSrcFldr", 96, 72, "", Qt::black},
    {"tlDestFldr", 96, 96, "", Qt::black},
};

QLabel* NewLabel(QWidget* parent, const LabelSpec& spec) {
  auto* label = new QLabel(QString::fromUtf8(spec.text), parent);
  label->setObjectName(QString::fromLatin1(spec.name));
  if (spec.color != Qt::black) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, spec.color);
    label->setPalette(palette);
  }
  label->adjustSize();
  label->move(spec.left, spec.top);
  return label;
}

}  // namespace

TtfCompOldStampWidget::TtfCompOldStampWidget(std::optional<int> dpi)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("tfCompOldStamp"));
  setWindowTitle(QString::fromUtf8(kCompOldStampCaption));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  resize(kWidth, kHeight);
  for (const LabelSpec& spec : kLabels) NewLabel(this, spec);
  tlSrcFldr_ = label("tlSrcFldr");
  tlDestFldr_ = label("tlDestFldr");
  // The value labels reach to the right edge less the gap.
  for (QLabel* value : {tlSrcFldr_, tlDestFldr_}) value->resize(kWidth - value->x() - kFolderRightGap, value->height());
  gui::ScaleWindow(*this, dpi ? *dpi : gui::ScreenDpi(this));
  setFixedSize(size());
  gui::CenterOnDesktop(*this);
}

QLabel* TtfCompOldStampWidget::label(const char* name) const {
  return findChild<QLabel*>(QString::fromLatin1(name));
}

int TtfCompOldStampWidget::folderWidth() const { return width() - tlSrcFldr_->x() - kFolderRightGap; }

void TtfCompOldStampWidget::Apply(const CompOldStampSnapshot& s) {
  tlSrcFldr_->setText(QString::fromStdString(gui::MinimizeNamePixels(s.sourceFolder, tlSrcFldr_->font(), folderWidth())));
  tlDestFldr_->setText(QString::fromStdString(gui::MinimizeNamePixels(s.destFolder, tlDestFldr_->font(), folderWidth())));
}

void TtfCompOldStampWidget::closeEvent(QCloseEvent* event) { event->ignore(); }

// --- The merge's side -----------------------------------------------------------

TtfCompOldStamp::TtfCompOldStamp() : channel_(CompOldStampChannel::Create()) {}

TtfCompOldStamp::~TtfCompOldStamp() = default;

void TtfCompOldStamp::Begin(bool hidden, bool minimized) {
  snapshot_ = {};
  snapshot_.minimized = minimized;
  auto channel = channel_;
  widget_ = std::make_unique<gui::RemoteWidget<TtfCompOldStampWidget>>(
      [channel, minimized]() -> TtfCompOldStampWidget* {
        auto* widget = new TtfCompOldStampWidget();
        gui::BindSnapshots(*widget, channel);
        // Shown without taking the focus from what the user is doing.
        widget->setAttribute(Qt::WA_ShowWithoutActivating, minimized);
        widget->show();
        return widget;
      },
      hidden);
}

void TtfCompOldStamp::ShowFolders(std::string_view source, std::string_view dest) {
  snapshot_.sourceFolder = source;
  snapshot_.destFolder = dest;
  channel_->Publish(snapshot_);
  platform::MessageLoop::Current().ProcessMessages();
}

void TtfCompOldStamp::End() { widget_.reset(); }

void InstallCompOldStampWindow() {
  SetOldStampMergeViewFactory(
      []() -> std::unique_ptr<IOldStampMergeView> { return std::make_unique<TtfCompOldStamp>(); });
}

}  // namespace kv

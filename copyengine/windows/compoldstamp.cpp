#include "copyengine/windows/compoldstamp.h"

#include "platform/msgloop.h"

namespace kv {
namespace {

constexpr FolderWindowLabel kLabels[] = {
    {"Label1", 8, 8, "Die alten Zeitstempel werden mit den neuen verglichen und aktuallisiert."},
    {"Label2", 8, 24, "Diese Prüfung kann unter umständen einige Zeit in Anspruch nehmen, bitte gedulden Sie sich"},
    {"Label3", 8, 40,
     "einen Augenblick. Ist die erweiterte Synchronisation abgeschalten wird diese Prüfung nicht vorgenommen."},
    {"tlSFldr", 24, 72, "Quellordner :", Qt::blue},
    {"tlDFldr", 24, 96, "Zielordner :", Qt::red},
    {"tlSrcFldr", 96, 72, ""},
    {"tlDestFldr", 96, 96, ""},
};

constexpr FolderWindowLayout kLayout{"tfCompOldStamp", kCompOldStampCaption, 573, 156, kLabels};

}  // namespace

TtfCompOldStampWidget::TtfCompOldStampWidget(std::optional<int> dpi) : TFolderWindow(kLayout, dpi) {}

// --- The merge's side -----------------------------------------------------------

TtfCompOldStamp::TtfCompOldStamp() : channel_(CompOldStampChannel::Create()) {}

TtfCompOldStamp::~TtfCompOldStamp() = default;

void TtfCompOldStamp::Begin(bool hidden, bool minimized) {
  snapshot_ = {};
  snapshot_.minimized = minimized;
  widget_ = ShowFolderWindow<TtfCompOldStampWidget>(channel_, minimized, hidden);
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

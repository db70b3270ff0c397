#pragma once
// The small window shown while the old timestamps of two runs are merged.
// TtfCompOldStamp is what the merge talks to on its own thread; the widget
// lives on the window thread and only shows the folder pair it is sent. The
// user cannot close it: it goes when the merge ends.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "copyengine/oldstamp.h"
#include "copyengine/windows/folderwindow.h"
#include "platform/gui/remotewidget.h"
#include "platform/ui/snapshot.h"

namespace kv {

inline constexpr char kCompOldStampCaption[] = "Kestrovane [ Aktuallisieren der erweiterten Synchronisation ]";

struct CompOldStampSnapshot {
  std::string sourceFolder;
  std::string destFolder;
  bool minimized = false;
};
using CompOldStampChannel = platform::ui::SnapshotChannel<CompOldStampSnapshot>;

class TtfCompOldStampWidget : public TFolderWindow {
 public:
  // Laid out for 96 dpi and scaled for dpi (the screen's when not given).
  explicit TtfCompOldStampWidget(std::optional<int> dpi = std::nullopt);

  // ShowFolders on the window side: both paths shortened to fit.
  void Apply(const CompOldStampSnapshot& snapshot) { ShowFolders(snapshot.sourceFolder, snapshot.destFolder); }
};

class TtfCompOldStamp : public IOldStampMergeView {
 public:
  TtfCompOldStamp();
  ~TtfCompOldStamp() override;

  void Begin(bool hidden, bool minimized) override;
  void ShowFolders(std::string_view source, std::string_view dest) override;
  void End() override;

  bool hasWidget() const { return widget_ != nullptr && !widget_->IsHeadless(); }
  const std::shared_ptr<CompOldStampChannel>& channel() const { return channel_; }

 private:
  std::shared_ptr<CompOldStampChannel> channel_;
  CompOldStampSnapshot snapshot_;
  std::unique_ptr<platform::gui::RemoteWidget<TtfCompOldStampWidget>> widget_;
};

// Makes every merge of a run that is not hidden show a TtfCompOldStamp.
// InstallCopyWindow calls it.
void InstallCompOldStampWindow();

}  // namespace kv

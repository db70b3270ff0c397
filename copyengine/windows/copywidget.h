#pragma once
// The copy window on screen: the widget of TtfCopy (copyengine/copywindow.h).
// It lives on the window thread, shows the snapshots its model publishes and
// sends the cancel button and the close box back to the model as messages;
// it decides nothing itself.
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

#include "copyengine/copywindow.h"
#include "ftp/windows/ftpmsgwidget.h"
#include "platform/msgloop.h"

class QLabel;
class QProgressBar;
class QToolButton;

namespace kv {

class TtfCopyWidget : public QWidget {
 public:
  // model: where clicks and close requests go (may be null in tests). Laid
  // out for 96 dpi and scaled for dpi (the screen's when not given).
  explicit TtfCopyWidget(platform::HandlerRef model, bool minimized = false, std::optional<int> dpi = std::nullopt,
                         QWidget* parent = nullptr);

  // Shows a snapshot; path labels are shortened again with the real font.
  void Apply(const CopyWindowSnapshot& snapshot);

  QLabel* label(CopyLabel id) const { return labels_[static_cast<size_t>(id)]; }
  QProgressBar* bar(CopyBar id) const { return bars_[static_cast<size_t>(id)]; }
  QToolButton* abortButton() const { return sbAbort_; }
  // The FTP log view, 0 x 0 pixels beyond the window's bottom right corner.
  TMFtpMessengerWidget* ftpLog() const { return MFtpMessenger1_; }

 protected:
  // The close box never closes by itself: the model decides (it asks the
  // cancel question, or hides the window once a cancel was confirmed).
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void ApplyContent(const CopyWindowSnapshot& snapshot);
  void ApplyLabel(QLabel& label, const CopyLabelState& state);
  int ScaleX(int x) const;

  platform::HandlerRef model_;
  int scaleDivisor_ = 0;  // 0: laid out at 96 dpi as designed
  std::array<QLabel*, static_cast<size_t>(CopyLabel::Count)> labels_{};
  std::array<QProgressBar*, static_cast<size_t>(CopyBar::Count)> bars_{};
  QToolButton* sbAbort_ = nullptr;
  TMFtpMessengerWidget* MFtpMessenger1_ = nullptr;
};

// Makes every TtfCopy that is not hidden show a TtfCopyWidget, every merge
// of old timestamps a TtfCompOldStamp and every folder check a
// TtfDelFldrCheckWidget. Called once by the program that has a window
// thread, before any job runs.
void InstallCopyWindow();

}  // namespace kv

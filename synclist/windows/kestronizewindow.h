#pragma once
// The widget of the list builder's progress window. It shows the snapshots
// of its TtfKestronize model and sends the abort button and close requests
// back to it; it decides nothing itself.
#include <QWidget>

#include <optional>

#include "synclist/kestronize.h"

class QCloseEvent;
class QLabel;
class QPushButton;

namespace kv {

class TtfKestronizeWidget : public QWidget {
 public:
  // Laid out for 96 dpi and scaled for dpi (the screen's when not given).
  explicit TtfKestronizeWidget(TKestronizeLink link, std::optional<int> dpi = std::nullopt);

  void Apply(const TKestronizeSnapshot& snapshot);

  QLabel* tpSrcDest() const { return tpSrcDest_; }
  QLabel* tpStatus() const { return tpStatus_; }
  QLabel* stbTime() const { return stbTime_; }
  QLabel* stbStatus() const { return stbStatus_; }
  QPushButton* sbAbort() const { return sbAbort_; }
  QPushButton* sbAbgleich() const { return sbAbgleich_; }
  // Width the current folder is shortened to, after scaling.
  int pathWidth() const { return pathWidth_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();

  TKestronizeLink link_;
  QLabel* tpSrcDest_ = nullptr;
  QLabel* tpStatus_ = nullptr;
  QLabel* stbTime_ = nullptr;
  QLabel* stbStatus_ = nullptr;
  QPushButton* sbAbort_ = nullptr;
  QPushButton* sbAbgleich_ = nullptr;
  int pathWidth_ = kKestronizePathWidth;
  bool shown_ = false;  // the model's last visible flag
};

// Makes every progress window that is not hidden get this widget (call once
// on the window thread's program before runs start).
void InstallKestronizeWindow();

}  // namespace kv

#pragma once
// The small windows at the end of a run that show the folders being worked
// on: a fixed size, centred on the desktop, a source line (blue caption) and
// a destination line (red caption) whose paths are shortened to fit. The
// user cannot close them: they go when their step ends.
#include <QWidget>

#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "platform/gui/remotewidget.h"
#include "platform/ui/snapshot.h"

class QCloseEvent;
class QLabel;

namespace kv {

struct FolderWindowLabel {
  const char* name;
  int left, top;
  const char* text;
  Qt::GlobalColor color = Qt::black;
};

// At 96 dpi. The labels must include "tlSrcFldr" and "tlDestFldr", the
// lines that show the paths.
struct FolderWindowLayout {
  const char* objectName;
  const char* caption;
  int width, height;
  std::span<const FolderWindowLabel> labels;
};

class TFolderWindow : public QWidget {
 public:
  // Scaled for dpi (the screen's when not given).
  TFolderWindow(const FolderWindowLayout& layout, std::optional<int> dpi);

  QLabel* label(const char* name) const;
  // Width a path is shortened to: client width - the path label's left - 5.
  int folderWidth() const;
  // An empty path empties its line.
  void ShowFolders(std::string_view source, std::string_view dest);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* tlSrcFldr_ = nullptr;
  QLabel* tlDestFldr_ = nullptr;
};

// A folder window of a model on a worker thread, fed from the channel and
// shown (without taking the focus when minimized) on the window thread.
template <class Widget, class Snapshot>
std::unique_ptr<platform::gui::RemoteWidget<Widget>> ShowFolderWindow(
    const std::shared_ptr<platform::ui::SnapshotChannel<Snapshot>>& channel, bool minimized, bool hidden = false) {
  return std::make_unique<platform::gui::RemoteWidget<Widget>>(
      [channel, minimized]() -> Widget* {
        auto* widget = new Widget();
        platform::gui::BindSnapshots(*widget, channel);
        widget->setAttribute(Qt::WA_ShowWithoutActivating, minimized);
        widget->show();
        return widget;
      },
      hidden);
}

}  // namespace kv

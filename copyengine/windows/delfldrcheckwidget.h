#pragma once
// The folder check's window on screen: the widget of TtfDelFldrCheck
// (copyengine/delfldrcheck.h). It shows the folders its model publishes and
// refuses to close.
#include <optional>

#include "copyengine/delfldrcheck.h"
#include "copyengine/windows/folderwindow.h"

namespace kv {

class TtfDelFldrCheckWidget : public TFolderWindow {
 public:
  // Laid out for 96 dpi and scaled for dpi (the screen's when not given).
  explicit TtfDelFldrCheckWidget(std::optional<int> dpi = std::nullopt);

  void Apply(const DelFldrCheckSnapshot& snapshot) { ShowFolders(snapshot.sourceFolder, snapshot.destFolder); }
};

// Makes every folder check show a TtfDelFldrCheckWidget. InstallCopyWindow
// calls it.
void InstallDelFldrCheckWindow();

}  // namespace kv

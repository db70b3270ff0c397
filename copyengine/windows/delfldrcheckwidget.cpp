#include "copyengine/windows/delfldrcheckwidget.h"

#include <memory>

namespace kv {
namespace {

constexpr FolderWindowLabel kLabels[] = {
    {"Label1", 8, 8, "Die zu löschenden Ordner werden geprüft. Bitte haben Sie ein wenig Geduld."},
    {"tlSFldr", 8, 40, "Quellordner :", Qt::blue},
    {"tlDFldr", 8, 64, "Zielordner :", Qt::red},
    {"tlSrcFldr", 96, 40, ""},
    {"tlDestFldr", 96, 64, ""},
};

constexpr FolderWindowLayout kLayout{"tfDelFldrCheck", kDelFldrCheckCaption.data(), 432, 108, kLabels};

using Channel = platform::ui::SnapshotChannel<DelFldrCheckSnapshot>;

class DelFldrCheckView : public IDelFldrCheckView {
 public:
  explicit DelFldrCheckView(bool minimized)
      : channel_(Channel::Create()), widget_(ShowFolderWindow<TtfDelFldrCheckWidget>(channel_, minimized)) {}
  void Publish(const DelFldrCheckSnapshot& snapshot) override { channel_->Publish(snapshot); }

 private:
  std::shared_ptr<Channel> channel_;
  std::unique_ptr<platform::gui::RemoteWidget<TtfDelFldrCheckWidget>> widget_;
};

}  // namespace

TtfDelFldrCheckWidget::TtfDelFldrCheckWidget(std::optional<int> dpi) : TFolderWindow(kLayout, dpi) {}

void InstallDelFldrCheckWindow() {
  SetDelFldrCheckViewFactory(
      [](bool minimized) -> std::unique_ptr<IDelFldrCheckView> { return std::make_unique<DelFldrCheckView>(minimized); });
}

}  // namespace kv

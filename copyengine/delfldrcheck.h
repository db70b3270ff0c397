#pragma once
// The small window shown at the end of a run while failed folder deletions
// are tried once more: which folders are being examined.
//
// TtfDelFldrCheck is the window's model on the run's thread; the widget
// (copyengine/windows) lives on the window thread and shows the snapshots,
// shortening each path to its label. The window is shown in hidden runs
// too, and the user cannot close it: it goes when the check ends. Without a
// window layer the model runs headless.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kv {

inline constexpr std::string_view kDelFldrCheckCaption = "Kestrovane [ Prüfen der zu löschenden Ordner ]";

struct DelFldrCheckSnapshot {
  std::string sourceFolder;  // whole paths; "" leaves the line empty
  std::string destFolder;
  friend bool operator==(const DelFldrCheckSnapshot&, const DelFldrCheckSnapshot&) = default;
};

// What shows one TtfDelFldrCheck on screen; made and destroyed on the run's
// thread, never blocking it.
class IDelFldrCheckView {
 public:
  virtual ~IDelFldrCheckView() = default;
  virtual void Publish(const DelFldrCheckSnapshot& snapshot) = 0;
};

// minimized: shown without taking the focus from what the user is doing.
using DelFldrCheckViewFactory = std::function<std::unique_ptr<IDelFldrCheckView>(bool minimized)>;
// Installed once by the window layer; without one every check runs
// headless. Returns the factory it replaces.
DelFldrCheckViewFactory SetDelFldrCheckViewFactory(DelFldrCheckViewFactory factory);

class TtfDelFldrCheck {
 public:
  // Shown at once when a window layer is installed, whether the run is
  // hidden or not.
  explicit TtfDelFldrCheck(bool minimized = false);

  // Each shows its paths (an emptied line for the side not given) and lets
  // the thread process its messages.
  void ShowBoth(std::string_view source, std::string_view dest);
  void ShowSource(std::string_view source);
  void ShowDest(std::string_view dest);

  bool HasView() const { return view_ != nullptr; }

 private:
  void Show(std::string_view source, std::string_view dest);

  DelFldrCheckSnapshot state_;
  std::unique_ptr<IDelFldrCheckView> view_;
};

}  // namespace kv

#pragma once
// The widget of the scheduler's main window: the schedule grid, the menus,
// the status bar and the notification-area icon of its TtfTimerMain model.
// The window lives hidden in the notification area; closing or minimising
// it only hides it, and "Timer beenden" or F12 ends the program. Where
// there is a display but no notification area, the window stays reachable:
// it is minimised instead of hidden.
#include <QMainWindow>

#include <optional>
#include <string_view>

#include "platform/windowmessages.h"
#include "scheduler/timermain.h"

class QMenu;
class QStatusBar;
class QSystemTrayIcon;
class QTableWidget;
class QTimer;

namespace kv {

class TtfTimerMainWidget : public QMainWindow, private ITimerMainView {
 public:
  // Laid out for 96 dpi and scaled for dpi (the screen's when not given).
  explicit TtfTimerMainWidget(TTimerMainSetup setup = {}, std::optional<int> dpi = std::nullopt);
  ~TtfTimerMainWidget() override;

  // The model's start-up, then the 1 ms timer that hides the window. The
  // exit status when the program must end at once.
  std::optional<int> FormCreate();
  TtfTimerMain& model() { return model_; }

  // A message posted to the window's class.
  void HandleWindowMessage(const platform::WindowMessage& message);
  // The session manager asks to end the session; a granted request ends
  // the program.
  void QueryEndSession(bool logOff);
  // "Timer beenden", "&Beenden" (F12), and the request to end the program.
  void EndProgram();

  QTableWidget* tsgTimerItems() const { return tsgTimerItems_; }
  QStatusBar* stbDown() const { return stbDown_; }
  QMenu* PopupMenu1() const { return popupMenu1_; }
  QSystemTrayIcon* tiIcon() const { return tiIcon_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // ITimerMainView
  bool AddTrayIcon(std::string_view tip) override;
  void SetTrayTip(std::string_view tip) override;
  void RemoveTrayIcon() override;
  void ShowWindow() override;
  void HideWindow() override;
  void StartShutTimer(int milliseconds) override;
  void WaitUntil(const std::function<bool()>& done) override;

  void CreateMenus();
  void CreateGrid();
  void ShowGrid();
  void FormResize();
  void miOptionsClick();
  bool StaysReachable() const;

  TtfTimerMain model_;
  QTableWidget* tsgTimerItems_ = nullptr;
  QStatusBar* stbDown_ = nullptr;
  QMenu* popupMenu1_ = nullptr;
  QSystemTrayIcon* tiIcon_ = nullptr;
  QTimer* timer1_ = nullptr;
  QTimer* timerShut_ = nullptr;
  bool gridPending_ = false;
};

}  // namespace kv

#include "scheduler/windows/menuwindows.h"

#include <QPointer>

#include "scheduler/windows/infobox.h"
#include "scheduler/windows/timeroptionswindow.h"

namespace kv {

// The windows are held loosely: their owner may go while they are open.

void OpenOptionsWindow(QWidget* owner, const std::string& timerIni, const std::string& scheduleFolder,
                       const std::string& profileNo) {
  QPointer<TtfTimerOptions> window = new TtfTimerOptions(timerIni, owner);
  window->setScheduleFolder(scheduleFolder);
  window->LoadProfileMail(profileNo);
  window->exec();
  delete window;
}

void OpenAboutBox(QWidget* owner) {
  QPointer<TTFInfoBox> box = new TTFInfoBox(owner);
  box->exec();
  delete box;
}

}  // namespace kv

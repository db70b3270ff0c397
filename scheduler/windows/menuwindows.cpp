#include "scheduler/windows/menuwindows.h"

namespace kv {

void OpenOptionsWindow(QWidget* /*owner*/, const std::string& /*scheduleFolder*/, const std::string& /*profileNo*/) {}

void OpenAboutBox(QWidget* /*owner*/) {}

}  // namespace kv

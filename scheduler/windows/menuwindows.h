#pragma once
// The two windows that the main window's menu opens: "&Einstellungen" and
// "&?" / "&Info". Each is created, shown modally and freed.
#include <string>

class QWidget;

namespace kv {

// The options window, modal: it edits timerIni, and the Mail key of the
// selected grid row's profile number ("" when none) in "Timer.dat" in
// scheduleFolder (ending in "\").
void OpenOptionsWindow(QWidget* owner, const std::string& timerIni, const std::string& scheduleFolder,
                       const std::string& profileNo);
// The about box, modal.
void OpenAboutBox(QWidget* owner);

}  // namespace kv

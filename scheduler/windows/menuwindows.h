#pragma once
// The two windows that the main window's menu opens: "&Einstellungen" and
// "&?" / "&Info". They are built apart from the main window and plug in
// here; until then the entries do nothing.
#include <string>

class QWidget;

namespace kv {

// The options window, modal, for the folder of "Timer.dat" (ending in "\")
// and the profile number of the grid row selected ("" when none).
void OpenOptionsWindow(QWidget* owner, const std::string& scheduleFolder, const std::string& profileNo);
// The about box, modal.
void OpenAboutBox(QWidget* owner);

}  // namespace kv

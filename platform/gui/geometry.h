#pragma once
// The scaling rule of platform/ui/geometry.h applied to widgets.
#include "platform/ui/geometry.h"

class QWidget;

namespace kv::platform::gui {

// Horizontal logical dpi of the screen the widget is on (the primary screen
// when it has none yet); 96 without a screen.
int ScreenDpi(const QWidget* widget);

// Applies the rule to a top-level window laid out at 96 dpi: its size, the
// geometry of every child widget that no layout manages, and the point size
// of every font set explicitly on it or its children (inherited fonts follow
// their parent). Nothing changes when the rule does not apply.
void ScaleWindow(QWidget& window, int dpi, int dpiOffset = ui::kWindowDpiOffset);

// Centres the window on the available area of its screen (unchanged
// without a screen).
void CenterOnDesktop(QWidget& window);

}  // namespace kv::platform::gui

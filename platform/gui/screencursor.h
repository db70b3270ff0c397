#pragma once
// The application's screen cursor, as the class library had it: one shape
// that, while set, shows over every window of the program whatever their
// own cursors say. Resetting it brings back each window's own cursor.
#include <Qt>

namespace kv::platform::gui {

void SetScreenCursor(Qt::CursorShape shape);
void ResetScreenCursor();
// The shape set, or Qt::ArrowCursor while none is.
Qt::CursorShape ScreenCursor();

}  // namespace kv::platform::gui

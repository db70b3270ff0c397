#pragma once
// Sizes and positions of the system's windows, as arithmetic without a
// toolkit. They are laid out for a screen of 96 dots per inch; on any other
// screen a window shrinks its layout by 96/(dpi + 8) (the about window by
// 96/(dpi - 8)) once, when it is created. The arithmetic is integer and
// rounds to the nearest pixel, halves away from zero, like the platform's
// MulDiv. Applying it to widgets: platform/gui/geometry.h.

namespace kv::platform::ui {

inline constexpr int kDesignDpi = 96;
// What is added to the screen's dpi to form the divisor.
inline constexpr int kWindowDpiOffset = 8;
inline constexpr int kAboutDpiOffset = -8;

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// value * numerator / denominator rounded to nearest, halves away from zero;
// a zero denominator gives value unchanged.
int MulDiv(int value, int numerator, int denominator);

// The divisor of the rule, or 0 when no scaling applies (dpi 96, or a
// divisor that would not be positive).
int ScaleDivisor(int dpi, int dpiOffset = kWindowDpiOffset);

// A length laid out at 96 dpi, for a divisor of ScaleDivisor (0: unchanged).
int ScaleLength(int value, int divisor);

// A control's rectangle: its edges scale, so controls that touch keep
// touching (width = scaled right edge - scaled left edge).
Rect ScaleControlRect(const Rect& rect, int dpi, int dpiOffset = kWindowDpiOffset);
// A window's size (position kept: windows are placed after scaling).
Rect ScaleWindowRect(const Rect& rect, int dpi, int dpiOffset = kWindowDpiOffset);

// Where a window of the given size is centred in an area; the division
// truncates toward zero, so a window larger than the area gets a negative
// offset.
Rect CenteredIn(const Rect& area, int width, int height);

}  // namespace kv::platform::ui

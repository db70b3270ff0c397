// The scaling arithmetic of the window layout.
#include "platform/ui/geometry.h"

#include <gtest/gtest.h>

namespace kv::platform::ui {
namespace {

TEST(Geometry, MulDivRoundsHalvesAwayFromZero) {
  struct Case {
    int value, numerator, denominator, expected;
  };
  const Case cases[] = {
      {517, 96, 128, 388},  // 387.75
      {153, 96, 128, 115},  // 114.75
      {2, 96, 128, 2},      // 1.5
      {-2, 96, 128, -2},    // -1.5
      {10, 96, 128, 8},     // 7.5
      {683, 96, 112, 585},  // 585.43
      {589, 96, 112, 505},  // 504.86
      {7, 3, 0, 7},         // no divisor: unchanged
      {2000000000, 96, 128, 1500000000},  // no overflow on the way
  };
  for (const Case& c : cases)
    EXPECT_EQ(MulDiv(c.value, c.numerator, c.denominator), c.expected)
        << c.value << "*" << c.numerator << "/" << c.denominator;
}

TEST(Geometry, DivisorFollowsTheRule) {
  EXPECT_EQ(ScaleDivisor(96), 0);
  EXPECT_EQ(ScaleDivisor(120), 128);
  EXPECT_EQ(ScaleDivisor(144), 152);
  EXPECT_EQ(ScaleDivisor(96, kAboutDpiOffset), 0);
  EXPECT_EQ(ScaleDivisor(120, kAboutDpiOffset), 112);
  EXPECT_EQ(ScaleDivisor(4, kAboutDpiOffset), 0);  // never a divisor <= 0
  // A length follows the divisor; no divisor leaves it as laid out.
  EXPECT_EQ(ScaleLength(300, ScaleDivisor(120)), 225);
  EXPECT_EQ(ScaleLength(300, ScaleDivisor(96)), 300);
}

TEST(Geometry, RectanglesAt96And120Dpi) {
  struct Case {
    Rect rect;
    int dpi, offset;
    Rect control, window;
  };
  const Case cases[] = {
      // At 96 dpi nothing changes.
      {{8, 168, 505, 16}, 96, kWindowDpiOffset, {8, 168, 505, 16}, {8, 168, 505, 16}},
      // At 120: edges 8,168 -> 6,126; right 513 -> 384.75 -> 385; bottom 184 -> 138.
      {{8, 168, 505, 16}, 120, kWindowDpiOffset, {6, 126, 379, 12}, {8, 168, 379, 12}},
      // Right 513 and bottom 254 of the abort button: 385 and 190.5 -> 191.
      {{402, 232, 111, 22}, 120, kWindowDpiOffset, {302, 174, 83, 17}, {402, 232, 83, 17}},
      // The progress window 517 x 153.
      {{0, 0, 517, 153}, 120, kWindowDpiOffset, {0, 0, 388, 115}, {0, 0, 388, 115}},
      // The about window 683 x 589 scaled by 96/112.
      {{10, 20, 683, 589}, 120, kAboutDpiOffset, {9, 17, 585, 505}, {10, 20, 585, 505}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleControlRect(c.rect, c.dpi, c.offset), c.control);
    EXPECT_EQ(ScaleWindowRect(c.rect, c.dpi, c.offset), c.window);
  }
}

TEST(Geometry, CentredWithTruncatingDivision) {
  EXPECT_EQ(CenteredIn({0, 0, 1024, 768}, 683, 589), (Rect{170, 89, 683, 589}));
  EXPECT_EQ(CenteredIn({0, 0, 1024, 768}, 1201, 800), (Rect{-88, -16, 1201, 800}));
  EXPECT_EQ(CenteredIn({100, 50, 800, 600}, 500, 300), (Rect{250, 200, 500, 300}));
}

}  // namespace
}  // namespace kv::platform::ui

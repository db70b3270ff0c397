#include "platform/gui/geometry.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include "platform/gui/tests/guitest.h"

namespace kv::platform::gui {
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

class GeometryWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::IsHeadlessPass()) GTEST_SKIP() << "needs the QApplication";
  }
};

struct ProbeWindow {
  QWidget window;
  QPushButton* abort;
  QLabel* red;
  QLabel* plain;
  QWidget* laidOutBox;
  QLabel* laidOut;

  ProbeWindow() {
    QFont font = window.font();
    font.setPointSize(8);
    window.setFont(font);
    window.setFixedSize(517, 153);
    abort = new QPushButton("&Abbruch", &window);
    abort->setGeometry(402, 112, 111, 22);
    red = new QLabel("Der Vorgang wird abgebrochen", &window);
    red->setGeometry(8, 24, 300, 17);
    QFont redFont = red->font();
    redFont.setPointSize(10);
    redFont.setBold(true);
    red->setFont(redFont);
    plain = new QLabel("Von:", &window);
    plain->setGeometry(8, 8, 40, 13);
    QFont bold;
    bold.setBold(true);
    bold.setResolveMask(QFont::WeightResolved);
    plain->setFont(bold);  // only the weight is its own; the size follows the window
    laidOutBox = new QWidget(&window);
    laidOutBox->setGeometry(200, 8, 100, 60);
    auto* layout = new QVBoxLayout(laidOutBox);
    laidOut = new QLabel("im Layout");
    layout->addWidget(laidOut);
  }
};

TEST_F(GeometryWidgetTest, NothingChangesAt96Dpi) {
  ProbeWindow probe;
  const QRect before = probe.abort->geometry();
  ScaleWindow(probe.window, 96);
  EXPECT_EQ(probe.window.size(), QSize(517, 153));
  EXPECT_EQ(probe.abort->geometry(), before);
  EXPECT_EQ(probe.window.font().pointSize(), 8);
}

TEST_F(GeometryWidgetTest, WindowAt120DpiShrinksBy96Over128) {
  ProbeWindow probe;
  probe.laidOutBox->layout()->activate();
  const QRect laidOutBefore = probe.laidOut->geometry();
  ScaleWindow(probe.window, 120);
  // A fixed-size window stays fixed at the new size.
  EXPECT_EQ(probe.window.size(), QSize(388, 115));
  EXPECT_EQ(probe.window.minimumSize(), QSize(388, 115));
  EXPECT_EQ(probe.window.maximumSize(), QSize(388, 115));
  // Edges 402,112 -> 301.5 -> 302, 84; right 513 -> 385, bottom 134 -> 100.5 -> 101.
  EXPECT_EQ(probe.abort->geometry(), QRect(302, 84, 83, 17));
  EXPECT_EQ(probe.red->geometry(), QRect(6, 18, 225, 13));
  EXPECT_EQ(probe.laidOutBox->geometry(), QRect(150, 6, 75, 45));
  // Fonts: 8 pt -> 6 pt; an own 10 pt -> 7.5 pt; an inherited size follows.
  EXPECT_DOUBLE_EQ(probe.window.font().pointSizeF(), 6.0);
  EXPECT_DOUBLE_EQ(probe.red->font().pointSizeF(), 7.5);
  EXPECT_TRUE(probe.red->font().bold());
  EXPECT_DOUBLE_EQ(probe.plain->font().pointSizeF(), 6.0);
  EXPECT_TRUE(probe.plain->font().bold());
  // A label that its layout places is not moved by the rule.
  EXPECT_EQ(probe.laidOut->pos(), laidOutBefore.topLeft());
}

TEST_F(GeometryWidgetTest, ScreenDpiComesFromTheScreen) {
  QWidget window;
  EXPECT_GT(ScreenDpi(&window), 0);
  EXPECT_EQ(ScreenDpi(&window), ScreenDpi(nullptr));
}

}  // namespace
}  // namespace kv::platform::gui

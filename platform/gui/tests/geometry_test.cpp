#include "platform/gui/geometry.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include "platform/gui/tests/guitest.h"

namespace kv::platform::gui {
namespace {

using GeometryWidgetTest = test::WithApplication;

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

TEST_F(GeometryWidgetTest, WindowAt120DpiShrinksBy96Over128AndAt96StaysAsItIs) {
  {
    ProbeWindow probe;
    ScaleWindow(probe.window, 96);
    EXPECT_EQ(probe.window.size(), QSize(517, 153));
    EXPECT_EQ(probe.abort->geometry(), QRect(402, 112, 111, 22));
    EXPECT_EQ(probe.window.font().pointSize(), 8);
  }
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

// The about box and its pill button, offscreen and on a real X server:
// placement, keys, clicks and hovers, a damaged picture, and the
// web line through a stand-in for xdg-open.
#include "scheduler/windows/infobox.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/screencursor.h"
#include "scheduler/windows/graphicbutton.h"
#include "scheduler/windows/tests/windowtest.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using platform::gui::ScreenCursor;
using test::MoveMouse;

const TInfoBoxScreen kScreen{96, QRect(0, 0, 1280, 1024)};

std::unique_ptr<TTFInfoBox> ShownBox(std::span<const uint8_t> picture = AboutBackgroundPicture()) {
  auto box = std::make_unique<TTFInfoBox>(nullptr, kScreen, picture);
  box->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(box.get()));
  return box;
}

// 96/(dpi - 8): 120 dpi gives 96/112. Placement: centred in the work area,
// truncating toward zero, so a small area gives a negative offset.
TEST(InfoBox, ScalesAndCentresInTheWorkArea) {
  const struct {
    int dpi;
    QRect area;
    QRect expected;
  } cases[] = {
      {96, QRect(0, 0, 1280, 1024), QRect(298, 217, 683, 589)},
      {120, QRect(0, 0, 1280, 1024), QRect(347, 259, 585, 505)},
      {96, QRect(0, 0, 600, 500), QRect(-41, -44, 683, 589)},
      {96, QRect(64, 27, 1216, 997), QRect(330, 231, 683, 589)},  // panels left and on top
      {8, QRect(0, 0, 1280, 1024), QRect(298, 217, 683, 589)},    // 96/0: left unscaled
      {4, QRect(0, 0, 1280, 1024), QRect(298, 217, 683, 589)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dpi << " dpi");
    TTFInfoBox box(nullptr, TInfoBoxScreen{c.dpi, c.area});
    EXPECT_EQ(box.geometry(), c.expected);
    EXPECT_EQ(box.minimumSize(), c.expected.size());
    EXPECT_EQ(box.maximumSize(), c.expected.size());
  }
}

// The pill of 113 x 25: two discs of 25 at the ends, the middle from
// x 12 to 100 and y 1 to 23. (QTest takes the point 0,0 for "the centre".)
TEST(GraphicButton, OnlyThePillOfTheLastPaintClicks) {
  TGraphicButton button;
  button.resize(113, 25);
  QSignalSpy clicks(&button, &TGraphicButton::clicked);
  QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(56, 12));
  EXPECT_EQ(clicks.count(), 0) << "clicked before its first paint";

  button.grab();  // paints
  const struct {
    QPoint point;
    bool clicks;
  } cases[] = {
      {{0, 1}, false},   {{112, 0}, false}, {{0, 24}, false},  {{112, 24}, false}, {{3, 3}, false},
      {{56, 0}, false},  {{2, 12}, true},   {{110, 12}, true}, {{12, 3}, true},    {{56, 12}, true},
      {{56, 23}, true},  {{100, 20}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.point.x() << "," << c.point.y());
    clicks.clear();
    QTest::mouseClick(&button, Qt::LeftButton, {}, c.point);
    EXPECT_EQ(clicks.count(), c.clicks ? 1 : 0);
  }
  clicks.clear();
  QTest::mouseClick(&button, Qt::RightButton, {}, QPoint(56, 12));
  EXPECT_EQ(clicks.count(), 0);
}

// Also with a damaged picture (a plain background then): no key closes the
// box, nor a click into the button's corners; a click on its rounded end
// does.
TEST(InfoBox, OnlyTheButtonClosesItEvenWithADamagedPicture) {
  const std::span<const uint8_t> good = AboutBackgroundPicture();
  const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(good.size() / 3));
  auto box = ShownBox(cut);
  EXPECT_TRUE(box->tiBack()->pixmap().isNull());
  for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space, Qt::Key_F4}) {
    QTest::keyClick(box.get(), static_cast<Qt::Key>(key));
    QTest::keyClick(box.get(), static_cast<Qt::Key>(key), Qt::AltModifier);
  }
  QTest::mouseClick(box->gbEnd(), Qt::LeftButton, {}, QPoint(1, 1));
  QTest::mouseClick(box->gbEnd(), Qt::LeftButton, {}, QPoint(111, 23));
  EXPECT_TRUE(box->isVisible());
  QTest::mouseClick(box->gbEnd(), Qt::LeftButton, {}, QPoint(3, 12));
  EXPECT_FALSE(box->isVisible());
}

// The button's hand shows over the pill only, and goes when the mouse
// leaves or the box closes; the web line underlines under the hand, the
// background makes it bold again with the default cursor.
TEST(InfoBox, HoverShowsTheHandUntilLeftOrClosed) {
  auto box = ShownBox();
  EXPECT_FALSE(box->tiBack()->pixmap().isNull());
  TGraphicButton* button = box->gbEnd();
  QLabel* web = box->label("tlWeb");
  QSignalSpy entered(button, &TGraphicButton::entered);
  MoveMouse(button, QPoint(56, 12));
  EXPECT_EQ(ScreenCursor(), Qt::PointingHandCursor);
  MoveMouse(button, QPoint(60, 12));
  EXPECT_EQ(entered.count(), 1);
  MoveMouse(button, QPoint(1, 1));  // a corner: still on the button
  EXPECT_EQ(ScreenCursor(), Qt::ArrowCursor);
  EXPECT_TRUE(button->hovering());
  MoveMouse(web, QPoint(5, 5));
  EXPECT_FALSE(button->hovering());
  EXPECT_TRUE(web->font().underline());
  EXPECT_FALSE(web->font().bold());
  EXPECT_EQ(ScreenCursor(), Qt::PointingHandCursor);
  MoveMouse(box->tiBack(), QPoint(30, 30));
  EXPECT_FALSE(web->font().underline());
  EXPECT_TRUE(web->font().bold());
  EXPECT_EQ(ScreenCursor(), Qt::ArrowCursor);

  MoveMouse(button, QPoint(56, 12));
  ASSERT_EQ(ScreenCursor(), Qt::PointingHandCursor);
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(56, 12));
  EXPECT_FALSE(box->isVisible());
  EXPECT_EQ(ScreenCursor(), Qt::ArrowCursor) << "the hand stayed after the box closed";
}

TEST(InfoBox, WebLineOpensTheProjectPageOnceAndAClosedBoxLeavesNoHand) {
  test::TempTree tree;
  tree.Write("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$(dirname \"$0\")/../opened\"\n");
  ASSERT_EQ(chmod(tree.Posix("bin/xdg-open").c_str(), 0755), 0);
  test::ScopedEnv path("PATH", (tree.Posix("bin") + ":" + getenv("PATH")).c_str());

  auto box = ShownBox();
  QTest::mouseClick(box->label("tlWeb"), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_EQ(box->webLaunches().size(), 1u);
  ASSERT_TRUE(box->webLaunches().front().WaitForExit(30000));
  EXPECT_EQ(tree.Read("opened"), std::string(kWebAddress) + "\n");
  MoveMouse(box->label("tlWeb"), QPoint(6, 6));
  box->close();  // by the window manager, under the hand
  EXPECT_EQ(ScreenCursor(), Qt::ArrowCursor);
}

}  // namespace
}  // namespace kv

#include "platform/gui/pathfit.h"

#include <QFont>
#include <QFontMetrics>

#include <gtest/gtest.h>

#include <string>

#include "platform/gui/tests/guitest.h"

namespace kv::platform::gui {
namespace {

using PathFitTest = test::WithApplication;

TEST_F(PathFitTest, ShortensToPixelsInAFont) {
  QFont font;
  font.setPointSize(9);
  const QFontMetrics metrics(font);
  const std::string path = R"(C:\Daten\Projekte\Mitte\deep\file.txt)";
  const QString target = R"(C:\...\deep\file.txt)";
  const int width = metrics.horizontalAdvance(target);
  // The wider candidate (one more folder) does not fit in that width, so
  // this is where the shortening stops.
  ASSERT_GT(metrics.horizontalAdvance(R"(C:\...\Mitte\deep\file.txt)"), width);
  EXPECT_EQ(MinimizeNamePixels(path, font, width), target.toStdString());
  const int whole = metrics.horizontalAdvance(QString::fromStdString(path));
  EXPECT_EQ(MinimizeNamePixels(path, font, whole), path);
  const std::string tiny = MinimizeNamePixels(path, font, metrics.horizontalAdvance("file..."));
  EXPECT_LE(metrics.horizontalAdvance(QString::fromStdString(tiny)), metrics.horizontalAdvance("file..."));
  EXPECT_TRUE(tiny.ends_with("...")) << tiny;
}

}  // namespace
}  // namespace kv::platform::gui

// The folder check's window, offscreen.
#include "copyengine/windows/delfldrcheckwidget.h"

#include <gtest/gtest.h>

#include <QLabel>

#include "copyengine/windows/tests/widget_support.h"

namespace kv {
namespace {

// Laid out at 96 dpi; at 120 dpi shrunk by 96 / (120 + 8) = 0.75.
TEST(DelFldrCheckWidget, LayoutAt96And120DpiAndNoClosing) {
  TtfDelFldrCheckWidget w(96);
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Kestrovane [ Prüfen der zu löschenden Ordner ]"));
  const test::LabelRow labels[] = {
      {"Label1", 8, 8, "Die zu löschenden Ordner werden geprüft. Bitte haben Sie ein wenig Geduld."},
      {"tlSFldr", 8, 40, "Quellordner :"}, {"tlDFldr", 8, 64, "Zielordner :"},
      {"tlSrcFldr", 96, 40, ""},            {"tlDestFldr", 96, 64, ""},
  };
  test::ExpectLabels(w, labels);
  EXPECT_EQ(w.folderWidth(), 432 - 96 - 5);
  TtfDelFldrCheckWidget scaled(120);
  for (const auto& [window, size] : {std::pair{&w, QSize(432, 108)}, std::pair{&scaled, QSize(324, 81)}}) {
    EXPECT_EQ(window->size(), size);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    window->show();
    EXPECT_FALSE(window->close());
    window->hide();
  }
  EXPECT_EQ(scaled.label("tlDestFldr")->pos(), QPoint(72, 48));
}

}  // namespace
}  // namespace kv

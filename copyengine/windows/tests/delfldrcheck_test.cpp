// The folder check's window, offscreen.
#include "copyengine/windows/delfldrcheckwidget.h"

#include <gtest/gtest.h>

#include <QLabel>

namespace kv {
namespace {

// Sizes and places at 96 dpi and shrunk by 96 / (120 + 8) = 0.75.
TEST(DelFldrCheckWidget, LayoutAt96And120DpiAndNoClosing) {
  struct Row {
    const char* name;
    QPoint at96, at120;
    const char* text;
  };
  const Row rows[] = {
      {"Label1", {8, 8}, {6, 6}, "Die zu löschenden Ordner werden geprüft. Bitte haben Sie ein wenig Geduld."},
      {"tlSFldr", {8, 40}, {6, 30}, "Quellordner :"},
      {"tlDFldr", {8, 64}, {6, 48}, "Zielordner :"},
      {"tlSrcFldr", {96, 40}, {72, 30}, ""},
      {"tlDestFldr", {96, 64}, {72, 48}, ""},
  };
  for (const int dpi : {96, 120}) {
    SCOPED_TRACE(dpi);
    TtfDelFldrCheckWidget w(dpi);
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Kestrovane [ Prüfen der zu löschenden Ordner ]"));
    EXPECT_EQ(w.size(), dpi == 96 ? QSize(432, 108) : QSize(324, 81));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    for (const Row& r : rows) {
      SCOPED_TRACE(r.name);
      ASSERT_NE(w.label(r.name), nullptr);
      EXPECT_EQ(w.label(r.name)->pos(), dpi == 96 ? r.at96 : r.at120);
      EXPECT_EQ(w.label(r.name)->text(), QString::fromUtf8(r.text));
    }
    EXPECT_EQ(w.label("tlSFldr")->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(w.label("tlDFldr")->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(w.folderWidth(), w.width() - w.label("tlSrcFldr")->x() - 5);
    w.show();
    EXPECT_FALSE(w.close());
    w.hide();
  }
}

}  // namespace
}  // namespace kv

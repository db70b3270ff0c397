// The folder check's window, offscreen.
#include "copyengine/windows/delfldrcheckwidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>

#include <atomic>
#include <thread>

#include "copyengine/oldstamp.h"
#include "copyengine/windows/copywidget.h"
#include "copyengine/windows/tests/widget_support.h"
#include "platform/msgloop.h"

namespace kv {
namespace {

using test::WaitUntil;

TtfDelFldrCheckWidget* FindWindow() { return test::FindTopLevel<TtfDelFldrCheckWidget>(); }

// Sizes and places at 96 dpi and shrunk by 96 / (120 + 8) = 0.75.
TEST(DelFldrCheckWidget, LayoutAt96And120Dpi) {
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
  }
}

TEST(DelFldrCheckWidget, RefusesToCloseAndFitsLongPaths) {
  TtfDelFldrCheckWidget w(96);
  w.show();
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  std::string deep = "C:\\";
  for (int i = 0; i < 40; ++i) deep += "Ordner" + std::to_string(i) + "\\";
  w.Apply({deep + "Ende\\", ""});
  const QString shown = w.label("tlSrcFldr")->text();
  EXPECT_TRUE(shown.startsWith("C:\\...\\") && shown.endsWith("\\Ende\\")) << shown.toStdString();
  EXPECT_LE(QFontMetrics(w.label("tlSrcFldr")->font()).horizontalAdvance(shown), w.folderWidth());
  EXPECT_EQ(w.label("tlDestFldr")->text(), "");
  w.hide();
}

// The check's thread drives the window through the installed factory; each
// call empties the line it does not name, and the window goes with the
// model.
TEST(DelFldrCheck, ShownFromTheRunsThreadAndRemovedAtTheEnd) {
  InstallCopyWindow();
  std::atomic<int> step{0};
  std::thread worker([&] {
    {
      TtfDelFldrCheck check;
      check.ShowBoth("C:\\Quelle\\", "D:\\Ziel\\");
      step = 1;
      while (step == 1) platform::MessageLoop::Current().WaitMessage(5);
      check.ShowDest("D:\\Ziel\\weg\\");
      step = 3;
      while (step == 3) platform::MessageLoop::Current().WaitMessage(5);
    }
    step = 5;
  });
  const auto lines = [](const char* source, const char* dest) {
    TtfDelFldrCheckWidget* w = FindWindow();
    return w && w->isVisible() && w->label("tlSrcFldr")->text() == source && w->label("tlDestFldr")->text() == dest;
  };
  EXPECT_TRUE(WaitUntil([&] { return step == 1 && lines("C:\\Quelle\\", "D:\\Ziel\\"); }));
  step = 2;
  EXPECT_TRUE(WaitUntil([&] { return step == 3 && lines("", "D:\\Ziel\\weg\\"); }));
  step = 4;
  while (step != 5) QApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  EXPECT_TRUE(WaitUntil([] { return FindWindow() == nullptr; }));
  SetCopyWindowViewFactory({});
  SetOldStampMergeViewFactory({});
  SetDelFldrCheckViewFactory({});
}

}  // namespace
}  // namespace kv

// The old-timestamp merge window, offscreen.
#include "copyengine/windows/compoldstamp.h"
#include "copyengine/windows/copywidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>

#include <atomic>
#include <memory>
#include <thread>

#include "copyengine/delfldrcheck.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "testsupport/fixtures.h"
#include "copyengine/windows/tests/widget_support.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::WaitUntil;

TtfCompOldStampWidget* FindWindow() { return test::FindTopLevel<TtfCompOldStampWidget>(); }

TEST(CompOldStampWidget, LayoutTextsAndColoursAt96Dpi) {
  TtfCompOldStampWidget w(96);
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Kestrovane [ Aktuallisieren der erweiterten Synchronisation ]"));
  EXPECT_EQ(w.size(), QSize(573, 156));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  const test::LabelRow labels[] = {
      {"Label1", 8, 8, "Die alten Zeitstempel werden mit den neuen verglichen und aktuallisiert."},
      {"Label2", 8, 24, "Diese Prüfung kann unter umständen einige Zeit in Anspruch nehmen, bitte gedulden Sie sich"},
      {"Label3", 8, 40,
       "einen Augenblick. Ist die erweiterte Synchronisation abgeschalten wird diese Prüfung nicht vorgenommen."},
      {"tlSFldr", 24, 72, "Quellordner :"}, {"tlDFldr", 24, 96, "Zielordner :"},
      {"tlSrcFldr", 96, 72, ""},            {"tlDestFldr", 96, 96, ""},
  };
  test::ExpectLabels(w, labels);
  EXPECT_EQ(w.label("tlSFldr")->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(w.label("tlDFldr")->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(w.folderWidth(), 573 - 96 - 5);
  EXPECT_EQ(w.font().pointSize(), 8);
}

// 96 / (120 + 8) = 0.75, halves rounded away from zero.
TEST(CompOldStampWidget, ScaledAt120Dpi) {
  TtfCompOldStampWidget w(120);
  EXPECT_EQ(w.size(), QSize(430, 117));
  EXPECT_EQ(w.label("tlSrcFldr")->pos(), QPoint(72, 54));
  EXPECT_EQ(w.label("tlDFldr")->pos(), QPoint(18, 72));
}

TEST(CompOldStampWidget, RefusesToCloseAndShortensFolders) {
  TtfCompOldStampWidget w(96);
  w.show();
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  std::string deep = "C:\\";
  for (int i = 0; i < 40; ++i) deep += "Ordner" + std::to_string(i) + "\\";
  w.Apply({deep + "Ende\\", "D:\\kurz\\", false});
  const QString shown = w.label("tlSrcFldr")->text();
  EXPECT_TRUE(shown.contains("...")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("Ende\\")) << shown.toStdString();
  EXPECT_LE(QFontMetrics(w.label("tlSrcFldr")->font()).horizontalAdvance(shown), w.folderWidth());
  EXPECT_EQ(w.label("tlDestFldr")->text(), "D:\\kurz\\");
  w.hide();
}

// The merge's thread drives the window; it is gone after End.
TEST(CompOldStamp, ShownFromAWorkerAndRemovedAtTheEnd) {
  std::atomic<bool> shown{false}, seen{false}, done{false};
  std::thread worker([&] {
    TtfCompOldStamp view;
    view.Begin(false, true);
    view.ShowFolders("C:\\Quelle\\", "D:\\Ziel\\");
    shown = true;
    while (!seen) platform::MessageLoop::Current().WaitMessage(5);
    view.End();
    done = true;
  });
  TtfCompOldStampWidget* w = nullptr;
  EXPECT_TRUE(WaitUntil([&] {
    w = FindWindow();
    return shown && w && w->isVisible() && w->label("tlSrcFldr")->text() == "C:\\Quelle\\";
  }));
  if (w) {
    EXPECT_EQ(w->label("tlDestFldr")->text(), "D:\\Ziel\\");
  }
  seen = true;
  while (!done) QApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  EXPECT_TRUE(WaitUntil([] { return FindWindow() == nullptr; }));
}

// A hidden merge makes no window but still hears of every pair.
TEST(CompOldStamp, HiddenMergeShowsNothingAndReportsTheFolders) {
  test::ScopedRegistry registry;
  test::TempTree t;
  t.Write("src/a.txt", "a");
  TOldStampBlock previous{{t.WinFolder("src"), "D:\\ziel\\", 1}, {{"a.txt", 1}}};
  TOldStampBlock current{{t.WinFolder("src"), "D:\\ziel\\", 1}, {{"b.txt", 2}}};
  test::WriteBytes(t.Posix("OS.vrl1"), EncodeOldStampBlocks({previous}));
  test::WriteBytes(t.Posix("OS.vrl"), EncodeOldStampBlocks({current}));

  TtfCompOldStamp view;
  OldStampMergeResult result = UpdateOldStamps(t.Win("OS.vrl"), true, false, &view);
  EXPECT_EQ(result.outcome, OldStampMergeOutcome::Merged) << result.error;
  EXPECT_FALSE(view.hasWidget());
  const auto latest = view.channel()->Latest();
  ASSERT_TRUE(latest);
  EXPECT_EQ(latest->sourceFolder, t.WinFolder("src"));
  QApplication::processEvents();
  EXPECT_EQ(FindWindow(), nullptr);
}

// The copy window's installation gives the engine's merges this window too,
// and its folder checks theirs.
TEST(CompOldStamp, InstalledWithTheCopyWindowForMergesThatAreNotHidden) {
  InstallCopyWindow();
  const std::unique_ptr<IOldStampMergeView> shown = CreateOldStampMergeView(false);
  EXPECT_NE(dynamic_cast<TtfCompOldStamp*>(shown.get()), nullptr);
  EXPECT_EQ(CreateOldStampMergeView(true), nullptr);
  EXPECT_TRUE(TtfDelFldrCheck().HasView());
  SetCopyWindowViewFactory({});
  SetOldStampMergeViewFactory({});
  SetDelFldrCheckViewFactory({});
  EXPECT_EQ(CreateOldStampMergeView(false), nullptr);
}

}  // namespace
}  // namespace kv

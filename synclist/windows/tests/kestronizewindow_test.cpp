// The progress window's widget, offscreen: layout at 96 and 120 dpi, the
// texts of a snapshot, and the model on a run thread talking to it.
#include "synclist/windows/kestronizewindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/gui/pathfit.h"
#include "platform/gui/qtbackend.h"
#include "synclist/abort.h"

namespace kv {
namespace {

namespace ui = platform::ui;

TKestronizeLink LinkForTest() {
  return {platform::HandlerRef{}, TKestronizeChannel::Create(), std::make_shared<ui::CancelFlag>()};
}

// Processes window-thread events until pred holds; false after a generous
// bound (a hang guard, not a timing check).
bool WaitUntil(const std::function<bool()>& pred) {
  for (int i = 0; i < 4000; ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TtfKestronizeWidget* FindWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "tfKestronize") return static_cast<TtfKestronizeWidget*>(w);
  }
  return nullptr;
}

TEST(KestronizeWidget, CaptionControlsAndGeometryAt96And120Dpi) {
  TtfKestronizeWidget w(LinkForTest(), 96);
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Kestrovane [ Fortschritt ]"));
  EXPECT_EQ(w.size(), QSize(517, 153));
  EXPECT_EQ(w.sbAbort()->text(), "&Abbruch");
  EXPECT_EQ(w.sbAbgleich()->text(), "Abgleich");
  EXPECT_TRUE(w.sbAbgleich()->isHidden());
  EXPECT_EQ(w.pathWidth(), 300);
  // Top to bottom: the two panels, the button at the right, the two bars.
  EXPECT_LT(w.tpSrcDest()->geometry().bottom(), w.tpStatus()->geometry().top());
  EXPECT_LT(w.tpStatus()->geometry().bottom(), w.sbAbort()->geometry().top());
  EXPECT_LT(w.sbAbort()->geometry().bottom(), w.stbTime()->geometry().top());
  EXPECT_LT(w.stbTime()->geometry().bottom(), w.stbStatus()->geometry().top());
  EXPECT_EQ(w.stbStatus()->geometry().bottom(), 152);
  EXPECT_EQ(w.sbAbort()->geometry().right(), w.tpStatus()->geometry().right());

  // At 120 dpi 96 / (120 + 8) = 0.75: 517 x 153 becomes 388 x 115 (halves
  // rounded up); edges 421, 509, 80, 105 of the button become 316, 382, 60, 79.
  TtfKestronizeWidget scaled(LinkForTest(), 120);
  EXPECT_EQ(scaled.size(), QSize(388, 115));
  EXPECT_EQ(scaled.pathWidth(), 225);
  EXPECT_EQ(scaled.sbAbort()->geometry(), QRect(316, 60, 66, 19));
}

TEST(KestronizeWidget, ShowsTheSnapshotTexts) {
  TtfKestronizeWidget w(LinkForTest(), 96);
  TKestronizeSnapshot s;
  s.sourceDestinationText = "Quelle: C:\\a\\ | Ziel: D:\\b\\";
  s.statusText = "Aktueller Prozeß: Suchen der Dateien";
  s.timeText = "Vergangene Zeit: 00:00:05";
  s.currentFolder = "C:\\eins\\zwei\\drei\\vier\\fünf\\sechs\\sieben\\acht\\neun\\zehn\\elf\\zwölf\\dreizehn\\";
  s.abortEnabled = false;
  w.Apply(s);
  EXPECT_EQ(w.tpSrcDest()->text(), QString::fromStdString(s.sourceDestinationText));
  EXPECT_EQ(w.tpStatus()->text(), QString::fromUtf8("Aktueller Prozeß: Suchen der Dateien"));
  EXPECT_EQ(w.stbTime()->text(), "Vergangene Zeit: 00:00:05");
  const QString path = w.stbStatus()->text();
  ASSERT_TRUE(path.startsWith("Aktueller Pfad: C:\\")) << path.toStdString();
  EXPECT_TRUE(path.contains("...")) << path.toStdString();
  EXPECT_TRUE(path.endsWith("dreizehn\\")) << path.toStdString();
  const QString shown = path.mid(QString("Aktueller Pfad: ").size());
  EXPECT_LE(QFontMetrics(w.stbStatus()->font()).horizontalAdvance(shown), w.pathWidth());
  EXPECT_FALSE(w.sbAbort()->isEnabled());
  s.currentFolder.clear();
  w.Apply(s);
  EXPECT_EQ(w.stbStatus()->text(), "");
}

// A run thread that keeps calling the progress callback, as a scan does.
class RunThread {
 public:
  explicit RunThread(bool hidden) {
    thread_ = std::thread([this, hidden] {
      TtfKestronize form(hidden);
      form.Show(false);
      hasWidget_ = form.hasWidget();
      TSyncListe list;
      try {
        while (!stop_) {
          form.ListProgress(list);
          ++callbacks_;
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
      } catch (const EAbort&) {
        aborted_ = true;
        form.FormClose();  // as the runner ends: the window goes
      }
      done_ = true;
    });
  }
  ~RunThread() {
    stop_ = true;
    while (!done_) QApplication::processEvents(QEventLoop::AllEvents, 5);
    thread_.join();
  }
  bool aborted() const { return aborted_; }
  bool done() const { return done_; }
  int callbacks() const { return callbacks_; }
  bool hasWidget() const { return hasWidget_; }

 private:
  std::atomic<bool> stop_{false}, done_{false}, aborted_{false}, hasWidget_{false};
  std::atomic<int> callbacks_{0};
  std::thread thread_;
};

QMessageBox* WaitForQuestion() {
  QMessageBox* box = nullptr;
  WaitUntil([&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
    }
    return box != nullptr;
  });
  return box;
}

void Click(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons()) {
    if (b->text() == text) {
      b->click();
      return;
    }
  }
  ADD_FAILURE() << "no button " << text.toStdString();
}

class KestronizeRun : public ::testing::Test {
 protected:
  void SetUp() override { InstallKestronizeWindow(); }
  void TearDown() override {
    SetKestronizeViewFactory({});
    WaitUntil([] { return FindWindow() == nullptr; });
  }
};

TEST_F(KestronizeRun, CloseDuringARunAsksAndOnlyYesStopsIt) {
  RunThread run(false);
  TtfKestronizeWidget* window = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (window = FindWindow()) && window->isVisible() && !window->tpStatus()->text().isEmpty(); }));
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Kestrovane [ Fortschritt ]"));
  EXPECT_TRUE(window->tpSrcDest()->text().startsWith("Quelle: "));

  window->close();
  QMessageBox* box = WaitForQuestion();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QString::fromUtf8("Möchten Sie den Vorgang wirklich abbrechen?"));
  EXPECT_EQ(box->buttons().size(), 3);
  const int before = run.callbacks();
  Click(box, "&Nein");
  ASSERT_TRUE(WaitUntil([&] { return run.callbacks() > before + 2; }));  // the run goes on
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(run.aborted());

  window->sbAbort()->click();
  box = WaitForQuestion();
  ASSERT_NE(box, nullptr);
  Click(box, "&Ja");
  ASSERT_TRUE(WaitUntil([&] { return run.done(); }));
  EXPECT_TRUE(run.aborted());
  EXPECT_TRUE(WaitUntil([&] { return !FindWindow() || !FindWindow()->isVisible(); }));
}

TEST_F(KestronizeRun, HiddenRunShowsNothingAndStillRuns) {
  RunThread run(true);
  ASSERT_TRUE(WaitUntil([&] { return run.callbacks() > 5; }));
  EXPECT_FALSE(run.hasWidget());
  EXPECT_EQ(FindWindow(), nullptr);
}

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  kv::platform::gui::InstallQtWindowBackend();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "copyengine/windows/copywidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "copyengine/filecopy.h"
#include "copyengine/oldstamp.h"
#include "copyengine/windows/tests/widget_support.h"
#include "platform/gui/geometry.h"
#include "platform/msgloop.h"

namespace kv {
namespace {

using test::WaitUntil;

// Receives what the widget sends to its model, on this thread.
class Recorder : public platform::MessageHandler {
 public:
  std::vector<uint32_t> ids;

 protected:
  void HandleMessage(const platform::Message& m) override { ids.push_back(m.id); }
};

TEST(CopyWidgetTest, HasTheCaptionSizeAndControlsOfTheWindow) {
  TtfCopyWidget w(platform::HandlerRef{}, false, 96);
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Kestrovane [ Kopieren ]"));
  EXPECT_EQ(w.size(), QSize(531, 288));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);

  const test::LabelRow rows[] = {
      {"Label1", 8, 8, "Von:", true},         {"Label2", 8, 56, "Nach:", true},
      {"Label5", 8, 104, "Bisherige Kopierdauer:", true},
      {"tlTime", 8, 120, "00:00:00"},         {"Label3", 8, 152, "Dateigrösse:"},
      {"Label4", 8, 192, "Gesamtgrösse:"},
      {"tlAbort1", 8, 24, "Der Vorgang wird abgebrochen", true, false},
      {"tlabort2", 8, 56, "Bitte haben Sie etwas Geduld.", true, false},
  };
  test::ExpectLabels(w, rows);
  EXPECT_EQ(w.findChild<QLabel*>("tlSrc")->geometry(), QRect(8, 24, 500, 17));
  EXPECT_EQ(w.findChild<QLabel*>("tlDest")->geometry(), QRect(8, 72, 500, 13));
  EXPECT_EQ(w.findChild<QProgressBar*>("pgFile")->geometry(), QRect(8, 168, 505, 16));
  EXPECT_EQ(w.findChild<QProgressBar*>("pgAll")->geometry(), QRect(8, 208, 505, 16));
  auto* button = w.findChild<QToolButton*>("sbAbort");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->text(), QString("&Abbruch"));
  EXPECT_EQ(button->geometry(), QRect(402, 232, 111, 22));
  QLabel* red = w.label(CopyLabel::tlAbort1);
  EXPECT_EQ(red->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_GT(red->font().pointSizeF(), w.label(CopyLabel::Label1)->font().pointSizeF());
}

// 96 / (120 + 8) = 0.75; edges scale, halves away from zero.
TEST(CopyWidgetTest, ShrinksItsLayoutOnAScreenOf120Dpi) {
  TtfCopyWidget w(platform::HandlerRef{}, false, 120);
  EXPECT_EQ(w.size(), QSize(398, 216));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_EQ(w.label(CopyLabel::tlSrc)->geometry(), QRect(6, 18, 375, 13));
  EXPECT_EQ(w.bar(CopyBar::pgFile)->geometry(), QRect(6, 126, 379, 12));
  EXPECT_EQ(w.abortButton()->geometry(), QRect(302, 174, 83, 17));
  CopyWindowSnapshot s = InitialCopyWindowSnapshot();
  s.labels[static_cast<int>(CopyLabel::tlFullSize)].text = "5,00 GB";
  s.labels[static_cast<int>(CopyLabel::tlFullSize)].rightEdge = 513;
  w.Apply(s);
  QLabel* full = w.label(CopyLabel::tlFullSize);
  EXPECT_EQ(full->x() + full->width(), 385);  // the bar's right end
  EXPECT_EQ(w.bar(CopyBar::pgAll)->geometry().right() + 1, 385);
  w.hide();
}

TEST(CopyWidgetTest, ShowsSnapshotsWithPathsShortenedInItsOwnFont) {
  TtfCopyWidget w(platform::HandlerRef{}, false, 96);
  CopyWindowSnapshot s = InitialCopyWindowSnapshot();
  const std::string longPath = "C:\\" + std::string(120, 'a') + "\\" + std::string(120, 'b') + "\\Bericht.doc";
  s.labels[static_cast<int>(CopyLabel::tlSrc)].path = longPath;
  s.labels[static_cast<int>(CopyLabel::tlSrc)].text = "not shown: the widget measures itself";
  s.labels[static_cast<int>(CopyLabel::tlDest)].path = "C:\\kurz.txt";
  s.labels[static_cast<int>(CopyLabel::tlFileSize)].text = "1,13 KB";
  s.labels[static_cast<int>(CopyLabel::tlFileSize)].rightEdge = 513;
  s.bars[static_cast<int>(CopyBar::pgFile)].max = 1000;
  s.bars[static_cast<int>(CopyBar::pgFile)].position = 250;
  w.Apply(s);

  QLabel* src = w.label(CopyLabel::tlSrc);
  EXPECT_TRUE(src->text().startsWith("C:\\..\\")) << src->text().toStdString();
  EXPECT_TRUE(src->text().endsWith("\\Bericht.doc"));
  EXPECT_LT(QFontMetrics(src->font()).horizontalAdvance(src->text()), src->width());
  EXPECT_EQ(w.label(CopyLabel::tlDest)->text(), QString("C:\\kurz.txt"));
  QLabel* size = w.label(CopyLabel::tlFileSize);
  EXPECT_EQ(size->text(), QString("1,13 KB"));
  EXPECT_EQ(size->x() + size->width(), 513);
  EXPECT_EQ(w.bar(CopyBar::pgFile)->maximum(), 1000);
  EXPECT_EQ(w.bar(CopyBar::pgFile)->value(), 250);
  EXPECT_TRUE(w.isVisible());

  s.visible = false;
  w.Apply(s);
  EXPECT_FALSE(w.isVisible());
}

TEST(CopyWidgetTest, AMinimizedRunIsShownWithoutActivation) {
  TtfCopyWidget w(platform::HandlerRef{}, true);
  EXPECT_TRUE(w.testAttribute(Qt::WA_ShowWithoutActivating));
  TtfCopyWidget normal(platform::HandlerRef{});
  EXPECT_FALSE(normal.testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST(CopyWidgetTest, ButtonAndCloseBoxGoToTheModelAndTheWindowStays) {
  Recorder model;
  TtfCopyWidget w(model.Ref());
  w.Apply(InitialCopyWindowSnapshot());
  ASSERT_TRUE(w.isVisible());
  w.close();
  EXPECT_TRUE(w.isVisible());
  w.abortButton()->click();
  platform::MessageLoop::Current().ProcessMessages();
  EXPECT_EQ(model.ids, (std::vector<uint32_t>{kCopyMsgClose, kCopyMsgAbortClick}));
}

// A job on a worker thread with the window on this one: the user presses the
// button, confirms, and the job sees the abort at its next pump.
TEST(CopyWidgetTest, AJobOnItsThreadIsCancelledFromTheWindow) {
  InstallCopyWindow();
  std::atomic<bool> ready{false}, finished{false}, stop{false}, sawAbort{false};
  std::thread job([&] {
    TtfCopy window;
    ShortenPathLabel(window, CopyLabel::tlDest, "C:\\ziel\\datei.txt");
    window.ProcessMessages();
    ready = true;
    while (!AbortRequested() && !stop) {
      window.ProcessMessages();
      platform::MessageLoop::Current().WaitMessage(10);
    }
    sawAbort = AbortRequested();
    window.ShowAborting();
    finished = true;
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });

  QPointer<TtfCopyWidget> widget;
  ASSERT_TRUE(WaitUntil([&] {
    widget = test::FindTopLevel<TtfCopyWidget>();
    return ready && widget && widget->isVisible() &&
           widget->label(CopyLabel::tlDest)->text() == QString("C:\\ziel\\datei.txt");
  }));
  widget->abortButton()->click();
  QMessageBox* box = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box != nullptr;
  }));
  EXPECT_EQ(box->text(), QString::fromUtf8("Möchten Sie den Vorgang abbrechen?"));
  box->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(WaitUntil([&] { return finished.load(); }));
  EXPECT_TRUE(sawAbort);
  ASSERT_TRUE(WaitUntil([&] { return widget && widget->label(CopyLabel::tlAbort1)->isVisible(); }));
  EXPECT_TRUE(widget->label(CopyLabel::tlSrc)->text().isEmpty());
  stop = true;
  job.join();
  EXPECT_TRUE(WaitUntil([&] { return widget.isNull(); })) << "the widget goes with its model";
  SetCopyWindowViewFactory({});
  SetOldStampMergeViewFactory({});
}

}  // namespace
}  // namespace kv

// The FTP log view on screen (offscreen): what the model writes shows with
// its prefixes, indentation, colours and font, and a window, its model and
// the component may go in any order.
#include "ftp/windows/ftpmsgwidget.h"

#include <QApplication>
#include <QPointer>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <memory>

#include "copyengine/windows/tests/widget_support.h"

namespace kv {
namespace {

using test::WaitUntil;

struct ShownLine {
  QString text;
  QColor color;
  bool operator==(const ShownLine&) const = default;
};

std::vector<ShownLine> Shown(const TMFtpMessengerWidget& widget) {
  std::vector<ShownLine> lines;
  for (QTextBlock block = widget.document()->begin(); block.isValid(); block = block.next()) {
    const QList<QTextLayout::FormatRange> formats = block.textFormats();
    lines.push_back({block.text(), formats.isEmpty() ? QColor() : formats.front().format.foreground().color()});
  }
  return lines;
}

TEST(TMFtpMessengerWidget, ShowsTheLinesOfItsModelInTheirColoursAndFont) {
  TMFtp ftp;
  TMFtpMessenger model({.hidden = true});
  TMFtpMessengerWidget widget;
  BindMessenger(widget, model.Channel());
  EXPECT_TRUE(widget.isReadOnly());
  EXPECT_EQ(widget.lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_FALSE(widget.testAttribute(Qt::WA_InputMethodEnabled));

  model.AddLine("");  // an empty first line is a line of its own
  model.InfoReceived(ftp, ftpInfoSent, "USER joe\r\n");
  model.InfoReceived(ftp, ftpInfoReceived, "220-a\r\n220 b\r\n");
  model.ErrorReceived(ftp, ftpErrRefused, "Connection Refused");
  const std::vector<ShownLine> classic = {{"", QColor()},
                                          {"COMMAND:>   USER joe", QColor(0, 128, 0)},
                                          {"            220-a", Qt::black},
                                          {"            220 b", Qt::black},
                                          {"ERROR:>     Connection Refused", Qt::red}};
  ASSERT_TRUE(WaitUntil([&] { return Shown(widget) == classic; }));
  EXPECT_EQ(widget.font().family(), "Courier New");
  EXPECT_TRUE(widget.font().fixedPitch());

  model.SetStyle(msgMFtp);
  model.InfoReceived(ftp, ftpInfoReceived, "226 done\r\n");
  model.InfoReceived(ftp, ftpInfoRetrying, "Retrying...");
  ASSERT_TRUE(WaitUntil([&] { return Shown(widget).size() == classic.size() + 2; }));
  EXPECT_EQ(Shown(widget)[5], (ShownLine{"226 done", QColor(0, 128, 0)}));
  EXPECT_EQ(Shown(widget)[6], (ShownLine{"Retrying...", QColor(128, 0, 128)}));
  EXPECT_EQ(widget.font().family(), "MS Sans Serif");
  EXPECT_FALSE(widget.font().fixedPitch());
}

// A window made by the factory goes with its model; the component may go
// before or after the model, and the window may be closed by the toolkit
// while its model still writes.
TEST(TMFtpMessengerWidget, WindowModelAndComponentMayGoInAnyOrder) {
  InstallMessengerWindow();
  for (const bool componentFirst : {true, false}) {
    auto ftp = std::make_unique<TMFtp>();
    auto model = std::make_unique<TMFtpMessenger>();
    model->SetClient(ftp.get());
    ASSERT_TRUE(model->HasView());
    QPointer<TMFtpMessengerWidget> window;
    ASSERT_TRUE(WaitUntil([&] { return (window = test::FindTopLevel<TMFtpMessengerWidget>()) != nullptr; }));
    ftp->DoInfo(ftpInfoLoggedIn);
    ASSERT_TRUE(WaitUntil([&] { return window->toPlainText() == "STATUS:>    Login successful"; }));
    if (componentFirst) ftp.reset();
    model.reset();
    ftp.reset();
    ASSERT_TRUE(WaitUntil([&] { return window.isNull(); }));
  }
  auto model = std::make_unique<TMFtpMessenger>();
  QPointer<TMFtpMessengerWidget> window;
  ASSERT_TRUE(WaitUntil([&] { return (window = test::FindTopLevel<TMFtpMessengerWidget>()) != nullptr; }));
  delete window.data();
  model->AddLine("written after the window went");
  QApplication::processEvents();
  model.reset();
  QApplication::processEvents();
  SetMessengerViewFactory(nullptr);
}

}  // namespace
}  // namespace kv

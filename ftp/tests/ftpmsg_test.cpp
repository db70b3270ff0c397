// The FTP log view's model: what each report becomes in each style, the
// listener slots it takes and gives back, and a view and its component
// going away in either order.
#include "ftp/ftpmsg.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ftp/tests/ftpprobe.h"
#include "testsupport/fakeftpserver.h"

namespace kv {
namespace {

using Lines = std::vector<MessengerLine>;

platform::DateTime FixedClock() { return platform::DateTimeFromCivil({2024, 3, 7, 9, 5, 2}); }

struct Shown {
  const char* name;
  TMessengerStyle style;
  FtpInfo info;
  std::string text;
  Lines lines;
};

TEST(TMFtpMessenger, EachReportShowsWithItsPrefixColourAndStamp) {
  const std::string blanks(12, ' ');
  const Shown rows[] = {
      {"CommandClassic", msgClassic, ftpInfoSent, "USER joe\r\n", {{"COMMAND:>   USER joe", kColorGreen}}},
      {"CommandStamped", msgMFtpTime, ftpInfoSent, "USER joe\r\n", {{"[07.03.24 09:05:02] USER joe", kColorBlue}}},
      {"CommandPlain", msgMFtp, ftpInfoSent, "USER joe\r\n", {{"USER joe", kColorBlue}}},
      {"ReplyOfTwoLines", msgClassic, ftpInfoReceived, "220-Hello\r\n220 there\r\n",
       {{blanks + "220-Hello", kColorBlack}, {blanks + "220 there", kColorBlack}}},
      {"ReplyWithABlankLineAndARest", msgClassic, ftpInfoReceived, "220-a\r\n\r\n220 b",
       {{blanks + "220-a", kColorBlack}, {blanks, kColorBlack}, {blanks + "220 b", kColorBlack}}},
      {"ReplyNeverStamped", msgMFtpTime, ftpInfoReceived, "220-a\r\n220 b\r\n", {{"220-a\n220 b", kColorGreen}}},
      {"Resumable", msgClassic, ftpInfoResumable, "This site can resume", {{"STATUS:>    This site can resume", kColorBlue}}},
      {"RetryingPlain", msgMFtp, ftpInfoRetrying, "Retrying...", {{"Retrying...", kColorPurple}}},
      {"LoggedIn", msgClassic, ftpInfoLoggedIn, "Logged in", {{"STATUS:>    Login successful", kColorBlue}}},
      {"Debug", msgClassic, ftpInfoDebug, "x", {{"DEBUG:>     x", kColorRed}}},
      {"ProgressIsNotShown", msgClassic, ftpInfoProgress, "", {}},
      {"BlankTextIsNotShown", msgClassic, ftpInfoReceived, " \r\n", {}},
      {"DisconnectWithoutConnect", msgClassic, ftpInfoNotConnected, "Disconnected", {}},
  };
  TMFtp ftp;
  for (const Shown& row : rows) {
    SCOPED_TRACE(row.name);
    TMFtpMessenger view({.hidden = true, .clock = FixedClock});
    view.SetStyle(row.style);
    view.InfoReceived(ftp, row.info, row.text);
    EXPECT_EQ(view.Lines(), row.lines);
  }
}

TEST(TMFtpMessenger, AConnectionShowsWhoAndOnlyThenItsEnd) {
  struct Row {
    const char* server;
    const char* address;
    const char* who;
  };
  const Row rows[] = {
      {"", "", "specified server"},
      {"", "10.0.0.5", "10.0.0.5"},
      {"10.0.0.5", "10.0.0.5", "10.0.0.5"},
      {"ftp.example", "10.0.0.5", "ftp.example(ip: 10.0.0.5)"},
      {"ftp.example", "", "ftp.example"},
  };
  for (const Row& row : rows) {
    TMFtp ftp;
    if (*row.server) ftp.SetServer(row.server);
    TMFtpMessenger view({.hidden = true});
    view.InfoReceived(ftp, ftpInfoConnected, row.address);
    view.InfoReceived(ftp, ftpInfoNotConnected, "Disconnected");
    view.InfoReceived(ftp, ftpInfoNotConnected, "Disconnected");
    EXPECT_EQ(view.Lines(), (Lines{{std::string("STATUS:>    Connected to ") + row.who + ", waiting for welcome message",
                                    kColorBlue},
                                   {"STATUS:>    Disconnected", kColorBlue}}))
        << row.who;
  }
}

TEST(TMFtpMessenger, ShowEventsHideOnlyWhatTheySay) {
  TMFtp ftp;
  TMFtpMessenger view({.hidden = true});
  view.OnErrorShow = [](TMFtpMessenger&, FtpError error, bool& show) { show = error != ftpErrTimedOut; };
  view.OnMessageShow = [](TMFtpMessenger&, FtpInfo info, bool& show) { show = info != ftpInfoReceived; };
  view.ErrorReceived(ftp, ftpErrTimedOut, "Connection timed out");
  view.ErrorReceived(ftp, ftpErrRefused, "Connection Refused");
  view.InfoReceived(ftp, ftpInfoReceived, "220 hello");
  view.InfoReceived(ftp, ftpInfoSent, "NOOP\r\n");
  EXPECT_EQ(view.Lines(), (Lines{{"ERROR:>     Connection Refused", kColorRed}, {"COMMAND:>   NOOP", kColorGreen}}));
}

TEST(TMFtpMessenger, KeepsTheNewestLinesOnly) {
  TMFtpMessenger view({.hidden = true});
  for (size_t i = 0; i < kMessengerMaxLines + 5; ++i) view.AddLine(std::to_string(i));
  const Lines lines = view.Lines();
  ASSERT_EQ(lines.size(), kMessengerMaxLines);
  EXPECT_EQ(lines.front().text, "5");
  EXPECT_EQ(lines.back().text, std::to_string(kMessengerMaxLines + 4));
}

// ---- Following a component ------------------------------------------------------------------

// Slots still free on the component, found by taking them all.
int FreeInfoSlots(TMFtp& ftp) {
  std::vector<int> taken;
  for (int slot; (slot = ftp.AddInfoListener([](TMFtp&, FtpInfo, const std::string&) {})) > 0;) taken.push_back(slot);
  for (const int slot : taken) ftp.RemoveListener(slot);
  return static_cast<int>(taken.size());
}

TEST(TMFtpMessenger, FollowsALoginAndTakesOneSlotOfEachKind) {
  FakeSession s(Answering());
  TMFtp& ftp = s.ftp;
  TMFtpMessenger view({.hidden = true});
  view.SetClient(&ftp);
  view.SetClient(&ftp);
  EXPECT_EQ(view.Client(), &ftp);
  EXPECT_EQ(FreeInfoSlots(ftp), kFtpListenerSlots - 1);
  ASSERT_TRUE(s.probe.Run([&] { ftp.Login(); }, "loggedin"));
  std::vector<std::string> texts;
  for (const MessengerLine& line : view.Lines()) texts.push_back(line.text);
  const std::vector<std::string> expectedStart = {
      "STATUS:>    Connected to 127.0.0.1, waiting for welcome message", "            220 fake ready",
      "COMMAND:>   USER joe", "            331 Password required", "COMMAND:>   PASS (want to know) :-P"};
  ASSERT_GE(texts.size(), expectedStart.size());
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 5), expectedStart);
  EXPECT_EQ(texts.back(), "STATUS:>    Login successful");

  view.SetClient(nullptr);
  EXPECT_EQ(FreeInfoSlots(ftp), kFtpListenerSlots);
  const size_t shown = view.Lines().size();
  ftp.DoError(ftpErrTimedOut);
  EXPECT_EQ(view.Lines().size(), shown);
}

TEST(TMFtpMessenger, AViewAndItsComponentMayGoInEitherOrder) {
  {
    auto ftp = std::make_unique<TMFtp>();
    TMFtpMessenger view({.hidden = true});
    view.SetClient(ftp.get());
    ftp.reset();
    EXPECT_EQ(view.Client(), nullptr);
    view.SetClient(nullptr);
  }
  {
    TMFtp ftp;
    auto view = std::make_unique<TMFtpMessenger>(MessengerOptions{.hidden = true});
    view->SetClient(&ftp);
    view.reset();
    ftp.DoInfo(ftpInfoLoggedIn);  // no listener of the view is left to call
    ftp.DoError(ftpErrTimedOut);
    EXPECT_EQ(FreeInfoSlots(ftp), kFtpListenerSlots);
  }
}

}  // namespace
}  // namespace kv

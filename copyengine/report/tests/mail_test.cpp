// The error report's mail through a real mail path: msmtp (-t -i) delivering
// to an SMTP server on 127.0.0.1, the message read back with Python's email
// package; and the ways the mail program can fail without holding the run.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "copyengine/protocol.h"
#include "copyengine/report/errorreport.h"
#include "platform/files.h"
#include "platform/mail.h"
#include "testsupport/mailsink.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ReportMail : public ::testing::Test {
 protected:
  test::TempTree tree;
  test::ScopedEnv runtime{"XDG_RUNTIME_DIR", tree.Posix().c_str()};
  std::string ptk = tree.Win("00000.ptk");

  void SetUp() override {
    ProtocolStream protocol = ProtocolStream::Create(ptk);
    TSyncItem item;
    item.source = item.destination = "bericht.txt";
    protocol.Append(TPtkItem(item, kPtkError, "Zugriff verweigert"));
    protocol.Append(TPtkItem(item, kPtkDone, "Die Datei wurde kopiert."));
    protocol.AppendTrailer(TPtkTrailer::ForRunWithoutCopy());
    protocol.Close();
  }

  std::string ExpectedReport() {
    ProtocolStream protocol = ProtocolStream::OpenForReading(ptk);
    TReportText text;
    EXPECT_TRUE(WriteErrorReport(protocol, "Sicherung", text));
    return text.text();
  }

  // What the private temporary folder holds besides its own subfolders.
  std::vector<std::string> LeftInTempFolder() {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(tree.Posix("kestrovane"))) {
      if (!entry.is_directory()) left.push_back(entry.path().filename().string());
    }
    return left;
  }
};

TEST_F(ReportMail, ArrivesWithTheReportAttachedAndNoAddressOnACommandLine) {
  test::SmtpSink sink;
  if (!sink.running()) GTEST_SKIP() << "no SMTP server: /usr/bin/python3 with aiosmtpd is needed";
  test::ScopedEnv sendmail{platform::kSendmailVariable, sink.SendmailCommand().c_str()};
  // A file of the report's plain name in the way does not stop this run's.
  fs::create_directories(tree.Posix("kestrovane/Kestrovane_Protokoll.txt"));

  MailErrorProtocol(ptk, "admin@example.org", "Sicherung");

  const std::vector<test::ReceivedMail> mails = sink.Mails();
  ASSERT_EQ(mails.size(), 1u);
  const test::ReceivedMail& mail = mails[0];
  EXPECT_EQ(mail.subject, "Kestrovane Fehlerprotokoll");
  EXPECT_EQ(mail.to, "admin@example.org");
  EXPECT_EQ(mail.recipients, std::vector<std::string>{"admin@example.org"});
  EXPECT_EQ(mail.body, std::string(kReportMailBody));
  ASSERT_EQ(mail.attachments, 1);
  EXPECT_EQ(mail.attachmentName, "Kestrovane_Protokoll.txt");
  EXPECT_EQ(mail.attachment, ExpectedReport());
  EXPECT_EQ(sink.Calls(), (std::vector<std::vector<std::string>>{{"-t", "-i"}}));
  EXPECT_TRUE(LeftInTempFolder().empty());
}

TEST_F(ReportMail, FailuresOfTheMailProgramEndTheSendAndLeaveNoReport) {
  struct Case {
    const char* program;
    const char* address;
    uint32_t result;
  };
  const std::vector<Case> cases = {
      {"/nonexistent/sendmail -t -i", "a@example.org", platform::MAPI_E_LOGON_FAILURE},
      {"/bin/false", "a@example.org", platform::MAPI_E_FAILURE},
      {"/bin/sleep 600", "a@example.org", platform::MAPI_E_FAILURE},  // never reads: killed at the limit
      {"'unclosed -t", "a@example.org", platform::MAPI_E_LOGON_FAILURE},
      {"/bin/cat", "a@example.org\r\nBcc: b@example.org", platform::MAPI_E_INVALID_RECIPS},
      {"/bin/cat", "a@example.org\nb@example.org", platform::MAPI_E_INVALID_RECIPS},
  };
  for (const Case& c : cases) {
    test::ScopedEnv sendmail{platform::kSendmailVariable, c.program};
    platform::MapiMessage message{"Betreff", "Text", {{platform::MAPI_TO, c.address}}, {{ptk, "p.ptk"}}};
    EXPECT_EQ(platform::MAPISendMail(message, 0, 300ms), c.result) << c.program << " " << c.address;
    MailErrorProtocol(ptk, c.address, "Sicherung", 300ms);
    EXPECT_TRUE(LeftInTempFolder().empty()) << c.program;
  }
}

TEST_F(ReportMail, AReportThatCannotBeWrittenWholeIsNotMailed) {
  test::SmtpSink sink;
  if (!sink.running()) GTEST_SKIP() << "no SMTP server: /usr/bin/python3 with aiosmtpd is needed";
  test::ScopedEnv sendmail{platform::kSendmailVariable, sink.SendmailCommand().c_str()};
  const int result = test::RunWithFileSizeLimit(512, [&] {
    MailErrorProtocol(ptk, "admin@example.org", "Sicherung");
    return LeftInTempFolder().empty() ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(sink.Calls().empty());
}

}  // namespace
}  // namespace kv

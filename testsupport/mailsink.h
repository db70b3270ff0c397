#pragma once
// A real mail path for tests: an SMTP server of python3-aiosmtpd on
// 127.0.0.1 (a port of its own, read back) that keeps every message it
// receives, msmtp (-t -i) configured to deliver to it behind a wrapper that
// records its command line, and Python's email package as the reader of
// what arrived.
#include <sys/types.h>

#include <string>
#include <vector>

#include "testsupport/temptree.h"

namespace kv::test {

// One received message as Python's email package reads it.
struct ReceivedMail {
  std::string subject;
  std::string to;
  std::vector<std::string> recipients;  // the SMTP envelope's
  std::string body;                     // the text part, decoded
  int attachments = 0;
  std::string attachmentName;  // of the first attachment
  std::string attachment;      // its bytes, decoded
};

class SmtpSink {
 public:
  SmtpSink();
  ~SmtpSink();
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  bool running() const { return port_ > 0; }
  // A command line for KESTROVANE_SENDMAIL: msmtp -t -i delivering here.
  std::string SendmailCommand() const;
  // The arguments the mail program got, one call per entry.
  std::vector<std::vector<std::string>> Calls() const;
  std::vector<ReceivedMail> Mails() const;

 private:
  TempTree tree_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace kv::test

#include "testsupport/mailsink.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "testsupport/commands.h"

extern char** environ;

namespace kv::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSinkScript = R"(import asyncio, os, sys
from aiosmtpd.smtp import SMTP
folder = sys.argv[1]
class Keep:
    count = 0
    async def handle_DATA(self, server, session, envelope):
        Keep.count += 1
        name = os.path.join(folder, "mail-%04d" % Keep.count)
        with open(name + ".rcpt", "w") as f:
            f.write("\n".join(envelope.rcpt_tos))
        with open(name + ".part", "wb") as f:
            f.write(envelope.original_content)
        os.rename(name + ".part", name + ".eml")
        return "250 OK"
async def main():
    server = await asyncio.get_running_loop().create_server(lambda: SMTP(Keep()), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await asyncio.Event().wait()
asyncio.run(main())
)";

constexpr const char* kReadScript = R"(import email, email.policy, sys
message = email.message_from_bytes(open(sys.argv[1], "rb").read(), policy=email.policy.default)
out = sys.argv[2]
def put(name, data):
    with open(out + "." + name, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
put("subject", str(message["Subject"]))
put("to", str(message["To"]))
put("body", message.get_body(preferencelist=("plain",)).get_content())
attachments = list(message.iter_attachments())
put("count", str(len(attachments)))
if attachments:
    put("name", attachments[0].get_filename() or "")
    put("attachment", attachments[0].get_payload(decode=True))
)";

std::string Lines(const std::string& path) { return fs::exists(path) ? ReadFileText(path) : std::string(); }

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

SmtpSink::SmtpSink() {
  tree_.Write("sink.py", kSinkScript);
  tree_.Write("read.py", kReadScript);
  tree_.Mkdir("mails");
  int out[2];
  if (pipe(out) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string script = tree_.Posix("sink.py"), folder = tree_.Posix("mails");
  const char* argv[] = {"/usr/bin/python3", script.c_str(), folder.c_str(), nullptr};
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  FILE* reader = fdopen(out[0], "r");
  if (reader && fscanf(reader, "%d", &port_) != 1) port_ = 0;
  if (reader) fclose(reader);
  if (port_ <= 0) return;

  tree_.Write("msmtprc", "defaults\nauth off\ntls off\naccount sink\nhost 127.0.0.1\nport " + std::to_string(port_) +
                             "\nfrom kestrovane@localhost\naccount default : sink\n");
  chmod(tree_.Posix("msmtprc").c_str(), 0600);
  tree_.Write("sendmail.sh", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + tree_.Posix("calls/call-$$") +
                                 "\"\nexec /usr/bin/msmtp -C \"" + tree_.Posix("msmtprc") + "\" \"$@\"\n");
  chmod(tree_.Posix("sendmail.sh").c_str(), 0755);
  tree_.Mkdir("calls");
}

SmtpSink::~SmtpSink() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string SmtpSink::SendmailCommand() const { return ShellQuote(tree_.Posix("sendmail.sh")) + " -t -i"; }

std::vector<std::vector<std::string>> SmtpSink::Calls() const {
  std::vector<std::vector<std::string>> calls;
  for (const auto& entry : fs::directory_iterator(tree_.Posix("calls"))) {
    calls.push_back(SplitLines(ReadFileText(entry.path().string())));
  }
  return calls;
}

std::vector<ReceivedMail> SmtpSink::Mails() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(tree_.Posix("mails"))) {
    if (entry.path().extension() == ".eml") names.push_back(entry.path().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<ReceivedMail> mails;
  for (const std::string& name : names) {
    const std::string out = name + ".read";
    MustRun("/usr/bin/python3 " + ShellQuote(tree_.Posix("read.py")) + " " + ShellQuote(name) + " " + ShellQuote(out));
    ReceivedMail mail;
    mail.subject = Lines(out + ".subject");
    mail.to = Lines(out + ".to");
    mail.recipients = SplitLines(Lines(name.substr(0, name.size() - 4) + ".rcpt"));
    mail.body = Lines(out + ".body");
    mail.attachments = std::atoi(Lines(out + ".count").c_str());
    mail.attachmentName = Lines(out + ".name");
    mail.attachment = Lines(out + ".attachment");
    mails.push_back(std::move(mail));
  }
  return mails;
}

}  // namespace kv::test

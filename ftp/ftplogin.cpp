// TMFtp's login dialogue: the welcome, the proxy styles, user, password and
// account, the server type, the resume probe and the first directory.
#include <array>
#include <utility>

#include "ftp/ftp.h"
#include "ftp/ftpmisc.h"
#include "platform/text.h"

namespace kv {

using namespace platform;

namespace {

struct SystWord {
  std::string_view word;
  TMFtpServerType type;
};

// The first word found decides, in this order.
constexpr std::array<SystWord, 11> kSystWords{{
    {"UNIX", ftpstUNIX},
    {"BSD", ftpstBSD},
    {"SUNOS", ftpstSunOS},
    {"CLIX", ftpstClix},
    {"ULTRIX", ftpstULTRIX},
    {"MVS", ftpstMVS},
    {"QVT", ftpstQVT},
    {"NCSA", ftpstNCSA},
    {"WFTPD", ftpstWFTPD},
    {"WINDOWS_NT", ftpstMSFTP},
    {"CHAMELEON", ftpstChameleon},
}};

TMFtpServerType ServerTypeOfSystReply(const std::string& reply) {
  if (ReplyGroup(reply) == '5') return ftpstDefault;
  const std::string text = UpperCaseAscii(Copy(reply, 5, 99));
  const auto has = [&](std::string_view word) { return text.find(word) != std::string::npos; };
  for (const SystWord& w : kSystWords)
    if (has(w.word)) return w.type;
  if (has("VMS")) return has("MULTINET") ? ftpstVmsMultinet : ftpstVmsUcx;
  if (has("VM")) return has("VPS") ? ftpstVMVPS : ftpstVM;
  return ftpstDefault;
}

}  // namespace

void TMFtp::WelcomeReply(const std::string& reply) {
  operationCode_ = opLogin;
  if (ReplyGroup(reply) != '2') {
    Fail(ftpErrWelcomeRefused);
    return;
  }
  if (Username.empty()) Username = NeedInfo(niUser, Username);
  if (proxy_ == proxyNone && ServerType == ftpstAutoDetect && reply.find("NetTerm FTP server") != std::string::npos)
    ServerType = ftpstNetTerm;
  const std::string& server = Server();
  const std::string port = Port == 21 ? std::string() : ":" + std::to_string(Port);
  switch (proxy_) {
    case proxyNone:
      SendUser(Username);
      break;
    case proxyHost:
      SendLine("HOST " + server, [this](const std::string& r) {
        if (ReplyGroup(r) == '3')
          SendUser(Username);
        else
          Fail(ftpErrWelcomeRefused);
      });
      break;
    case proxyHostUser:
      SendUser(server + port + "!" + Username);
      break;
    case proxyOpen:
      SendLine("OPEN " + server, [this](const std::string& r) {
        if (ReplyGroup(r) == '2')
          SendUser(Username);
        else
          Fail(ftpErrWelcomeRefused);
      });
      break;
    case proxySite:
      if (ProxyUsername.empty()) ProxyUsername = NeedInfo(niUser, ProxyUsername);
      SendLine("USER " + ProxyUsername, [this](const std::string& r) { ProxyUserReply(r); });
      break;
    case proxyUserSite:
      SendUser(Username + "@" + server + port);
      break;
  }
}

void TMFtp::SendUser(std::string_view user) {
  SendLine("USER " + std::string(user), [this](const std::string& r) { UserReply(r); });
}

void TMFtp::UserReply(const std::string& reply) {
  switch (ReplyGroup(reply)) {
    case '2':
      ServerTypeStep();
      return;
    case '3':
      if (Password.empty()) Password = NeedInfo(niPassword, Password);
      SendLine("PASS " + Password, [this](const std::string& r) { PassReply(r); });
      return;
    default:
      Fail(ftpErrLoginRefused);
  }
}

void TMFtp::PassReply(const std::string& reply) {
  switch (ReplyGroup(reply)) {
    case '2':
      ServerTypeStep();
      return;
    case '3':
      if (Account.empty()) Account = NeedInfo(niAccount, Account);
      SendLine("ACCT " + Account, [this](const std::string& r) { AcctReply(r); });
      return;
    default:
      Fail(ftpErrLoginRefused);
  }
}

void TMFtp::AcctReply(const std::string& reply) {
  if (ReplyGroup(reply) == '2')
    ServerTypeStep();
  else
    Fail(ftpErrLoginRefused);
}

void TMFtp::ProxyUserReply(const std::string& reply) {
  switch (ReplyGroup(reply)) {
    case '2':
      SendSite();
      return;
    case '3':
      if (ProxyPassword.empty()) ProxyPassword = NeedInfo(niPassword, ProxyPassword);
      SendLine("PASS " + ProxyPassword, [this](const std::string& r) { ProxyPassReply(r); });
      return;
    default:
      Fail(ftpErrLoginRefused);
  }
}

void TMFtp::ProxyPassReply(const std::string& reply) {
  if (ReplyGroup(reply) == '2')
    SendSite();
  else
    Fail(ftpErrLoginRefused);
}

void TMFtp::SendSite() {
  SendLine("SITE " + Server(), [this](const std::string& r) {
    if (ReplyGroup(r) == '2')
      SendUser(Username);
    else
      Fail(ftpErrStepRefused);
  });
}

void TMFtp::ServerTypeStep() {
  if (ServerType != ftpstAutoDetect) {
    ResumeProbe();
    return;
  }
  SendLine("SYST", [this](const std::string& r) { SystReply(r); });
}

void TMFtp::SystReply(const std::string& reply) {
  ServerType = ServerTypeOfSystReply(reply);
  ResumeProbe();
}

void TMFtp::SetTransferType(const std::string& kind, TFtpReplyHandler next) {
  if (kind == lastType_) {
    next("299");
    return;
  }
  lastType_ = kind;
  SendLine("TYPE " + kind, [this, next = std::move(next)](const std::string& r) {
    if (ReplyGroup(r) != '2') lastType_.clear();  // the next transfer asks again
    next(r);
  });
}

// Some servers refuse "REST 100" in ASCII mode though they resume binary
// transfers, so the probe runs in binary mode.
void TMFtp::ResumeProbe() {
  SetTransferType("I", [this](const std::string&) {
    SendLine("REST 100", [this](const std::string& r) { Rest100Reply(r); });
  });
}

void TMFtp::Rest100Reply(const std::string& reply) {
  resumable_ = ReplyGroup(reply) == '3';
  if (!resumable_) {
    DoInfo(ftpInfoNotResumable);
    DirectoryStep();
    return;
  }
  DoInfo(ftpInfoResumable);
  // Its reply is read here, or the next command would take it for its own.
  SendLine("REST 0", [this](const std::string&) { DirectoryStep(); });
}

void TMFtp::DirectoryStep() {
  if (InitialDirectory.empty()) {
    SendLine("PWD", [this](const std::string& r) { PwdReply(r); });
    return;
  }
  SendLine("CWD " + InitialDirectory, [this](const std::string& r) { InitialCwdReply(r); });
}

void TMFtp::InitialCwdReply(const std::string& reply) {
  if (ReplyGroup(reply) == '2') directory_ = QuotedPath(reply);
  if (!directory_.empty()) {
    FinishLogin();
    return;
  }
  SendLine("PWD", [this](const std::string& r) { PwdReply(r); });
}

// A refused PWD fails the login (and may start a retry); the caller waits
// for OnLoggedIn or OnFtpError either way.
void TMFtp::PwdReply(const std::string& reply) {
  if (ReplyGroup(reply) != '2') {
    Fail(ftpErrStepRefused);
    return;
  }
  directory_ = DirectoryOfPwdReply(reply);
  FinishLogin();
}

std::string TMFtp::DirectoryOfPwdReply(const std::string& reply) const {
  const std::string path = QuotedPath(reply);
  return ServerType == ftpstNetTerm || ServerType == ftpstServU ? DrivePathToFtpPath(path) : path;
}

void TMFtp::FinishLogin() {
  // Set now, not when the completion message is served: a loss in between
  // is a loss after login, which is not retried.
  loggedIn_ = true;
  loggingIn_ = false;
  retryFinished_ = true;
  DoInfo(ftpInfoLoggedIn);
  Done();
}

}  // namespace kv

// TMFtp's commands on remote folders and files, and commands of the caller.
#include "ftp/ftp.h"
#include "ftp/ftpcache.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kv {

using namespace platform;

void TMFtp::ChangeDirectory(std::string_view directory) {
  if (!BeginOperation()) return;
  operationCode_ = opChangeDirectory;
  SendLine("CWD " + std::string(directory), [this](const std::string& r) { ChangeDirectoryReply(r); });
  WaitWhileBusy();
}

// The folder named in a 2xx reply is taken; a reply that names none is
// followed by PWD. After a refused change Directory is empty, which callers
// take as the sign of failure.
void TMFtp::ChangeDirectoryReply(const std::string& reply) {
  if (ReplyGroup(reply) != '2') {
    directory_.clear();
    EndWithError(ftpErrCommandRefused, std::string(kTextAccessDenied));
    return;
  }
  const std::string named = QuotedPath(reply);
  if (!named.empty()) {
    directory_ = named;
    Done();
    return;
  }
  SendLine("PWD", [this](const std::string& r) {
    if (ReplyGroup(r) != '2') {
      EndWithError(ftpErrStepRefused, {});
      return;
    }
    directory_ = DirectoryOfPwdReply(r);
    Done();
  });
}

void TMFtp::CreateDirectory(std::string_view name) {
  if (!BeginOperation()) return;
  operationCode_ = opCreateDirectory;
  SendLine("MKD " + std::string(name), [this](const std::string& r) { SimpleReply(r); });
  WaitWhileBusy();
}

void TMFtp::RemoveDirectory(std::string_view name) {
  if (name.empty() || !BeginOperation()) return;
  operationCode_ = opRemoveDirectory;
  removedName_ = Trim(name);
  SendLine("RMD " + std::string(name), [this](const std::string& r) { RemoveDirectoryReply(r); });
  WaitWhileBusy();
}

// The removed folder's cached listings go with it.
void TMFtp::RemoveDirectoryReply(const std::string& reply) {
  if (ReplyGroup(reply) != '2') {
    EndWithError(ftpErrCommandRefused, std::string(kTextAccessDenied));
    return;
  }
  std::string path = removedName_;
  if (!removedName_.starts_with("/")) path = directory_.ends_with("/") ? directory_ + path : directory_ + "/" + path;
  const int port = Port;
  const std::string filesFile = GetCacheFileName(Server(), Username, path, port, false);
  if (pendingCache_ && pendingCache_->filesFile == filesFile) pendingCache_.reset();
  platform::DeleteFile(GetCacheFileName(Server(), Username, path, port, true));
  platform::DeleteFile(filesFile);
  Done();
}

void TMFtp::DeleteFile(std::string_view name) {
  if (name.empty() || !BeginOperation()) return;
  operationCode_ = opDeleteFile;
  SendLine("DELE " + std::string(name), [this](const std::string& r) { SimpleReply(r); });
  WaitWhileBusy();
}

void TMFtp::RenameFile(std::string_view oldName, std::string_view newName) {
  if (oldName.empty() || oldName == newName || !BeginOperation()) return;
  operationCode_ = opRename;
  newName_ = newName;
  SendLine("RNFR " + std::string(oldName), [this](const std::string& r) { RenameReply(r); });
  WaitWhileBusy();
}

void TMFtp::RenameReply(const std::string& reply) {
  if (ReplyGroup(reply) != '3') {
    EndWithError(ftpErrCommandRefused, std::string(kTextAccessDenied));
    return;
  }
  SendLine("Rnto " + newName_, [this](const std::string& r) { SimpleReply(r); });
}

void TMFtp::SendCommand(std::string_view command, TFtpReplyHandler handler) {
  if (!BeginOperation()) return;
  if (command.empty()) {
    Done();
    return;
  }
  lastType_.clear();  // the command may have changed it
  if (!handler) {
    SendLine(command, [this](const std::string& r) { SimpleReply(r); });
    return;
  }
  SendLine(command, [this, handler = std::move(handler)](const std::string& reply) {
    SetReplyHandler(nullptr);  // the caller ends the operation with ClearBusy
    handler(reply);
  });
}

void TMFtp::ClearBusy() {
  busy_ = false;
  StartNoopTimer();
}

void TMFtp::SimpleReply(const std::string& reply) {
  if (ReplyGroup(reply) != '2') {
    EndWithError(ftpErrCommandRefused, std::string(kTextAccessDenied));
    return;
  }
  Done();
}

}  // namespace kv

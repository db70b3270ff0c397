// TMFtp.GetFile: downloads, fresh or resumed.
//
// A fresh download writes a file beside the local file, which takes its
// place only after a download without error (TFtpLocalFile), so a broken
// download never costs the previous file. A resumed one appends to the local
// file from its size: with REST when the server's SIZE says there is more,
// also when the server knows no SIZE; a server that cannot resume at all, or
// holds a shorter file, gets the whole file fetched again.
#include "ftp/ftp.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kv {

using namespace platform;

void TMFtp::GetFile(std::string_view remoteFile, std::string_view localFile, int64_t expectedSize) {
  if (!BeginFileTransfer(opDownload, Transfer::Download, remoteFile, localFile)) return;
  expectedSize_ = expectedSize;
  const std::string kind = TransferMode == AsciiTransfer ? "A" : "I";
  if (FileExists(localFile_)) {
    // Opened now, as a file that may be written: one that may not is never
    // replaced either.
    if (!local_.OpenExisting(localFile_)) {
      FailLocal(ftpErrLocalOpen);
      Done();
    } else {
      SetTransferType(kind, [this](const std::string& r) { AskResumeDownload(r); });
    }
  } else if (DirectoryExists(localFile_) || !local_.CreateReplacement(localFile_)) {
    if (DirectoryExists(localFile_)) SetLastError(EISDIR);
    FailLocal(ftpErrLocalOpen);
    Done();
  } else {
    SetTransferType(kind, [this](const std::string& r) { StartFreshDownload(r); });
  }
  WaitWhileBusy();
}

void TMFtp::AskResumeDownload(const std::string& typeReply) {
  if (ReplyGroup(typeReply) != '2') {
    EndWithError(ftpErrStepRefused, {});
    return;
  }
  const std::string answer = NeedInfo(niResume, {});
  if (answer != kAnswerResume) {
    if (EndedByAnswer(answer)) return;
    StartFreshDownload("299");
    return;
  }
  if (!resumable_) {
    DoInfo(ftpInfoNotResumable);
    StartFreshDownload("299");
    return;
  }
  if (sizeSupported_)
    SendLine("SIZE " + remoteFile_, [this](const std::string& r) { DownloadSizeReply(r); });
  else
    DownloadSizeReply("500");
}

// An answer other than "Resume", "Overwrite" or nothing cancels: the
// operation ends without a transfer (and without an error). True then.
bool TMFtp::EndedByAnswer(const std::string& answer) {
  if (answer.empty() || answer == kAnswerOverwrite) return false;
  Done();
  return true;
}

void TMFtp::StartFreshDownload(const std::string& typeReply) {
  if (!local_.CreateReplacement(localFile_)) {
    FailLocal(ftpErrLocalOpen);
    Done();
    return;
  }
  DataConnectionStep(typeReply, [this](const std::string& r) { RetrStep(r); });
}

void TMFtp::DownloadSizeReply(const std::string& reply) {
  uint64_t localSize = 0;
  if (!local_.Size(localSize)) {
    FailLocal(ftpErrLocalOpen);
    Done();
    return;
  }
  const int64_t local = static_cast<int64_t>(localSize);
  if (ReplyGroup(reply) == '2') {
    remoteSize_ = SizeOfReply(reply);
    if (remoteSize_ == local && local > 0) {
      DoInfo(ftpInfoNothingToDo);
      Done();
    } else if (remoteSize_ > local && local > 0) {
      ResumeDownload(local);
    } else {
      DoInfo(ftpInfoNotResumable, kTextCannotResumeFile);
      StartFreshDownload("299");
    }
    return;
  }
  // Without SIZE the server's REST decides.
  if (ReplyStartsWith(reply, "50")) {
    sizeSupported_ = false;
    if (local > 0) {
      ResumeDownload(local);
      return;
    }
  }
  StartFreshDownload("299");
}

void TMFtp::RetrStep(const std::string& reply) {
  TransferCommandStep(reply, "RETR " + remoteFile_, kTextResumeDownloadFailed);
}

void TMFtp::ResumeDownload(int64_t localSize) {
  local_.Seek(static_cast<uint64_t>(localSize));
  resumeOffset_ = localSize;
  DataConnectionStep("299", [this](const std::string& r) { RetrStep(r); });
}

// "150 Opening BINARY mode data connection for f (2048 bytes)": 2048.
void TMFtp::AnnounceDownloadSize(const std::string& reply) {
  const size_t open = reply.rfind('(');
  if (open == std::string::npos) return;
  const size_t blank = reply.find(' ', open);
  DoInfo(ftpInfoSize, reply.substr(open + 1, blank == std::string::npos ? std::string::npos : blank - open - 1));
}

// After a failed write the download goes on to its end without storing, so
// that the server's final reply is the last one of this operation.
void TMFtp::ReadDownloadData() {
  const uint64_t serial = transferSerial_;
  const bool read = ReadRound([this](std::string_view block) {
    if (!failedLocally_ && !local_.Write(block.data(), block.size())) FailLocal(ftpErrLocalWrite);
    return true;
  });
  if (read) ReportProgress(serial);
}

// A file of another size than the caller knows of is no copy of it: a
// server that ends the data connection early with a 226 would otherwise
// replace a whole file by a part.
void TMFtp::FinishDownload() {
  if (!listingValid_) return;  // the replacement is removed with the transfer
  const int64_t size = static_cast<int64_t>(local_.Position());
  if (expectedSize_ >= 0 && size != expectedSize_) {
    local_.Discard();
    errorText_ = "Received " + std::to_string(size) + " of " + std::to_string(expectedSize_) + " bytes";
    DoError(ftpErrDataConnection);
    return;
  }
  if (!local_.Commit()) FailLocal(ftpErrLocalWrite);
}

}  // namespace kv

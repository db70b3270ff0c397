// TMFtp.PutFile: uploads, fresh or resumed.
//
// The data goes out in rounds: each round reads and sends blocks until the
// socket is full or kFtpDataRoundBlocks blocks went, reports progress once
// and returns to the message loop; a round that was not stopped by a full
// socket posts the next one to itself. Nothing waits or pumps inside a
// round, and a round never runs inside another one (ftpdataconn.cpp).
//
// An upload resumes only where that cannot lose data: when the server holds
// a shorter file than the local one. Otherwise it overwrites.
#include <cerrno>

#include "ftp/ftp.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace kv {

using namespace platform;

void TMFtp::PutFile(std::string_view localFile, std::string_view remoteFile) {
  if (!BeginFileTransfer(opUpload, Transfer::Upload, remoteFile, localFile)) return;
  if (!local_.OpenForReading(localFile_)) {
    FailLocal(ftpErrLocalOpen);
    Done();
  } else {
    SetTransferType(TransferMode == AsciiTransfer ? "A" : "I",
                    [this](const std::string& r) { UploadAfterType(r); });
  }
  WaitWhileBusy();
}

void TMFtp::UploadAfterType(const std::string& typeReply) {
  if (ReplyGroup(typeReply) != '2') {
    EndWithError(ftpErrStepRefused, {});
    return;
  }
  if (resumable_ && sizeSupported_) {
    SendLine("SIZE " + remoteFile_, [this](const std::string& r) { UploadSizeReply(r); });
    return;
  }
  DataConnectionStep("299", [this](const std::string& r) { StorStep(r); });
}

void TMFtp::UploadSizeReply(const std::string& reply) {
  const auto store = [this] { DataConnectionStep("299", [this](const std::string& r) { StorStep(r); }); };
  if (ReplyStartsWith(reply, "50")) sizeSupported_ = false;
  if (ReplyGroup(reply) != '2' || SizeOfReply(reply) <= 0) {
    store();
    return;
  }
  remoteSize_ = SizeOfReply(reply);
  const std::string answer = NeedInfo(niResume, {});
  if (answer != kAnswerResume) {
    if (!EndedByAnswer(answer)) store();
    return;
  }
  uint64_t localSize = 0;
  if (!local_.Size(localSize)) {
    FailLocal(ftpErrLocalRead);
    Done();
    return;
  }
  if (remoteSize_ >= static_cast<int64_t>(localSize)) {
    DoInfo(ftpInfoNotResumable, kTextCannotResumeFile);
    store();
    return;
  }
  local_.Seek(static_cast<uint64_t>(remoteSize_));
  resumeOffset_ = remoteSize_;
  store();
}

void TMFtp::StorStep(const std::string& reply) {
  TransferCommandStep(reply, "STOR " + remoteFile_, kTextResumeUploadFailed);
}

// The upload ends where the local file ended when the data connection
// opened: a file that grows meanwhile is not chased.
void TMFtp::UploadDataOpened() {
  uint64_t size = 0;
  if (!local_.Size(size)) {
    FailUploadRead();
    return;
  }
  uploadEnd_ = static_cast<int64_t>(size);
  DoInfo(ftpInfoSize, std::to_string(size));
}

// Nothing is sent before the server said it takes the file (1xx): a server
// that connected in active mode at PORT may drop what comes before STOR.
// The file is closed once all of it went out or reading it failed; a write
// notice that comes after that (one still queued, a preliminary reply the
// server repeats) finds nothing left to send.
void TMFtp::WriteUploadData() {
  if (!dataOpened_ || !transferStarted_ || !local_.IsOpen()) return;
  const uint64_t serial = transferSerial_;
  bool sent = false;
  for (int blocks = 0;;) {
    if (pendingBegin_ == pendingEnd_) {
      if (UploadAllRead()) break;
      if (blocks == kFtpDataRoundBlocks) {
        PostToWindow(kMsgFtpUploadMore, serial);
        break;
      }
      if (!ReadUploadBlock()) return;
      ++blocks;
    }
    const int n = dataSocket_.Send(buffer_.data() + pendingBegin_, static_cast<int>(pendingEnd_ - pendingBegin_));
    if (dataSocket_.LastError == WSAEWOULDBLOCK) break;  // FD_WRITE comes when there is room
    if (dataSocket_.LastError != 0) {
      FailDataConnection(dataSocket_.LastError);
      return;
    }
    pendingBegin_ += static_cast<size_t>(n);
    bytesTransferred_ += n;
    sent = true;
  }
  if (sent && !ReportProgress(serial)) return;
  if (pendingBegin_ == pendingEnd_ && UploadAllRead()) FinishUploadData();
}

bool TMFtp::UploadAllRead() const { return static_cast<int64_t>(local_.Position()) >= uploadEnd_; }

bool TMFtp::ReadUploadBlock() {
  const auto left = static_cast<uint64_t>(uploadEnd_) - local_.Position();
  const size_t wanted = left < buffer_.size() ? static_cast<size_t>(left) : buffer_.size();
  size_t got = 0;
  if (!local_.Read(buffer_.data(), wanted, got) || got == 0) {
    if (got == 0 && GetLastError() == 0) SetLastError(ENODATA);  // the file shrank
    FailUploadRead();
    return false;
  }
  pendingBegin_ = 0;
  pendingEnd_ = got;
  return true;
}

// The data connection is closed as at the end of the file; the server's
// reply to it ends the operation, after the error.
void TMFtp::FailUploadRead() {
  FailLocal(ftpErrLocalRead);
  NoteDataClosed();
}

void TMFtp::FinishUploadData() {
  dataSocket_.Abandon();
  local_.Discard();
  const uint64_t serial = transferSerial_;
  DoInfo(ftpInfoTransferDone);
  if (TransferRunning(serial)) NoteDataClosed();
}

}  // namespace kv

// TMFtp's data connections: the PASV and PORT steps, the events of the data
// socket and the listener, and the rule by which a transfer ends. Listings,
// downloads and uploads (ftplisting.cpp, ftpget.cpp, ftpput.cpp) plug their
// data handlers and their final step in here.
//
// Data events are served one at a time: a data handler calls out to the
// caller (progress reports), and a caller that processes messages there
// would otherwise run the next data event inside the current one. An event
// that arrives meanwhile is noted and served when the current one is done,
// and nothing more is served once the transfer ended.
#include "ftp/ftp.h"
#include "ftp/ftppasv.h"
#include "platform/text.h"

namespace kv {

using namespace platform;

namespace {

constexpr std::string_view kTextDataFailed = "Data connection failed";

}  // namespace

void TMFtp::BeginTransfer(Transfer kind) {
  CloseTransfer();
  transfer_ = kind;
  ++transferSerial_;
  replyDone_ = false;
  dataClosed_ = false;
  dataOpened_ = false;
  transferStarted_ = false;
  failedLocally_ = false;
  pendingDataEvents_ = 0;
  pendingBegin_ = pendingEnd_ = 0;
  bytesTransferred_ = 0;
  remoteSize_ = 0;
  resumeOffset_ = 0;
  uploadEnd_ = 0;
  if (buffer_.size() != kFtpDataBlock) buffer_.resize(kFtpDataBlock);
}

// The start of a download or upload: false when it was refused or has
// ended at once (a name is empty: error 23 or 20).
bool TMFtp::BeginFileTransfer(TFtpOperation operation, Transfer kind, std::string_view remoteFile,
                              std::string_view localFile) {
  if (!BeginOperation()) return false;
  operationCode_ = operation;
  BeginTransfer(kind);
  remoteFile_ = remoteFile;
  localFile_ = localFile;
  if (!remoteFile_.empty() && !localFile_.empty()) return true;
  EndWithError(remoteFile_.empty() ? ftpErrNoRemoteName : ftpErrLocalOpen, {});
  WaitWhileBusy();
  return false;
}

// Without events: what is closed here is over, and nothing of it may
// complete later. A replacement file of a download goes with it.
void TMFtp::CloseTransfer() {
  dataSocket_.Abandon();
  listener_.Abandon();
  local_.Discard();
  transfer_ = Transfer::None;
  pendingDataEvents_ = 0;
}

// ---- Setting up the data connection --------------------------------------------

void TMFtp::DataConnectionStep(const std::string& typeReply, TFtpReplyHandler dataStep) {
  if (ReplyGroup(typeReply) != '2') {
    EndWithError(ftpErrStepRefused, {});
    return;
  }
  replyDone_ = false;
  dataClosed_ = false;
  if (Passive) {
    SendLine("PASV", [this, dataStep = std::move(dataStep)](const std::string& r) { PasvReply(r, dataStep); });
    return;
  }
  const std::string argument = BuildPortArgument();
  if (argument.empty()) {
    FailDataConnection(listener_.LastError);
    return;
  }
  SendLine("PORT " + argument, std::move(dataStep));
}

void TMFtp::PasvReply(const std::string& reply, const TFtpReplyHandler& dataStep) {
  if (ReplyGroup(reply) != '2' || !ParsePasvReply(reply)) {
    EndWithError(ftpErrStepRefused, {});
    return;
  }
  if (dataSocket_.LastError != 0) {
    FailDataConnection(dataSocket_.LastError);
    return;
  }
  dataStep("299");
}

// The address in the reply is never used: a server (or whoever forged the
// reply) could otherwise send the file to any host and port.
bool TMFtp::ParsePasvReply(const std::string& reply) {
  PasvNumbers numbers;
  if (!ParsePasvNumbers(reply, numbers) || PasvPort(numbers) == 0) return false;
  dataSocket_.RecreateSocket();
  if (dataSocket_.LastError != 0) return true;
  dataSocket_.TimeOut = TimeOut;
  dataSocket_.ReportWouldBlock = false;  // a connect always would block
  dataSocket_.SetAddressText(GetAddressText());
  dataSocket_.SetPortNumber(PasvPort(numbers));
  dataSocket_.Connect();
  return true;
}

std::string TMFtp::BuildPortArgument() {
  const std::string local = GetLocalAddressText();
  listener_.LastError = LastError;
  if (local.empty()) return {};
  listener_.RecreateSocket();
  if (listener_.LastError != 0) return {};
  listener_.SetAddressText(local);
  listener_.SetPortNumber(0);
  listener_.Listen();
  if (listener_.LastError != 0) return {};
  const uint16_t port = listener_.GetLocalPort();
  if (listener_.LastError != 0) return {};
  return PortArgument(local, port);
}

bool TMFtp::SendTransferCommand(const std::string& command) {
  return SendLine(command, [this](const std::string& r) { TransferReply(r); });
}

// The step after PASV or PORT of a download or upload: the transfer
// command, after "REST" when it resumes. A refused REST is error 28 with
// restRefused as its text.
void TMFtp::TransferCommandStep(const std::string& dataReply, std::string command, std::string_view restRefused) {
  if (ReplyGroup(dataReply) != '2') {
    EndWithError(ftpErrStepRefused, {});
    return;
  }
  if (resumeOffset_ == 0) {
    SendTransferCommand(command);
    return;
  }
  SendLine("REST " + std::to_string(resumeOffset_),
           [this, command = std::move(command), text = std::string(restRefused)](const std::string& r) {
             if (ReplyGroup(r) == '3') {
               SendTransferCommand(command);
               return;
             }
             CloseTransfer();
             EndWithError(ftpErrResume, text);
           });
}

// One round of reading: blocks until the socket is empty, at most
// kFtpDataRoundBlocks of them, each handed to take (false: stop, the
// transfer ended). True when data came and the transfer still runs.
bool TMFtp::ReadRound(const std::function<bool(std::string_view)>& take) {
  const uint64_t serial = transferSerial_;
  bool any = false;
  for (int round = 0; round < kFtpDataRoundBlocks; ++round) {
    const int n = dataSocket_.Receive(buffer_.data(), static_cast<int>(buffer_.size()));
    const int error = dataSocket_.LastError;
    if (error != 0 && error != WSAEWOULDBLOCK && error != WSAENOTSOCK) {
      FailDataConnection(error);
      return false;
    }
    if (n <= 0) break;
    any = true;
    bytesTransferred_ += n;
    if (!take(std::string_view(buffer_.data(), static_cast<size_t>(n))) || !TransferRunning(serial)) return false;
  }
  return any;
}

// ---- The completion rule ------------------------------------------------------------

// A transfer ends when both its final reply and the close of its data
// connection have come, in either order.
void TMFtp::TransferReply(const std::string& reply) {
  switch (ReplyGroup(reply)) {
    case '1':
      transferStarted_ = true;
      if (transfer_ == Transfer::Download) AnnounceDownloadSize(reply);
      if (transfer_ == Transfer::Upload && dataOpened_) ServeDataEvent(kDataWrite);
      return;
    case '2':
      replyDone_ = true;
      if (dataClosed_) {
        CompleteTransfer();
        return;
      }
      // Waits for the data connection's end; the reply limit keeps running
      // (transfer bytes count as progress), so a server that never closes
      // it cannot hold the operation.
      SetReplyHandler([](const std::string&) {});
      return;
    default:
      if (failedLocally_) {
        Done();  // the local error was reported; this reply only ends it
        return;
      }
      CloseTransfer();
      EndWithError(ftpErrCommandRefused, std::string(kTextAccessDenied));
  }
}

void TMFtp::NoteDataClosed() {
  dataClosed_ = true;
  dataSocket_.Abandon();
  listener_.Abandon();
  if (replyDone_) CompleteTransfer();
}

void TMFtp::CompleteTransfer() {
  if (transfer_ == Transfer::Listing) FinishListing();
  if (transfer_ == Transfer::Download) FinishDownload();
  Done();
}

void TMFtp::FailDataConnection(int winSockError) {
  errorText_ = winSockError != 0 ? FailureOfSocketError(winSockError).text : std::string(kTextDataFailed);
  if (errorText_.empty()) errorText_ = kTextDataFailed;
  Fail(ftpErrDataConnection);
}

// ---- Events of the data socket and the listener ----------------------------------------

void TMFtp::OnDataConnected(TMSocket& sender) {
  if (transfer_ == Transfer::None) return;
  if (sender.LastError != 0) {
    FailDataConnection(sender.LastError);
    return;
  }
  ServeDataEvent(kDataOpened);
}

// Only the server may connect: a connection from any other address is
// closed, and the wait for the server's goes on.
void TMFtp::OnDataAccepted(TMSocket&) {
  if (transfer_ == Transfer::None || dataOpened_) return;
  dataSocket_.Accept(listener_);
  if (dataSocket_.LastError == WSAEWOULDBLOCK) return;
  if (dataSocket_.LastError != 0) {
    FailDataConnection(dataSocket_.LastError);
    return;
  }
  if (dataSocket_.GetAddressText() != GetAddressText()) {
    dataSocket_.Abandon();
    return;
  }
  listener_.Abandon();
  ServeDataEvent(kDataOpened);
}

void TMFtp::OnDataClosedBySocket(TMSocket& sender) {
  if (transfer_ == Transfer::None) return;
  dataCloseError_ = sender.LastError == WSAENOTSOCK ? 0 : sender.LastError;
  ServeDataEvent(kDataClosed);
}

void TMFtp::ServeDataEvent(uint8_t event) {
  pendingDataEvents_ |= event;
  if (inDataHandler_) return;
  inDataHandler_ = true;
  const uint64_t serial = transferSerial_;
  // Lower bits first: opened, read, write, closed.
  while (pendingDataEvents_ != 0 && TransferRunning(serial)) {
    const uint8_t next = pendingDataEvents_ & static_cast<uint8_t>(-pendingDataEvents_);
    pendingDataEvents_ &= static_cast<uint8_t>(~next);
    switch (next) {
      case kDataOpened: DataOpened(); break;
      case kDataRead: DataReadable(); break;
      case kDataWrite: DataWritable(); break;
      case kDataClosed: DataClosed(); break;
      default: break;
    }
  }
  inDataHandler_ = false;
}

// From here on an empty or full socket is told apart from a closed one.
void TMFtp::DataOpened() {
  dataOpened_ = true;
  dataSocket_.ReportWouldBlock = true;
  if (transfer_ == Transfer::Upload) UploadDataOpened();
}

void TMFtp::DataReadable() {
  switch (transfer_) {
    case Transfer::Listing: ReadListingData(); break;
    case Transfer::Download: ReadDownloadData(); break;
    default: {
      // An upload's data connection carries nothing back: it is read only
      // so that its close is seen.
      char sink[256];
      dataSocket_.Receive(sink, sizeof sink);
      break;
    }
  }
}

void TMFtp::DataWritable() {
  if (transfer_ == Transfer::Upload) WriteUploadData();
}

void TMFtp::DataClosed() {
  if (dataCloseError_ != 0) {
    FailDataConnection(dataCloseError_);
    return;
  }
  switch (transfer_) {
    case Transfer::Listing:
      FlushListing();
      if (!TransferRunning(transferSerial_)) return;
      DoInfo(ftpInfoListingClosed);
      break;
    case Transfer::Upload:
      // The server went away before the whole file was there.
      FailDataConnection(WSAECONNRESET);
      return;
    default:
      break;
  }
  const uint64_t serial = transferSerial_;
  DoInfo(ftpInfoTransferDone);
  if (TransferRunning(serial)) NoteDataClosed();
}

// One round of data went by: the reply limit starts again and the caller
// hears of it. False when the transfer ended meanwhile.
bool TMFtp::ReportProgress(uint64_t serial) {
  NoteProgress();
  DoInfo(ftpInfoProgress);
  return TransferRunning(serial);
}

}  // namespace kv

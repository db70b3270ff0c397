#include "copyengine/copyftp.h"

#include <cstdlib>
#include <utility>

#include "copyengine/copywindow.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "platform/text.h"
#include "platform/treefolder.h"

namespace kv {

using platform::CivilTime;

namespace {

constexpr int kWaitSliceMs = 10;
constexpr std::string_view kTextCancelled = "Der Vorgang wurde abgebrochen.";
constexpr std::string_view kTextPathRefused = "Der Ordnername kann auf dem FTP-Server nicht verwendet werden!";
constexpr std::string_view kTextNotListed = "Die Datei steht nach der Übertragung nicht im Verzeichnis des Servers.";

uint16_t PortOf(const TFtpSite& site) { return site.PortNumber() == 0 ? 21 : site.PortNumber(); }

// Errors where the server said no: its reply tells why.
bool IsRefusal(FtpError error) {
  return error == ftpErrStepRefused || error == ftpErrWelcomeRefused || error == ftpErrLoginRefused ||
         error == ftpErrResume || error == ftpErrCommandRefused;
}

// Digits of text[from, from + count) as a number; -1 when any is no digit.
int Digits(std::string_view text, size_t from, size_t count) {
  if (from + count > text.size()) return -1;
  int value = 0;
  for (size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool IsCalendarTime(const CivilTime& c) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return c.year >= 1 && c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= kDays[c.month - 1] &&
         c.hour >= 0 && c.hour <= 23 && c.minute >= 0 && c.minute <= 59 && c.second >= 0 && c.second <= 60;
}

// "213 YYYYMMDDhhmmss" with an optional fraction of a second (RFC 3659).
std::optional<CivilTime> TimeOfMdtmReply(std::string_view reply) {
  if (!reply.starts_with("213")) return std::nullopt;
  const size_t blank = reply.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const std::string text = platform::Trim(reply.substr(blank + 1));
  if (text.size() < 14) return std::nullopt;
  if (text.size() > 14 && (text[14] != '.' || Digits(text, 15, text.size() - 15) < 0)) return std::nullopt;
  CivilTime c;
  c.year = Digits(text, 0, 4);
  c.month = Digits(text, 4, 2);
  c.day = Digits(text, 6, 2);
  c.hour = Digits(text, 8, 2);
  c.minute = Digits(text, 10, 2);
  c.second = Digits(text, 12, 2);
  if (!IsCalendarTime(c)) return std::nullopt;
  if (c.second == 60) c.second = 59;
  return c;
}

// The listing's entry date text "DD/MM/YYYY hh:mm"; a year the listing did
// not give ("????") and a date nobody could read are 1980.
CivilTime TimeOfListingDate(std::string_view text) {
  const CivilTime unknown{1980, 1, 1, 12, 0, 0, 0};
  const size_t blank = text.find(' ');
  const size_t slash1 = text.find('/');
  const size_t slash2 = slash1 == std::string_view::npos ? slash1 : text.find('/', slash1 + 1);
  const size_t colon = blank == std::string_view::npos ? blank : text.find(':', blank);
  if (slash2 == std::string_view::npos || blank == std::string_view::npos || colon == std::string_view::npos ||
      slash2 > blank) {
    return unknown;
  }
  CivilTime c;
  c.day = platform::StrToIntDef(text.substr(0, slash1), -1);
  c.month = platform::StrToIntDef(text.substr(slash1 + 1, slash2 - slash1 - 1), -1);
  const std::string_view year = text.substr(slash2 + 1, blank - slash2 - 1);
  c.year = year == "????" ? 1980 : platform::StrToIntDef(year, -1);
  if (c.year >= 0 && c.year < 100) c.year += 1900;
  c.hour = platform::StrToIntDef(text.substr(blank + 1, colon - blank - 1), -1);
  c.minute = platform::StrToIntDef(text.substr(colon + 1), -1);
  return IsCalendarTime(c) ? c : unknown;
}

// The seconds the client waits for a server when KESTROVANE_FTP_TIMEOUT
// holds a number from 1 to 3600; none: the client's own.
std::optional<int> FtpTimeOutOverride() {
  const char* text = std::getenv("KESTROVANE_FTP_TIMEOUT");
  const int seconds = text ? platform::StrToIntDef(text, 0) : 0;
  if (seconds < 1 || seconds > 3600) return std::nullopt;
  return seconds;
}

}  // namespace

int64_t FtpListedSize(const MFtpFileInfo& entry) {
  const std::string& text = entry.size;
  if (text.empty() || text.size() > 18) return -1;
  int64_t size = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    size = size * 10 + (c - '0');
  }
  return size;
}

std::string FtpServerPath(std::string_view ftpPath) {
  // "ftp:" and the separators after it, then the host up to the next one.
  size_t at = platform::SameTextAscii(ftpPath.substr(0, 4), "ftp:") ? 4 : 0;
  while (at < ftpPath.size() && (ftpPath[at] == '/' || ftpPath[at] == '\\')) ++at;
  at = ftpPath.find_first_of("/\\", at);
  std::string path = "/";
  if (at == std::string_view::npos) return path;
  for (char c : ftpPath.substr(at)) {
    if (c == '\\') c = '/';
    if (c == '/' && path.back() == '/') continue;
    path += c;
  }
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

namespace {

// Text that can go into a command line: no line break or NUL.
bool IsFtpArgument(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

bool IsFtpFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && IsFtpArgument(name) &&
         name.find_first_of("/\\") == std::string_view::npos;
}

TCopyFtp::TCopyFtp(TFTPReadWriter& states, std::string logFolder)
    : states_(states), logFolder_(std::move(logFolder)) {
  ftp_.Passive = true;
  // Every listing the engine reads is the server's own, never an old copy.
  ftp_.Cache = false;
  if (const std::optional<int> seconds = FtpTimeOutOverride()) ftp_.TimeOut = *seconds;
  AttachHandlers();
}

TCopyFtp::~TCopyFtp() {
  SettleLateReply();
  if (ftp_.Connected() && !ftp_.Busy()) ftp_.Logout();
}

void TCopyFtp::AttachHandlers() {
  const auto done = [this](Awaited event) { return [this, event](TMFtp&) { OnFtpDoneEvent(event); }; };
  ftp_.OnFtpError = [this](TMFtp&, FtpError error, const std::string& text) { OnFtpErrorEvent(error, text); };
  ftp_.OnFtpInfo = [this](TMFtp&, FtpInfo info, const std::string& text) { OnFtpInfoEvent(info, text); };
  // An operation of a command with a reply handler has no event of its
  // own: it ends with its reply, or with OnFtpReady when it failed.
  ftp_.OnFtpReady = done(Awaited::Reply);
  ftp_.OnLoggedIn = done(Awaited::LoggedIn);
  ftp_.OnDirectoryChanged = [this](TMFtp&) { OnDirectoryChangedEvent(); };
  ftp_.OnDirectoryCreated = done(Awaited::DirectoryCreated);
  ftp_.OnDirectoryDeleted = done(Awaited::DirectoryDeleted);
  ftp_.OnFileDeleted = done(Awaited::FileDeleted);
  ftp_.OnFileRenamed = done(Awaited::FileRenamed);
  ftp_.OnFileReceived = done(Awaited::FileReceived);
  ftp_.OnFileStored = done(Awaited::FileStored);
  ftp_.OnListingDone = done(Awaited::ListingDone);
  // A local file in the way is replaced, never continued: what it holds is
  // not known to be the start of the server's file.
  ftp_.OnFtpNeedInfo = [](TMFtp&, TMFtpInfoNeeded need, std::string& value) {
    if (need == niResume) value = kAnswerOverwrite;
  };
}

// --- Events ------------------------------------------------------------------------------

void TCopyFtp::OnFtpErrorEvent(FtpError error, const std::string& text) {
  if (failed_) return;  // the first error says what went wrong
  failed_ = true;
  errorText_ = text.empty() ? std::string(ErrorTextOf(error)) : text;
  if (errorText_.empty()) errorText_ = "FTP-Fehler " + std::to_string(error);
  const std::string reply = platform::Trim(ftp_.LastReply());
  if (IsRefusal(error) && !reply.empty()) errorText_ += " (" + reply + ")";
}

void TCopyFtp::OnFtpDoneEvent(Awaited event) {
  if (event == awaited_) ended_ = true;
}

void TCopyFtp::OnDirectoryChangedEvent() { OnFtpDoneEvent(Awaited::DirectoryChanged); }

void TCopyFtp::OnFtpInfoEvent(FtpInfo info, const std::string& text) {
  if (starting_ && (info == ftpInfoNotConnected || info == ftpInfoBusy)) refusal_ = text;
  if (info == ftpInfoProgress && progressWindow_ && inTransfer_) {
    progressWindow_->SetBarPosition(CopyBar::pgFile, static_cast<int32_t>(ftp_.BytesTransferred() / progressDivisor_));
  }
}

void TCopyFtp::OnMdtmReply(const std::string& reply) {
  replied_ = true;
  mdtm_ = TimeOfMdtmReply(reply);
  OnFtpDoneEvent(Awaited::Reply);
}

// --- Waiting -----------------------------------------------------------------------------

bool TCopyFtp::WaitForFtp(const std::function<bool()>& ended) {
  platform::MessageLoop& loop = platform::MessageLoop::Current();
  while (!ended()) {
    if (AbortRequested()) return false;
    loop.WaitMessage(kWaitSliceMs);
    ProcessCopyMessages();
  }
  return true;
}

FtpStep TCopyFtp::Await(Awaited awaited, const std::function<void()>& start) {
  SettleLateReply();
  awaited_ = awaited;
  ended_ = failed_ = false;
  errorText_.clear();
  refusal_.clear();
  // A client still busy with a command whose reply is due refuses this one;
  // its busy state is that command's, so it tells nothing about this one.
  const bool wasBusy = ftp_.Busy();
  if (!wasBusy) {
    starting_ = true;
    start();
    starting_ = false;
  }
  // Nothing began (refused, or a name the client does not send): no event
  // will come.
  if (wasBusy || !refusal_.empty() || (!ended_ && !ftp_.Busy())) {
    awaited_ = Awaited::None;
    if (wasBusy) return {false, "Der FTP-Client ist noch mit einem Befehl beschäftigt."};
    if (!refusal_.empty()) return {false, refusal_};
    return {false, errorText_.empty() ? "Der FTP-Befehl wurde nicht gesendet." : errorText_};
  }
  const bool ended = WaitForFtp([this] { return ended_; });
  awaited_ = Awaited::None;
  if (!ended) return {false, std::string(kTextCancelled)};
  return {!failed_, errorText_};
}

// --- Session -----------------------------------------------------------------------------

bool TCopyFtp::SameSession(const TFtpSite& site) const {
  return site.UsesProxy() && ftp_.Server() == platform::Trim(site.host) && ftp_.Port == PortOf(site) &&
         ftp_.Username == site.user && ftp_.Password == site.password && ftp_.Account == site.account &&
         ftp_.ProxyServer == site.proxyHost && ftp_.ProxyPort == site.proxyPort && ftp_.ProxyType == proxyOpen;
}

void TCopyFtp::UseSite(const TFtpSite& site) {
  ftp_.Account = site.account;
  ftp_.Password = site.password;
  ftp_.Port = PortOf(site);
  ftp_.SetServer(site.host);
  ftp_.Username = site.user;
  if (site.UsesProxy()) {
    ftp_.ProxyType = proxyOpen;
    ftp_.ProxyServer = site.proxyHost;
    ftp_.ProxyPort = site.proxyPort;
  } else {
    ftp_.ProxyType = proxyNone;
  }
}

// Waits for the end of the login as a whole: a failed attempt reports its
// error while the client already schedules the next one.
bool TCopyFtp::LogIn() {
  awaited_ = Awaited::LoggedIn;
  ended_ = failed_ = false;
  errorText_.clear();
  ftp_.Login();
  const bool ended = WaitForFtp([this] { return ended_ || !ftp_.LoggingIn(); });
  awaited_ = Awaited::None;
  if (LoggedIn()) return true;
  lastError_ = !ended ? std::string(kTextCancelled) : errorText_;
  return false;
}

bool TCopyFtp::ConnectFtp(const TFtpSite& site, bool loadLog) {
  lastError_.clear();
  logProblem_.clear();
  if (platform::Trim(site.host).empty()) {
    lastError_ = "Für diese Seite ist kein FTP-Server angegeben.";
    return false;
  }
  if (SameSession(site)) {
    if (LoggedIn()) return true;
  } else {
    if (ftp_.Connected() && !ftp_.Busy()) ftp_.Logout();
    UseSite(site);
  }
  if (!LogIn()) return false;
  startFolder_ = ftp_.Directory();
  stateServer_.clear();
  stateFolder_.clear();
  if (loadLog) logProblem_ = LoadFtpLog().message;
  return true;
}

// --- Folders and listings ------------------------------------------------------------------

FtpStep TCopyFtp::ChangeFtpFolder(std::string_view ftpPath) {
  const std::string path = FtpServerPath(ftpPath);
  if (!IsFtpArgument(path)) return {false, std::string(kTextPathRefused)};
  if (LoggedIn() && ftp_.Directory() == path) return {true, {}};
  FtpStep step = Await(Awaited::DirectoryChanged, [&] { ftp_.ChangeDirectory(path); });
  if (step && ftp_.Directory().empty()) step = {false, "Der Server nennt kein Verzeichnis."};
  return step;
}

FtpStep TCopyFtp::RefreshListing() {
  FtpStep step = Await(Awaited::ListingDone, [this] { ftp_.List(); });
  if (step && !ftp_.ListingValid()) step = {false, "Das Verzeichnis konnte nicht gelesen werden."};
  return step;
}

void TCopyFtp::SelectStateFolder() {
  stateServer_ = ftp_.Server();
  stateFolder_ = ftp_.Directory();
  states_.SelectFolder(stateServer_, stateFolder_);
}

FtpStateResult TCopyFtp::SaveStateFolder() {
  if (stateFolder_.empty()) return {};
  return states_.SaveFolder(stateServer_, stateFolder_);
}

std::optional<MFtpFileInfo> TCopyFtp::Listed(std::string_view name) const {
  const TMFtpFileInfoList& files = ftp_.Files();
  const int32_t index = files.IndexOf(name);
  if (index < 0 || files.Item(index).name != name) return std::nullopt;
  return files.Item(index);
}

// --- Single operations -------------------------------------------------------------------

FtpStep TCopyFtp::CreateDirectory(std::string_view path) {
  if (!IsFtpArgument(path)) return {false, std::string(kTextPathRefused)};
  return Await(Awaited::DirectoryCreated, [&] { ftp_.CreateDirectory(path); });
}

FtpStep TCopyFtp::RemoveDirectory(std::string_view name) {
  return Await(Awaited::DirectoryDeleted, [&] { ftp_.RemoveDirectory(name); });
}

FtpStep TCopyFtp::DeleteFile(std::string_view name) {
  return Await(Awaited::FileDeleted, [&] { ftp_.DeleteFile(name); });
}

FtpStep TCopyFtp::RenameFile(std::string_view from, std::string_view to) {
  return Await(Awaited::FileRenamed, [&] { ftp_.RenameFile(from, to); });
}

FtpStep TCopyFtp::GetFile(std::string_view name, std::string_view localPath, int64_t expectedSize) {
  inTransfer_ = true;
  FtpStep step = Await(Awaited::FileReceived, [&] { ftp_.GetFile(name, localPath, expectedSize); });
  inTransfer_ = false;
  return step;
}

void TCopyFtp::ShowProgressIn(TtfCopy* window, int64_t divisor) {
  progressWindow_ = window;
  progressDivisor_ = divisor > 0 ? divisor : 1;
}

platform::DosDateTime TCopyFtp::GetFtpFileTime(std::string_view name, std::string_view listingDate) {
  SettleLateReply();
  mdtm_.reset();
  replied_ = false;
  Await(Awaited::Reply, [&] {
    ftp_.SendCommand("MDTM " + std::string(name), [this](const std::string& reply) { OnMdtmReply(reply); });
  });
  // The command is over only once its reply came; a client that still waits
  // for one stays busy, or the next command would take that reply. It is
  // ended when the reply has come (SettleLateReply).
  if (replied_ && ftp_.Busy()) ftp_.ClearBusy();
  replyDue_ = !replied_ && ftp_.Busy();
  return platform::DosFromCivil(mdtm_ ? *mdtm_ : TimeOfListingDate(listingDate));
}

void TCopyFtp::SettleLateReply() {
  if (!replyDue_ || !replied_) return;
  replyDue_ = false;
  if (ftp_.Busy()) ftp_.ClearBusy();
}

// --- Uploads that replace ------------------------------------------------------------------

std::string TCopyFtp::UnusedTempName() const {
  const TMFtpFileInfoList& files = ftp_.Files();
  const TMFtpFileInfoList& folders = ftp_.Directories();
  for (;;) {
    std::string name = platform::NewSystemTempName();
    if (files.IndexOf(name) < 0 && folders.IndexOf(name) < 0) return name;
  }
}

// What a failed step left under a temporary name goes, when the session
// still allows it; whatever stays is known by its name for a leftover.
void TCopyFtp::RemoveQuietly(std::string_view name) {
  if (LoggedIn() && !AbortRequested()) (void)DeleteFile(name);
}

FtpUpload TCopyFtp::UploadReplacing(std::string_view localPath, std::string_view name, int64_t localSize) {
  const std::string temp = UnusedTempName();
  inTransfer_ = true;
  FtpStep step = Await(Awaited::FileStored, [&] { ftp_.PutFile(localPath, temp); });
  inTransfer_ = false;
  if (AbortRequested()) return {FtpUploadFailure::Aborted, step.error, {}, {}};
  if (step) step = RefreshListing();
  if (AbortRequested()) return {FtpUploadFailure::Aborted, step.error, {}, {}};
  const std::optional<MFtpFileInfo> stored = step ? Listed(temp) : std::nullopt;
  if (step && !stored) step = {false, std::string(kTextNotListed)};
  if (step && FtpListedSize(*stored) != localSize) {
    step = {false, "Auf dem Server stehen " + stored->size + " statt " + std::to_string(localSize) + " Bytes."};
  }
  if (!step) {
    RemoveQuietly(temp);
    return {FtpUploadFailure::Transfer, step.error, {}, {}};
  }
  // The server's 2xx to RNTO says the whole file now has its name: the
  // listing before it is the file's entry, under that name.
  FtpUpload upload = RenameOnto(temp, name, Listed(name).has_value());
  upload.entry = *stored;
  upload.entry.name = name;
  return upload;
}

// Every server measured replaces an existing file on RNTO; one that refuses
// gets the old file out of the way first, and back when the new one cannot
// take the name even then.
FtpUpload TCopyFtp::RenameOnto(const std::string& temp, std::string_view name, bool nameTaken) {
  FtpStep step = RenameFile(temp, name);
  if (step) return {};
  if (AbortRequested()) return {FtpUploadFailure::Aborted, step.error, {}, {}};
  if (!nameTaken || !LoggedIn()) {
    RemoveQuietly(temp);
    return {FtpUploadFailure::Rename, step.error, {}, {}};
  }
  const std::string aside = UnusedTempName();
  if (!RenameFile(name, aside)) {
    RemoveQuietly(temp);
    return {FtpUploadFailure::Rename, step.error, {}, {}};
  }
  step = RenameFile(temp, name);
  if (step) {
    RemoveQuietly(aside);
    return {};
  }
  if (const FtpStep back = RenameFile(aside, name); !back) {
    return {FtpUploadFailure::RenameBack, back.error, aside, {}};
  }
  RemoveQuietly(temp);
  return {FtpUploadFailure::Rename, step.error, {}, {}};
}

// --- "kvftp.log" -----------------------------------------------------------------------------

FtpStateResult TCopyFtp::LoadFtpLog() { return kv::LoadFtpLog(*this, states_, FtpLogMirrorFile(logFolder_, ftp_.Server())); }

FtpLogUpload TCopyFtp::SaveFtpLog() { return kv::SaveFtpLog(*this, states_); }

bool TCopyFtp::EnterStartFolder() {
  if (!LoggedIn()) return false;
  return Await(Awaited::DirectoryChanged, [this] { ftp_.ChangeDirectory(startFolder_); }) &&
         !ftp_.Directory().empty() && RefreshListing();
}

bool TCopyFtp::Download(std::string_view remoteName, std::string_view localPath) {
  const std::optional<MFtpFileInfo> entry = Listed(remoteName);
  return GetFile(remoteName, localPath, entry ? FtpListedSize(*entry) : -1).ok;
}

bool TCopyFtp::Upload(std::string_view localPath, std::string_view remoteName) {
  const std::optional<int64_t> size = platform::GetFileSize(localPath);
  return size && UploadReplacing(localPath, remoteName, *size).failure == FtpUploadFailure::None && RefreshListing();
}

}  // namespace kv

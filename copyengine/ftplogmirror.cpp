#include "copyengine/ftplogmirror.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace kv {
namespace {

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

bool IsFolderName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '\\' || c == '/') return false;
  }
  return true;
}

std::string DownloadName(std::string_view mirrorFile) { return std::string(mirrorFile) + ".part"; }

// Fetches the server's log into the mirror; false only when the mirror folder
// cannot be had. A failed transfer keeps the older mirror.
FtpStateResult FetchMirror(IFtpLogTransfer& ftp, const std::string& mirror) {
  if (!platform::ForceDirectories(platform::ExtractFilePath(mirror))) {
    return FtpStateResult{false, "Der Ordner für die FTP-Statusdatei " + Quoted(mirror) +
                                     " konnte nicht angelegt werden: " +
                                     platform::SysErrorMessage(platform::GetLastError())};
  }
  const std::string part = DownloadName(mirror);
  // A leftover would make the download resume onto it.
  platform::DeleteFile(part);
  if (!ftp.Download(kFtpLogName, part) || !platform::FileExists(part)) {
    platform::DeleteFile(part);
    return FtpStateResult{true, "Die FTP-Statusdatei wurde nicht vom Server geladen; die lokale Kopie " +
                                    Quoted(mirror) + " bleibt in Gebrauch"};
  }
  return ReplaceFileWithBackup(FtpStateFileOps::Platform(), mirror, part);
}

}  // namespace

std::string FtpLogMirrorFile(std::string_view logFolder, std::string_view host) {
  if (logFolder.empty() || !IsFolderName(host)) return "";
  return platform::IncludeTrailingBackslash(logFolder) + std::string(host) + "\\" + std::string(kFtpLogName);
}

FtpStateResult LoadFtpLog(IFtpLogTransfer& ftp, TFTPReadWriter& states, std::string_view mirrorFile) {
  states.Close();
  if (!ftp.Connected()) return {};
  if (mirrorFile.empty()) return FtpStateResult{false, "Für diesen FTP-Server gibt es keinen Ordner der FTP-Statusdatei"};
  const std::string mirror(mirrorFile);
  FtpStateResult fetched;
  // Without the start folder the listing is another folder's: its
  // "kvftp.log" would not be ours.
  if (ftp.EnterStartFolder() && ftp.IsListed(kFtpLogName)) {
    fetched = FetchMirror(ftp, mirror);
    if (!fetched.ok && !platform::DirectoryExists(platform::ExtractFilePath(mirror))) return fetched;
  }
  FtpStateResult loaded = states.LoadIndex(mirror);
  if (fetched.message.empty()) return loaded;
  if (loaded.message.empty()) return FtpStateResult{loaded.ok, fetched.message};
  return FtpStateResult{loaded.ok, fetched.message + "; " + loaded.message};
}

FtpLogUpload SaveFtpLog(IFtpLogTransfer& ftp, const TFTPReadWriter& states) {
  if (!ftp.Connected() || states.CacheFile().empty() || !platform::FileExists(states.CacheFile())) {
    return FtpLogUpload::Skipped;
  }
  if (!ftp.EnterStartFolder()) return FtpLogUpload::Skipped;
  // An old "kvftp.log" stays listed when the upload fails: the transfer's
  // own outcome counts too.
  const bool sent = ftp.Upload(states.CacheFile(), kFtpLogName);
  return sent && ftp.IsListed(kFtpLogName) ? FtpLogUpload::Uploaded : FtpLogUpload::NotArrived;
}

}  // namespace kv

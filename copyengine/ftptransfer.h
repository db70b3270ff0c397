#pragma once
// What the run does for a file item of an FTP pair: copy it to or from the
// server, or delete it there, and keep the remote-state record of the files
// it copied.
//
// Nothing here ever costs a file: a download goes into a temporary file of
// the system's own and replaces the local file only when it arrived whole
// at the listed size; an upload goes to a temporary name on the server and
// takes the file's name only once the listing shows it whole. Whatever
// fails leaves the old file under its name. Each step that fails (also a
// folder that cannot be entered or listed) ends the item with an error.
#include <string>

#include "copyengine/copyftp.h"
#include "copyengine/jobrun.h"

namespace kv {

// The side of the pair that is not the given one.
inline TSide OtherSide(TSide side) { return side == TSide::k1 ? TSide::k2 : TSide::k1; }

// One block of an FTP pair: a folder item and its files. One side of the
// pair is on the server; the block's folders are the run's current ones.
struct TFtpBlock {
  TJobRun& run;
  TCopyFtp& ftp;
  TSide ftpSide;
  std::string ftpFolder;  // the folder item's path on the server's side

  TSide LocalSide() const { return OtherSide(ftpSide); }
};

// What a file item of an FTP pair gives its record. cancelled: the user
// stopped the run before the item changed anything; it gets no record.
struct FtpOutcome {
  Outcome outcome;
  bool cancelled = false;
};

inline constexpr std::string_view kMsgFtpFolderNotFound = "Der FTP-Ordner wurde nicht gefunden!";
inline constexpr std::string_view kMsgFtpNotCopied = "Die Datei konnte nicht kopiert werden!";
inline constexpr std::string_view kMsgFtpNameRefused =
    "Der Dateiname kann auf dem FTP-Server nicht verwendet werden!";

// A message with the reason after it, when there is one.
std::string WithReason(std::string_view text, const std::string& reason);
// The name of a local file in the block's local folder onto the server,
// and back. size: the item's size of the side copied from (the file bar).
FtpOutcome UploadFile(TFtpBlock& block, const std::string& name, int64_t size);
FtpOutcome DownloadFile(TFtpBlock& block, const std::string& name, int64_t size);

// The name in the block's server folder; a name that is not there counts as
// deleted.
Outcome DeleteFtpFile(TFtpBlock& block, const std::string& name);

// The remote-state record of the current server folder: the name's entry
// with the listed size, its time on the server and the local file's time;
// and the name's entry removed.
void RememberFtpFile(TFtpBlock& block, const platform::TreeFolder& local, const std::string& name,
                     const MFtpFileInfo& entry);
void ForgetFtpFile(TFtpBlock& block, const std::string& name);

}  // namespace kv

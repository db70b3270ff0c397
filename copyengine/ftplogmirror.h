#pragma once
// The round trip of "kvftp.log" between the FTP start folder and its local
// mirror (log folder + host + "\kvftp.log"): fetched and indexed when a
// session starts, sent back at the end of each FTP block.
//
// The FTP side sits behind IFtpLogTransfer, which the copy engine implements
// with its FTP component (starting each operation and waiting for the event
// that ends it).
#include <string>
#include <string_view>

#include "copyengine/ftpreadwriter.h"

namespace kv {

inline constexpr std::string_view kFtpLogName = "kvftp.log";
inline constexpr std::string_view kFtpLogNotUploadedText = "Das FTP-LogFile konnte nicht zum Server übertragen werden!";

class IFtpLogTransfer {
 public:
  virtual ~IFtpLogTransfer() = default;
  virtual bool Connected() = 0;
  // Changes to the FTP start folder and lists it; false when the change
  // failed.
  virtual bool EnterStartFolder() = 0;
  // Whether the last listing of the current folder holds name.
  virtual bool IsListed(std::string_view name) = 0;
  // Downloads remoteName from the current folder into localPath, which does
  // not exist beforehand; false when the transfer ended with an error.
  virtual bool Download(std::string_view remoteName, std::string_view localPath) = 0;
  // Uploads localPath as remoteName into the current folder and lists the
  // folder again; false when the transfer ended with an error.
  virtual bool Upload(std::string_view localPath, std::string_view remoteName) = 0;
};

// logFolder + host + "\kvftp.log"; "" when the host cannot name a folder of
// its own (empty, ".", "..", a path separator or a control character), so
// that a host name from the folder-pair file never reaches outside logFolder.
std::string FtpLogMirrorFile(std::string_view logFolder, std::string_view host);

// Empties the state lists and forgets their file; when connected, fetches
// "kvftp.log" from the start folder (when listed there) into the mirror and
// loads the mirror's index. The download goes to a name of its own first and
// replaces the mirror only when it arrived whole, so a broken transfer leaves
// the older mirror in use (as does a server without the file). When the
// mirror folder cannot be had, nothing is loaded and nothing will be saved.
FtpStateResult LoadFtpLog(IFtpLogTransfer& ftp, TFTPReadWriter& states, std::string_view mirrorFile);

enum class FtpLogUpload {
  Skipped,     // not connected, no state file, or the start folder was not reached
  Uploaded,
  NotArrived,  // the engine warns with kFtpLogNotUploadedText
};

// Sends the state file back to the start folder as "kvftp.log".
FtpLogUpload SaveFtpLog(IFtpLogTransfer& ftp, const TFTPReadWriter& states);

}  // namespace kv

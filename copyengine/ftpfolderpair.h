#pragma once
// The blocks of folder pairs with one side on an FTP server (pair kind 1:
// side 1, kind 2: side 2): a folder item and the file items up to the next
// folder item, carried out through the run's FTP session.
#include "copyengine/ftptransfer.h"
#include "shared/folderpair.h"

namespace kv {

inline constexpr std::string_view kMsgNoFtpConnection =
    "Es konne keine Verbindung mit dem FTP-Server hergestellt werden!";

// The folder item's block: logs in (or keeps the session), makes or
// enters the folder, copies and deletes its files one by one, and at the
// end writes the remote-state records of the folder and sends "kvftp.log"
// back to the server. The next item read is the next folder item. Sets
// run.aborted when the user cancelled.
void SyncFtpFolder(TJobRun& run, const TSyncItem& folder, const TFolderPair& pair);

// Makes the folder of the block's folder item on the side it is missing on
// (state code 8: side 1, 9: side 2) and writes the item's record.
void CreatePairFolder(TFtpBlock& block, TPtkItem& record);

// MKD of the folder of an FTP path; it counts as made when the server then
// changes into it.
Outcome CreateFtpFolder(TCopyFtp& ftp, const std::string& ftpPath);

}  // namespace kv

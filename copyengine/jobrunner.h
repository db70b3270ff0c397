#pragma once
// Carrying out one job file: the copy engine's work behind CopyFiles. The
// items are handled in file order (copies, deletions, folders of local and
// network pairs, and the blocks of pairs with one side on an FTP server), one
// protocol record per handled item, and the run ends with the merge of the
// old timestamps (a failure of it goes on record), the protocol's trailer,
// "last.vrl" and the removal of the job file and the pair copy.
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "copyengine/endofrun.h"
#include "copyengine/filedeleter.h"
#include "copyengine/ftpreadwriter.h"
#include "copyengine/protocol.h"
#include "platform/filestream.h"

namespace kv {

// The options of one run, as the client set them on the copy object.
struct CopyJobSettings {
  bool manual = false;  // Manuell as it is when the job runs
  bool hidden = false;
  bool minimized = false;
  bool ntfsAccess = false;
  // Every copy goes through a temporary name: kept, never read.
  bool securityRename = false;
  std::string mailAddress;
  std::string profileName;  // the folder that holds the job file; titles the error report
  std::string analyseTime;
  ExternalLogSettings externalLog;
};

// The files of one run that the copy object's setters opened. The run takes
// them over: whatever happens, it closes them, deletes the job file and the
// pair copy, and gives the old-timestamp file its history back.
struct CopyJobFiles {
  std::string jobPath;  // SrcFile
  platform::FileStream job;
  std::string ftpLogFolder;  // where the mirrors of "kvftp.log" live, one folder per server
  std::string lastRunFolder;  // the protocol folder that holds "last.vrl"
  std::string pairCopyPath;   // the "$" copy of MainFile
  platform::FileStream pairs;
  std::optional<ProtocolStream> protocol;  // none: the run writes no protocol
  std::string oldStampPath;                 // OSFile
  std::unique_ptr<std::fstream> oldStamps;  // open while this run's stamps are written
  bool oldStampsMoved = false;              // the previous stamps wait in OSFile + "1"

  // Ends the writing of this run's stamps (the file stays).
  void CloseOldStamps();

  // For an object that is released without having run its job: closes
  // everything, deletes the pair copy and restores the previous stamps.
  // The job file stays (its owner deletes it).
  void Abandon() noexcept;
};

// Runs the job and the whole end of the run. Per-item failures become
// protocol records. An exception (a protocol or job file that cannot be
// read or written, a missing SrcFile or MainFile) is recorded in the
// protocol as far as that still works, the clean-up runs, and only then is
// the exception passed on. ftpStates: the remote-state record of FTP pairs.
void RunCopyJob(CopyJobFiles& files, const CopyJobSettings& settings, TFileDeleter& deleter,
                TFTPReadWriter& ftpStates);

// How long the window stays on screen at the end of a run, so that its last
// state can be read. Hidden and headless runs do not wait.
inline constexpr int kEndOfRunPauseMs = 2000;

}  // namespace kv

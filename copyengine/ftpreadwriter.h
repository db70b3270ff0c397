#pragma once
// File access to the local copy of "kvftp.log": the folder index of the whole
// file and the file records of the current folder.
//
// Rewriting goes through a temporary file beside the cache file C (its name
// with "bak" for the last three characters: kvftp.bak) and ends with a
// replacement that never leaves the folder without a whole log:
//   C1 (= C + "1") is deleted, C moves to C1, the temporary file moves to C,
//   C1 is deleted; when the last move fails, C1 moves back to C.
// A C1 found without a C is such an interrupted replacement: the next load or
// save moves it back first.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "copyengine/ftpstate.h"

namespace kv {

// What a load or save met. The copy engine goes on after a failure (the
// cache file is left as it was); message says what went wrong, in German
// like the engine's other texts, and names the file.
struct FtpStateResult {
  bool ok = true;
  std::string message;  // also set with ok for a repaired file (see SaveFolder)
  explicit operator bool() const { return ok; }
};

// The file operations the rewrite uses; tests replace them to make one step
// fail. Both report failures through platform::GetLastError().
struct FtpStateFileOps {
  // Moves without replacing an existing target.
  std::function<bool(std::string_view from, std::string_view to)> move;
  // Writes a whole file, replacing it.
  std::function<bool(std::string_view path, const std::vector<uint8_t>& bytes)> write;

  static FtpStateFileOps Platform();
};

// Replaces target by temp through the backup target + "1" as described
// above; a missing target is simply created by moving temp. When target
// cannot be moved aside, nothing changes (temp stays beside it); when temp
// cannot take its place, temp is deleted and target is the previous file
// again (or, when even the way back failed, the backup holds it and the next
// load puts it back).
FtpStateResult ReplaceFileWithBackup(const FtpStateFileOps& ops, const std::string& target,
                                     const std::string& temp);

class TFTPReadWriter {
 public:
  explicit TFTPReadWriter(FtpStateFileOps ops = FtpStateFileOps::Platform()) : ops_(std::move(ops)) {}

  // Empties the folder index and the file list and forgets the current
  // folder, so that selecting it again reads its records afresh.
  void Clear();
  // Clear, and forget the cache file too: nothing is saved until the next
  // LoadIndex.
  void Close();
  // Remembers the path, clears both lists and the current folder, and reads
  // the folder records of the file (when it exists) into the index, sorted by
  // key. A broken block ends the load with what was read before it, and the
  // result says where the file broke.
  FtpStateResult LoadIndex(std::string_view cacheFile);
  // Makes server + "@" + folder the current folder; its records from the file
  // fill the file list (none for a folder the file does not hold, which gets
  // an index entry with count 0). Selecting the current folder again keeps
  // the list as it is.
  FtpStateResult SelectFolder(std::string_view server, std::string_view folder);
  // Writes the file list back as the folder's block: in its place when the
  // file holds one (key and place as stored), else at the end; an empty list
  // removes the block. With no folder selected since the load, the folder
  // is selected first and the list's records are laid over its stored ones
  // (a folder the index lacks is added). While another folder is current the
  // list holds that folder's records: nothing is written, and the result is
  // a failure. An empty folder name writes nothing. A broken tail of the
  // file, which no load could read, is not carried into the new file; the
  // result says so.
  FtpStateResult SaveFolder(std::string_view server, std::string_view folder);

  TFTPFileList& Files() { return files_; }
  const TFTPFileList& Files() const { return files_; }
  const TFTPFldrList& Folders() const { return folders_; }
  const std::string& CacheFile() const { return cacheFile_; }
  const std::string& CurrentKey() const { return currentKey_; }

  static std::string TempFileName(std::string_view cacheFile);    // kvftp.log -> kvftp.bak
  static std::string BackupFileName(std::string_view cacheFile);  // kvftp.log -> kvftp.log1

 private:
  FtpStateResult ReadFolderRecords(const std::string& key);
  FtpStateResult ListOfOtherFolder(const std::string& requested) const;
  FtpStateResult AdoptUnselectedFolder(std::string_view server, std::string_view folder);
  FtpStateResult WriteNewFile(const std::string& key);
  FtpStateResult RewriteFile(const std::string& key, bool keepBlock);
  FtpStateResult WriteTemp(const std::string& temp, const std::vector<uint8_t>& bytes);
  void AppendBlock(std::vector<uint8_t>& out, const std::string& key) const;
  void RecoverInterruptedReplace();

  FtpStateFileOps ops_;
  TFTPFldrList folders_;
  TFTPFileList files_;
  std::string cacheFile_;
  std::string currentKey_;
};

}  // namespace kv

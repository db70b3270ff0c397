#pragma once
// The scan of one folder pair. ScanSource records what the source holds;
// ScanDestination then compares every destination file with its source
// namesake, drops equal files and gives every folder and remaining file its
// comparison state. The sync list turns the result into rows.
//
// Folders and names that cannot be compared safely are left out of BOTH
// scans, the way a folder filter leaves a folder out, and are listed in
// issues() for the caller to protocol:
//  - a folder that exists but cannot be listed (taking it as empty would make
//    the other side's files look deleted or new); a folder that does not
//    exist at all is simply empty;
//  - several spellings of one name in one folder that differ only in case
//    (all of them, on both sides, so that no action can hit the wrong file);
//    for folders the whole subtree;
//  - a link to a folder, on either side (never descended; the other side's
//    folder of that name is not touched either), and a link that leads
//    nowhere (what it stood for, file or folder, cannot be known);
//  - names on disk that contain "\" (they cannot be named in the system);
//  - a folder whose path on either side would not fit the 255 bytes a job
//    file holds for it (see maxKeyBytes), with everything below it.
// The system's own temporary files are no user data: both scans pass over
// them and remove those that a killed run left behind.
// When the source or destination root itself cannot be listed, the tree ends
// up with no folders at all: folderList() is empty and FindFolder returns
// nullptr for every key, root() included.
#include <cstdint>
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "synclist/dirnode.h"
#include "synclist/fileobj.h"

namespace kv {

enum class TScanSide : uint8_t { Source, Destination };

enum class TScanIssueKind : uint8_t {
  UnlistableFolder,  // exists but listing failed; error holds the reason
  CaseCollision,     // name is one of several spellings in its folder
  FolderLink,        // name is a link to a folder
  UnnamableName,     // name on disk contains "\"
  BrokenLink,        // name is a link that leads nowhere
  PathTooLong,       // the folder's path does not fit a job file
};

struct TScanIssue {
  TScanIssueKind kind;
  TScanSide side;
  std::string key;    // relative key of the folder concerned ("" = root), ends in "\"
  std::string name;   // the entry's name within that folder ("" for UnlistableFolder);
                      // folder names end in "\"
  std::string error;  // text of the system error (UnlistableFolder only)
};

class TDirTree {
 public:
  using ProgressCallback = std::function<void(TDirTree&)>;
  static constexpr uint64_t kTickInterval = 250;  // ms between progress calls

  TDirTree();
  ~TDirTree();
  TDirTree(const TDirTree&) = delete;
  TDirTree& operator=(const TDirTree&) = delete;

  // --- Set by the caller before scanning -----------------------------------
  bool dropEqualFiles = true;
  bool twoSecondTolerance = true;
  bool recurse = false;
  // Longest relative key (in bytes) whose folder path, with the longer of
  // the two roots before it, still fits the job file's 255-byte field; a
  // longer folder is left out of both scans and reported. The list builder
  // sets it from the roots; negative: no folder fits, not even the root.
  int64_t maxKeyBytes = INT64_MAX;
  // Called at most every 250 ms during the scans, checked when a folder is
  // entered and when its files are settled, and once, forced, at the end of
  // each pass. May throw EAbort, which leaves the scan at once; the tree stays
  // consistent (sorted lists, right counts) for its owner to read or free.
  ProgressCallback progress;

  // Mask texts as the profile holds them (";", ":" and "," separate masks).
  // An empty include text takes every file.
  void SetMasks(std::string_view include, std::string_view excludeFiles,
                std::string_view excludeFolders);
  // Row kind of the folder rows (1 or 2), for the tree and its root.
  void SetFolderKind(uint8_t kind);
  // Leaves the folder with this relative key ("sub\deeper\") out of both
  // scans, with everything below it.
  void ExcludeFolder(std::string_view key) { Exclude(key); }

  // --- The passes, source first ---------------------------------------------
  // root is a Windows folder path; a missing trailing "\" is added.
  void ScanSource(std::string_view root);
  void ScanDestination(std::string_view root);
  // Sorts the folder list case-insensitively: the order of the folder rows.
  void SortFolderList();

  // --- Folders ---------------------------------------------------------------
  TDirNode* FindFolder(std::string_view key) const;
  // A progress call (not forced), then the node of key, inserted when absent.
  TDirNode* FindOrAddFolder(std::string_view key);
  TDirNode* root() const { return root_; }

  // --- Results ---------------------------------------------------------------
  // Every key in insertion order (root first) until SortFolderList.
  const std::vector<std::string>& folderList() const { return folderList_; }
  const std::string& currentFolder() const { return currentFolder_; }
  int64_t fileCount() const { return fileCount_; }
  int64_t folderCount() const { return folderCount_; }
  // Every non-folder entry the destination scan met, before any mask; equal
  // files that were dropped count too.
  int64_t destinationEntriesSeen() const { return destinationEntriesSeen_; }
  uint8_t folderKind() const { return folderKind_; }
  const std::vector<TScanIssue>& issues() const { return issues_; }

  const std::vector<std::string>& includeMasks() const { return includeMasks_; }
  const std::vector<std::string>& excludeFileMasks() const { return excludeFileMasks_; }
  const std::vector<std::string>& excludeFolderMasks() const { return excludeFolderMasks_; }

 private:
  class Scanner;

  void RunPass(TScanSide side, std::string_view root);
  void Tick(bool force);
  bool TakesFile(std::string_view name) const;
  bool SkipsFolder(std::string_view relativeKey) const;
  TDirNode* Insert(std::string_view key);
  void Exclude(std::string_view key);
  bool IsExcluded(std::string_view key) const;
  bool IsBelowExcluded(std::string_view key) const;
  void PruneExcluded();
  void Report(TScanIssueKind kind, TScanSide side, std::string_view key, std::string_view name,
              std::string error = {});

  std::vector<std::unique_ptr<TDirNode>> nodes_;
  TDirNode* root_ = nullptr;  // the node of key ""
  TDirNode* top_ = nullptr;   // top of the AVL tree
  std::vector<std::string> folderList_;
  std::string currentFolder_;
  int64_t fileCount_ = 0;
  int64_t folderCount_ = 1;
  int64_t destinationEntriesSeen_ = 0;
  uint8_t folderKind_ = 1;
  uint64_t nextTick_ = 0;

  std::vector<std::string> includeMasks_{"*"};
  std::vector<std::string> excludeFileMasks_;
  std::vector<std::string> excludeFolderMasks_;
  bool includesEverything_ = true;

  // Keys left out of both scans; nodes at and below them are pruned.
  std::vector<std::string> excludedKeys_;
  bool pruneNeeded_ = false;
  std::vector<TScanIssue> issues_;
};

}  // namespace kv

#pragma once
// The synchronisation list: one row per folder and per differing file, in job
// order, with the comparison state, direction and action of every row. A
// folder row is followed directly by the file rows of its folder; its block
// ends at the next folder row or at the end of the list.
//
// The per-pair runner fills one list from a scanned tree and runs, in this
// order, CheckOldStamps, HourTolerance, HourTwoSecTolerance and ApplyStrategy.
// The list builder appends every pair's list to one total list and runs on it
// CollectDrives, FindMoved, CriticalDeleteShare, RecheckUnstable, MarkFolders,
// FormatTexts and WriteJobFile.
//
// Every pass is one walk over the rows. Passes that drop rows mark them and
// compact the list once at their end (also when the progress callback aborts).
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "platform/time.h"
#include "shared/folderpair.h"
#include "shared/synccodes.h"
#include "synclist/movelist.h"

namespace kv {

class TDirTree;

// One row, as the list exchanges it with other code.
struct TSyncListItem {
  int rowKind = kRowKindFile;  // 0 file row; non-zero folder row
  int direction = kFlagNone;   // 1 source to destination, 0 back, 2 folder row
  // Folder row: the full folder path ending in "\"; file row: the bare name,
  // empty when the file is absent on that side.
  std::string source;
  std::string destination;
  int64_t sourceSize = 0;
  int64_t destinationSize = 0;
  platform::DosDateTime sourceTime = 0;  // 0 when absent
  platform::DosDateTime destinationTime = 0;
  int state = 0;
  int action = kActionNone;
  // The time and date texts of the job file are made from the times when
  // the row is written (a row stays small: the list holds one per file).

  bool IsFolder() const { return IsFolderRowKind(rowKind); }
  // The sides whose time a file row shows: the side it is not missing on.
  bool ShowsSourceTime() const { return !IsFolder() && state != kStateOnlyInDestination; }
  bool ShowsDestinationTime() const { return !IsFolder() && state != kStateOnlyInSource; }
};

// A pair's strategy as the runner unpacks it: per pair the direction already
// turned into a list flag, and the action byte unchanged.
struct TStrategyStep {
  int direction = kFlagSourceToDestination;
  int action = kActionNone;
};
using TUnpackedStrategy = std::array<TStrategyStep, kStrategyPairCount>;

// Drives whose folders vanished: sorted case-insensitively, no duplicates.
using TDriveNameList = std::set<std::string, platform::TextLess>;

class TSyncListe {
 public:
  // Called at most every 250 ms while a pass runs; may throw EAbort, which
  // ends the pass at once.
  using ProgressCallback = std::function<void(TSyncListe&)>;
  static constexpr uint64_t kTickInterval = 250;

  explicit TSyncListe(ProgressCallback progress = {});
  ~TSyncListe();
  TSyncListe(const TSyncListe&) = delete;
  TSyncListe& operator=(const TSyncListe&) = delete;
  TSyncListe(TSyncListe&&) noexcept;
  TSyncListe& operator=(TSyncListe&&) noexcept;

  // --- Rows -----------------------------------------------------------------
  size_t Count() const { return rows_.size(); }
  void AddRow(TSyncListItem row);
  const TSyncListItem& GetRow(size_t index) const;  // std::out_of_range outside the list
  void DeleteRow(size_t index);
  // Removes the folder row at index and every file row of its block.
  void DeleteBlock(size_t index);
  // Index of the row after index's block (the next folder row or Count()).
  size_t BlockEnd(size_t index) const;
  void Tick(bool force = false);

  // --- Members ----------------------------------------------------------------
  // The pair's roots; a missing trailing "\" is added.
  void SetRoots(std::string_view sourceRoot, std::string_view destinationRoot);
  const std::string& sourceRoot() const { return sourceRoot_; }
  const std::string& destinationRoot() const { return destinationRoot_; }
  // The folder the progress window shows.
  const std::string& currentFolder() const { return currentFolder_; }
  // Sum over the pairs of the destination scans' entries seen.
  int64_t destinationEntries = 0;
  // Files moved by FindMoved; nullptr until the first move.
  const TMoveList* movedFiles() const { return movedFiles_.get(); }

  // --- Filling ----------------------------------------------------------------
  // Appends the tree's folders in its folder-list order, each followed by its
  // files; a folder without files whose state is in skipEmptyStates gives no
  // row (the runner passes {10}). The files are taken out of the tree on the
  // way (its folders stay), so that a list and its tree never hold every
  // file twice.
  void AddFromTree(TDirTree& tree, std::initializer_list<int> skipEmptyStates);
  // Takes over the rows of other, which is left empty.
  void AppendFrom(TSyncListe&& other);

  // --- Per-pair passes ------------------------------------------------------
  // Rows in states 2..5 whose file changed on both sides since the stamp in
  // the old-timestamp file (or the earlier stamps still waiting beside it)
  // get state 6. A missing file means no stamps yet; an unreadable one
  // disables the test; of a file with a cut-off or malformed tail the whole
  // blocks before the tail count. oldStampError() then says what was wrong
  // (for the caller to report).
  void CheckOldStamps(const std::string& oldStampFile);
  const std::string& oldStampError() const { return oldStampError_; }
  // Equal sizes, times a whole number of hours (under a day) apart: state 14.
  void HourTolerance();
  // Equal sizes, times whole hours and two seconds (either way) apart: state 14.
  void HourTwoSecTolerance();
  void ApplyStrategy(const TUnpackedStrategy& strategy);
  // The same with the pair record's strategy bytes unpacked on the way.
  void ApplyStrategy(const TSyncStrategy& strategy);
  // Takes the delete action back from every row; returns how many rows had one.
  size_t WithholdDeletions();

  // --- Passes on the total list ---------------------------------------------
  // Drops every folder block whose source or destination drive is gone and
  // lists the drive (vanished.cpp).
  void CollectDrives(TDriveNameList& vanishedDrives);
  // Moves files that were moved on one side the same way on the other side
  // (movedfiles.cpp).
  void FindMoved();
  // True when the file rows to delete make up limit percent or more of total.
  bool CriticalDeleteShare(int limit, int64_t total);
  // Drops every block on a drive where a file marked for deletion as "only on
  // one side" has turned up on the other side since the scan.
  void RecheckUnstable(TInStableDriveList& unstableDrives);
  void MarkFolders();
  // Checks that every time the job file will show names a valid date;
  // std::invalid_argument when one does not. The texts are made when the
  // rows are written.
  void FormatTexts();
  // Writes the job file (jobwriter.cpp); JobFileError when it cannot.
  void WriteJobFile(const std::string& jobFile);

 private:
  friend class RowRemoval;
  friend class MoveSearch;

  TSyncListItem& Row(size_t index) { return rows_[index]; }
  void ShowFolder(const std::string& path) { currentFolder_ = path; }
  void SetBlockAction(size_t folderIndex, int action);
  void MarkFolder(size_t folderIndex);
  void AddMovedFile(std::string oldPath, std::string newPath);

  std::vector<TSyncListItem> rows_;
  std::string sourceRoot_;
  std::string destinationRoot_;
  std::string currentFolder_;
  ProgressCallback progress_;
  uint64_t nextTick_ = 0;
  std::unique_ptr<TMoveList> movedFiles_;
  std::string oldStampError_;
  // Rows a running pass has dropped; compacted by RowRemoval at its end.
  std::vector<uint8_t> dropped_;
};

// Marks rows of a list as dropped during one pass and removes them all when
// it goes out of scope. Dropped rows stay in place (indexes do not shift)
// until then; passes skip them through IsDropped. No rows may be added while
// a removal is open.
class RowRemoval {
 public:
  explicit RowRemoval(TSyncListe& list);
  ~RowRemoval();
  RowRemoval(const RowRemoval&) = delete;
  RowRemoval& operator=(const RowRemoval&) = delete;

  void DropRow(size_t index);
  // The folder row at index and its block (rows already dropped included).
  void DropBlock(size_t index);
  bool IsDropped(size_t index) const { return list_.dropped_[index] != 0; }
  // True when the block of the folder row at index holds a file row that is
  // not dropped.
  bool BlockHasFiles(size_t folderIndex) const;

 private:
  TSyncListe& list_;
};

}  // namespace kv

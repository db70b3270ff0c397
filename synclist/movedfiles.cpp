#include "synclist/movedfiles.h"

#include <cstdint>
#include <limits>
#include <unordered_map>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "synclist/syncliste.h"

namespace kv {

bool CreatedFolders::Create(std::string_view folder) {
  std::vector<std::string> missing;
  std::string path = platform::ExcludeTrailingBackslash(folder);
  while (!path.empty() && !platform::DirectoryExists(path)) {
    missing.push_back(path);
    const std::string parent = platform::ExcludeTrailingBackslash(platform::ExtractFilePath(path));
    if (parent == path) break;
    path = parent;
  }
  const bool ok = platform::ForceDirectories(folder);
  // Deepest first, the order Undo removes them in.
  for (std::string& created : missing)
    if (platform::DirectoryExists(created)) created_.push_back(std::move(created));
  return ok;
}

void CreatedFolders::Undo() {
  for (const std::string& folder : created_) platform::RemoveDir(folder);
  created_.clear();
}

namespace {

constexpr size_t kNoRow = std::numeric_limits<size_t>::max();

bool IsOneSided(const TSyncListItem& row) {
  return !row.IsFolder() && (row.state == kStateOnlyInDestination || row.state == kStateOnlyInSource);
}

// The side on which a one-sided row's file exists: the destination for state
// 0, the source for state 1.
bool ExistsInDestination(const TSyncListItem& row) { return row.state == kStateOnlyInDestination; }

const std::string& ExistingName(const TSyncListItem& row) {
  return ExistsInDestination(row) ? row.destination : row.source;
}

// A folder row's path on the side where row's file exists.
const std::string& FolderOnSideOf(const TSyncListItem& folder, const TSyncListItem& row) {
  return ExistsInDestination(row) ? folder.destination : folder.source;
}

// Name (A-Z folded), size and time of the file a one-sided row stands for,
// with its state: rows i and j are partners when their keys differ only in
// the state.
std::string PartnerKey(int state, const TSyncListItem& row) {
  const bool inDestination = ExistsInDestination(row);
  const int64_t size = inDestination ? row.destinationSize : row.sourceSize;
  const uint32_t time = inDestination ? row.destinationTime : row.sourceTime;
  std::string key = std::to_string(state) + '|' + std::to_string(size) + '|' + std::to_string(time) + '|';
  key += platform::LowerCaseAscii(ExistingName(row));
  return key;
}

int OppositeState(int state) {
  return state == kStateOnlyInDestination ? kStateOnlyInSource : kStateOnlyInDestination;
}

}  // namespace

// The search keeps, for every row, the folder row above it, and an index of
// one-sided rows by (state, size, time, name) in list order, so that each
// file to delete finds its candidates without walking the whole list again.
class MoveSearch {
 public:
  MoveSearch(TSyncListe& list, std::vector<TSyncListItem>& rows, RowRemoval& removal)
      : list_(list), rows_(rows), removal_(removal), folderOf_(rows.size(), kNoRow) {
    size_t folder = kNoRow;
    for (size_t k = 0; k < rows_.size(); ++k) {
      if (rows_[k].IsFolder()) folder = k;
      folderOf_[k] = folder;
      if (IsOneSided(rows_[k])) candidates_[PartnerKey(rows_[k].state, rows_[k])].push_back(k);
    }
  }

  bool IsFileToMoveInstead(size_t i) const {
    const TSyncListItem& row = rows_[i];
    return IsOneSided(row) && row.action == kActionDelete && folderOf_[i] != kNoRow && !removal_.IsDropped(i);
  }

  // Tries the partners of row i in list order; true when one move succeeded.
  bool MoveLikePartner(size_t i) {
    const auto it = candidates_.find(PartnerKey(OppositeState(rows_[i].state), rows_[i]));
    if (it == candidates_.end()) return false;
    for (size_t j : it->second) {
      if (removal_.IsDropped(j) || folderOf_[j] == kNoRow || folderOf_[j] == folderOf_[i]) continue;
      if (TryMove(i, j)) return true;
    }
    return false;
  }

 private:
  bool TryMove(size_t i, size_t j) {
    const TSyncListItem& row = rows_[i];
    const std::string& fromFolder = FolderOnSideOf(rows_[folderOf_[i]], row);
    const std::string& toFolder = FolderOnSideOf(rows_[folderOf_[j]], row);
    const std::string& name = ExistingName(row);
    CreatedFolders created;
    if (UncDriveOf(fromFolder) == UncDriveOf(toFolder) && !platform::DirectoryExists(toFolder))
      created.Create(toFolder);
    std::string from = fromFolder + name;
    std::string to = toFolder + name;
    if (!platform::MoveFileNoReplace(from, to)) {
      created.Undo();
      return false;
    }
    created.Keep();
    list_.AddMovedFile(std::move(from), std::move(to));
    DropMovedRows(i, j);
    return true;
  }

  void DropMovedRows(size_t i, size_t j) {
    removal_.DropRow(j);
    DropFolderWhenEmpty(folderOf_[j]);
    removal_.DropRow(i);
    DropFolderWhenEmpty(folderOf_[i]);
  }

  // A folder on both sides that has nothing left to do disappears with its
  // last file; one-sided folders stay (their strategy action still applies).
  void DropFolderWhenEmpty(size_t folder) {
    if (rows_[folder].state != kStateFolderOnBothSides) return;
    if (!removal_.BlockHasFiles(folder)) removal_.DropRow(folder);
  }

  TSyncListe& list_;
  std::vector<TSyncListItem>& rows_;
  RowRemoval& removal_;
  std::vector<size_t> folderOf_;
  std::unordered_map<std::string, std::vector<size_t>> candidates_;
};

void TSyncListe::AddMovedFile(std::string oldPath, std::string newPath) {
  if (!movedFiles_) movedFiles_ = std::make_unique<TMoveList>();
  movedFiles_->Add(std::move(oldPath), std::move(newPath));
}

void TSyncListe::FindMoved() {
  RowRemoval removal(*this);
  MoveSearch search(*this, rows_, removal);
  for (size_t i = 0; i < rows_.size(); ++i) {
    Tick();
    if (rows_[i].IsFolder() && !removal.IsDropped(i)) ShowFolder(rows_[i].source);
    if (search.IsFileToMoveInstead(i)) search.MoveLikePartner(i);
  }
}

}  // namespace kv

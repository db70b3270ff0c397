#include "synclist/movedfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <map>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "synclist/syncliste.h"

namespace kv {

platform::TreeFolder CreatedFolders::Open(const platform::TreeFolder& root, std::string_view rel, bool create) {
  platform::TreeFolder folder = root.OpenFolder(rel, false);
  if (folder.IsOpen() || !create || platform::GetLastError() != ENOENT) return folder;
  // One name at a time from the root, so that each folder made is known
  // with the folder it was made in.
  folder = root.OpenFolder("", false);
  for (size_t start = 0; folder.IsOpen() && start < rel.size();) {
    const size_t end = std::min(rel.find('\\', start), rel.size());
    const std::string name(rel.substr(start, end - start));
    start = end + 1;
    if (name.empty()) continue;
    platform::TreeFolder next = folder.OpenFolder(name, false);
    if (!next.IsOpen() && platform::GetLastError() == ENOENT) {
      next = folder.OpenFolder(name, true);
      if (next.IsOpen()) made_.push_back({std::move(folder), name});
    }
    folder = std::move(next);
  }
  return folder;
}

void CreatedFolders::Undo() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) (void)it->parent.RemoveFolder(it->name);
  made_.clear();
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
  MoveSearch(TSyncListe& list, std::vector<TSyncListItem>& rows, RowRemoval& removal,
             std::vector<std::string>* report)
      : list_(list), rows_(rows), removal_(removal), report_(report), folderOf_(rows.size(), kNoRow) {
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
    std::string from = fromFolder + name;
    std::string to = toFolder + name;
    CreatedFolders created;
    const platform::TreeFolder source = OpenBelowRoot(folderOf_[i], row, created, false);
    const platform::TreeFolder target =
        source.IsOpen() ? OpenBelowRoot(folderOf_[j], row, created, UncDriveOf(fromFolder) == UncDriveOf(toFolder))
                        : platform::TreeFolder();
    if (!target.IsOpen() || !source.MoveInto(name, target)) {
      const int err = platform::GetLastError();
      created.Undo();
      // A link where a folder was (or a name that leads up) is worth a
      // word; a file that is gone or a target that exists is not.
      if (report_ && (err == ELOOP || err == EINVAL))
        report_->push_back("Die Datei " + platform::Quoted(from) + " wurde nicht nach " + platform::Quoted(to) +
                           " verschoben: " + platform::SysErrorMessage(err));
      return false;
    }
    created.Keep();
    list_.AddMovedFile(std::move(from), std::move(to));
    DropMovedRows(i, j);
    return true;
  }

  // The folder of a folder row on the side where row's file exists, opened
  // from its pair's root; EINVAL when no pair of the list holds it.
  platform::TreeFolder OpenBelowRoot(size_t folder, const TSyncListItem& row, CreatedFolders& created,
                                     bool create) {
    const TPairRoots* roots = list_.RootsOf(rows_[folder]);
    if (!roots) {
      platform::SetLastError(EINVAL);
      return {};
    }
    const std::string& root = ExistsInDestination(row) ? roots->destination : roots->source;
    auto it = openRoots_.find(root);
    if (it == openRoots_.end()) {
      platform::TreeFolder opened = platform::TreeFolder::OpenRoot(root, false);
      if (!opened.IsOpen()) return {};
      it = openRoots_.emplace(root, std::move(opened)).first;
    }
    const std::string& path = FolderOnSideOf(rows_[folder], row);
    return created.Open(it->second, std::string_view(path).substr(root.size()), create);
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
  std::vector<std::string>* report_;
  std::vector<size_t> folderOf_;
  std::unordered_map<std::string, std::vector<size_t>> candidates_;
  // The roots met so far, open for the whole search.
  std::map<std::string, platform::TreeFolder> openRoots_;
};

void TSyncListe::AddMovedFile(std::string oldPath, std::string newPath) {
  if (!movedFiles_) movedFiles_ = std::make_unique<TMoveList>();
  movedFiles_->Add(std::move(oldPath), std::move(newPath));
}

void TSyncListe::FindMoved(std::vector<std::string>* report) {
  RowRemoval removal(*this);
  MoveSearch search(*this, rows_, removal, report);
  for (size_t i = 0; i < rows_.size(); ++i) {
    Tick();
    if (rows_[i].IsFolder() && !removal.IsDropped(i)) ShowFolder(rows_[i].source);
    if (search.IsFileToMoveInstead(i)) search.MoveLikePartner(i);
  }
}

}  // namespace kv

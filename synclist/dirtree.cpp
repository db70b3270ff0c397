#include "synclist/dirtree.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <iterator>

#include "platform/errors.h"
#include "platform/treefolder.h"
#include "platform/text.h"
#include "platform/time.h"
#include "synclist/scanmasks.h"

namespace kv {

using platform::CompareText;

namespace {

std::string WithTrailingBackslash(std::string_view path) {
  std::string result(path);
  if (result.empty() || result.back() != '\\') result += '\\';
  return result;
}

// A folder that is not there is empty; one that is there but cannot be read
// must not be taken as empty.
bool IsMissingFolderError(int error) { return error == ENOENT || error == ENOTDIR; }

bool IsSkippedEntry(const platform::DirEntry& e) { return (e.attributes & platform::kAttrSystem) != 0; }

// DOS times have two-second steps: the tolerance hits a difference of exactly
// two seconds, taken on the calendar values as they are (no time-zone
// arithmetic, so a summer/winter switch in between does not count).
bool DifferByTwoSeconds(platform::DosDateTime a, platform::DosDateTime b) {
  std::optional<platform::DateTime> da = platform::DateTimeFromDos(a);
  std::optional<platform::DateTime> db = platform::DateTimeFromDos(b);
  if (!da || !db) return false;
  return std::llround(std::fabs(*da - *db) * 86400.0) == 2;
}

// --- AVL -------------------------------------------------------------------

void RotateAfterLeftGrew(TDirNode*& slot) {
  TDirNode* left = slot->left;
  if (left->balance < 0) {
    slot->left = left->right;
    left->right = slot;
    slot->balance = 0;
    left->balance = 0;
    slot = left;
    return;
  }
  TDirNode* pivot = left->right;
  left->right = pivot->left;
  slot->left = pivot->right;
  pivot->left = left;
  pivot->right = slot;
  slot->balance = pivot->balance < 0 ? 1 : 0;
  left->balance = pivot->balance > 0 ? -1 : 0;
  pivot->balance = 0;
  slot = pivot;
}

void RotateAfterRightGrew(TDirNode*& slot) {
  TDirNode* right = slot->right;
  if (right->balance > 0) {
    slot->right = right->left;
    right->left = slot;
    slot->balance = 0;
    right->balance = 0;
    slot = right;
    return;
  }
  TDirNode* pivot = right->left;
  right->left = pivot->right;
  slot->right = pivot->left;
  pivot->right = right;
  pivot->left = slot;
  slot->balance = pivot->balance > 0 ? -1 : 0;
  right->balance = pivot->balance < 0 ? 1 : 0;
  pivot->balance = 0;
  slot = pivot;
}

// Returns true when the subtree at slot became taller.
bool InsertNode(TDirNode*& slot, TDirNode* fresh) {
  if (slot == nullptr) {
    slot = fresh;
    return true;
  }
  if (CompareText(fresh->key, slot->key) < 0) {
    if (!InsertNode(slot->left, fresh)) return false;
    if (slot->balance > 0) return (slot->balance = 0), false;
    if (slot->balance == 0) return (slot->balance = -1), true;
    RotateAfterLeftGrew(slot);
    return false;
  }
  if (!InsertNode(slot->right, fresh)) return false;
  if (slot->balance < 0) return (slot->balance = 0), false;
  if (slot->balance == 0) return (slot->balance = 1), true;
  RotateAfterRightGrew(slot);
  return false;
}

// Builds a balanced tree from nodes sorted by key; returns its height.
int BuildBalanced(const std::vector<TDirNode*>& sorted, size_t begin, size_t end, TDirNode*& slot) {
  if (begin >= end) {
    slot = nullptr;
    return 0;
  }
  size_t mid = begin + (end - begin) / 2;
  slot = sorted[mid];
  int leftHeight = BuildBalanced(sorted, begin, mid, slot->left);
  int rightHeight = BuildBalanced(sorted, mid + 1, end, slot->right);
  slot->balance = static_cast<int8_t>(rightHeight - leftHeight);
  return 1 + std::max(leftHeight, rightHeight);
}

}  // namespace

// --- One pass over one side ----------------------------------------------------

class TDirTree::Scanner {
 public:
  Scanner(TDirTree& tree, TScanSide side, std::string_view root)
      : tree_(tree), side_(side), root_(WithTrailingBackslash(root)) {}

  void Run() {
    if (tree_.root_ == nullptr || tree_.IsExcluded("")) return;
    if (tree_.maxKeyBytes < 0) {
      tree_.Report(TScanIssueKind::PathTooLong, side_, "", "");
      tree_.Exclude("");
      return;
    }
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
      std::string key = std::move(pending.back());
      pending.pop_back();
      ScanFolder(key, pending);
    }
  }

 private:
  bool IsSource() const { return side_ == TScanSide::Source; }

  void ScanFolder(const std::string& key, std::vector<std::string>& pending) {
    TDirNode* node = EnterFolder(key);
    platform::FolderListing listing = platform::ListFolder(root_ + key);
    if (!listing.ok) {
      if (!IsMissingFolderError(listing.error)) {
        tree_.Report(TScanIssueKind::UnlistableFolder, side_, key, "", platform::SysErrorMessage(listing.error));
        tree_.Exclude(key);
      }
      return;
    }
    for (const std::string& name : listing.unnamable) tree_.Report(TScanIssueKind::UnnamableName, side_, key, name);
    for (const std::string& name : listing.temporaries) platform::RemoveStaleTemporary(root_ + key, name);
    for (const std::string& name : listing.brokenLinks) LeaveOutBrokenLink(*node, key, name);

    if (IsSource()) {
      AddSourceFiles(*node, listing.entries);
    } else {
      CompareDestinationFiles(*node, listing.entries);
    }
    if (tree_.recurse) QueueSubfolders(key, listing.entries, pending);
  }

  TDirNode* EnterFolder(const std::string& key) {
    int64_t before = tree_.folderCount_;
    TDirNode* node = tree_.FindOrAddFolder(key);
    if (IsSource()) {
      node->state = kStateFolderOnlyInSource;
    } else {
      node->state = tree_.folderCount_ == before ? kStateFolderOnBothSides : kStateFolderOnlyInDestination;
      if (node->key != key) node->destinationKey = key;
    }
    return node;
  }

  // --- Subfolders --------------------------------------------------------------

  void QueueSubfolders(const std::string& key, std::vector<platform::DirEntry>& entries,
                       std::vector<std::string>& pending) {
    folders_.clear();
    for (platform::DirEntry& e : entries) {
      if (!e.isFolder) continue;
      if (tree_.SkipsFolder(key + e.name + '\\')) continue;
      folders_.push_back(&e);
    }
    SortByName(folders_);
    for (size_t i = 0; i < folders_.size();) {
      size_t runEnd = EndOfSpellingRun(folders_, i);
      if (runEnd - i > 1) {
        for (size_t k = i; k < runEnd; ++k) ReportCollision(key, folders_[k]->name + '\\');
        tree_.Exclude(key + folders_[i]->name + '\\');
      } else {
        QueueSubfolder(key, *folders_[i], pending);
      }
      i = runEnd;
    }
  }

  void QueueSubfolder(const std::string& key, const platform::DirEntry& folder, std::vector<std::string>& pending) {
    std::string childKey = key + folder.name + '\\';
    if (folder.isLink) {
      tree_.Report(TScanIssueKind::FolderLink, side_, key, folder.name + '\\');
      tree_.Exclude(childKey);
      return;
    }
    if (tree_.IsExcluded(childKey)) return;
    if (static_cast<int64_t>(childKey.size()) > tree_.maxKeyBytes) {
      tree_.Report(TScanIssueKind::PathTooLong, side_, key, folder.name + '\\');
      tree_.Exclude(childKey);
      return;
    }
    pending.push_back(std::move(childKey));
  }

  // A link that leads nowhere may have stood for a file or a folder: its
  // namesake on the other side is left alone either way, as both.
  void LeaveOutBrokenLink(TDirNode& node, const std::string& key, const std::string& name) {
    tree_.Report(TScanIssueKind::BrokenLink, side_, key, name);
    RemoveSourceFile(node, name);
    Block(node, name);
    tree_.Exclude(key + name + '\\');
  }

  // --- Files -------------------------------------------------------------------

  void AddSourceFiles(TDirNode& node, std::vector<platform::DirEntry>& entries) {
    // Exactly as many places as there are files: a tree of many folders
    // would otherwise carry the spare room of every folder's list.
    node.files.reserve(static_cast<size_t>(
        std::count_if(entries.begin(), entries.end(), [](const platform::DirEntry& e) { return !e.isFolder; })));
    for (platform::DirEntry& e : entries) {
      if (e.isFolder || IsSkippedEntry(e) || !tree_.TakesFile(e.name)) continue;
      TFileObj& file = node.files.emplace_back();
      file.direction = kFlagSourceToDestination;
      file.state = kStateOnlyInSource;
      file.srcName = std::move(e.name);
      file.srcSize = e.size;
      file.srcTime = DosTime(e.lastWrite);
      ++tree_.fileCount_;
    }
    std::sort(node.files.begin(), node.files.end(), [](const TFileObj& a, const TFileObj& b) {
      int order = CompareText(a.srcName, b.srcName);
      return order != 0 ? order < 0 : a.srcName < b.srcName;  // spellings of one name in byte order
    });
    RemoveSourceCollisions(node);
    tree_.Tick(false);
  }

  void RemoveSourceCollisions(TDirNode& node) {
    std::vector<TFileObj>& files = node.files;
    size_t kept = 0;
    for (size_t i = 0; i < files.size();) {
      size_t runEnd = i + 1;
      while (runEnd < files.size() && CompareText(files[i].srcName, files[runEnd].srcName) == 0) ++runEnd;
      if (runEnd - i > 1) {
        Block(node, files[i].srcName);
        for (size_t k = i; k < runEnd; ++k) ReportCollision(node.key, files[k].srcName);
        tree_.fileCount_ -= static_cast<int64_t>(runEnd - i);
      } else {
        if (kept != i) files[kept] = std::move(files[i]);
        ++kept;
      }
      i = runEnd;
    }
    files.resize(kept);
  }

  void CompareDestinationFiles(TDirNode& node, std::vector<platform::DirEntry>& entries) {
    candidates_.clear();
    for (platform::DirEntry& e : entries) {
      if (e.isFolder || IsSkippedEntry(e)) continue;
      ++tree_.destinationEntriesSeen_;
      if (!tree_.TakesFile(e.name) || node.IsBlocked(e.name)) continue;
      candidates_.push_back(&e);
    }
    SortByName(candidates_);
    DropDestinationCollisions(node);
    MergeIntoNode(node);
    tree_.Tick(false);
  }

  // Several spellings on the destination side: none of them, and not the
  // source file of that name either, takes part.
  void DropDestinationCollisions(TDirNode& node) {
    size_t kept = 0;
    for (size_t i = 0; i < candidates_.size();) {
      size_t runEnd = EndOfSpellingRun(candidates_, i);
      if (runEnd - i > 1) {
        for (size_t k = i; k < runEnd; ++k) ReportCollision(node.key, candidates_[k]->name);
        RemoveSourceFile(node, candidates_[i]->name);
        Block(node, candidates_[i]->name);
      } else {
        candidates_[kept++] = candidates_[i];
      }
      i = runEnd;
    }
    candidates_.resize(kept);
  }

  void RemoveSourceFile(TDirNode& node, std::string_view name) {
    TFileObj* file = node.FindFile(name);
    if (file == nullptr) return;
    node.files.erase(node.files.begin() + (file - node.files.data()));
    --tree_.fileCount_;
  }

  // Both the node's files and the candidates are sorted by name, so one walk
  // pairs namesakes, keeps the list sorted and adds destination-only files.
  // No progress call in here: an abort must not leave a half-merged list.
  void MergeIntoNode(TDirNode& node) {
    std::vector<TFileObj>& files = node.files;
    merged_.clear();
    merged_.reserve(files.size() + candidates_.size());
    size_t i = 0;
    size_t j = 0;
    while (i < files.size() || j < candidates_.size()) {
      int order = i == files.size()         ? 1
                  : j == candidates_.size() ? -1
                                            : CompareText(files[i].ListName(), candidates_[j]->name);
      if (order < 0) {
        merged_.push_back(std::move(files[i++]));
      } else if (order > 0) {
        merged_.push_back(DestinationOnly(*candidates_[j++]));
        ++tree_.fileCount_;
      } else {
        if (CompareWithDestination(files[i], *candidates_[j++])) {
          merged_.push_back(std::move(files[i]));
        } else {
          --tree_.fileCount_;
        }
        ++i;
      }
    }
    // A list of its own size: equal files left it, and the spare room of
    // the merge stays with the scanner for the next folder.
    std::vector<TFileObj>(std::make_move_iterator(merged_.begin()), std::make_move_iterator(merged_.end()))
        .swap(files);
  }

  TFileObj DestinationOnly(platform::DirEntry& e) {
    TFileObj file;
    file.direction = kFlagDestinationToSource;
    file.state = kStateOnlyInDestination;
    file.destName = std::move(e.name);
    file.destSize = e.size;
    file.destTime = DosTime(e.lastWrite);
    return file;
  }

  // Returns false when the file counts as equal and leaves the list.
  bool CompareWithDestination(TFileObj& file, platform::DirEntry& e) {
    platform::DosDateTime destTime = DosTime(e.lastWrite);
    bool sameSize = file.srcSize == e.size;
    if (tree_.dropEqualFiles && sameSize && file.srcTime == destTime) return false;
    if (tree_.twoSecondTolerance && sameSize && DifferByTwoSeconds(file.srcTime, destTime)) return false;

    file.destName = std::move(e.name);
    file.destSize = e.size;
    file.destTime = destTime;
    if (destTime < file.srcTime) {
      file.state = kStateDestinationOlder;
    } else if (destTime > file.srcTime) {
      file.state = kStateDestinationNewer;
      file.direction = kFlagDestinationToSource;
    } else if (file.destSize < file.srcSize) {
      file.state = kStateSameTimeDestinationSmaller;
    } else {
      file.state = kStateSameTimeDestinationLarger;
      file.direction = kFlagDestinationToSource;
    }
    return true;
  }

  // --- Helpers -----------------------------------------------------------------

  static void SortByName(std::vector<platform::DirEntry*>& entries) {
    std::sort(entries.begin(), entries.end(), [](const platform::DirEntry* a, const platform::DirEntry* b) {
      int order = CompareText(a->name, b->name);
      return order != 0 ? order < 0 : a->name < b->name;  // spellings of one name in byte order
    });
  }

  static size_t EndOfSpellingRun(const std::vector<platform::DirEntry*>& sorted, size_t i) {
    size_t end = i + 1;
    while (end < sorted.size() && CompareText(sorted[i]->name, sorted[end]->name) == 0) ++end;
    return end;
  }

  void ReportCollision(const std::string& key, const std::string& name) {
    tree_.Report(TScanIssueKind::CaseCollision, side_, key, name);
  }

  static void Block(TDirNode& node, const std::string& name) {
    auto at = std::lower_bound(node.blockedNames.begin(), node.blockedNames.end(), name, platform::TextLess());
    if (at != node.blockedNames.end() && CompareText(*at, name) == 0) return;
    node.blockedNames.insert(at, name);
  }

  // Files of one folder mostly share a few seconds; converting through the
  // local calendar once per distinct second keeps the scan cheap.
  platform::DosDateTime DosTime(platform::FileTime ft) {
    // Floor division that cannot overflow at the ends of the range.
    platform::FileTime second = ft / 10000000 - (ft % 10000000 < 0 ? 1 : 0);
    if (!cachedDos_ || second != cachedSecond_) {
      cachedSecond_ = second;
      cachedDos_ = platform::DosFromFileTime(ft);
    }
    return *cachedDos_;
  }

  TDirTree& tree_;
  TScanSide side_;
  std::string root_;
  std::vector<platform::DirEntry*> folders_;
  std::vector<platform::DirEntry*> candidates_;
  std::vector<TFileObj> merged_;
  platform::FileTime cachedSecond_ = 0;
  std::optional<platform::DosDateTime> cachedDos_;
};

// --- Tree ------------------------------------------------------------------------

TDirTree::TDirTree() {
  nodes_.push_back(std::make_unique<TDirNode>(std::string(), folderKind_));
  root_ = top_ = nodes_.back().get();
  folderList_.emplace_back();
}

TDirTree::~TDirTree() = default;

void TDirTree::SetMasks(std::string_view include, std::string_view excludeFiles, std::string_view excludeFolders) {
  includeMasks_ = ParseMaskText(include, "*");
  excludeFileMasks_ = ParseMaskText(excludeFiles);
  excludeFolderMasks_ = ParseMaskText(excludeFolders);
  includesEverything_ = includeMasks_.size() == 1 && includeMasks_[0] == "*";
}

void TDirTree::SetFolderKind(uint8_t kind) {
  folderKind_ = kind;
  if (root_ != nullptr) root_->folderKind = kind;
}

void TDirTree::ScanSource(std::string_view root) {
  RunPass(TScanSide::Source, root);
}

void TDirTree::ScanDestination(std::string_view root) {
  destinationEntriesSeen_ = 0;
  RunPass(TScanSide::Destination, root);
}

void TDirTree::RunPass(TScanSide side, std::string_view root) {
  try {
    Scanner(*this, side, root).Run();
  } catch (...) {
    PruneExcluded();  // what is left out stays out, also after an abort
    throw;
  }
  PruneExcluded();
  Tick(true);
}

void TDirTree::SortFolderList() { std::sort(folderList_.begin(), folderList_.end(), platform::TextLess()); }

TDirNode* TDirTree::FindFolder(std::string_view key) const {
  TDirNode* node = top_;
  while (node != nullptr) {
    int order = CompareText(key, node->key);
    if (order == 0) return node;
    node = order < 0 ? node->left : node->right;
  }
  return nullptr;
}

TDirNode* TDirTree::FindOrAddFolder(std::string_view key) {
  Tick(false);
  if (TDirNode* node = FindFolder(key)) return node;
  return Insert(key);
}

TDirNode* TDirTree::Insert(std::string_view key) {
  nodes_.push_back(std::make_unique<TDirNode>(std::string(key), folderKind_));
  TDirNode* node = nodes_.back().get();
  InsertNode(top_, node);
  if (key.empty()) root_ = node;
  folderList_.emplace_back(key);
  currentFolder_ = key;
  ++folderCount_;
  return node;
}

void TDirTree::Tick(bool force) {
  uint64_t now = platform::TickCount64();
  if (!force && now < nextTick_) return;
  nextTick_ = now + kTickInterval;
  if (progress) progress(*this);
}

bool TDirTree::TakesFile(std::string_view name) const {
  if (MatchesAnyMask(name, excludeFileMasks_)) return false;
  return includesEverything_ || MatchesAnyMask(name, includeMasks_);
}

bool TDirTree::SkipsFolder(std::string_view relativeKey) const {
  return MatchesAnyMask(relativeKey, excludeFolderMasks_);
}

void TDirTree::Report(TScanIssueKind kind, TScanSide side, std::string_view key, std::string_view name,
                      std::string error) {
  issues_.push_back(TScanIssue{kind, side, std::string(key), std::string(name), std::move(error)});
}

// --- Excluded folders ----------------------------------------------------------

void TDirTree::Exclude(std::string_view key) {
  if (IsExcluded(key)) return;
  auto at = std::lower_bound(excludedKeys_.begin(), excludedKeys_.end(), key, platform::TextLess());
  excludedKeys_.insert(at, std::string(key));
  pruneNeeded_ = true;
}

bool TDirTree::IsExcluded(std::string_view key) const {
  return std::binary_search(excludedKeys_.begin(), excludedKeys_.end(), key, platform::TextLess());
}

bool TDirTree::IsBelowExcluded(std::string_view key) const {
  if (IsExcluded("")) return true;
  // Keys end in "\", which never occurs inside a UTF-8 sequence: every
  // backslash ends an ancestor's key.
  for (size_t pos = key.find('\\'); pos != std::string_view::npos; pos = key.find('\\', pos + 1)) {
    if (IsExcluded(key.substr(0, pos + 1))) return true;
  }
  return false;
}

void TDirTree::PruneExcluded() {
  if (!pruneNeeded_) return;
  pruneNeeded_ = false;

  std::vector<std::unique_ptr<TDirNode>> kept;
  for (std::unique_ptr<TDirNode>& node : nodes_) {
    if (IsBelowExcluded(node->key)) {
      fileCount_ -= static_cast<int64_t>(node->files.size());
      if (node.get() == root_) root_ = nullptr;
      continue;
    }
    kept.push_back(std::move(node));
  }
  nodes_.swap(kept);
  folderList_.erase(std::remove_if(folderList_.begin(), folderList_.end(),
                                   [this](const std::string& key) { return IsBelowExcluded(key); }),
                    folderList_.end());
  folderCount_ = static_cast<int64_t>(nodes_.size());

  std::vector<TDirNode*> sorted;
  sorted.reserve(nodes_.size());
  for (const std::unique_ptr<TDirNode>& node : nodes_) sorted.push_back(node.get());
  std::sort(sorted.begin(), sorted.end(),
            [](const TDirNode* a, const TDirNode* b) { return CompareText(a->key, b->key) < 0; });
  BuildBalanced(sorted, 0, sorted.size(), top_);
}

}  // namespace kv

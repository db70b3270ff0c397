#include "synclist/syncliste.h"

#include <algorithm>
#include <iterator>
#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>

#include "platform/files.h"
#include "platform/paths.h"
#include "shared/oldstamp.h"
#include "shared/syncitem.h"
#include "synclist/dirtree.h"

namespace kv {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerHour = 3600;
// DOS times step by two seconds: two seconds apart is as close as unequal gets.
constexpr int64_t kDosStep = 2;

bool IsComparedFileState(int state) {
  return state >= kStateDestinationOlder && state <= kStateSameTimeDestinationLarger;
}

// Seconds between two DOS date-times on the naive calendar (no time-zone
// arithmetic, so a summer/winter switch shows as a whole hour); nullopt when
// either value names no valid date.
std::optional<int64_t> CalendarDistance(platform::DosDateTime a, platform::DosDateTime b) {
  const auto da = platform::DateTimeFromDos(a);
  const auto db = platform::DateTimeFromDos(b);
  if (!da || !db) return std::nullopt;
  return std::llabs(std::llround((*da - *db) * static_cast<double>(kSecondsPerDay)));
}

bool IsWholeHours(int64_t d) { return d > 0 && d < kSecondsPerDay && d % kSecondsPerHour == 0; }

// Whole hours minus two seconds (also 0 h 59 min 58 s), or whole hours (at
// least one) plus two seconds.
bool IsWholeHoursAndTwoSeconds(int64_t d) {
  if (d <= 0 || d >= kSecondsPerDay) return false;
  const int64_t rest = d % kSecondsPerHour;
  return rest == kSecondsPerHour - kDosStep || (rest == kDosStep && d >= kSecondsPerHour);
}

void MarkEqualWithinTolerance(TSyncListItem& row) {
  row.state = kStateEqualWithinHourTolerance;
  row.direction = kFlagSourceToDestination;
  row.action = kActionNone;
}

// Whether a file whose stamp of the last run is oldStamp changed on both
// sides since: the stamp matches neither time, not even within the two
// seconds of a DOS time. A time that names no valid date decides nothing.
bool ChangedOnBothSides(const TSyncListItem& row, platform::DosDateTime oldStamp) {
  if (oldStamp == row.sourceTime || oldStamp == row.destinationTime) return false;
  const auto toSource = CalendarDistance(row.sourceTime, oldStamp);
  const auto toDestination = CalendarDistance(row.destinationTime, oldStamp);
  if (!toSource || !toDestination) return false;
  return *toSource != kDosStep && *toDestination != kDosStep;
}

// A folder's key as spelt on one side. A key holds the spelling of the side
// that found the folder; a one-sided folder takes the other side's spelling
// of its nearest ancestor on both sides, so that a copy lands in the folder
// that is there and not in a second one spelt otherwise.
std::string KeyOnSide(const TDirTree& tree, const TDirNode& node, bool destinationSide) {
  if (node.state == kStateFolderOnBothSides)
    return destinationSide && !node.destinationKey.empty() ? node.destinationKey : node.key;
  const bool foundOnDestination = node.state == kStateFolderOnlyInDestination;
  if (foundOnDestination == destinationSide) return node.key;
  // Every "\" but the last ends an ancestor's key in node's spelling.
  for (size_t end = node.key.rfind('\\', node.key.size() - 2); end != std::string::npos && end > 0;
       end = node.key.rfind('\\', end - 1)) {
    const TDirNode* ancestor = tree.FindFolder(std::string_view(node.key).substr(0, end + 1));
    if (ancestor && ancestor->state == kStateFolderOnBothSides)
      return KeyOnSide(tree, *ancestor, destinationSide) + node.key.substr(end + 1);
  }
  return node.key;
}

TSyncListItem FolderRow(const TDirTree& tree, const TDirNode& node, const std::string& sourceRoot,
                        const std::string& destinationRoot) {
  TSyncListItem row;
  row.rowKind = node.folderKind;
  row.direction = kFlagNone;
  row.source = sourceRoot + KeyOnSide(tree, node, false);
  row.destination = destinationRoot + KeyOnSide(tree, node, true);
  row.state = node.state;
  return row;
}

TSyncListItem FileRow(TFileObj&& file) {
  TSyncListItem row;
  row.rowKind = file.rowKind;
  row.direction = file.direction;
  row.source = std::move(file.srcName);
  row.destination = std::move(file.destName);
  row.sourceSize = file.srcSize;
  row.destinationSize = file.destSize;
  row.sourceTime = file.srcTime;
  row.destinationTime = file.destTime;
  row.state = file.state;
  return row;
}

}  // namespace

// --- Rows --------------------------------------------------------------------

TSyncListe::TSyncListe(ProgressCallback progress) : progress_(std::move(progress)) {}
TSyncListe::~TSyncListe() = default;
TSyncListe::TSyncListe(TSyncListe&&) noexcept = default;
TSyncListe& TSyncListe::operator=(TSyncListe&&) noexcept = default;

void TSyncListe::AddRow(TSyncListItem row) {
  rows_.push_back(std::move(row));
}

const TSyncListItem& TSyncListe::GetRow(size_t index) const {
  if (index >= rows_.size())
    throw std::out_of_range("TSyncListe: row " + std::to_string(index) + " out of range (count " +
                            std::to_string(rows_.size()) + ")");
  return rows_[index];
}

void TSyncListe::DeleteRow(size_t index) {
  if (index >= rows_.size()) return;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
}

size_t TSyncListe::BlockEnd(size_t index) const {
  size_t end = index + 1;
  while (end < rows_.size() && !rows_[end].IsFolder()) ++end;
  return std::min(end, rows_.size());
}

void TSyncListe::DeleteBlock(size_t index) {
  if (index >= rows_.size()) return;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index),
              rows_.begin() + static_cast<std::ptrdiff_t>(BlockEnd(index)));
}

void TSyncListe::Tick(bool force) {
  const uint64_t now = platform::TickCount64();
  if (!force && now < nextTick_) return;
  nextTick_ = now + kTickInterval;
  if (progress_) progress_(*this);
}

void TSyncListe::SetRoots(std::string_view sourceRoot, std::string_view destinationRoot) {
  sourceRoot_ = platform::IncludeTrailingBackslash(sourceRoot);
  destinationRoot_ = platform::IncludeTrailingBackslash(destinationRoot);
}

// --- Row removal during a pass ---------------------------------------------

RowRemoval::RowRemoval(TSyncListe& list) : list_(list) { list_.dropped_.assign(list_.rows_.size(), 0); }

RowRemoval::~RowRemoval() {
  auto& rows = list_.rows_;
  size_t kept = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (list_.dropped_[i]) continue;
    if (kept != i) rows[kept] = std::move(rows[i]);
    ++kept;
  }
  rows.resize(kept);
  list_.dropped_.clear();
}

void RowRemoval::DropRow(size_t index) { list_.dropped_[index] = 1; }

void RowRemoval::DropBlock(size_t index) {
  const size_t end = list_.BlockEnd(index);
  for (size_t i = index; i < end; ++i) list_.dropped_[i] = 1;
}

bool RowRemoval::BlockHasFiles(size_t folderIndex) const {
  const size_t end = list_.BlockEnd(folderIndex);
  for (size_t i = folderIndex + 1; i < end; ++i)
    if (!IsDropped(i)) return true;
  return false;
}

// --- Filling -------------------------------------------------------------------

void TSyncListe::AddFromTree(TDirTree& tree, std::initializer_list<int> skipEmptyStates) {
  rows_.reserve(rows_.size() + tree.folderList().size() + static_cast<size_t>(std::max<int64_t>(tree.fileCount(), 0)));
  for (const std::string& key : tree.folderList()) {
    Tick();
    TDirNode* node = tree.FindFolder(key);
    if (!node) continue;
    const bool skippable = std::find(skipEmptyStates.begin(), skipEmptyStates.end(), node->state) !=
                           skipEmptyStates.end();
    if (node->files.empty() && skippable) continue;
    AddRow(FolderRow(tree, *node, sourceRoot_, destinationRoot_));
    for (TFileObj& file : node->files) AddRow(FileRow(std::move(file)));
    // The tree's copy goes as the rows come, so the two never both hold
    // every file.
    std::vector<TFileObj>().swap(node->files);
  }
}

void TSyncListe::AppendFrom(TSyncListe&& other) {
  Tick();
  if (rows_.empty()) {
    rows_.swap(other.rows_);
  } else {
    rows_.reserve(rows_.size() + other.rows_.size());
    std::move(other.rows_.begin(), other.rows_.end(), std::back_inserter(rows_));
  }
  other.rows_.clear();
  other.rows_.shrink_to_fit();
}

// --- Old timestamps -----------------------------------------------------------

void TSyncListe::CheckOldStamps(const std::string& oldStampFile) {
  oldStampError_.clear();
  TOldStampIndex index;
  std::vector<std::string> tails;
  try {
    index = TOldStampIndex::Load(oldStampFile, &tails);
  } catch (const EOldStampFile& e) {
    oldStampError_ = e.what();
    return;
  }
  // A cut-off tail loses only itself: the whole blocks before it still count.
  for (const std::string& tail : tails) oldStampError_ += (oldStampError_.empty() ? "" : " ") + tail;
  const TOldStampTable* stamps = nullptr;
  for (TSyncListItem& row : rows_) {
    Tick();
    if (row.IsFolder()) {
      ShowFolder(row.source);
      stamps = index.FindPair(row.source, row.destination);
      continue;
    }
    if (!stamps || !IsComparedFileState(row.state)) continue;
    const auto stamp = stamps->Find(row.source);
    if (stamp && ChangedOnBothSides(row, platform::DosFromFileTime(*stamp))) row.state = kStateChangedOnBothSides;
  }
}

// --- Tolerance passes --------------------------------------------------------

void TSyncListe::HourTolerance() {
  for (TSyncListItem& row : rows_) {
    Tick();
    if (row.IsFolder() || !IsComparedFileState(row.state)) continue;
    // A file whose size changed is a changed file, whatever the clocks say.
    if (row.sourceSize != row.destinationSize) continue;
    const auto d = CalendarDistance(row.sourceTime, row.destinationTime);
    if (d && IsWholeHours(*d)) MarkEqualWithinTolerance(row);
  }
}

void TSyncListe::HourTwoSecTolerance() {
  for (TSyncListItem& row : rows_) {
    Tick();
    if (row.IsFolder() || !IsComparedFileState(row.state)) continue;
    if (row.sourceSize != row.destinationSize) continue;
    const auto d = CalendarDistance(row.sourceTime, row.destinationTime);
    if (d && IsWholeHoursAndTwoSeconds(*d)) MarkEqualWithinTolerance(row);
  }
}

// --- Strategy -----------------------------------------------------------------

void TSyncListe::SetBlockAction(size_t folderIndex, int action) {
  const size_t end = BlockEnd(folderIndex);
  for (size_t i = folderIndex; i < end; ++i) rows_[i].action = action;
}

void TSyncListe::ApplyStrategy(const TUnpackedStrategy& strategy) {
  size_t i = 0;
  while (i < rows_.size()) {
    Tick();
    TSyncListItem& row = rows_[i];
    const auto pair = StrategyPairForState(row.state);
    if (row.IsFolder()) {
      if (row.state == kStateFolderOnlyInDestination) ShowFolder(row.destination);
      if (row.state == kStateFolderOnlyInSource || row.state == kStateFolderOnBothSides) ShowFolder(row.source);
      if (row.state == kStateFolderOnlyInDestination || row.state == kStateFolderOnlyInSource) {
        SetBlockAction(i, strategy[*pair].action);
        i = BlockEnd(i);
        continue;
      }
    } else if (pair) {
      row.action = strategy[*pair].action;
      if (StrategyPairDirectionIsRead(*pair)) row.direction = strategy[*pair].direction;
    }
    ++i;
  }
}

void TSyncListe::ApplyStrategy(const TSyncStrategy& strategy) {
  TUnpackedStrategy unpacked;
  for (size_t k = 0; k < unpacked.size(); ++k)
    unpacked[k] = {FlagFromStrategyDirection(strategy.pairs[k].direction), strategy.pairs[k].action};
  ApplyStrategy(unpacked);
}

size_t TSyncListe::WithholdDeletions() {
  size_t withheld = 0;
  for (TSyncListItem& row : rows_) {
    if (row.action != kActionDelete) continue;
    row.action = kActionNone;
    ++withheld;
  }
  return withheld;
}

// --- Total-list passes -------------------------------------------------------

bool TSyncListe::CriticalDeleteShare(int limit, int64_t total) {
  int64_t deletions = 0;
  for (const TSyncListItem& row : rows_) {
    Tick();
    if (row.IsFolder()) {
      ShowFolder(row.source);
      continue;
    }
    if (row.action == kActionDelete) ++deletions;
  }
  if (total <= 0) return false;
  // limit <= deletions / total * 100, without rounding: 29 of 100 is 29 %.
  return static_cast<int64_t>(limit) * total <= deletions * 100;
}

void TSyncListe::RecheckUnstable(TInStableDriveList& unstableDrives) {
  unstableDrives.Clear();
  const TSyncListItem* folder = nullptr;
  for (const TSyncListItem& row : rows_) {
    Tick();
    if (row.IsFolder()) {
      folder = &row;
      ShowFolder(row.source);
      continue;
    }
    if (!folder || row.action != kActionDelete) continue;
    if (row.state == kStateOnlyInDestination && platform::FileExists(folder->source + row.destination))
      unstableDrives.AddOnce(folder->source);
    else if (row.state == kStateOnlyInSource && platform::FileExists(folder->destination + row.source))
      unstableDrives.AddOnce(folder->destination);
  }
  if (unstableDrives.Count() == 0) return;

  // Asked once per drive as written: expanding a path reads the volume table.
  std::map<std::string, bool, platform::TextLess> unstableByDrive;
  auto isUnstable = [&](const std::string& path) {
    const std::string drive = platform::ExtractFileDrive(path);
    auto it = unstableByDrive.find(drive);
    if (it == unstableByDrive.end()) it = unstableByDrive.emplace(drive, unstableDrives.HoldsDriveOf(path)).first;
    return it->second;
  };
  RowRemoval removal(*this);
  for (size_t i = 0; i < rows_.size(); ++i) {
    Tick();
    const TSyncListItem& row = rows_[i];
    if (!row.IsFolder() || removal.IsDropped(i)) continue;
    if (isUnstable(row.source) || isUnstable(row.destination)) removal.DropBlock(i);
  }
}

void TSyncListe::MarkFolder(size_t folderIndex) {
  const size_t end = BlockEnd(folderIndex);
  size_t copies = 0;
  size_t deletions = 0;
  for (size_t i = folderIndex + 1; i < end; ++i) {
    if (rows_[i].action == kActionCopy) ++copies;
    if (rows_[i].action == kActionDelete) ++deletions;
  }
  const size_t files = end - folderIndex - 1;
  int& action = rows_[folderIndex].action;
  if (copies == files)
    action = kActionCopy;
  else if (deletions > 0)
    action = kActionCreateFolderIfCopy;
  else if (copies > 0)
    action = kActionCreateFolder;
  else
    action = kActionNone;
}

void TSyncListe::MarkFolders() {
  for (size_t i = 0; i < rows_.size(); ++i) {
    Tick();
    const TSyncListItem& row = rows_[i];
    if (!row.IsFolder()) continue;
    if (row.state == kStateFolderOnlyInDestination || row.state == kStateFolderOnlyInSource) continue;
    MarkFolder(i);
  }
}

void TSyncListe::FormatTexts() {
  for (const TSyncListItem& row : rows_) {
    Tick();
    if (row.ShowsSourceTime()) DosDateText(row.sourceTime);
    if (row.ShowsDestinationTime()) DosDateText(row.destinationTime);
  }
}

}  // namespace kv

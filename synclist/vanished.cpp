#include "synclist/vanished.h"

#include "platform/paths.h"
#include "platform/volumes.h"
#include "synclist/syncliste.h"

namespace kv {

std::optional<std::string> DriveAvailability::VanishedDriveOf(std::string_view path) {
  std::string drive = platform::ExtractFileDrive(path);
  if (drive.empty()) return std::string(path);
  auto it = known_.find(drive);
  if (it == known_.end()) it = known_.emplace(drive, platform::CurrentVolumes()->IsAvailable(drive)).first;
  if (it->second) return std::nullopt;
  return drive;
}

namespace {

bool IsFolderState(int state) {
  return state == kStateFolderOnlyInDestination || state == kStateFolderOnlyInSource ||
         state == kStateFolderOnBothSides;
}

}  // namespace

void TSyncListe::CollectDrives(TDriveNameList& vanishedDrives) {
  DriveAvailability drives;
  RowRemoval removal(*this);
  for (size_t i = 0; i < rows_.size(); ++i) {
    Tick();
    const TSyncListItem& row = rows_[i];
    if (!row.IsFolder() || !IsFolderState(row.state) || removal.IsDropped(i)) continue;
    ShowFolder(row.source);
    auto gone = drives.VanishedDriveOf(row.source);
    if (!gone) gone = drives.VanishedDriveOf(row.destination);
    if (!gone) continue;
    vanishedDrives.insert(std::move(*gone));
    removal.DropBlock(i);
  }
}

}  // namespace kv

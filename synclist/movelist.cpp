#include "synclist/movelist.h"

#include <stdexcept>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace kv {

namespace {

constexpr size_t kPathFieldWidth = 255;

std::string ClipToField(const std::string& text) {
  return text.substr(0, platform::Utf8PrefixLength(text, kPathFieldWidth));
}

void CheckIndex(size_t index, size_t count, const char* list) {
  if (index >= count)
    throw std::out_of_range(std::string(list) + ": index " + std::to_string(index) + " out of range (count " +
                            std::to_string(count) + ")");
}

}  // namespace

std::string UncDriveOf(std::string_view path) {
  return platform::ExtractFileDrive(platform::CurrentVolumes()->ExpandUnc(path));
}

void TMoveList::Add(std::string oldPath, std::string newPath) {
  oldPaths_.push_back(std::move(oldPath));
  newPaths_.push_back(std::move(newPath));
}

void TMoveList::Clear() {
  oldPaths_.clear();
  newPaths_.clear();
}

TMovePair TMoveList::GetPair(size_t index) const {
  CheckIndex(index, Count(), "TMoveList");
  return {ClipToField(oldPaths_[index]), ClipToField(newPaths_[index])};
}

void TMoveList::FillFrom(const TMoveList* other) {
  if (other == this) return;
  Clear();
  if (!other) return;
  oldPaths_ = other->oldPaths_;
  newPaths_ = other->newPaths_;
}

TDrivePair TInStableDriveList::DrivesOf(std::string_view path) {
  TDrivePair pair{platform::ExtractFileDrive(path), UncDriveOf(path)};
  if (pair.uncDrive == pair.drive) pair.uncDrive.clear();
  return pair;
}

void TInStableDriveList::Append(TDrivePair pair) {
  drives_.push_back(std::move(pair.drive));
  uncDrives_.push_back(std::move(pair.uncDrive));
}

void TInStableDriveList::Add(std::string_view path) { Append(DrivesOf(path)); }

bool TInStableDriveList::AddOnce(std::string_view path) {
  TDrivePair pair = DrivesOf(path);
  if (Contains(pair)) return false;
  Append(std::move(pair));
  return true;
}

void TInStableDriveList::Clear() {
  drives_.clear();
  uncDrives_.clear();
}

TDrivePair TInStableDriveList::GetPair(size_t index) const {
  CheckIndex(index, Count(), "TInStableDriveList");
  return {drives_[index], uncDrives_[index]};
}

bool TInStableDriveList::HoldsDriveOf(std::string_view path) const {
  const std::string drive = UncDriveOf(path);
  for (size_t i = 0; i < Count(); ++i) {
    const std::string& listed = uncDrives_[i].empty() ? drives_[i] : uncDrives_[i];
    if (platform::SameText(drive, listed)) return true;
  }
  return false;
}

bool TInStableDriveList::Contains(const TDrivePair& pair) const {
  for (size_t i = 0; i < Count(); ++i)
    if (platform::SameText(drives_[i], pair.drive) && platform::SameText(uncDrives_[i], pair.uncDrive)) return true;
  return false;
}

}  // namespace kv

#pragma once
// Two small lists the run thread hands to the list builder and reads back
// afterwards: the files moved on one side to follow a move on the other, and
// the drives on which files marked for deletion reappeared during the build.
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// One moved file as the run thread's protocol record takes it (each path at
// most 255 bytes, cut at a whole UTF-8 sequence).
struct TMovePair {
  std::string oldPath;
  std::string newPath;
};

class TMoveList {
 public:
  void Add(std::string oldPath, std::string newPath);
  void Clear();
  // Index outside 0..Count()-1 throws std::out_of_range.
  TMovePair GetPair(size_t index) const;
  // Replaces the content by other's pairs; a null other leaves this list empty.
  void FillFrom(const TMoveList* other);
  size_t Count() const { return oldPaths_.size(); }

 private:
  std::vector<std::string> oldPaths_;
  std::vector<std::string> newPaths_;
};

// A drive as given ("C:", "\\server\share") and the same drive after UNC
// expansion; the UNC drive is empty when both are the same text.
struct TDrivePair {
  std::string drive;
  std::string uncDrive;
};

class TInStableDriveList {
 public:
  // Adds the drive of path and the drive of its UNC expansion.
  void Add(std::string_view path);
  void Clear();
  TDrivePair GetPair(size_t index) const;
  size_t Count() const { return drives_.size(); }
  // True when the drive of path (after UNC expansion) is one of the list's:
  // compared, case-insensitively, with an entry's UNC drive when it has one,
  // else with its plain drive.
  bool HoldsDriveOf(std::string_view path) const;
  // Add, unless the same drive pair is listed already; true when added.
  bool AddOnce(std::string_view path);

 private:
  static TDrivePair DrivesOf(std::string_view path);
  bool Contains(const TDrivePair& pair) const;
  void Append(TDrivePair pair);

  std::vector<std::string> drives_;
  std::vector<std::string> uncDrives_;
};

// The drive part of a path after UNC expansion through the volume table.
std::string UncDriveOf(std::string_view path);

}  // namespace kv

#pragma once
// The user options: the 600-byte record of "UsrOpt.kst" in the working
// folder, written by the profile editor, held unchanged for the life of the
// scheduler together with the profile folder.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

struct TUserOptions {
  static constexpr size_t kRecordSize = 600;
  // Protocols kept per profile when the file does not say.
  static constexpr int32_t kDefaultMaxPtk = 1000;

  std::string profileFolder;  // working folder + "Profile\"
  // The record byte for byte; see LoadUserOptions for what a missing or
  // short file leaves here.
  std::array<uint8_t, kRecordSize> options = DefaultRecord();

  // Row kind the folder scan gives folder rows; the profile editor writes 1
  // or 2, but the byte is returned as stored (0 when never written).
  uint8_t FolderRowKind() const { return options[kOffFolderRowKind]; }
  // Not acted on anywhere: the hour passes of the list builder always run.
  bool HourTolerance() const { return options[kOffHourTolerance] != 0; }
  int32_t MaxPtk() const;
  bool CopyNTFSRights() const { return options[kOffCopyNTFSRights] != 0; }
  bool ArchiveShredder() const { return options[kOffArchiveShredder] != 0; }

  // The record of a missing file: MaxPtk 1000, every other byte zero.
  static std::array<uint8_t, kRecordSize> DefaultRecord();

  static constexpr size_t kOffFolderRowKind = 13;
  static constexpr size_t kOffHourTolerance = 14;
  static constexpr size_t kOffMaxPtk = 56;
  static constexpr size_t kOffCopyNTFSRights = 64;
  static constexpr size_t kOffArchiveShredder = 72;
};

// Fills the user options from the path of the schedule file (working folder
// + "Profile\" + "Timer.dat"): the profile folder is the folder of that path,
// the record is read from "UsrOpt.kst" in the folder above it.
//  - missing or unreadable file: the default record, no note;
//  - a file shorter than the record: the bytes it holds, zero beyond them,
//    except that MaxPtk keeps its default 1000 unless all four of its bytes
//    are in the file, so that a cut-off file never tells the scheduler to
//    keep no protocols at all; note then says what was missing;
//  - only the first 600 bytes of a longer file are read.
TUserOptions LoadUserOptions(std::string_view scheduleFile, std::string* note = nullptr);

}  // namespace kv

#pragma once
// The profile list "Pro.kst": one 1628-byte record per profile, written by
// the profile editor. The system only reads it: a profile is looked up by its
// number each time it is started and then travels by value through the run.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Values of DeleteMode; any other value chooses no mode.
inline constexpr uint8_t kDeleteModePlain = 0;
inline constexpr uint8_t kDeleteModeShredder = 1;
inline constexpr uint8_t kDeleteModeRecycleBin = 2;
inline constexpr uint8_t kDeleteModeBackup = 3;
inline constexpr uint8_t kDeleteModeRename = 4;

struct TProfItem {
  static constexpr size_t kSize = 1628;

  std::string profileNo;    // seven decimal digits, the section name in "Timer.dat"
  std::string profileName;  // display name
  bool twoSecondTolerance = false;
  bool keepOldStamps = false;  // "OS.vrl" in the profile folder
  std::string profilePath;     // the profile's own folder, ending in "\"
  std::string commandBefore;   // "" = none
  std::string commandAfter;
  bool stopOnCommandError = false;
  bool safeRename = false;
  bool findMovedFiles = false;
  bool extLogOn = false;
  std::string extLogPath;
  std::string extLogSeparator;
  uint8_t extLogAppend = 0;  // raw byte: only 1 appends
  bool extLogDone = false;
  bool extLogErrors = false;
  uint8_t deleteMode = kDeleteModePlain;  // raw byte 0..4, others: no mode

  bool AppendsExtLog() const { return extLogAppend == 1; }
  bool HasDeleteMode() const { return deleteMode <= kDeleteModeRename; }

  // Takes exactly kSize bytes (std::invalid_argument otherwise). Length bytes
  // beyond their field are clamped; booleans are any non-zero byte.
  static TProfItem Decode(std::span<const uint8_t> bytes);
  // The record as the profile editor writes it, for tools that make a work
  // folder; the bytes the system does not read are zero. Throws
  // platform::FieldTooLong naming a text that does not fit.
  std::vector<uint8_t> Encode() const;
};

// Everything read from one "Pro.kst".
struct ProfileListFile {
  bool ok = false;  // false: missing or unreadable; error names the file
  std::string error;
  std::vector<TProfItem> profiles;  // in file order
  // A last record shorter than TProfItem::kSize is never read; note names
  // the file and the byte count so that callers can report it.
  size_t ignoredTailBytes = 0;
  std::string note;

  // The first profile whose number equals profileNo exactly (byte for byte,
  // case-sensitive); nullptr when there is none.
  const TProfItem* Find(std::string_view profileNo) const;
};

// Reads the file (a Windows path) record by record from its start.
ProfileListFile ReadProfileList(std::string_view path);

// The outcome of looking one profile up.
struct ProfileLookup {
  std::optional<TProfItem> profile;  // nullopt: file unreadable or number absent
  std::string error;                 // why there is no profile ("" when found)
  std::string note;                  // short last record, "" when none
};

// The first record of the file whose number equals profileNo.
ProfileLookup FindProfile(std::string_view path, std::string_view profileNo);

}  // namespace kv

#pragma once
// Profile fixture files ("Pro.kst", "UsrOpt.kst", "Filters.kst") as the
// profile editor writes them, built byte by byte from the record layouts on
// their own, without the decoders in shared/.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::test {

// One profile record. Booleans are raw bytes so that tests can store values
// other than 0 and 1. Texts longer than their field are cut at the byte.
struct ProfileSpec {
  std::string profileNo = "0000001";
  std::string profileName = "Test";
  uint8_t twoSecondTolerance = 0;
  uint8_t keepOldStamps = 0;
  std::string profilePath;  // Windows folder ending in "\"
  std::string commandBefore;
  std::string commandAfter;
  uint8_t stopOnCommandError = 0;
  uint8_t safeRename = 0;
  uint8_t findMovedFiles = 0;
  uint8_t extLogOn = 0;
  std::string extLogPath;
  std::string extLogSeparator;
  uint8_t extLogAppend = 0;
  uint8_t extLogDone = 0;
  uint8_t extLogErrors = 0;
  uint8_t deleteMode = 0;
  // Byte written into every range the system does not read (to prove they
  // are never read).
  uint8_t reservedFill = 0;
};

inline constexpr size_t kProfileRecordSize = 1628;
inline constexpr size_t kUserOptionsRecordSize = 600;

std::vector<uint8_t> ProfileBytes(const ProfileSpec& profile);
// Writes a "Pro.kst" (a POSIX path); extraTail bytes (0xAA) are appended to
// imitate a cut-off last record.
void WriteProfileList(const std::string& posixPath, const std::vector<ProfileSpec>& profiles, size_t extraTail = 0);

struct UserOptionsSpec {
  uint8_t folderRowKind = 2;
  uint8_t hourTolerance = 0;
  int32_t maxPtk = 1000;
  uint8_t copyNTFSRights = 0;
  uint8_t archiveShredder = 0;
  uint8_t reservedFill = 0;
};

std::vector<uint8_t> UserOptionsBytes(const UserOptionsSpec& options);
// Writes "UsrOpt.kst"; keep, when given, cuts the file to that many bytes.
void WriteUserOptions(const std::string& posixPath, const UserOptionsSpec& options,
                      std::optional<size_t> keep = std::nullopt);

// The filter sections of one folder pair: the roots exactly as the pair
// record stores them, and the key names (the values are the editor's own).
struct FilterSpec {
  std::string sourceRoot;
  std::string destinationRoot;
  std::vector<std::string> folderKeys;
  std::vector<std::string> fileKeys;
};

// Writes a "Filters.kst" with CRLF line ends, sections "Fldr"/"File" + roots.
void WriteFilters(const std::string& posixPath, const std::vector<FilterSpec>& pairs);

}  // namespace kv::test

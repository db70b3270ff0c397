#pragma once
// The table of the drives and network shares a profile's folder pairs lie
// on: kind, network name, credentials and whether each is reachable. The run
// thread builds it (connecting shares that are not reachable), saves it to a
// private temporary INI file, and the drive check and the list builder load
// that file and ask it for each pair root.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

inline constexpr int kDriveKindLocal = 0;
inline constexpr int kDriveKindNetworkLetter = 1;
inline constexpr int kDriveKindNetworkShare = 2;

struct TDriveEntry {
  std::string name;     // drive root, lower-cased: "c:\" or "\\server\share\"
  std::string uncName;  // network name (lower-cased for looked-up names), "" for local drives
  int kind = kDriveKindLocal;
  std::string user;
  std::string password;
  bool active = false;
};

// "C:\Data\x" -> "c:\"; "\\Srv\Share\x" -> "\\srv\share\"; "" for a path that
// names no drive.
std::string DriveRootOf(std::string_view path);

// A column store: one text column per field, as the table is saved.
class TDriveList {
 public:
  // Adds the drive of a folder pair's root; a network drive that is not
  // reachable is connected with the share name and the credentials.
  void AddPath(std::string_view path, std::string_view shareName, std::string_view user, std::string_view password);
  // Adds a row computed from the entry's name alone (user and password taken
  // from it); connects nothing.
  void AddDrive(const TDriveEntry& entry);
  void AddPathOnly(std::string_view path);
  // Row of the path's drive root, -1 when absent.
  int IndexOf(std::string_view path) const;
  // ftpResult for FTP paths; a drive not in the table is added first.
  bool IsAvailable(std::string_view path, bool ftpResult);
  // Tries without credentials, then with them.
  bool Connect(std::string_view root, std::string_view shareName, std::string_view user, std::string_view password);

  // Writes the table to a new file of mode 0600 in the private temporary
  // folder, under a name unique to this call, and returns the name. Throws
  // std::runtime_error naming the file when it cannot be written.
  std::string SaveToTempFile() const;
  // Replaces the table by the file's entries; a missing file gives an empty
  // table.
  void LoadFromFile(std::string_view fileName);

  TDriveEntry GetEntry(int index) const;  // std::out_of_range outside the table
  int Count() const { return static_cast<int>(names_.size()); }
  void Clear();

 private:
  void Append(std::string name, std::string uncName, int kind, std::string user, std::string password, bool active);

  std::vector<std::string> names_;
  std::vector<std::string> uncNames_;
  std::vector<std::string> kinds_;
  std::vector<std::string> users_;
  std::vector<std::string> passwords_;
  std::vector<std::string> actives_;
};

}  // namespace kv

#pragma once
// The volume table: how the Windows paths inside the system map to folders
// of this machine. A drive letter maps to a folder ("C:" -> "/" by default);
// a UNC share root ("\\server\share") maps to the folder where that share is
// mounted. A drive marked "must be mounted" (the default for every letter but
// C:) is available only while its folder is a mount point, so an unplugged
// disk or an unmounted share never looks like an empty folder.
//
// The table lives in the platform registry under
// HKEY_LOCAL_MACHINE\System\Volumes, one subkey per volume named after its
// root with "\" written as "/" ("D:", "//server/share"), with the values
// Folder, Type ("auto", "fixed", "removable", "remote", "cdrom", "ramdisk"),
// RemoteName, MustBeMounted (DWORD 0/1) and ConnectCommand (see
// docs/platform.md).
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// Values as the Windows drive-type call returns them.
enum class DriveType : int {
  Unknown = 0,
  NoRootDir = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  Cdrom = 5,
  Ramdisk = 6,
};

struct Volume {
  std::string root;        // "D:" or "\\server\share" (as entered; compared case-insensitively)
  std::string folder;      // POSIX folder it maps to, e.g. "/mnt/backup"
  std::optional<DriveType> type;  // nullopt: decided from the file system (statfs)
  std::string remoteName;  // "\\server\share" for a letter that stands for a share, else ""
  bool mustBeMounted = true;
  std::string connectCommand;  // optional; gets user and password on standard input
};

class VolumeTable {
 public:
  // The table as the registry holds it now, plus the default "C:" -> "/".
  static VolumeTable Load();
  // Stores the table in the registry (tests and set-up use this); false
  // when the registry did not take all of it.
  bool Save() const;

  void Set(Volume v);  // replaces an entry with the same root
  void Remove(std::string_view root);
  const std::vector<Volume>& volumes() const { return volumes_; }
  const Volume* Find(std::string_view root) const;  // by drive part, case-insensitive

  // Windows path -> POSIX path; nullopt when its drive is not in the table.
  // Backslashes become slashes; a trailing "\" stays a trailing "/"; "." and
  // ".." are resolved as text and never lead above the drive's folder.
  std::optional<std::string> ToPosix(std::string_view winPath) const;
  // POSIX path -> Windows path through the volume with the longest matching
  // folder (at least "C:" -> "/"); a volume's folder itself gives its root
  // with "\" ("/" -> "C:\"). "" when no volume holds the path.
  std::string FromPosix(std::string_view posixPath) const;

  // An explicit type is returned as it is. Auto: a letter that stands for a
  // share is Remote; an unavailable drive is NoRootDir; else from statfs
  // (UNC roots are Remote). Unmapped: NoRootDir.
  DriveType GetDriveType(std::string_view rootOrPath) const;
  // The drive's folder exists and, where it must be mounted, is a mount point.
  bool IsAvailable(std::string_view rootOrPath) const;
  // "D:\x\y" -> "\\server\share\x\y" when D: stands for a share; else unchanged.
  std::string ExpandUnc(std::string_view path) const;
  // The share a letter stands for ("\\server\share"), "" when none.
  std::string RemoteName(std::string_view rootOrPath) const;

  // The entry for a drive part: a root of the table, or for "\\server\share"
  // without an entry of its own the letter that stands for that share.
  const Volume* Lookup(std::string_view rootOrPath) const;

 private:
  std::vector<Volume> volumes_;
};

// Convenience over VolumeTable::Load() for the system calls of the platform
// layer. The table is re-read when the registry changed.
std::shared_ptr<const VolumeTable> CurrentVolumes();
std::optional<std::string> ToPosixPath(std::string_view winPath);
std::string FromPosixPath(std::string_view posixPath);
// ToPosixPath for a system call: also fails when the drive is not available
// (ENOMEDIUM) or the path is not in the table or holds a NUL byte (ENOENT,
// EINVAL); the reason is left in GetLastError().
std::optional<std::string> ResolvePath(std::string_view winPath);

// Writes a root the way the table keeps it: "d:\" -> "D:",
// "\\Srv\Share\" -> "\\Srv\Share"; "" when it is neither.
std::string NormalizeVolumeRoot(std::string_view root);

}  // namespace kv::platform

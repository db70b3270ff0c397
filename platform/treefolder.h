#pragma once
// The files and folders of a folder pair, reached from the pair's root
// without following a link on the way. The root is opened as configured
// (the user pointed the pair there, links included); every folder below it is
// opened one name at a time from the folder above, and a name that is a link
// is refused (ELOOP), as are "." and ".." (EINVAL). A folder that was swapped
// for a link after the list was built therefore never leads the engine
// outside the root, and once a folder is open, what is done in it happens in
// that folder, whatever its path turns into meanwhile.
//
// Entries are named by one name within an open folder. Calls return bool
// (or a handle that is not open) and leave the reason in GetLastError().
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace kv::platform {

class TreeFolder : public Handle {
 public:
  TreeFolder() = default;

  // The root of a tree (a Windows folder path). create: made with its
  // parents when missing.
  static TreeFolder OpenRoot(std::string_view winRoot, bool create);
  // A folder below this one: rel is "a\b\" ("" is this folder again).
  // create: missing folders are made on the way.
  TreeFolder OpenFolder(std::string_view rel, bool create) const;

  // The entry as the scans see it: a link to a file is that file (looking
  // through a link reads, it writes nothing); a link to a folder or to
  // nothing has isLink set and nothing else.
  [[nodiscard]] bool Status(std::string_view name, FileStatus& out) const;
  using Handle::Status;
  // A regular file for reading (a link to a file is read through); status,
  // when given, gets what the file was when it was opened.
  FileHandle OpenForReading(std::string_view name, FileStatus* status = nullptr) const;
  // An existing regular file for writing; never through a link.
  FileHandle OpenForWriting(std::string_view name, FileStatus* status = nullptr) const;
  // The entry itself for reading its rights (no data is read); never
  // through a link.
  Handle OpenForRights(std::string_view name) const;
  // A new empty file under a name of the system's own (IsSystemTempName),
  // created exclusively with mode (less the umask) and locked while it is
  // open, so that no clean-up takes it for the leftover of a killed run.
  // name gets its name.
  FileHandle CreateTemporary(std::string& name, unsigned mode = 0600) const;

  // Within this folder. Without replace, an existing target is never
  // replaced (EEXIST).
  [[nodiscard]] bool Rename(std::string_view from, std::string_view to, bool replace) const;
  // Into another open folder under the same name; never replaces, never
  // across devices (EXDEV).
  [[nodiscard]] bool MoveInto(std::string_view name, const TreeFolder& to) const;
  // To a POSIX path outside the tree; never replaces, never across devices.
  [[nodiscard]] bool MoveOut(std::string_view name, const std::string& posixTarget) const;
  // A file or a link (never what it points to); folders are refused.
  [[nodiscard]] bool Remove(std::string_view name) const;
  // An empty folder; a link is refused (ENOTDIR).
  [[nodiscard]] bool RemoveFolder(std::string_view name) const;
  // The owner may write the file again; a link is left alone.
  [[nodiscard]] bool ClearReadOnly(std::string_view name) const;
  // The owner may write the folder itself.
  [[nodiscard]] bool ClearOwnReadOnly();

  // The POSIX path the folder has now ("" when it has none any more).
  std::string PosixPath() const;

 private:
  explicit TreeFolder(int fd) : Handle(fd) {}
};

// Names of the system's own temporary files: "." + "kvtmp-" + ten letters
// and digits. A scan leaves them out on both sides.
bool IsSystemTempName(std::string_view name);
// A fresh name of that form, checked against no folder: for a temporary file
// the caller makes elsewhere (on an FTP server, for one) under its own rules.
std::string NewSystemTempName();
// Removes a system temporary file that a killed run left behind in a
// folder (a Windows path): only when no live writer holds it, and never
// through a link. True when it is gone.
bool RemoveStaleTemporary(std::string_view winFolder, std::string_view name);

}  // namespace kv::platform

#pragma once
// The recycle bin: the freedesktop.org trash, so that file managers, gio and
// trash-cli list and restore what the system put there.
//  - A file on the device of the home trash ($XDG_DATA_HOME/Trash, by default
//    ~/.local/share/Trash) goes to the home trash.
//  - Any other file goes to the trash at the top folder of its mount:
//    $topdir/.Trash/UID when $topdir/.Trash is a real folder (not a link) with
//    the sticky bit, else $topdir/.Trash-UID (created with mode 0700).
// A trash holds files/ and info/. The info file NAME.trashinfo is created
// exclusively before the file moves to files/NAME, so two deletions never
// claim one name; on a clash the next free name is taken ("a.txt",
// "a.2.txt", "a.3.txt", ...). It records the original Path (percent-encoded;
// relative to $topdir in a mount's trash) and the local DeletionDate
// ("YYYY-MM-DDThh:mm:ss"). The move never replaces anything and never
// crosses devices: when no trash on the file's own device can take it, the
// call fails and the file stays where it was.
#include <string>
#include <string_view>

#include "platform/treefolder.h"

namespace kv::platform {

struct TrashedFile {
  std::string trashFolder;  // POSIX path of the trash used (holds files/ and info/)
  std::string name;         // the name under files/ (info/ has name + ".trashinfo")
};

// Moves a file, or a symbolic link as a link (its target is not touched),
// into the trash. Folders are refused (EISDIR). false with the reason in
// GetLastError() when no trash could take it.
bool MoveToTrash(std::string_view winPath, TrashedFile* where = nullptr);
bool MoveToTrashPosix(const std::string& posixPath, TrashedFile* where = nullptr);
// The entry name of an open folder (see treefolder.h), never through a link.
bool MoveToTrash(const TreeFolder& folder, std::string_view name, TrashedFile* where = nullptr);

// POSIX path of the home trash; "" when there is no home folder.
std::string HomeTrashFolder();

}  // namespace kv::platform

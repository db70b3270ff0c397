#pragma once
// The file system as the rest of the system sees it. Every path here is a
// Windows path; it is mapped to this machine through the volume table at the
// system call. Calls return bool and leave the reason in GetLastError(), as
// the code above was written against; nothing here throws. A path on a drive
// that must be mounted and is not fails with ENOMEDIUM, so an unplugged disk
// never looks like an empty folder.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handle.h"
#include "platform/time.h"

namespace kv::platform {

enum FileAttribute : uint32_t {
  kAttrReadOnly = 0x01,   // no owner write bit
  kAttrHidden = 0x02,     // name starts with "."
  kAttrSystem = 0x04,     // neither file nor folder (socket, fifo, device)
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,    // every regular file
};
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

struct DirEntry {
  std::string name;
  bool isFolder = false;
  int64_t size = 0;
  FileTime lastWrite = 0;
  uint32_t attributes = 0;
  // A symbolic link to a folder (never descended). A link to a file is that
  // file and not marked; a dangling link is listed apart.
  bool isLink = false;
};

struct FolderListing {
  bool ok = false;  // false: the folder is missing or cannot be read (error says why)
  int error = 0;
  std::vector<DirEntry> entries;  // without "." and ".."; order unspecified
  // Names on disk that cannot be named in the system (they contain "\").
  std::vector<std::string> unnamable;
  // Links that lead nowhere (their target is missing, or they loop): what
  // they stand for cannot be known, so it must not look deleted either.
  std::vector<std::string> brokenLinks;
  // The system's own temporary files (IsSystemTempName), never user data.
  std::vector<std::string> temporaries;
};

// Reads the whole listing, closes the folder, then returns. Links to files are
// the file they point to; links to folders are reported as folders but marked
// with isLink so that scans never descend into them; links to nothing and
// temporary files of the system are listed apart. Sockets, fifos and devices
// come with kAttrSystem and isFolder false. An entry that cannot be examined
// (other than one that vanished meanwhile) fails the whole listing rather than
// making a file look deleted.
FolderListing ListFolder(std::string_view folder);
bool IsFolderLink(std::string_view path);

bool FileExists(std::string_view path);       // regular files only
bool DirectoryExists(std::string_view path);
bool ForceDirectories(std::string_view path);  // with parents; true when it exists afterwards
bool CreateDir(std::string_view path);
bool RemoveDir(std::string_view path);        // empty folders only
bool DeleteFile(std::string_view path);
// Never replaces an existing target (file or folder, empty or not); a move
// across file systems fails (EXDEV).
bool MoveFileNoReplace(std::string_view from, std::string_view to);
// Copies content, mode and last-write time of a regular file; failIfExists
// false replaces the target. The copy is written under a hidden temporary
// name beside the target and renamed into place only when complete, so a
// failed copy leaves the target as it was.
bool CopyFile(std::string_view from, std::string_view to, bool failIfExists);
// The same for a file already open, replacing the target.
bool CopyOpenFile(const FileHandle& from, std::string_view to);
// The path itself is a symbolic link (whatever it points to).
bool IsSymbolicLink(std::string_view path);

uint32_t GetFileAttributes(std::string_view path);  // kInvalidAttributes on failure
// Only read-only has a counterpart: set, a file loses every write bit; clear,
// the owner may write (folders too). Read-only on a folder is ignored, as
// hidden, system and archive are.
bool SetFileAttributes(std::string_view path, uint32_t attributes);
std::optional<FileTime> GetLastWriteTime(std::string_view path);
bool SetLastWriteTime(std::string_view path, FileTime ft);  // access time untouched
std::optional<int64_t> GetFileSize(std::string_view path);  // regular files only

// Which file a path names after links are followed. Two paths name one file
// exactly when their identities are equal: other spellings and hard links
// give the same identity, names that differ only in case give two.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> GetFileIdentity(std::string_view path);  // nullopt when missing

// Creates an empty file (mode 0600) named prefix + 4 upper-case hex digits +
// ".tmp" in folder, trying further numbers on a clash, and returns its full
// path; "" on failure.
std::string GetTempFileName(std::string_view folder, std::string_view prefix);
// The same, and the file is held (under a lock) until DeleteFile or
// ReleaseHeldFile names it or the process ends: a file that passes from one
// step of a run to the next (a job file, the copy of the folder pairs) is so
// never taken for the leftover of a killed run.
std::string GetHeldTempFileName(std::string_view folder, std::string_view prefix);
void ReleaseHeldFile(std::string_view path);
// Removes from folder what runs that were killed left behind: files named
// prefix + 4 hex digits + ".tmp" and the system's temporary files, each only
// when no live process holds it. Returns how many went.
int RemoveLeftoverTempFiles(std::string_view folder, std::string_view prefix);
// The private per-user temporary folder (mode 0700) as a Windows path ending
// in "\": $XDG_RUNTIME_DIR/kestrovane, else /tmp/kestrovane-UID. An existing
// folder must be ours (a wider mode is narrowed); a link or another user's
// folder is refused. "" when neither can be had.
std::string GetTempPath();
// Creates a folder with its parents; the folder itself gets mode 0700 (an
// existing one of ours is narrowed to it). A link or another user's folder
// is refused (EACCES).
bool ForcePrivateDirectories(std::string_view path);

// Whole-file helpers for records and small text files. Only regular files are
// read (a fifo would block).
bool ReadWholeFile(std::string_view path, std::vector<uint8_t>& out);
// Whether a file written whole is on the disk before it takes its name:
// NotSynced only for files that may be lost in a crash (caches).
enum class FileSync { Synced, NotSynced };
// Writes to a temporary name in the same folder, syncs it (unless asked
// not to) and renames it into place; a replaced file keeps its mode.
bool WriteFileAtomic(std::string_view path, const void* data, size_t size, FileSync sync = FileSync::Synced);

namespace detail {
// The move used where a file system refuses RENAME_NOREPLACE (POSIX paths): a
// hard link and unlink, or a rename over an empty placeholder of our own
// where there are no hard links. Exposed so that tests reach it anywhere.
bool MoveNoReplaceFallback(const std::string& from, const std::string& to);
}  // namespace detail

}  // namespace kv::platform

#pragma once
// Small whole files that are read often and replaced atomically (INI files,
// registry hives). A reader remembers the stamp of the file it parsed and
// re-parses only when the stamp differs; a writer replaces the file through a
// temporary name in the same folder and makes sure the new file's stamp
// differs from the old one even when both were written within one clock tick.
// POSIX paths; failures leave errno in the platform's last error.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/files.h"

namespace kv::platform {

struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  int64_t size = -1;
  int64_t mtimeNs = 0;
  // Permission bits and owner: a replacement keeps them.
  uint32_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;

  bool SameContentAs(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs;
  }
  // A 64-bit value that changes whenever the stamp does (0 = no file).
  uint64_t Hash() const;
};

// The stamp of the file at path; nullopt when it does not exist or is not a
// regular file (ProbeFile tells which).
std::optional<FileStamp> StatFile(const std::string& path);

// Reads the whole file and the stamp of exactly the file that was read;
// false with the reason in the last error (ENOENT when it does not exist).
bool ReadStampedFile(const std::string& path, std::string& content, FileStamp& stamp);

// Replaces the file at path by content: temporary file in the same folder,
// fsync, rename, fsync of the folder (both syncs left out with
// FileSync::NotSynced). previous is the stamp of the file being
// replaced (nullptr when there is none); the new file keeps its permission bits
// and owner and gets a modification time later than its (a reader that cached
// the old file must not take the new one for it). newMode (less the umask)
// applies to a new file. A file renamed over keeps no hard links.
bool ReplaceFile(const std::string& path, std::string_view content, const FileStamp* previous,
                 uint32_t newMode = 0666, FileSync sync = FileSync::Synced);

// The file a path names after following symbolic links; for a file that does
// not exist yet, its folder resolved plus its name. "" when the folder is missing.
std::string CanonicalFilePath(const std::string& path);

// What a path names now: a regular file (stamp filled), nothing (ENOENT or
// ENOTDIR on the way), or something that cannot be read as a file.
enum class FileProbe { Present, Missing, Unusable };
FileProbe ProbeFile(const std::string& path, FileStamp& stamp);

template <typename T>
struct ParsedFile {
  std::shared_ptr<const T> value;
  std::optional<FileStamp> stamp;  // nullopt: no file
};

// Parsed contents of files by path, re-parsed only when the stamp changed, so
// that frequent reads of an unchanged file cost one stat. T needs a default
// constructor (the empty file) and static T Parse(std::string_view).
template <typename T>
class ParsedFileCache {
 public:
  explicit ParsedFileCache(size_t maxFiles) : maxFiles_(maxFiles) {}

  // A missing file gives an empty T; false (last error set) when the file
  // exists but cannot be read: a writer must not replace what it could not read.
  bool Load(const std::string& path, ParsedFile<T>& out) {
    FileStamp now;
    switch (ProbeFile(path, now)) {
      case FileProbe::Missing:
        out = {empty_, std::nullopt};
        return true;
      case FileProbe::Unusable:
        return false;
      case FileProbe::Present:
        break;
    }
    if (Lookup(path, now, out)) return true;
    std::string content;
    FileStamp read;
    if (!ReadStampedFile(path, content, read)) {
      if (ProbeFile(path, now) != FileProbe::Missing) return false;
      out = {empty_, std::nullopt};
      return true;
    }
    out = {std::make_shared<const T>(T::Parse(content)), read};
    std::lock_guard lock(mutex_);
    if (entries_.size() >= maxFiles_) entries_.clear();
    entries_[path] = {read, out.value};
    return true;
  }

  // For readers: whatever cannot be read reads as empty.
  std::shared_ptr<const T> LoadOrEmpty(const std::string& path) {
    ParsedFile<T> parsed;
    return Load(path, parsed) ? parsed.value : empty_;
  }

  const std::shared_ptr<const T>& Empty() const { return empty_; }

 private:
  bool Lookup(const std::string& path, const FileStamp& now, ParsedFile<T>& out) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end() || !it->second.first.SameContentAs(now)) return false;
    out = {it->second.second, now};  // now: permissions may have changed since
    return true;
  }

  const size_t maxFiles_;
  const std::shared_ptr<const T> empty_ = std::make_shared<const T>();
  std::mutex mutex_;
  std::unordered_map<std::string, std::pair<FileStamp, std::shared_ptr<const T>>> entries_;
};

}  // namespace kv::platform

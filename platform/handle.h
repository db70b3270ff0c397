#pragma once
// Open files and folders by descriptor, for the code that must work on one
// object from its first look to its last change (the copy engine's file
// operations): what was checked is what gets read, written or replaced,
// however its name changes meanwhile. Calls return bool and leave the
// reason in GetLastError(), as files.h does; nothing here throws.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/time.h"

namespace kv::platform {

struct FileStatus;

// An open descriptor, closed with the object.
class Handle {
 public:
  Handle() = default;
  explicit Handle(int fd) : fd_(fd) {}
  ~Handle();
  Handle(Handle&& other) noexcept;
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  [[nodiscard]] bool Status(FileStatus& out) const;
  // Closes and reports what the system says about it: a network file system
  // or a full disk may report a failed write only here.
  [[nodiscard]] bool Close();
  void Reset();
  // The descriptor, no longer closed by this object.
  int Release();

 protected:
  int fd_ = -1;
};

// What a file or folder is now.
struct FileStatus {
  bool isFile = false;    // a regular file
  bool isFolder = false;
  bool isLink = false;    // the entry itself is a symbolic link (seen without following it)
  int64_t size = 0;       // regular files only
  FileTime lastWrite = 0;
  uint32_t attributes = 0;  // as GetFileAttributes gives them
  uint32_t mode = 0;        // permission bits with setuid, setgid and sticky
  uint32_t owner = 0, group = 0;
  uint64_t links = 0;       // hard links
  // Allocated space short of the size: holes worth skipping when copied.
  bool sparse = false;
};

// An open regular file.
class FileHandle : public Handle {
 public:
  using Handle::Handle;

  // Permission bits (setuid, setgid and sticky included).
  [[nodiscard]] bool SetMode(uint32_t mode);
  // The source's read-only attribute over the bits the file has: set, every
  // write bit goes; clear, the owner may write.
  [[nodiscard]] bool ApplyReadOnly(bool readOnly);
  [[nodiscard]] bool SetLastWriteTime(FileTime ft);  // access time untouched
  [[nodiscard]] bool Sync();
  [[nodiscard]] bool DataSync();
  [[nodiscard]] bool WriteAt(const void* data, size_t size, int64_t offset);
  // Reads exactly size bytes at offset (ENODATA when the file is shorter).
  [[nodiscard]] bool ReadAt(void* data, size_t size, int64_t offset) const;
};

// How a copy of a file's data ended.
enum class DataCopyOutcome { kDone, kStopped, kFailed };

// Copies the content of in (from its start) to the same offsets of out,
// which must be empty, in blocks of at most blockSize bytes, letting the
// kernel move the data where it can. inStatus is in's status when it was
// opened: its size is what gets copied (a file cut shorter since ends
// earlier), and a sparse source keeps its holes. After every block
// step(bytesDone) runs; when it returns false the copy stops there. kFailed
// leaves the reason in GetLastError() (ENOSPC also for a write that took
// fewer bytes than it was given).
DataCopyOutcome CopyFileData(const FileHandle& in, const FileStatus& inStatus, const FileHandle& out,
                             size_t blockSize, const std::function<bool(int64_t bytesDone)>& step);

}  // namespace kv::platform

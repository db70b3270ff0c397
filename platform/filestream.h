#pragma once
// A file opened by its Windows path and kept open for many reads and writes
// (protocols, logs, job streams). Unbuffered: every Read and Write is a system
// call at the stream's own position, so nothing waits in memory for a Close.
// Calls return bool and leave the reason in GetLastError(), as files.h does.
// A failed Close or Sync is a failure like any other: a caller that must know
// its data reached the file calls Close() and checks it; the destructor closes
// silently only what nobody closed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace kv::platform {

enum class OpenMode {
  Read,          // existing file, read only
  ReadWrite,     // existing file
  OpenOrCreate,  // read and write; created empty when missing, kept otherwise
  Create,        // read and write; created, or emptied when it exists
  CreateNew,     // read and write; fails with EEXIST when anything has the name
};

class FileStream {
 public:
  FileStream() = default;
  ~FileStream();
  FileStream(FileStream&& other) noexcept;
  FileStream& operator=(FileStream&& other) noexcept;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // Only regular files are opened (a folder gives EISDIR, a fifo or device
  // EINVAL, without blocking on it). New files get mode 0666 less the umask.
  // The position starts at 0. An open stream is closed first (silently).
  [[nodiscard]] bool Open(std::string_view winPath, OpenMode mode);
  // Takes over a regular file opened elsewhere, closed with the stream from
  // now on. The position starts at 0; an open stream is closed first.
  void Adopt(FileHandle file);
  bool IsOpen() const { return fd_ >= 0; }

  // Reads up to count bytes from the position and advances it by what was
  // read; got < count only at the end of the file.
  [[nodiscard]] bool Read(void* buffer, size_t count, size_t& got);
  // Reads exactly count bytes; a file that ends earlier fails with ENODATA
  // and leaves the position where it was.
  [[nodiscard]] bool ReadExact(void* buffer, size_t count);
  // Writes all count bytes at the position and advances it. A failure may
  // leave part of the data written (Truncate can take it back).
  [[nodiscard]] bool Write(const void* data, size_t count);

  uint64_t Position() const { return position_; }
  void Seek(uint64_t position) { position_ = position; }
  [[nodiscard]] bool SeekToEnd();
  // The size of the file now (another writer's appends included).
  [[nodiscard]] bool Size(uint64_t& size) const;
  // Cuts or extends the file; the position is not moved.
  [[nodiscard]] bool Truncate(uint64_t size);
  // Writes go straight to the system; this makes them durable (fsync).
  [[nodiscard]] bool Sync();
  // Closing a stream that is not open succeeds.
  [[nodiscard]] bool Close();

 private:
  int fd_ = -1;
  uint64_t position_ = 0;
};

}  // namespace kv::platform

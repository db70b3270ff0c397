#pragma once
// The streams coding runs read and write: bytes in memory, and files through
// the platform layer. Unlike a stream that reports how much it managed, these
// raise EStreamError when a read fails or a write is not complete, so a run
// can never take a failure for the end of its data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/protection.h"
#include "platform/filereplacement.h"
#include "platform/filestream.h"

namespace kv::crypto {

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Size() = 0;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  // Up to count bytes from the position, fewer only at the end.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // All count bytes at the position, or EStreamError.
  virtual void Write(const void* data, size_t count) = 0;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override { position_ = position < 0 ? 0 : position; }
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* data, size_t count) override;
  const std::string& Bytes() const { return bytes_; }
  std::string TakeBytes() { return std::move(bytes_); }

 private:
  std::string bytes_;
  int64_t position_ = 0;
};

// A file named by its Windows path.
class TFileStream : public TStream {
 public:
  // EStreamError with the file's name and the system's reason when it
  // cannot be opened.
  TFileStream(std::string_view path, platform::OpenMode mode);
  int64_t Size() override;
  int64_t Position() const override;
  void SetPosition(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* data, size_t count) override;
  // Reports what the closing reports (EStreamError); the destructor closes
  // silently what nobody closed.
  void Close();

 protected:
  // For streams over a file that another object holds open: Attach names it.
  TFileStream() = default;
  void Attach(std::string_view name, platform::FileStream& file);
  [[noreturn]] void Fail(std::string_view text) const;

 private:
  std::string name_;
  platform::FileStream own_;
  platform::FileStream* file_ = &own_;
};

// New content for a file, under the file's name only after Commit; until
// then, and when the stream is destroyed uncommitted, the file stays as it was.
class TFileReplacementStream : public TFileStream {
 public:
  explicit TFileReplacementStream(std::string_view target);
  void Commit();

 private:
  platform::FileReplacement replacement_;
};

}  // namespace kv::crypto

#pragma once
// The local file of a running transfer, named by its Windows path.
//
// A download that starts a file afresh never writes into the file's own
// name: it writes a hidden file beside it, which takes the file's place only
// when Commit is called after a download without error, and which Discard
// removes. So a broken download keeps the previous file, and no part of a
// download ever stands under the real name. A resumed download appends to
// the file itself, which then only grows by what the server sent.
//
// Blocks of zeros are skipped rather than written: the file gets a hole
// there, which reads as zeros, so sparse files stay sparse and cost no disk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/filestream.h"

namespace kv {

class TFtpLocalFile {
 public:
  TFtpLocalFile() = default;
  ~TFtpLocalFile() { Discard(); }
  TFtpLocalFile(const TFtpLocalFile&) = delete;
  TFtpLocalFile& operator=(const TFtpLocalFile&) = delete;

  // Each open closes (discards) what was open before. False with the reason
  // in platform::GetLastError().
  bool OpenForReading(std::string_view path);
  // An existing file, read and written in place.
  bool OpenExisting(std::string_view path);
  // A download of path from its start, into a new file beside it.
  bool CreateReplacement(std::string_view path);

  bool IsOpen() const { return stream_.IsOpen(); }
  bool Read(char* buffer, size_t size, size_t& got) { return stream_.Read(buffer, size, got); }
  // At the position, which moves on; zeros are skipped (see above).
  bool Write(const char* data, size_t size);
  uint64_t Position() const { return stream_.Position(); }
  void Seek(uint64_t position) { stream_.Seek(position); }
  bool Size(uint64_t& size) const { return stream_.Size(size); }

  // Ends the writing: the file reaches the position (a skipped tail of zeros
  // included), a replacement is synced when it replaces a file, closed and
  // renamed onto its target. False with the reason when any of it failed;
  // a replacement is then removed and the target stays as it was.
  bool Commit();
  // Closes without error reports; a replacement is removed.
  void Discard();

 private:
  platform::FileStream stream_;
  std::string replacement_;  // the hidden file while it is written, else empty
  std::string target_;
  bool replacing_ = false;   // the replacement takes the place of an existing file
  uint64_t written_ = 0;     // the size the file has without a skipped tail
};

}  // namespace kv

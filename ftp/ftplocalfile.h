#pragma once
// The local file of a running transfer, named by its Windows path.
//
// A download that starts a file afresh never writes into the file's own
// name: it writes a temporary file of the system's own beside it
// (platform::FileReplacement), which takes the file's place only when Commit
// is called after a download without error, and which Discard removes. So a
// broken download keeps the previous file, no part of a download ever
// stands under the real name, and what a killed process left is known for
// a leftover and cleaned up. A resumed download appends to the file itself,
// which then only grows by what the server sent.
//
// Blocks of zeros are skipped rather than written: the file gets a hole
// there, which reads as zeros, so sparse files stay sparse and cost no disk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/filereplacement.h"
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

  bool IsOpen() const { return Stream().IsOpen(); }
  bool Read(char* buffer, size_t size, size_t& got) { return Stream().Read(buffer, size, got); }
  // At the position, which moves on; zeros are skipped (see above).
  bool Write(const char* data, size_t size);
  uint64_t Position() const { return Stream().Position(); }
  void Seek(uint64_t position) { Stream().Seek(position); }
  bool Size(uint64_t& size) const { return Stream().Size(size); }

  // Ends the writing: the file reaches the position (a skipped tail of zeros
  // included); a replacement takes its target's place as FileReplacement
  // does it (synced when it replaces a file, with that file's permission
  // bits and owner). False with the reason when any of it failed; a
  // replacement is then removed and the target stays as it was.
  bool Commit();
  // Closes without error reports; a replacement is removed.
  void Discard();

 private:
  platform::FileStream& Stream() { return replacing_ ? replacement_.Stream() : file_; }
  const platform::FileStream& Stream() const { return replacing_ ? replacement_.Stream() : file_; }

  platform::FileStream file_;               // a file read or written in place
  platform::FileReplacement replacement_;   // a fresh download while it is written
  bool replacing_ = false;                  // writing goes to replacement_
  uint64_t written_ = 0;  // the size the file has without a skipped tail
};

}  // namespace kv

#pragma once
// The record of remote file states "kvftp.log" that the copy engine keeps for
// FTP folder pairs, and the two in-memory lists built from it.
//
// The file is a sequence of folder blocks: one 260-byte TFTPFldrRecord (key
// SS[255] = host + "@" + remote folder, Int32 count), then that many 268-byte
// TFTPFileRecord (file name SS[255], Int32 remote size, DOS date-time of the
// local file, DOS date-time of the remote file). Keys and file names compare
// case-insensitively. The same file lives on the FTP server and may be read
// by other installations, so the layout is kept to the byte.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/time.h"

namespace kv {

using platform::DosDateTime;

// Longest key or file name the file can hold, in bytes.
inline constexpr size_t kFtpStateTextWidth = 255;

struct TFTPFldrRecord {
  static constexpr size_t kSize = 260;
  static constexpr size_t kCountOffset = 256;
  std::string key;    // host + "@" + remote folder
  int32_t count = 0;  // file records that follow

  // Throws platform::FieldTooLong when the key does not fit (a cut key would
  // name another folder).
  std::vector<uint8_t> Encode() const;
  // At least kSize bytes (std::invalid_argument otherwise).
  static TFTPFldrRecord Decode(std::span<const uint8_t> bytes);
};

struct TFTPFileRecord {
  static constexpr size_t kSize = 268;
  std::string name;
  int32_t remoteSize = 0;     // as the server listed it (see RemoteSizeField)
  DosDateTime localDate = 0;  // last write of the local file
  DosDateTime remoteTime = 0;

  std::vector<uint8_t> Encode() const;  // FieldTooLong when the name does not fit
  static TFTPFileRecord Decode(std::span<const uint8_t> bytes);

  bool operator==(const TFTPFileRecord&) const = default;
};

// The size field is 32 bits wide; a larger remote file keeps its low 32 bits,
// which is what every writer of the file has stored for it, so that a size
// compares equal wherever it was written.
inline int32_t RemoteSizeField(int64_t size) { return static_cast<int32_t>(static_cast<uint32_t>(size)); }

std::string FtpStateKey(std::string_view server, std::string_view folder);

// One block as it stands in the file's bytes.
struct TFTPBlockSpan {
  TFTPFldrRecord folder;
  size_t begin = 0;    // offset of the folder record
  size_t records = 0;  // offset of the first file record
  size_t end = 0;      // offset after the last file record
};

// Walks the blocks of a file's bytes without copying them. A block that is
// cut off or counts a negative number of records stops the walk: Next returns
// false and error() names the file, the block and the byte where it broke;
// nothing of a broken block is ever returned.
class TFTPBlockScanner {
 public:
  TFTPBlockScanner(std::span<const uint8_t> bytes, std::string fileName)
      : bytes_(bytes), fileName_(std::move(fileName)) {}
  // false at the end of the file or at a broken block.
  bool Next(TFTPBlockSpan& block);
  // Set once a broken block was met; empty at a clean end.
  const std::string& error() const { return error_; }
  // Where the readable part of the file ends.
  size_t position() const { return pos_; }
  TFTPFileRecord Record(const TFTPBlockSpan& block, size_t i) const;

 private:
  bool Fail(const std::string& detail);

  std::span<const uint8_t> bytes_;
  std::string fileName_;
  std::string error_;
  size_t pos_ = 0;
  size_t blockNo_ = 0;
};

// The file records of the current folder.
class TFTPFileList {
 public:
  void Clear() { items_.clear(); }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // A name longer than the file's field cannot be stored: refused (false), so
  // that the list can always be written.
  bool Add(const TFTPFileRecord& record);
  // std::out_of_range for an index outside the list.
  const TFTPFileRecord& GetItem(int32_t index) const { return items_.at(static_cast<size_t>(index)); }
  bool SetItem(int32_t index, const TFTPFileRecord& record);
  int32_t IndexOf(std::string_view name) const;  // -1 when absent
  // Removes the entry, so that the next save writes the folder without it;
  // an index outside the list changes nothing.
  void Delete(int32_t index);

  // Replaces the entry of the record's name or adds it.
  bool Remember(const TFTPFileRecord& record);
  // Removes the name's entry when present.
  void Forget(std::string_view name);

  const std::vector<TFTPFileRecord>& items() const { return items_; }

 private:
  std::vector<TFTPFileRecord> items_;
};

// One entry per folder block of the file.
class TFTPFldrList {
 public:
  enum SortMode { kByKey = 0, kByCountText = 1 };

  void Clear() { items_.clear(); }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  void Add(const TFTPFldrRecord& record) { items_.push_back(record); }
  void Add(std::string_view server, std::string_view folder, int32_t count);
  const TFTPFldrRecord& GetItem(int32_t index) const { return items_.at(static_cast<size_t>(index)); }
  void SetCount(int32_t index, int32_t count);
  int32_t IndexOf(std::string_view server, std::string_view folder) const;  // -1 when absent
  int32_t IndexOfKey(std::string_view key) const;
  // Mode 0 by key, mode 1 by the count as text ("10" before "9"), both with
  // the system's case-insensitive order; any other mode leaves the list.
  void Sort(int mode);

 private:
  std::vector<TFTPFldrRecord> items_;
};

}  // namespace kv

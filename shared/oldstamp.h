#pragma once
// The old-timestamp file "OS.vrl" of a profile: for every file the copy
// engine copied, the last-write time it had then. The copy engine writes it,
// the list builder reads it to see files changed on both sides since.
//
// The file is a sequence of blocks: one 516-byte header (source folder SS[255],
// destination folder SS[255], Int32 entry count), then that many 264-byte
// entries (file name SS[255], FILETIME in UTC). Blocks are in the order the
// writer produced them; a folder pair may have more than one block.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/time.h"

namespace kv {

using platform::FileTime;

struct TOldStampHeader {
  static constexpr size_t kSize = 516;
  static constexpr size_t kCountOffset = 512;
  std::string sourceFolder;  // UNC-expanded side-1 folder, ending in "\"
  std::string destFolder;    // UNC-expanded side-2 folder, ending in "\"
  int32_t count = 0;         // entries that follow

  // Throws platform::FieldTooLong naming the folder when it does not fit.
  std::vector<uint8_t> Encode() const;
  // Takes at least kSize bytes (std::invalid_argument otherwise); a negative
  // count is returned as read, the reader judges it.
  static TOldStampHeader Decode(std::span<const uint8_t> bytes);
};

struct TOldStampEntry {
  static constexpr size_t kSize = 264;
  std::string fileName;  // relative to the block's folders
  FileTime lastWrite = 0;

  // Throws platform::FieldTooLong when the name does not fit.
  std::vector<uint8_t> Encode() const;
  static TOldStampEntry Decode(std::span<const uint8_t> bytes);  // at least kSize bytes
};

// Longest text a folder or file-name field holds, in bytes.
inline constexpr size_t kOldStampTextWidth = 255;

struct TOldStampBlock {
  TOldStampHeader header;  // header.count == entries.size() once read
  std::vector<TOldStampEntry> entries;
};

// A file that cannot be read or is not a sequence of whole blocks. The
// message names the file and where it went wrong.
class EOldStampFile : public std::runtime_error {
 public:
  EOldStampFile(std::string fileName, const std::string& detail);
  const std::string& fileName() const { return fileName_; }

 private:
  std::string fileName_;
};

// Walks the blocks of a file's bytes. A short or malformed tail (a header cut
// off, a negative count, fewer entries than counted) throws EOldStampFile;
// nothing of a broken block is ever returned.
class TOldStampReader {
 public:
  TOldStampReader(std::span<const uint8_t> bytes, std::string fileName)
      : bytes_(bytes), fileName_(std::move(fileName)) {}
  // false at the clean end of the file.
  bool Next(TOldStampBlock& block);

 private:
  std::span<const uint8_t> bytes_;
  std::string fileName_;
  size_t pos_ = 0;
  size_t blockNo_ = 0;
};

std::vector<uint8_t> EncodeOldStampBlocks(const std::vector<TOldStampBlock>& blocks);
std::vector<TOldStampBlock> DecodeOldStampBlocks(std::span<const uint8_t> bytes, const std::string& fileName);
// The whole blocks before a short or malformed tail (a run killed while it
// wrote leaves one); tailError gets what EOldStampFile would say about the
// tail, "" when there is none.
std::vector<TOldStampBlock> DecodeWholeOldStampBlocks(std::span<const uint8_t> bytes, const std::string& fileName,
                                                      std::string& tailError);

// Where the stamps of earlier runs wait while a run writes its own (P + "1").
// A run that was killed, or whose merge failed, leaves them there: they are
// still the history of the pair.
std::string PreviousOldStampFileName(std::string_view fileName);
// Throws EOldStampFile when the file cannot be read (a missing file too) or
// is malformed.
std::vector<TOldStampBlock> ReadOldStampFile(std::string_view fileName);

// Folders as the file's keys compare them: UNC-expanded (through the volume
// table) with a trailing "\".
std::string OldStampFolderKey(std::string_view folder);
// Case-insensitive order of (source folder, destination folder) keys.
struct OldStampPairLess {
  bool operator()(const std::pair<std::string, std::string>& a, const std::pair<std::string, std::string>& b) const;
};

// The stamps of one folder pair; file names compare case-insensitively over
// A-Z.
class TOldStampTable {
 public:
  std::optional<FileTime> Find(std::string_view fileName) const;
  size_t size() const { return byName_.size(); }
  // A later stamp of the same name replaces the earlier one.
  void Set(std::string_view fileName, FileTime lastWrite);

 private:
  std::unordered_map<std::string, FileTime> byName_;
};

// Every stamp of a file by (source folder, destination folder, file name),
// over all blocks of the pair wherever they stand in the file; a name stamped
// in more than one block answers with the later block's time.
class TOldStampIndex {
 public:
  // The stamps of the file and of the earlier runs still waiting beside it
  // (PreviousOldStampFileName), the file's own stamps winning. A missing
  // file gives no stamps; an unreadable one throws EOldStampFile. Of a file
  // with a short or malformed tail the whole blocks before the tail count,
  // and tailErrors (when given) gets a line about each such tail.
  static TOldStampIndex Load(std::string_view fileName, std::vector<std::string>* tailErrors = nullptr);
  static TOldStampIndex FromBlocks(const std::vector<TOldStampBlock>& blocks);

  // The pair's stamps, nullptr when the file holds none for it. Folders are
  // UNC-expanded here; look a pair up once and its files in the table.
  const TOldStampTable* FindPair(std::string_view sourceFolder, std::string_view destFolder) const;
  std::optional<FileTime> Lookup(std::string_view sourceFolder, std::string_view destFolder,
                                 std::string_view fileName) const;
  size_t pairCount() const { return pairs_.size(); }
  // A block's stamps; they win over the stamps added before them.
  void Add(const TOldStampBlock& block);

 private:
  std::map<std::pair<std::string, std::string>, TOldStampTable, OldStampPairLess> pairs_;
};

}  // namespace kv

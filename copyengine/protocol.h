#pragma once
// Protocol files: one file of TPtkItem records per run of a profile, closed by
// a trailer record, named by a five-character counter ("00000.ptk",
// "00001.ptk", ...) in the profile's protocol folder, beside the last-run
// index "last.vrl":
//   [PTKs]         one empty key per protocol kept, oldest first
//   [LastProcess]  Date = DOS date-time of the last protocol completed
// The scheduler creates the file and the index entry; the copy engine appends
// to the file, rewrites some of its records and closes it.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/filestream.h"
#include "platform/time.h"
#include "shared/ptkitem.h"

namespace kv {

// A protocol that cannot be opened, read or written, or whose size is not a
// whole number of records. The message names the file and the reason.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::string_view kAutomaticProtocolFolder = "AUTOptk\\";
inline constexpr std::string_view kManualProtocolFolder = "ptk\\";
inline constexpr std::string_view kLastRunIndexName = "last.vrl";
inline constexpr std::string_view kProtocolExtension = ".ptk";
inline constexpr std::string_view kFirstPtkName = "00000";

// profileFolder + "AUTOptk\" for automatic runs, + "ptk\" for manual ones.
std::string ProtocolFolder(std::string_view profileFolder, bool manualRun);
std::string LastRunIndexPath(std::string_view protocolFolder);

// Five characters of "0"-"9" and "A"-"Z".
bool IsPtkName(std::string_view name);
// The name after it, counting in base 36: "00009" -> "0000A", "0000Z" ->
// "00010", "ZZZZZ" -> "00000". std::invalid_argument when !IsPtkName(name).
std::string NextPtkName(std::string_view name);

struct ProtocolContents {
  std::vector<TPtkItem> records;       // in file order, trailer excluded
  std::optional<TPtkTrailer> trailer;  // none: the run did not end
};

// One open protocol file. Records are appended at the end; positions are byte
// offsets of records (multiples of 864), remembered by the caller to rewrite a
// record later. A failed write throws and leaves the file a whole number of
// records (a partly written record is cut off again).
class ProtocolStream {
 public:
  static constexpr size_t kRecordSize = TPtkItem::kSize;

  // An existing protocol, for reading and appending.
  static ProtocolStream OpenForAppend(std::string path);
  static ProtocolStream OpenForReading(std::string path);
  // A new, empty protocol; a file of that name is replaced.
  static ProtocolStream Create(std::string path);

  const std::string& path() const { return path_; }
  uint64_t Size() const { return size_; }
  uint64_t RecordCount() const { return size_ / kRecordSize; }
  bool IsEmpty() const { return size_ == 0; }

  // Both return the position of the new record.
  uint64_t Append(const TPtkItem& record);
  uint64_t AppendTrailer(const TPtkTrailer& trailer);
  // Sets status and message of the record at position; the job item in it
  // and every other record stay as they are.
  void Rewrite(uint64_t position, uint8_t status, std::string_view message);
  TPtkItem ReadAt(uint64_t position);
  // Whether a record before any trailer has status exactly 2 (the trailer's
  // error flag).
  bool HasErrorRecord();
  // Every record from the first; see ReadProtocolFile.
  ProtocolContents ReadAll();
  // The encoded records in file order, the trailer included, a chunk of
  // them per system call, without holding the file in memory; stops when
  // visit returns false.
  void ForEachRecord(const std::function<bool(std::span<const uint8_t> record)>& visit);

  // Throws when the system reports a failure on closing. Closing twice is
  // harmless.
  void Close();
  // Closes and deletes the file (a run that left nothing worth keeping).
  void CloseAndDelete();

 private:
  ProtocolStream(std::string path, platform::FileStream file, uint64_t size);
  static ProtocolStream Open(std::string path, platform::OpenMode mode);
  uint64_t AppendBytes(std::span<const uint8_t> record);
  void ReadRecordAt(uint64_t position, std::span<uint8_t> out);
  void CheckRecordPosition(uint64_t position) const;
  // Calls visit(index of the first record, bytes of whole records) for the
  // file in order until it returns false.
  template <typename Visit>
  void ForEachRecordChunk(Visit&& visit);
  [[noreturn]] void Fail(std::string_view what) const;

  std::string path_;
  platform::FileStream file_;
  uint64_t size_ = 0;
};

// Reads a whole protocol. A size that is not a whole number of records, or a
// trailer anywhere but last, is a ProtocolError naming the file.
ProtocolContents ReadProtocolFile(std::string_view path);

// Opens the protocol by its path, appends the records and closes it. False,
// with nothing written, when the file cannot be opened (or is no protocol);
// a failure to write throws.
bool AppendToProtocolFile(std::string_view path, std::span<const TPtkItem> records);

// The scheduler's new protocol of an automatic run in folder: drops the
// oldest protocols listed in "last.vrl" until fewer than maxPtk are left,
// names the new one after the last one listed (or "00000"), lists it, and
// creates the file. Problems with the index are ignored: the run then still
// gets a protocol. Keys that are no protocol names are dropped from the list
// without touching any file. With maxPtk below 1 only the new protocol is kept.
struct NewProtocol {
  std::string path;                      // folder + name + ".ptk"
  std::optional<ProtocolStream> stream;  // none when the file could not be created
  std::string error;                     // why not
};
NewProtocol CreateNextProtocol(std::string_view folder, int32_t maxPtk);

// Milliseconds as "HH:MM:SS", the hours wrapping at 24: the copy time of the
// trailer, and the analysis time the scheduler hands the engine.
std::string MSecToTimeStr(uint32_t milliseconds);

// The protocol names listed in "last.vrl" (section "PTKs"), in file order.
std::vector<std::string> ReadPtkNames(std::string_view folder);

// Writes "LastProcess"/"Date": the DOS date-time of the closed protocol's
// last write, as signed decimal text. Throws ProtocolError when the file
// cannot be examined or the index cannot be written.
void WriteLastProcessDate(std::string_view folder, std::string_view protocolPath);
std::optional<platform::DosDateTime> ReadLastProcessDate(std::string_view folder);

}  // namespace kv

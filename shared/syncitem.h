#pragma once
// One item of a job file: the 600-byte record that the list builder writes for
// every row of the sync list and the copy engine carries out (and embeds at
// the head of every protocol record).
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/filestream.h"
#include "platform/time.h"

namespace kv {

struct TSyncItem {
  static constexpr size_t kSize = 600;

  // Folder row: the full folder path ending in "\"; file row: the bare name on
  // that side, empty when the file is absent there.
  std::string source;
  std::string destination;
  int64_t sourceSize = 0;
  int64_t destinationSize = 0;
  int32_t rowIndex = 0;
  platform::DosDateTime sourceTime = 0;  // 0 when absent and on folder rows
  platform::DosDateTime destinationTime = 0;
  uint8_t rowKind = 0;    // 0 file row, non-zero folder row
  uint8_t action = 0;     // kAction...
  uint8_t stateCode = 0;  // JobStateCode of the row's state
  uint8_t direction = 0;  // kJobDirection...
  std::string sourceTimeText;  // "HH:NN:SS", at most 8 bytes
  std::string destinationTimeText;
  std::string sourceDateText;  // "DD.MM.YYYY", at most 10 bytes
  std::string destinationDateText;

  bool IsFolder() const { return rowKind != 0; }

  // Sets the time and date texts of the sides asked for from their DOS times
  // and clears the others. Throws std::invalid_argument when a side asked for
  // holds a DOS value that names no valid date.
  void FillTexts(bool sourceSide, bool destinationSide);

  // Zero-filled record. Throws platform::FieldTooLong naming the field when a
  // text does not fit: a path is never cut.
  std::vector<uint8_t> Encode() const;
  // The same into the first kSize bytes of out (a protocol record embeds the
  // item at its head); std::invalid_argument when out is shorter.
  void EncodeInto(std::span<uint8_t> out) const;
  // Takes exactly kSize bytes (std::invalid_argument otherwise). Length bytes
  // beyond their field are clamped.
  static TSyncItem Decode(std::span<const uint8_t> bytes);
};

bool operator==(const TSyncItem& a, const TSyncItem& b);

// "HH:NN:SS" and "DD.MM.YYYY" of a DOS date-time; std::invalid_argument when
// the value names no valid date.
std::string DosTimeText(platform::DosDateTime dos);
std::string DosDateText(platform::DosDateTime dos);

// A job file that cannot be read or written, or whose size is not a multiple
// of the record size. The message names the file.
class JobFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a whole job file (a Windows path).
std::vector<TSyncItem> ReadJobFile(std::string_view path);

// Writes a job file record by record, a few hundred records at a time, so
// that a job of any size needs no more memory than that. The file is
// created or emptied at the start; a writer that does not reach Commit (a
// record that cannot be encoded, a write that failed) empties it again, so
// the file never holds half a job. Failures to write throw JobFileError
// naming the file.
class JobFileWriter {
 public:
  explicit JobFileWriter(std::string path);
  ~JobFileWriter();
  JobFileWriter(const JobFileWriter&) = delete;
  JobFileWriter& operator=(const JobFileWriter&) = delete;

  void Add(const TSyncItem& item);
  size_t Count() const { return count_; }
  void Commit();

 private:
  void Flush();
  [[noreturn]] void Fail(const char* what);

  std::string path_;
  platform::FileStream file_;
  std::vector<uint8_t> buffer_;
  size_t count_ = 0;
  bool committed_ = false;
};

void WriteJobFile(std::string_view path, std::span<const TSyncItem> items);

}  // namespace kv

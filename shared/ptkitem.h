#pragma once
// One record of a protocol file: what happened to one job item. Both
// deliverables write these records (the scheduler its own, the copy engine
// one per item) and read them back (report, external log, folder check).
//
// Layout, 864 bytes, little-endian:
//   0  600  the job item, in the job file's layout (TSyncItem)
//   600  1  status (PtkStatus)
//   601 256 message, SS[255]
//   857  7  reserved, zero
// The closing record of a file (status 255) reuses the first 600 bytes for
// the run's totals; see TPtkTrailer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "shared/syncitem.h"

namespace kv {

enum PtkStatus : uint8_t {
  kPtkNothingDone = 0,  // e.g. a folder on both sides that needed nothing
  kPtkDone = 1,
  kPtkError = 2,
  kPtkCopyErrorPartialTarget = 3,  // the copy failed and left part of the target behind
  kPtkTrailer = 255,
};

// Only plain errors mark a run as failed in its trailer: a partial copy is
// reported, but does not set the flag.
inline bool SetsTrailerErrorFlag(uint8_t status) { return status == kPtkError; }

// The record a run that failed ends with, followed by the reason.
inline constexpr std::string_view kPtkMsgRunFailed = "Der Abgleich wurde wegen eines Fehlers abgebrochen: ";

namespace ptk {
inline constexpr size_t kRecordSize = 864;
inline constexpr size_t kOffStatus = 600;
inline constexpr size_t kOffMessage = 601;
inline constexpr size_t kMessageWidth = 255;
}  // namespace ptk

struct TPtkItem {
  static constexpr size_t kSize = ptk::kRecordSize;

  TSyncItem item;
  uint8_t status = kPtkNothingDone;
  std::string message;  // German; cut to 255 bytes at a whole character when written

  TPtkItem() = default;
  explicit TPtkItem(TSyncItem jobItem, uint8_t st = kPtkNothingDone, std::string msg = {})
      : item(std::move(jobItem)), status(st), message(std::move(msg)) {}

  // A record the scheduler writes about the run itself (a missing drive, a
  // moved file, ...): texts at 0 and 256, state code 10, everything else zero.
  // A text too long for its field is cut at a whole character and ends in
  // "...": the record must not fail for the path it reports about.
  static TPtkItem SchedulerRecord(std::string first, std::string second, uint8_t status, std::string message);

  bool IsTrailer() const { return status == kPtkTrailer; }

  // Zero-filled 864 bytes. Throws platform::FieldTooLong naming the field when
  // a path of the item does not fit (a cut path would name another file); the
  // message is ours and is cut instead.
  std::vector<uint8_t> Encode() const;
  void EncodeInto(std::span<uint8_t> out) const;  // out: at least kSize bytes
  // Exactly kSize bytes (std::invalid_argument otherwise); length bytes beyond
  // their field are clamped, the reserved bytes ignored.
  static TPtkItem Decode(std::span<const uint8_t> bytes);
};

bool operator==(const TPtkItem& a, const TPtkItem& b);

// Changes status and message of an encoded record and nothing else: the
// embedded job item stays byte for byte as it was written.
void SetStatusAndMessage(std::span<uint8_t> record, uint8_t status, std::string_view message);
// Status byte of an encoded record (std::invalid_argument when too short).
uint8_t RecordStatus(std::span<const uint8_t> record);

// The closing record of a protocol: all zero except
//   0   SS[255] elapsed-time text of the copy window
//   256 SS[255] total-size text (bytes to copy)
//   528 Int32   error flag: 1 when an earlier record has status exactly 2
//   560 SS[8]   analysis duration
//   569 SS[8]   copy duration "HH:MM:SS"
//   600 255
// Texts that are too long are cut at a whole character (the analysis time
// keeps its first 8 bytes).
struct TPtkTrailer {
  std::string elapsedText;
  std::string sizeText;
  int32_t errorFlag = 0;
  std::string analyseTime;
  std::string copyTime;

  // The trailer the scheduler closes a run with when nothing was copied.
  static TPtkTrailer ForRunWithoutCopy();

  std::vector<uint8_t> Encode() const;
  // Exactly kRecordSize bytes with status 255; std::invalid_argument otherwise.
  static TPtkTrailer Decode(std::span<const uint8_t> bytes);
};

bool operator==(const TPtkTrailer& a, const TPtkTrailer& b);

}  // namespace kv

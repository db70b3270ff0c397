#include "shared/ptkitem.h"

#include <algorithm>
#include <stdexcept>

#include "platform/record.h"
#include "platform/text.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

using platform::RecordReader;
using platform::RecordWriter;

// Trailer fields; they lie over the item's fields of the same offsets.
constexpr size_t kOffElapsedText = 0;
constexpr size_t kOffSizeText = 256;
constexpr size_t kTextWidth = 255;
constexpr size_t kOffErrorFlag = 528;
constexpr size_t kOffAnalyseTime = 560;
constexpr size_t kOffCopyTime = 569;
constexpr size_t kDurationWidth = 8;

// Status byte and message field, the part of a record a rewrite touches.
constexpr size_t kStatusAndMessageSize = 1 + 1 + ptk::kMessageWidth;

void CheckRecordSize(std::span<const uint8_t> bytes, const char* what) {
  if (bytes.size() != ptk::kRecordSize) {
    throw std::invalid_argument(std::string(what) + ": a protocol record has 864 bytes, not " +
                                std::to_string(bytes.size()));
  }
}

std::vector<uint8_t> StatusAndMessageBytes(uint8_t status, std::string_view message) {
  RecordWriter w(kStatusAndMessageSize);
  w.U8(0, status);
  w.Text(1, ptk::kMessageWidth, message);
  return w.take();
}

}  // namespace

namespace {

// A record of our own names a file only for the reader: a path too long for
// its field is cut at a whole character and marked, instead of failing the
// record that reports a problem.
std::string FittingPath(std::string text) {
  constexpr size_t kWidth = 255;
  constexpr std::string_view kCut = "...";
  if (text.size() <= kWidth) return text;
  text.resize(platform::Utf8PrefixLength(text, kWidth - kCut.size()));
  return text += kCut;
}

}  // namespace

TPtkItem TPtkItem::SchedulerRecord(std::string first, std::string second, uint8_t status, std::string message) {
  TSyncItem item;
  item.source = FittingPath(std::move(first));
  item.destination = FittingPath(std::move(second));
  item.stateCode = kCodeFolderOnBothSides;
  return TPtkItem(std::move(item), status, std::move(message));
}

std::vector<uint8_t> TPtkItem::Encode() const {
  std::vector<uint8_t> bytes(kSize, 0);
  EncodeInto(bytes);
  return bytes;
}

void TPtkItem::EncodeInto(std::span<uint8_t> out) const {
  if (out.size() < kSize) throw std::invalid_argument("TPtkItem::EncodeInto: buffer shorter than a record");
  // The item first: it refuses a path that does not fit before anything of
  // the record is touched.
  item.EncodeInto(out.first(TSyncItem::kSize));
  const std::vector<uint8_t> tail = StatusAndMessageBytes(status, message);
  std::copy(tail.begin(), tail.end(), out.begin() + ptk::kOffStatus);
  std::fill(out.begin() + ptk::kOffStatus + kStatusAndMessageSize, out.begin() + kSize, 0);
}

TPtkItem TPtkItem::Decode(std::span<const uint8_t> bytes) {
  CheckRecordSize(bytes, "TPtkItem::Decode");
  RecordReader r(bytes);
  return TPtkItem(TSyncItem::Decode(bytes.first(TSyncItem::kSize)), r.U8(ptk::kOffStatus),
                  r.Text(ptk::kOffMessage, ptk::kMessageWidth));
}

bool operator==(const TPtkItem& a, const TPtkItem& b) {
  return a.item == b.item && a.status == b.status && a.message == b.message;
}

void SetStatusAndMessage(std::span<uint8_t> record, uint8_t status, std::string_view message) {
  CheckRecordSize(record, "SetStatusAndMessage");
  const std::vector<uint8_t> tail = StatusAndMessageBytes(status, message);
  std::copy(tail.begin(), tail.end(), record.begin() + ptk::kOffStatus);
}

uint8_t RecordStatus(std::span<const uint8_t> record) {
  if (record.size() <= ptk::kOffStatus) throw std::invalid_argument("RecordStatus: record too short");
  return record[ptk::kOffStatus];
}

TPtkTrailer TPtkTrailer::ForRunWithoutCopy() {
  TPtkTrailer t;
  t.elapsedText = "0";
  t.sizeText = "0";
  t.errorFlag = 1;
  return t;
}

std::vector<uint8_t> TPtkTrailer::Encode() const {
  RecordWriter w(ptk::kRecordSize);
  w.Text(kOffElapsedText, kTextWidth, elapsedText);
  w.Text(kOffSizeText, kTextWidth, sizeText);
  w.I32(kOffErrorFlag, errorFlag);
  w.Text(kOffAnalyseTime, kDurationWidth, analyseTime);
  w.Text(kOffCopyTime, kDurationWidth, copyTime);
  w.U8(ptk::kOffStatus, kPtkTrailer);
  return w.take();
}

TPtkTrailer TPtkTrailer::Decode(std::span<const uint8_t> bytes) {
  CheckRecordSize(bytes, "TPtkTrailer::Decode");
  RecordReader r(bytes);
  if (r.U8(ptk::kOffStatus) != kPtkTrailer) {
    throw std::invalid_argument("TPtkTrailer::Decode: status " + std::to_string(r.U8(ptk::kOffStatus)) +
                                " is not a trailer");
  }
  TPtkTrailer t;
  t.elapsedText = r.Text(kOffElapsedText, kTextWidth);
  t.sizeText = r.Text(kOffSizeText, kTextWidth);
  t.errorFlag = r.I32(kOffErrorFlag);
  t.analyseTime = r.Text(kOffAnalyseTime, kDurationWidth);
  t.copyTime = r.Text(kOffCopyTime, kDurationWidth);
  return t;
}

bool operator==(const TPtkTrailer& a, const TPtkTrailer& b) {
  return a.elapsedText == b.elapsedText && a.sizeText == b.sizeText && a.errorFlag == b.errorFlag &&
         a.analyseTime == b.analyseTime && a.copyTime == b.copyTime;
}

}  // namespace kv

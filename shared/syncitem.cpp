#include "shared/syncitem.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/record.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::Quoted;

using platform::RecordReader;
using platform::RecordWriter;

// Record layout.
constexpr size_t kPathWidth = 255;
constexpr size_t kTimeTextWidth = 8;
constexpr size_t kDateTextWidth = 10;

constexpr size_t kOffSource = 0;
constexpr size_t kOffDestination = 256;
constexpr size_t kOffSourceSize = 512;
constexpr size_t kOffDestinationSize = 520;
constexpr size_t kOffRowIndex = 528;
constexpr size_t kOffSourceTime = 532;
constexpr size_t kOffDestinationTime = 536;
constexpr size_t kOffRowKind = 548;
constexpr size_t kOffAction = 549;
constexpr size_t kOffStateCode = 550;
constexpr size_t kOffDirection = 551;
constexpr size_t kOffSourceTimeText = 560;
constexpr size_t kOffDestinationTimeText = 569;
constexpr size_t kOffSourceDateText = 578;
constexpr size_t kOffDestinationDateText = 589;

platform::CivilTime CivilOrThrow(platform::DosDateTime dos) {
  auto civil = platform::CivilFromDos(dos);
  if (!civil) throw std::invalid_argument("Ungültiges DOS-Datum " + std::to_string(dos));
  return *civil;
}

std::string LastSystemError() { return platform::SysErrorMessage(platform::GetLastError()); }

}  // namespace

std::string DosTimeText(platform::DosDateTime dos) { return platform::FormatTime(CivilOrThrow(dos)); }

std::string DosDateText(platform::DosDateTime dos) { return platform::FormatDateLong(CivilOrThrow(dos)); }

void TSyncItem::FillTexts(bool sourceSide, bool destinationSide) {
  // Convert first so that a bad value leaves the item as it was.
  std::string srcTime = sourceSide ? DosTimeText(sourceTime) : std::string();
  std::string srcDate = sourceSide ? DosDateText(sourceTime) : std::string();
  std::string dstTime = destinationSide ? DosTimeText(destinationTime) : std::string();
  std::string dstDate = destinationSide ? DosDateText(destinationTime) : std::string();
  sourceTimeText = std::move(srcTime);
  sourceDateText = std::move(srcDate);
  destinationTimeText = std::move(dstTime);
  destinationDateText = std::move(dstDate);
}

std::vector<uint8_t> TSyncItem::Encode() const {
  RecordWriter w(kSize);
  w.TextExact(kOffSource, kPathWidth, source, "source");
  w.TextExact(kOffDestination, kPathWidth, destination, "destination");
  w.I64(kOffSourceSize, sourceSize);
  w.I64(kOffDestinationSize, destinationSize);
  w.I32(kOffRowIndex, rowIndex);
  w.U32(kOffSourceTime, sourceTime);
  w.U32(kOffDestinationTime, destinationTime);
  w.U8(kOffRowKind, rowKind);
  w.U8(kOffAction, action);
  w.U8(kOffStateCode, stateCode);
  w.U8(kOffDirection, direction);
  w.TextExact(kOffSourceTimeText, kTimeTextWidth, sourceTimeText, "source time text");
  w.TextExact(kOffDestinationTimeText, kTimeTextWidth, destinationTimeText, "destination time text");
  w.TextExact(kOffSourceDateText, kDateTextWidth, sourceDateText, "source date text");
  w.TextExact(kOffDestinationDateText, kDateTextWidth, destinationDateText, "destination date text");
  return w.take();
}

void TSyncItem::EncodeInto(std::span<uint8_t> out) const {
  if (out.size() < kSize) throw std::invalid_argument("TSyncItem::EncodeInto: buffer shorter than a record");
  std::vector<uint8_t> bytes = Encode();
  std::copy(bytes.begin(), bytes.end(), out.begin());
}

TSyncItem TSyncItem::Decode(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize) throw std::invalid_argument("TSyncItem::Decode: a record has 600 bytes");
  RecordReader r(bytes);
  TSyncItem item;
  item.source = r.Text(kOffSource, kPathWidth);
  item.destination = r.Text(kOffDestination, kPathWidth);
  item.sourceSize = r.I64(kOffSourceSize);
  item.destinationSize = r.I64(kOffDestinationSize);
  item.rowIndex = r.I32(kOffRowIndex);
  item.sourceTime = r.U32(kOffSourceTime);
  item.destinationTime = r.U32(kOffDestinationTime);
  item.rowKind = r.U8(kOffRowKind);
  item.action = r.U8(kOffAction);
  item.stateCode = r.U8(kOffStateCode);
  item.direction = r.U8(kOffDirection);
  item.sourceTimeText = r.Text(kOffSourceTimeText, kTimeTextWidth);
  item.destinationTimeText = r.Text(kOffDestinationTimeText, kTimeTextWidth);
  item.sourceDateText = r.Text(kOffSourceDateText, kDateTextWidth);
  item.destinationDateText = r.Text(kOffDestinationDateText, kDateTextWidth);
  return item;
}

bool operator==(const TSyncItem& a, const TSyncItem& b) {
  return a.source == b.source && a.destination == b.destination && a.sourceSize == b.sourceSize &&
         a.destinationSize == b.destinationSize && a.rowIndex == b.rowIndex && a.sourceTime == b.sourceTime &&
         a.destinationTime == b.destinationTime && a.rowKind == b.rowKind && a.action == b.action &&
         a.stateCode == b.stateCode && a.direction == b.direction && a.sourceTimeText == b.sourceTimeText &&
         a.destinationTimeText == b.destinationTimeText && a.sourceDateText == b.sourceDateText &&
         a.destinationDateText == b.destinationDateText;
}

std::vector<TSyncItem> ReadJobFile(std::string_view path) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(path, bytes)) {
    throw JobFileError("Auftragsdatei " + Quoted(path) + " nicht lesbar: " + LastSystemError());
  }
  if (bytes.size() % TSyncItem::kSize != 0) {
    throw JobFileError("Auftragsdatei " + Quoted(path) + " ist beschädigt: " + std::to_string(bytes.size()) +
                       " Bytes sind kein Vielfaches von " + std::to_string(TSyncItem::kSize));
  }
  std::vector<TSyncItem> items;
  items.reserve(bytes.size() / TSyncItem::kSize);
  for (size_t at = 0; at < bytes.size(); at += TSyncItem::kSize) {
    items.push_back(TSyncItem::Decode(std::span<const uint8_t>(bytes).subspan(at, TSyncItem::kSize)));
  }
  return items;
}

namespace {
constexpr size_t kRecordsPerWrite = 1024;
}

JobFileWriter::JobFileWriter(std::string path) : path_(std::move(path)) {
  if (!file_.Open(path_, platform::OpenMode::Create)) Fail("kann nicht angelegt werden");
  buffer_.reserve(kRecordsPerWrite * TSyncItem::kSize);
}

JobFileWriter::~JobFileWriter() {
  if (committed_ || !file_.IsOpen()) return;
  (void)file_.Truncate(0);
  (void)file_.Close();
}

void JobFileWriter::Fail(const char* what) {
  throw JobFileError("Auftragsdatei " + Quoted(path_) + " " + what + ": " + LastSystemError());
}

void JobFileWriter::Add(const TSyncItem& item) {
  const size_t at = buffer_.size();
  buffer_.resize(at + TSyncItem::kSize);
  try {
    item.EncodeInto(std::span<uint8_t>(buffer_).subspan(at));
  } catch (...) {
    buffer_.resize(at);
    throw;
  }
  ++count_;
  if (buffer_.size() >= kRecordsPerWrite * TSyncItem::kSize) Flush();
}

void JobFileWriter::Flush() {
  if (!file_.Write(buffer_.data(), buffer_.size())) Fail("kann nicht geschrieben werden");
  buffer_.clear();
}

void JobFileWriter::Commit() {
  Flush();
  if (!file_.Close()) Fail("kann nicht geschrieben werden");
  committed_ = true;
}

void WriteJobFile(std::string_view path, std::span<const TSyncItem> items) {
  JobFileWriter writer{std::string(path)};
  for (const TSyncItem& item : items) writer.Add(item);
  writer.Commit();
}

}  // namespace kv

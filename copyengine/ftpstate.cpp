#include "copyengine/ftpstate.h"

#include <algorithm>
#include <stdexcept>

#include "platform/record.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::RecordReader;
using platform::RecordWriter;

// TFTPFldrRecord layout.
constexpr size_t kOffKey = 0;
// TFTPFileRecord layout.
constexpr size_t kOffName = 0;
constexpr size_t kOffRemoteSize = 256;
constexpr size_t kOffLocalDate = 260;
constexpr size_t kOffRemoteTime = 264;

bool FitsField(std::string_view text) { return text.size() <= kFtpStateTextWidth; }

}  // namespace

std::vector<uint8_t> TFTPFldrRecord::Encode() const {
  RecordWriter w(kSize);
  w.TextExact(kOffKey, kFtpStateTextWidth, key, "kvftp.log folder key");
  w.I32(kCountOffset, count);
  return w.take();
}

TFTPFldrRecord TFTPFldrRecord::Decode(std::span<const uint8_t> bytes) {
  platform::RequireRecordSize(bytes, kSize, "TFTPFldrRecord");
  RecordReader r(bytes.first(kSize));
  return TFTPFldrRecord{r.Text(kOffKey, kFtpStateTextWidth), r.I32(kCountOffset)};
}

std::vector<uint8_t> TFTPFileRecord::Encode() const {
  RecordWriter w(kSize);
  w.TextExact(kOffName, kFtpStateTextWidth, name, "kvftp.log file name");
  w.I32(kOffRemoteSize, remoteSize);
  w.U32(kOffLocalDate, localDate);
  w.U32(kOffRemoteTime, remoteTime);
  return w.take();
}

TFTPFileRecord TFTPFileRecord::Decode(std::span<const uint8_t> bytes) {
  platform::RequireRecordSize(bytes, kSize, "TFTPFileRecord");
  RecordReader r(bytes.first(kSize));
  TFTPFileRecord rec;
  rec.name = r.Text(kOffName, kFtpStateTextWidth);
  rec.remoteSize = r.I32(kOffRemoteSize);
  rec.localDate = r.U32(kOffLocalDate);
  rec.remoteTime = r.U32(kOffRemoteTime);
  return rec;
}

std::string FtpStateKey(std::string_view server, std::string_view folder) {
  std::string key;
  key.reserve(server.size() + 1 + folder.size());
  key.append(server).append("@").append(folder);
  return key;
}

// ---- TFTPBlockScanner ---------------------------------------------------------

bool TFTPBlockScanner::Fail(const std::string& detail) {
  error_ = "Die FTP-Statusdatei \"" + fileName_ + "\" ist fehlerhaft: Block " + std::to_string(blockNo_) +
           " bei Byte " + std::to_string(pos_) + ": " + detail;
  return false;
}

bool TFTPBlockScanner::Next(TFTPBlockSpan& block) {
  if (!error_.empty() || pos_ == bytes_.size()) return false;
  ++blockNo_;
  const size_t left = bytes_.size() - pos_;
  if (left < TFTPFldrRecord::kSize) {
    return Fail("Ordnersatz unvollständig (" + std::to_string(left) + " von " +
                std::to_string(TFTPFldrRecord::kSize) + " Bytes)");
  }
  TFTPFldrRecord folder = TFTPFldrRecord::Decode(bytes_.subspan(pos_, TFTPFldrRecord::kSize));
  if (folder.count < 0) return Fail("negative Anzahl von Dateisätzen (" + std::to_string(folder.count) + ")");
  const size_t available = (left - TFTPFldrRecord::kSize) / TFTPFileRecord::kSize;
  if (static_cast<uint64_t>(folder.count) > available) {
    return Fail(std::to_string(folder.count) + " Dateisätze angekündigt, nur " + std::to_string(available) +
                " vorhanden");
  }
  block.folder = std::move(folder);
  block.begin = pos_;
  block.records = pos_ + TFTPFldrRecord::kSize;
  block.end = block.records + static_cast<size_t>(block.folder.count) * TFTPFileRecord::kSize;
  pos_ = block.end;
  return true;
}

TFTPFileRecord TFTPBlockScanner::Record(const TFTPBlockSpan& block, size_t i) const {
  return TFTPFileRecord::Decode(bytes_.subspan(block.records + i * TFTPFileRecord::kSize, TFTPFileRecord::kSize));
}

// ---- TFTPFileList ---------------------------------------------------------------

bool TFTPFileList::Add(const TFTPFileRecord& record) {
  if (!FitsField(record.name)) return false;
  items_.push_back(record);
  return true;
}

bool TFTPFileList::SetItem(int32_t index, const TFTPFileRecord& record) {
  if (!FitsField(record.name)) return false;
  items_.at(static_cast<size_t>(index)) = record;
  return true;
}

int32_t TFTPFileList::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (platform::SameText(items_[i].name, name)) return static_cast<int32_t>(i);
  }
  return -1;
}

void TFTPFileList::Delete(int32_t index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}

bool TFTPFileList::Remember(const TFTPFileRecord& record) {
  const int32_t i = IndexOf(record.name);
  return i < 0 ? Add(record) : SetItem(i, record);
}

void TFTPFileList::Forget(std::string_view name) { Delete(IndexOf(name)); }

// ---- TFTPFldrList ---------------------------------------------------------------

void TFTPFldrList::Add(std::string_view server, std::string_view folder, int32_t count) {
  items_.push_back(TFTPFldrRecord{FtpStateKey(server, folder), count});
}

void TFTPFldrList::SetCount(int32_t index, int32_t count) { items_.at(static_cast<size_t>(index)).count = count; }

int32_t TFTPFldrList::IndexOf(std::string_view server, std::string_view folder) const {
  return IndexOfKey(FtpStateKey(server, folder));
}

int32_t TFTPFldrList::IndexOfKey(std::string_view key) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (platform::SameText(items_[i].key, key)) return static_cast<int32_t>(i);
  }
  return -1;
}

void TFTPFldrList::Sort(int mode) {
  if (items_.size() < 2) return;
  if (mode == kByKey) {
    std::sort(items_.begin(), items_.end(), [](const TFTPFldrRecord& a, const TFTPFldrRecord& b) {
      return platform::CompareText(a.key, b.key) < 0;
    });
  } else if (mode == kByCountText) {
    // The counts were kept as text, and this order is what they sorted to.
    std::sort(items_.begin(), items_.end(), [](const TFTPFldrRecord& a, const TFTPFldrRecord& b) {
      return platform::CompareText(std::to_string(a.count), std::to_string(b.count)) < 0;
    });
  }
}

}  // namespace kv

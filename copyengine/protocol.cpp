#include "copyengine/protocol.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/inifile.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::Quoted;

using platform::OpenMode;

constexpr std::string_view kSectionPtks = "PTKs";
constexpr std::string_view kSectionLastProcess = "LastProcess";
constexpr std::string_view kKeyDate = "Date";
constexpr size_t kPtkNameLength = 5;

// Scans read this many records per system call.
constexpr size_t kRecordsPerChunk = 128;

std::string LastSystemError() { return platform::SysErrorMessage(platform::GetLastError()); }

bool IsPtkChar(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

[[noreturn]] void ThrowNotWholeRecords(std::string_view path, uint64_t size) {
  throw ProtocolError("Protokolldatei " + Quoted(path) + " ist beschädigt: " + std::to_string(size) +
                      " Bytes sind kein Vielfaches von " + std::to_string(ProtocolStream::kRecordSize));
}

}  // namespace

// --- Names and folders --------------------------------------------------------

std::string ProtocolFolder(std::string_view profileFolder, bool manualRun) {
  return platform::IncludeTrailingBackslash(profileFolder) +
         std::string(manualRun ? kManualProtocolFolder : kAutomaticProtocolFolder);
}

std::string LastRunIndexPath(std::string_view protocolFolder) {
  return platform::IncludeTrailingBackslash(protocolFolder) + std::string(kLastRunIndexName);
}

bool IsPtkName(std::string_view name) {
  return name.size() == kPtkNameLength && std::all_of(name.begin(), name.end(), IsPtkChar);
}

std::string NextPtkName(std::string_view name) {
  if (!IsPtkName(name)) throw std::invalid_argument("NextPtkName: \"" + std::string(name) + "\" is no protocol name");
  std::string next(name);
  for (size_t i = next.size(); i-- > 0;) {
    char& c = next[i];
    if (c == 'Z') {
      c = '0';  // carry into the character before
      continue;
    }
    c = c == '9' ? 'A' : static_cast<char>(c + 1);
    break;
  }
  return next;
}

// --- ProtocolStream -------------------------------------------------------------

ProtocolStream::ProtocolStream(std::string path, platform::FileStream file, uint64_t size)
    : path_(std::move(path)), file_(std::move(file)), size_(size) {}

ProtocolStream ProtocolStream::Open(std::string path, OpenMode mode) {
  platform::FileStream file;
  if (!file.Open(path, mode)) {
    throw ProtocolError("Protokolldatei " + Quoted(path) + " kann nicht geöffnet werden: " + LastSystemError());
  }
  uint64_t size = 0;
  if (!file.Size(size)) {
    throw ProtocolError("Protokolldatei " + Quoted(path) + " kann nicht gelesen werden: " + LastSystemError());
  }
  // Appending behind a torn record would shift every later record.
  if (size % kRecordSize != 0) ThrowNotWholeRecords(path, size);
  return ProtocolStream(std::move(path), std::move(file), size);
}

ProtocolStream ProtocolStream::OpenForAppend(std::string path) { return Open(std::move(path), OpenMode::ReadWrite); }

ProtocolStream ProtocolStream::OpenForReading(std::string path) { return Open(std::move(path), OpenMode::Read); }

ProtocolStream ProtocolStream::Create(std::string path) {
  // Removing first and then creating exclusively never writes through a link
  // that happens to carry the name.
  platform::DeleteFile(path);
  return Open(std::move(path), OpenMode::CreateNew);
}

void ProtocolStream::Fail(std::string_view what) const {
  throw ProtocolError("Protokolldatei " + Quoted(path_) + " " + std::string(what) + ": " + LastSystemError());
}

uint64_t ProtocolStream::AppendBytes(std::span<const uint8_t> record) {
  const uint64_t position = size_;
  file_.Seek(position);
  if (!file_.Write(record.data(), record.size())) {
    const int err = platform::GetLastError();
    static_cast<void>(file_.Truncate(position));  // keep whole records; the write error is what counts
    platform::SetLastError(err);
    Fail("kann nicht geschrieben werden");
  }
  size_ += record.size();
  return position;
}

uint64_t ProtocolStream::Append(const TPtkItem& record) {
  std::array<uint8_t, kRecordSize> bytes{};
  record.EncodeInto(bytes);
  return AppendBytes(bytes);
}

uint64_t ProtocolStream::AppendTrailer(const TPtkTrailer& trailer) { return AppendBytes(trailer.Encode()); }

void ProtocolStream::CheckRecordPosition(uint64_t position) const {
  if (position % kRecordSize != 0 || position >= size_) {
    throw std::out_of_range("Protokolldatei " + Quoted(path_) + ": kein Satz an Position " + std::to_string(position));
  }
}

void ProtocolStream::ReadRecordAt(uint64_t position, std::span<uint8_t> out) {
  CheckRecordPosition(position);
  file_.Seek(position);
  if (!file_.ReadExact(out.data(), kRecordSize)) Fail("kann nicht gelesen werden");
}

TPtkItem ProtocolStream::ReadAt(uint64_t position) {
  std::array<uint8_t, kRecordSize> bytes{};
  ReadRecordAt(position, bytes);
  return TPtkItem::Decode(bytes);
}

void ProtocolStream::Rewrite(uint64_t position, uint8_t status, std::string_view message) {
  std::array<uint8_t, kRecordSize> bytes{};
  ReadRecordAt(position, bytes);
  SetStatusAndMessage(bytes, status, message);
  file_.Seek(position);
  if (!file_.Write(bytes.data(), bytes.size())) Fail("kann nicht geschrieben werden");
}

template <typename Visit>
void ProtocolStream::ForEachRecordChunk(Visit&& visit) {
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(kRecordsPerChunk * kRecordSize, size_)));
  for (uint64_t at = 0; at < size_; at += chunk.size()) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size_ - at));
    file_.Seek(at);
    if (!file_.ReadExact(chunk.data(), want)) Fail("kann nicht gelesen werden");
    if (!visit(at / kRecordSize, std::span<const uint8_t>(chunk).first(want))) return;
  }
}

bool ProtocolStream::HasErrorRecord() {
  bool found = false;
  ForEachRecordChunk([&](uint64_t, std::span<const uint8_t> chunk) {
    for (size_t r = 0; r < chunk.size(); r += kRecordSize) {
      const uint8_t status = chunk[r + ptk::kOffStatus];
      if (status == kPtkTrailer) return false;
      if (SetsTrailerErrorFlag(status)) {
        found = true;
        return false;
      }
    }
    return true;
  });
  return found;
}

ProtocolContents ProtocolStream::ReadAll() {
  ProtocolContents contents;
  const uint64_t count = RecordCount();
  ForEachRecordChunk([&](uint64_t firstIndex, std::span<const uint8_t> chunk) {
    for (size_t r = 0; r < chunk.size(); r += kRecordSize) {
      const std::span<const uint8_t> record = chunk.subspan(r, kRecordSize);
      const uint64_t index = firstIndex + r / kRecordSize;
      if (RecordStatus(record) != kPtkTrailer) {
        contents.records.push_back(TPtkItem::Decode(record));
        continue;
      }
      if (index + 1 != count) {
        throw ProtocolError("Protokolldatei " + Quoted(path_) + " ist beschädigt: der Abschlusssatz ist Satz " +
                            std::to_string(index + 1) + " von " + std::to_string(count));
      }
      contents.trailer = TPtkTrailer::Decode(record);
    }
    return true;
  });
  return contents;
}

void ProtocolStream::ForEachRecord(const std::function<bool(std::span<const uint8_t> record)>& visit) {
  ForEachRecordChunk([&](uint64_t, std::span<const uint8_t> chunk) {
    for (size_t r = 0; r < chunk.size(); r += kRecordSize) {
      if (!visit(chunk.subspan(r, kRecordSize))) return false;
    }
    return true;
  });
}

void ProtocolStream::Close() {
  if (!file_.Close()) Fail("kann nicht geschlossen werden");
}

void ProtocolStream::CloseAndDelete() {
  Close();
  if (!platform::DeleteFile(path_)) Fail("kann nicht gelöscht werden");
}

// --- Whole files ------------------------------------------------------------------

ProtocolContents ReadProtocolFile(std::string_view path) {
  ProtocolStream stream = ProtocolStream::OpenForReading(std::string(path));
  ProtocolContents contents = stream.ReadAll();
  stream.Close();
  return contents;
}

bool AppendToProtocolFile(std::string_view path, std::span<const TPtkItem> records) {
  std::optional<ProtocolStream> stream;
  try {
    stream.emplace(ProtocolStream::OpenForAppend(std::string(path)));
  } catch (const ProtocolError&) {
    return false;
  }
  for (const TPtkItem& record : records) stream->Append(record);
  stream->Close();
  return true;
}

// --- Rotation and the last-run index ------------------------------------------------

namespace {

// Drops the oldest listed protocols until fewer than maxPtk are left and
// lists the next name; returns that name. Every step of it may fail quietly:
// the index only helps to pick names and to limit their number.
std::string RotateProtocols(const std::string& folder, int32_t maxPtk) {
  platform::IniFile index(LastRunIndexPath(folder));
  std::vector<std::string> kept;
  std::vector<std::string> unlisted;
  for (std::string& key : index.ReadSection(kSectionPtks)) {
    // A key that names no protocol must not lead to any file being deleted.
    (IsPtkName(key) ? kept : unlisted).push_back(std::move(key));
  }
  const size_t limit = static_cast<size_t>(std::max<int32_t>(maxPtk, 1));
  const size_t excess = kept.size() >= limit ? kept.size() - limit + 1 : 0;
  for (size_t i = 0; i < excess; ++i) {
    platform::DeleteFile(folder + kept[i] + std::string(kProtocolExtension));
    unlisted.push_back(kept[i]);
  }
  kept.erase(kept.begin(), kept.begin() + static_cast<ptrdiff_t>(excess));

  const std::string name = kept.empty() ? std::string(kFirstPtkName) : NextPtkName(kept.back());
  for (const std::string& key : unlisted) index.DeleteKey(kSectionPtks, key);
  index.WriteString(kSectionPtks, name, "");
  return name;
}

}  // namespace

NewProtocol CreateNextProtocol(std::string_view folder, int32_t maxPtk) {
  const std::string dir = platform::IncludeTrailingBackslash(folder);
  NewProtocol result;
  // The folder first: on a profile's first run the index could not be
  // written otherwise, and the second run would take the first one's name.
  const bool haveFolder = platform::ForceDirectories(dir);
  const int folderError = platform::GetLastError();
  result.path = dir + RotateProtocols(dir, maxPtk) + std::string(kProtocolExtension);
  if (!haveFolder) {
    result.error = "Protokollordner " + Quoted(dir) + " kann nicht angelegt werden: " +
                   platform::SysErrorMessage(folderError);
    return result;
  }
  try {
    result.stream.emplace(ProtocolStream::Create(result.path));
  } catch (const ProtocolError& e) {
    result.error = e.what();
  }
  return result;
}

std::string MSecToTimeStr(uint32_t milliseconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", milliseconds / 3600000u % 24u, milliseconds / 60000u % 60u,
                milliseconds / 1000u % 60u);
  return text;
}

std::vector<std::string> ReadPtkNames(std::string_view folder) {
  return platform::IniFile(LastRunIndexPath(folder)).ReadSection(kSectionPtks);
}

void WriteLastProcessDate(std::string_view folder, std::string_view protocolPath) {
  const std::optional<platform::FileTime> written = platform::GetLastWriteTime(protocolPath);
  if (!written) {
    throw ProtocolError("Protokolldatei " + Quoted(protocolPath) + " kann nicht untersucht werden: " +
                        LastSystemError());
  }
  // Signed, as the index has always held it: dates from 2044 on set bit 31.
  const auto dos = static_cast<int32_t>(platform::DosFromFileTime(*written));
  platform::IniFile index(LastRunIndexPath(folder));
  if (!index.WriteString(kSectionLastProcess, kKeyDate, platform::IntToStr(dos))) {
    throw ProtocolError("Laufindex " + Quoted(index.fileName()) + " kann nicht geschrieben werden: " +
                        LastSystemError());
  }
}

std::optional<platform::DosDateTime> ReadLastProcessDate(std::string_view folder) {
  constexpr int64_t kMissing = std::numeric_limits<int64_t>::min();
  const std::string text = platform::IniFile(LastRunIndexPath(folder)).ReadString(kSectionLastProcess, kKeyDate, "");
  const int64_t value = platform::StrToInt64Def(text, kMissing);
  // Signed as written; an unsigned value of another writer is taken as well.
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<platform::DosDateTime>(static_cast<uint32_t>(value));
}

}  // namespace kv

#include "shared/oldstamp.h"

#include <cerrno>
#include <stdexcept>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/record.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace kv {
namespace {

using platform::Quoted;

using platform::RecordReader;
using platform::RecordWriter;

// TOldStampHeader layout.
constexpr size_t kOffSourceFolder = 0;
constexpr size_t kOffDestFolder = 256;
// TOldStampEntry layout.
constexpr size_t kOffFileName = 0;
constexpr size_t kOffLastWrite = 256;

}  // namespace

std::vector<uint8_t> TOldStampHeader::Encode() const {
  RecordWriter w(kSize);
  w.TextExact(kOffSourceFolder, kOldStampTextWidth, sourceFolder, "old-stamp source folder");
  w.TextExact(kOffDestFolder, kOldStampTextWidth, destFolder, "old-stamp destination folder");
  w.I32(kCountOffset, count);
  return w.take();
}

TOldStampHeader TOldStampHeader::Decode(std::span<const uint8_t> bytes) {
  platform::RequireRecordSize(bytes, kSize, "TOldStampHeader");
  RecordReader r(bytes.first(kSize));
  TOldStampHeader h;
  h.sourceFolder = r.Text(kOffSourceFolder, kOldStampTextWidth);
  h.destFolder = r.Text(kOffDestFolder, kOldStampTextWidth);
  h.count = r.I32(kCountOffset);
  return h;
}

std::vector<uint8_t> TOldStampEntry::Encode() const {
  RecordWriter w(kSize);
  w.TextExact(kOffFileName, kOldStampTextWidth, fileName, "old-stamp file name");
  w.I64(kOffLastWrite, lastWrite);
  return w.take();
}

TOldStampEntry TOldStampEntry::Decode(std::span<const uint8_t> bytes) {
  platform::RequireRecordSize(bytes, kSize, "TOldStampEntry");
  RecordReader r(bytes.first(kSize));
  TOldStampEntry e;
  e.fileName = r.Text(kOffFileName, kOldStampTextWidth);
  e.lastWrite = r.I64(kOffLastWrite);
  return e;
}

EOldStampFile::EOldStampFile(std::string fileName, const std::string& detail)
    : std::runtime_error("Die Datei der alten Zeitstempel " + Quoted(fileName) + " ist fehlerhaft: " + detail),
      fileName_(std::move(fileName)) {}

bool TOldStampReader::Next(TOldStampBlock& block) {
  const size_t size = bytes_.size();
  if (pos_ == size) return false;
  ++blockNo_;
  const std::string where = "Block " + std::to_string(blockNo_) + " bei Byte " + std::to_string(pos_);
  if (size - pos_ < TOldStampHeader::kSize) {
    throw EOldStampFile(fileName_, where + ": Kopf unvollständig (" + std::to_string(size - pos_) + " von " +
                                       std::to_string(TOldStampHeader::kSize) + " Bytes)");
  }
  TOldStampHeader header = TOldStampHeader::Decode(bytes_.subspan(pos_, TOldStampHeader::kSize));
  if (header.count < 0) {
    throw EOldStampFile(fileName_, where + ": negative Anzahl " + std::to_string(header.count));
  }
  const size_t entriesAt = pos_ + TOldStampHeader::kSize;
  const size_t wanted = static_cast<size_t>(header.count);
  const size_t present = (size - entriesAt) / TOldStampEntry::kSize;
  if (wanted > present) {
    throw EOldStampFile(fileName_, where + ": " + std::to_string(header.count) + " Einträge angekündigt, " +
                                       std::to_string(present) + " vorhanden");
  }
  block.entries.clear();
  block.entries.reserve(wanted);
  size_t at = entriesAt;
  for (size_t i = 0; i < wanted; ++i, at += TOldStampEntry::kSize) {
    block.entries.push_back(TOldStampEntry::Decode(bytes_.subspan(at, TOldStampEntry::kSize)));
  }
  block.header = std::move(header);
  pos_ = at;
  return true;
}

std::vector<uint8_t> EncodeOldStampBlocks(const std::vector<TOldStampBlock>& blocks) {
  size_t total = 0;
  for (const TOldStampBlock& b : blocks) total += TOldStampHeader::kSize + b.entries.size() * TOldStampEntry::kSize;
  std::vector<uint8_t> out;
  out.reserve(total);
  for (const TOldStampBlock& b : blocks) {
    TOldStampHeader h = b.header;
    h.count = static_cast<int32_t>(b.entries.size());
    std::vector<uint8_t> hb = h.Encode();
    out.insert(out.end(), hb.begin(), hb.end());
    for (const TOldStampEntry& e : b.entries) {
      std::vector<uint8_t> eb = e.Encode();
      out.insert(out.end(), eb.begin(), eb.end());
    }
  }
  return out;
}

std::vector<TOldStampBlock> DecodeOldStampBlocks(std::span<const uint8_t> bytes, const std::string& fileName) {
  std::vector<TOldStampBlock> blocks;
  TOldStampReader reader(bytes, fileName);
  TOldStampBlock block;
  while (reader.Next(block)) blocks.push_back(std::move(block));
  return blocks;
}

std::vector<TOldStampBlock> DecodeWholeOldStampBlocks(std::span<const uint8_t> bytes, const std::string& fileName,
                                                      std::string& tailError) {
  std::vector<TOldStampBlock> blocks;
  tailError.clear();
  TOldStampReader reader(bytes, fileName);
  TOldStampBlock block;
  try {
    while (reader.Next(block)) blocks.push_back(std::move(block));
  } catch (const EOldStampFile& e) {
    tailError = e.what();
  }
  return blocks;
}

std::string PreviousOldStampFileName(std::string_view fileName) { return std::string(fileName) + "1"; }

std::vector<TOldStampBlock> ReadOldStampFile(std::string_view fileName) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(fileName, bytes)) {
    throw EOldStampFile(std::string(fileName), platform::SysErrorMessage(platform::GetLastError()));
  }
  return DecodeOldStampBlocks(bytes, std::string(fileName));
}

std::string OldStampFolderKey(std::string_view folder) {
  return platform::IncludeTrailingBackslash(platform::CurrentVolumes()->ExpandUnc(folder));
}

bool OldStampPairLess::operator()(const std::pair<std::string, std::string>& a,
                                  const std::pair<std::string, std::string>& b) const {
  int c = platform::CompareText(a.first, b.first);
  if (c != 0) return c < 0;
  return platform::CompareText(a.second, b.second) < 0;
}

std::optional<FileTime> TOldStampTable::Find(std::string_view fileName) const {
  auto it = byName_.find(platform::LowerCaseAscii(fileName));
  if (it == byName_.end()) return std::nullopt;
  return it->second;
}

void TOldStampTable::Set(std::string_view fileName, FileTime lastWrite) {
  byName_[platform::LowerCaseAscii(fileName)] = lastWrite;
}

namespace {

// Adds the whole blocks of a file; false when it does not exist.
bool AddFile(TOldStampIndex& index, const std::string& fileName, std::vector<std::string>* tailErrors) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(fileName, bytes)) {
    const int err = platform::GetLastError();
    if (err == ENOENT) return false;
    throw EOldStampFile(fileName, platform::SysErrorMessage(err));
  }
  std::string tailError;
  for (const TOldStampBlock& block : DecodeWholeOldStampBlocks(bytes, fileName, tailError)) index.Add(block);
  if (!tailError.empty() && tailErrors) tailErrors->push_back(tailError);
  return true;
}

}  // namespace

TOldStampIndex TOldStampIndex::Load(std::string_view fileName, std::vector<std::string>* tailErrors) {
  TOldStampIndex index;
  AddFile(index, PreviousOldStampFileName(fileName), tailErrors);
  AddFile(index, std::string(fileName), tailErrors);
  return index;
}

TOldStampIndex TOldStampIndex::FromBlocks(const std::vector<TOldStampBlock>& blocks) {
  TOldStampIndex index;
  for (const TOldStampBlock& b : blocks) index.Add(b);
  return index;
}

void TOldStampIndex::Add(const TOldStampBlock& block) {
  TOldStampTable& table =
      pairs_[{OldStampFolderKey(block.header.sourceFolder), OldStampFolderKey(block.header.destFolder)}];
  for (const TOldStampEntry& e : block.entries) table.Set(e.fileName, e.lastWrite);
}

const TOldStampTable* TOldStampIndex::FindPair(std::string_view sourceFolder, std::string_view destFolder) const {
  auto it = pairs_.find({OldStampFolderKey(sourceFolder), OldStampFolderKey(destFolder)});
  return it == pairs_.end() ? nullptr : &it->second;
}

std::optional<FileTime> TOldStampIndex::Lookup(std::string_view sourceFolder, std::string_view destFolder,
                                               std::string_view fileName) const {
  const TOldStampTable* table = FindPair(sourceFolder, destFolder);
  if (!table) return std::nullopt;
  return table->Find(fileName);
}

}  // namespace kv

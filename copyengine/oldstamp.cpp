#include "copyengine/oldstamp.h"

#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui/viewfactory.h"
#include "platform/volumes.h"

namespace kv {
namespace {

using platform::Quoted;

// Once per process: the merge runs inside the server library, while the
// program that has the window thread installs the factory.
constexpr platform::ui::ViewFactorySlot<OldStampMergeViewFactory> kMergeViewFactory{"kv.copyengine.TtfCompOldStamp"};

std::string PreviousFileName(std::string_view fileName) { return PreviousOldStampFileName(fileName); }

bool FitsField(std::string_view text) { return text.size() <= kOldStampTextWidth; }

// ---- Writer ----------------------------------------------------------------

// The block being written. Process-wide, as the copy engine runs one job at a
// time; the mutex only keeps a misuse from tearing it.
struct WriterState {
  std::mutex mutex;
  // The folders as the caller gave them (expanding them reads the volume
  // table, once per block is enough) and as they are written.
  std::string givenSource;
  std::string givenDest;
  std::string sourceFolder;
  std::string destFolder;
  int32_t count = 0;
  std::streamoff headerPos = -1;
  const std::ostream* stream = nullptr;  // a new stream always starts a new block
};

WriterState& Writer() {
  static WriterState state;
  return state;
}

void CheckStream(const std::ostream& stream) {
  if (!stream) throw std::runtime_error("Schreibfehler in der Datei der alten Zeitstempel");
}

void WriteBytes(std::ostream& stream, const std::vector<uint8_t>& bytes) {
  stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  CheckStream(stream);
}

std::streamoff BlockEnd(const WriterState& w) {
  return w.headerPos + static_cast<std::streamoff>(TOldStampHeader::kSize) +
         static_cast<std::streamoff>(w.count) * static_cast<std::streamoff>(TOldStampEntry::kSize);
}

// streamEnd: where the stream ends now. A block whose end is not the stream's
// end belongs to another file (a run that was not reset): never patch it.
bool StartsNewBlock(const WriterState& w, const std::ostream& stream, std::streamoff streamEnd,
                    const std::string& source, const std::string& dest) {
  if (w.stream != &stream || w.headerPos < 0 || BlockEnd(w) != streamEnd) return true;
  if (w.sourceFolder.empty() && w.destFolder.empty()) return true;
  return w.sourceFolder != source || w.destFolder != dest;
}

void PatchCount(std::ostream& stream, std::streamoff headerPos, int32_t count) {
  uint8_t le[4];
  for (int i = 0; i < 4; ++i) le[i] = static_cast<uint8_t>(static_cast<uint32_t>(count) >> (8 * i));
  stream.seekp(headerPos + static_cast<std::streamoff>(TOldStampHeader::kCountOffset));
  stream.write(reinterpret_cast<const char*>(le), 4);
  stream.seekp(0, std::ios::end);
  CheckStream(stream);
}

// ---- Merge -----------------------------------------------------------------

using PairKey = std::pair<std::string, std::string>;

// All stamps one file holds for a folder pair, however many blocks it used.
struct PairStamps {
  std::string sourceFolder;  // as written to the merged file
  std::string destFolder;
  std::vector<TOldStampEntry> entries;
  std::unordered_map<std::string, size_t> indexByName;  // A-Z folded name -> entries index

  bool Has(std::string_view name) const { return indexByName.count(platform::LowerCaseAscii(name)) != 0; }
  // A name stamped twice keeps its first place and its later time.
  void Add(const TOldStampEntry& e) {
    auto [it, inserted] = indexByName.emplace(platform::LowerCaseAscii(e.fileName), entries.size());
    if (inserted) {
      entries.push_back(e);
    } else {
      entries[it->second].lastWrite = e.lastWrite;
    }
  }
};

using PairMap = std::map<PairKey, PairStamps, OldStampPairLess>;

// The folder to write: its expanded key when that fits the field, else the
// text as it stood (it reads back to the same key).
std::string FolderToWrite(const std::string& key, const std::string& original) {
  return FitsField(key) ? key : original;
}

PairMap CollectPairs(const std::vector<TOldStampBlock>& blocks) {
  PairMap pairs;
  for (const TOldStampBlock& b : blocks) {
    PairKey key{OldStampFolderKey(b.header.sourceFolder), OldStampFolderKey(b.header.destFolder)};
    auto [it, inserted] = pairs.try_emplace(key);
    PairStamps& p = it->second;
    if (inserted) {
      p.sourceFolder = FolderToWrite(key.first, b.header.sourceFolder);
      p.destFolder = FolderToWrite(key.second, b.header.destFolder);
    }
    for (const TOldStampEntry& e : b.entries) p.Add(e);
  }
  return pairs;
}

TOldStampBlock ToBlock(PairStamps&& p) {
  TOldStampBlock b;
  b.header.sourceFolder = std::move(p.sourceFolder);
  b.header.destFolder = std::move(p.destFolder);
  b.header.count = static_cast<int32_t>(p.entries.size());
  b.entries = std::move(p.entries);
  return b;
}

// This run's stamps of the pair, then the earlier ones of files this run did
// not copy, as long as the file is still there.
TOldStampBlock MergePair(const PairKey& key, PairStamps&& current, const PairStamps& previous) {
  for (const TOldStampEntry& e : previous.entries) {
    if (current.Has(e.fileName)) continue;
    if (!platform::FileExists(key.first + e.fileName)) continue;
    current.Add(e);
  }
  return ToBlock(std::move(current));
}

std::vector<TOldStampBlock> MergeBlocks(const std::vector<TOldStampBlock>& previousBlocks,
                                        const std::vector<TOldStampBlock>& currentBlocks, IOldStampMergeView* view) {
  PairMap previous = CollectPairs(previousBlocks);
  PairMap current = CollectPairs(currentBlocks);
  std::vector<TOldStampBlock> out;
  out.reserve(previous.size() + current.size());
  OldStampPairLess less;
  auto a = previous.begin();
  auto b = current.begin();
  while (a != previous.end() || b != current.end()) {
    const bool takeCurrent = b != current.end() && (a == previous.end() || !less(a->first, b->first));
    if (!takeCurrent) {
      out.push_back(ToBlock(std::move(a->second)));
      ++a;
      continue;
    }
    if (view) view->ShowFolders(b->second.sourceFolder, b->second.destFolder);
    const bool inBoth = a != previous.end() && !less(b->first, a->first);
    if (inBoth) {
      out.push_back(MergePair(b->first, std::move(b->second), a->second));
      ++a;
    } else {
      out.push_back(ToBlock(std::move(b->second)));
    }
    ++b;
  }
  return out;
}

class MergeViewScope {
 public:
  MergeViewScope(IOldStampMergeView* view, bool hidden, bool minimized) : view_(view) {
    if (view_) view_->Begin(hidden, minimized);
  }
  ~MergeViewScope() {
    if (view_) view_->End();
  }
  MergeViewScope(const MergeViewScope&) = delete;
  MergeViewScope& operator=(const MergeViewScope&) = delete;

 private:
  IOldStampMergeView* view_;
};

std::vector<uint8_t> ReadOrThrow(std::string_view fileName) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(fileName, bytes)) {
    throw EOldStampFile(std::string(fileName), platform::SysErrorMessage(platform::GetLastError()));
  }
  return bytes;
}

// This run stamped nothing: the previous file becomes P again, as it was.
OldStampMergeResult RestorePrevious(std::string_view fileName, const std::string& previousName) {
  platform::DeleteFile(fileName);
  if (platform::MoveFileNoReplace(previousName, fileName)) return {OldStampMergeOutcome::PreviousRestored, {}};
  // A move refused (P could not go, for one): a whole copy over P, P + "1" kept
  // until it stands.
  if (platform::CopyFile(previousName, fileName, false)) {
    platform::DeleteFile(previousName);
    return {OldStampMergeOutcome::PreviousRestored, {}};
  }
  return {OldStampMergeOutcome::Failed, "Die alten Zeitstempel " + Quoted(previousName) + " konnten nicht wieder zu " +
                                            Quoted(fileName) + " werden: " +
                                            platform::SysErrorMessage(platform::GetLastError())};
}

// This run's file; a file that is not there (a run killed before it made
// one) holds nothing.
std::vector<uint8_t> ReadCurrent(std::string_view fileName) {
  std::vector<uint8_t> bytes;
  if (platform::ReadWholeFile(fileName, bytes) || platform::GetLastError() == ENOENT) return bytes;
  throw EOldStampFile(std::string(fileName), platform::SysErrorMessage(platform::GetLastError()));
}

// Both files as far as they hold whole blocks: a run killed while it wrote
// cuts its file anywhere, and what it finished is still good.
OldStampMergeResult MergeFiles(std::string_view fileName, const std::string& previousName,
                               const std::vector<uint8_t>& previousBytes, IOldStampMergeView* view) {
  std::vector<uint8_t> currentBytes = ReadCurrent(fileName);
  std::string tail;
  std::vector<TOldStampBlock> current = DecodeWholeOldStampBlocks(currentBytes, std::string(fileName), tail);
  if (current.empty()) return RestorePrevious(fileName, previousName);
  std::vector<TOldStampBlock> previous = DecodeWholeOldStampBlocks(previousBytes, previousName, tail);
  std::vector<uint8_t> merged = EncodeOldStampBlocks(MergeBlocks(previous, current, view));
  if (!platform::WriteFileAtomic(fileName, merged.data(), merged.size())) {
    throw std::runtime_error("Die Datei der alten Zeitstempel " + Quoted(fileName) + " konnte nicht geschrieben werden: " +
                             platform::SysErrorMessage(platform::GetLastError()));
  }
  platform::DeleteFile(previousName);
  return {OldStampMergeOutcome::Merged, {}};
}

// ---- Start -----------------------------------------------------------------

std::unique_ptr<std::fstream> OpenOnDisk(const std::string& posixPath, std::ios::openmode mode) {
  return std::make_unique<std::fstream>(posixPath, mode);
}

// P for this run: emptied, or kept as it is when its stamps could not go
// aside; positioned at its end.
std::unique_ptr<std::fstream> OpenRunFile(std::string_view path, bool keepCurrent, const OldStampFileOpener& open) {
  std::optional<std::string> posix = platform::ResolvePath(path);
  if (!posix) {
    throw std::runtime_error("Die Datei der alten Zeitstempel " + Quoted(path) + " ist nicht erreichbar: " +
                             platform::SysErrorMessage(platform::GetLastError()));
  }
  auto mode = std::ios::in | std::ios::out | std::ios::binary | (keepCurrent ? std::ios::openmode{} : std::ios::trunc);
  std::unique_ptr<std::fstream> stream = open ? open(*posix, mode) : OpenOnDisk(*posix, mode);
  if (!stream || !*stream) {
    throw std::runtime_error("Die Datei der alten Zeitstempel " + Quoted(path) + " kann nicht angelegt werden");
  }
  stream->seekp(0, std::ios::end);
  return stream;
}

// This run's file could not be made after the previous one went aside: the
// previous stamps take their name back. A P that holds anything is not
// this run's empty start and stays; the previous file then waits beside it.
void PutPreviousBack(std::string_view path, const std::string& previousName) {
  const std::optional<int64_t> size = platform::GetFileSize(path);
  if (size && *size == 0) platform::DeleteFile(path);
  platform::MoveFileNoReplace(previousName, path);
}

bool MergeHistoryOfAnEarlierRun(std::string_view path) {
  try {
    return UpdateOldStamps(path, true, false).outcome != OldStampMergeOutcome::Failed;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

OldStampMergeViewFactory SetOldStampMergeViewFactory(OldStampMergeViewFactory factory) {
  return kMergeViewFactory.Exchange(std::move(factory));
}

std::unique_ptr<IOldStampMergeView> CreateOldStampMergeView(bool hidden) {
  if (hidden) return nullptr;
  OldStampMergeViewFactory factory = kMergeViewFactory.Get();
  return factory ? factory() : nullptr;
}

OldStampFileStart StartOldStampFile(std::string_view path, const OldStampFileOpener& open) {
  const std::string previousName = PreviousFileName(path);
  OldStampFileStart start;
  // Earlier stamps still waiting beside P: a run was killed, or its merge
  // failed. They are merged now; until that works they stay where they are
  // and this run's stamps go on the end of P.
  bool keepCurrent = platform::FileExists(previousName) && !MergeHistoryOfAnEarlierRun(path);
  if (!keepCurrent && platform::FileExists(path)) {
    start.previousMoved = platform::MoveFileNoReplace(path, previousName);
    keepCurrent = !start.previousMoved;
  }
  try {
    start.stream = OpenRunFile(path, keepCurrent, open);
  } catch (const std::exception&) {
    if (start.previousMoved) PutPreviousBack(path, previousName);
    throw;
  }
  return start;
}

void ResetOldStampWriter() {
  WriterState& w = Writer();
  std::lock_guard lock(w.mutex);
  w.givenSource.clear();
  w.givenDest.clear();
  w.sourceFolder.clear();
  w.destFolder.clear();
  w.count = 0;
  w.headerPos = -1;
  w.stream = nullptr;
}

bool WriteOldStamp(std::ostream& stream, std::string_view sourceFolder, std::string_view destFolder,
                   FileTime lastWrite, std::string_view fileName) {
  WriterState& w = Writer();
  std::lock_guard lock(w.mutex);
  std::string source, dest;
  if (!w.givenSource.empty() && w.givenSource == sourceFolder && w.givenDest == destFolder) {
    source = w.sourceFolder;
    dest = w.destFolder;
  } else {
    const std::shared_ptr<const platform::VolumeTable> volumes = platform::CurrentVolumes();
    source = volumes->ExpandUnc(sourceFolder);
    dest = volumes->ExpandUnc(destFolder);
  }
  if (!FitsField(source) || !FitsField(dest) || !FitsField(fileName)) return false;

  stream.seekp(0, std::ios::end);
  const std::streamoff end = stream.tellp();
  CheckStream(stream);
  if (StartsNewBlock(w, stream, end, source, dest)) {
    TOldStampHeader header{source, dest, 0};
    WriteBytes(stream, header.Encode());
    w.givenSource = sourceFolder;
    w.givenDest = destFolder;
    w.sourceFolder = std::move(source);
    w.destFolder = std::move(dest);
    w.count = 0;
    w.headerPos = end;
    w.stream = &stream;
  }
  WriteBytes(stream, TOldStampEntry{std::string(fileName), lastWrite}.Encode());
  ++w.count;
  PatchCount(stream, w.headerPos, w.count);
  return true;
}

OldStampMergeResult UpdateOldStamps(std::string_view fileName, bool hidden, bool minimized,
                                    IOldStampMergeView* view) {
  MergeViewScope scope(view, hidden, minimized);
  const std::string previousName = PreviousFileName(fileName);
  const std::vector<uint8_t> previousBytes = ReadOrThrow(previousName);
  if (previousBytes.empty()) {
    platform::DeleteFile(previousName);
    return {OldStampMergeOutcome::NoPrevious, {}};
  }
  try {
    return MergeFiles(fileName, previousName, previousBytes, view);
  } catch (const std::exception& e) {
    // P keeps what this run wrote, and the earlier stamps stay beside it:
    // the list builder reads both, and the next run merges them again.
    return {OldStampMergeOutcome::Failed, e.what()};
  }
}

}  // namespace kv

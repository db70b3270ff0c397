#include "copyengine/filedeleter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <random>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/time.h"
#include "platform/trash.h"
#include "platform/volumes.h"

namespace kv {
namespace {

using Pattern = TFileDeleter::Pattern;
using Patterns = std::array<Pattern, TFileDeleter::kPassCount>;

bool IsRandomPass(int pass) { return pass <= 3 || pass >= 31; }

// The fixed passes of the 35-pass overwrite schedule; the random ones are
// drawn before every shredding.
Patterns FixedPatterns() {
  Patterns p{};
  p[4] = {0x55, 0x55, 0x55};
  p[5] = {0xAA, 0xAA, 0xAA};
  p[6] = p[25] = {0x92, 0x49, 0x24};
  p[7] = p[26] = {0x49, 0x24, 0x92};
  p[8] = p[27] = {0x24, 0x92, 0x49};
  for (int i = 0; i < 16; ++i) {
    const auto b = static_cast<uint8_t>(0x11 * i);
    p[9 + i] = {b, b, b};
  }
  p[28] = {0x6D, 0xB6, 0xDB};
  p[29] = {0xB6, 0xDB, 0x6D};
  p[30] = {0xDB, 0x6D, 0xB6};
  return p;
}

// "C:\Daten\" -> "C\Daten\", "\\Server\Freigabe\Ordner\" -> "Server\Freigabe\Ordner\".
std::string BackupRelativeFolder(std::string_view path) {
  std::string rel = platform::ExtractFilePath(path);
  std::erase(rel, ':');
  rel.erase(0, rel.find_first_not_of('\\'));
  return rel;
}

// Now, at the two-second resolution of a DOS date-time.
platform::FileTime DosNow() {
  const platform::FileTime now = platform::FileTimeNow();
  return platform::FileTimeFromDos(platform::DosFromFileTime(now)).value_or(now);
}

std::optional<std::vector<uint8_t>> ReadAll(const platform::FileHandle& file) {
  platform::FileStatus st;
  if (!file.Status(st)) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(st.size));
  if (!file.ReadAt(bytes.data(), bytes.size(), 0)) return std::nullopt;
  return bytes;
}

// The size a pass covers: whole 3-byte units from offset 0 while below the
// current size, so a size that is not a multiple of 3 grows by one or two.
int64_t RoundedUpToUnits(int64_t size) { return (size + 2) / 3 * 3; }

enum class PassOutcome { kDone, kFailed, kAborted };

// Overwrites one open file pass by pass, in large buffers, keeping the
// caller's window alive between them.
class Overwriter {
 public:
  Overwriter(platform::FileHandle& file, const TFileDeleter& owner)
      : file_(file), owner_(owner), lastPump_(platform::TickCount64()) {}

  PassOutcome Pass(const Pattern& pattern) {
    platform::FileStatus st;
    if (!file_.Status(st)) return PassOutcome::kFailed;
    const int64_t end = RoundedUpToUnits(st.size);
    Fill(pattern, static_cast<size_t>(std::min<int64_t>(end, TFileDeleter::kShredBufferSize)));
    for (int64_t offset = 0; offset < end;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(end - offset, static_cast<int64_t>(buffer_.size())));
      if (!file_.WriteAt(buffer_.data(), n, offset)) return PassOutcome::kFailed;
      offset += static_cast<int64_t>(n);
      Pump();
      if (owner_.abortRequested && owner_.abortRequested()) return PassOutcome::kAborted;
    }
    // Each pass must reach the device before the next one replaces it in
    // the cache, or only the last pattern would ever be written.
    return file_.DataSync() ? PassOutcome::kDone : PassOutcome::kFailed;
  }

 private:
  void Fill(const Pattern& pattern, size_t size) {
    buffer_.resize(size);
    for (size_t i = 0; i < size; ++i) buffer_[i] = pattern[i % 3];
  }

  void Pump() {
    if (!owner_.pump) return;
    const uint64_t now = platform::TickCount64();
    if (now - lastPump_ < owner_.pumpIntervalMs) return;
    lastPump_ = now;
    owner_.pump();
  }

  platform::FileHandle& file_;
  const TFileDeleter& owner_;
  uint64_t lastPump_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::string FileDeleterMessage(int messageId) {
  switch (messageId) {
    case kMsgFileNotDeleted: return "Die Datei/en konnte/n nicht gelöscht werden!";
    case kMsgShredFailed: return "Fehler beim überschreiben/löschen der Datei!";
    case kMsgBackupFailed:
      return "Die Datei konnte nicht gelöscht werden, da das Backupfile nicht erstellt werden konnte!";
    case kMsgRenameFailed:
      return "Die Datei konnte nicht gelöscht werden, da das umbenennen nicht durchgeführt werden konnte!";
    default: return {};
  }
}

TFileDeleter::TFileDeleter() : patterns_(FixedPatterns()) { DrawRandomPatterns(); }

void TFileDeleter::Raise(int messageId) {
  errMsg_ = FileDeleterMessage(messageId);
  throw EFileDeleter(messageId, errMsg_);
}

void TFileDeleter::DrawRandomPatterns() {
  std::mt19937_64 fallback(static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
  std::random_device device;
  for (int pass = 0; pass < kPassCount; ++pass) {
    if (!IsRandomPass(pass)) continue;
    uint32_t bits = 0;
    try {
      bits = device();
    } catch (const std::exception&) {
      bits = static_cast<uint32_t>(fallback());
    }
    patterns_[pass] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits >> 16)};
  }
}

void TFileDeleter::Delete(std::string_view path) {
  const platform::TreeFolder folder = platform::TreeFolder::OpenRoot(platform::ExtractFilePath(path), false);
  // No folder, no file: nothing to delete.
  if (folder.IsOpen()) Delete(folder, platform::ExtractFileName(path), path);
}

void TFileDeleter::Delete(const platform::TreeFolder& folder, std::string_view name, std::string_view path) {
  platform::FileStatus st;
  if (!folder.Status(name, st) || !st.isFile) return;
  // Read-only files go like any other. A link keeps its target's bits: the
  // link is deleted, never what it points to.
  (void)folder.ClearReadOnly(name);
  const Target target{folder, std::string(name), std::string(path)};
  switch (DelStyle) {
    case TDelStyle::delNormal: DeletePlainly(target); break;
    case TDelStyle::delShredder: Shred(target); break;
    case TDelStyle::delBitbucket:
      if (!platform::MoveToTrash(folder, name)) Raise(kMsgFileNotDeleted);
      break;
    case TDelStyle::delBackup: Backup(target); break;
    case TDelStyle::delRename: Rename(target); break;
  }
}

void TFileDeleter::DeletePlainly(const Target& target) {
  if (!target.folder.Remove(target.name)) Raise(kMsgFileNotDeleted);
}

void TFileDeleter::Rename(const Target& target) {
  if (!target.folder.Rename(target.name, target.name + ".BAK", false)) Raise(kMsgRenameFailed);
}

void TFileDeleter::Backup(const Target& target) {
  // Without a root the backup folder would be a relative path: refuse
  // rather than delete a file whose backup went nowhere.
  if (BackupPath.empty()) Raise(kMsgBackupFailed);
  const std::string folder = platform::IncludeTrailingBackslash(BackupPath) + BackupRelativeFolder(target.path);
  if (!platform::DirectoryExists(folder) && !platform::ForceDirectories(folder)) Raise(kMsgBackupFailed);
  const std::string backup = folder + target.name;
  auto stampNow = [&backup] {
    // The backup carries the time of its deletion; a link's target is not ours to touch.
    if (!platform::IsSymbolicLink(backup)) platform::SetLastWriteTime(backup, DosNow());
  };
  const std::optional<std::string> posix = platform::ResolvePath(backup);
  if (posix && target.folder.MoveOut(target.name, *posix)) {
    stampNow();
    return;
  }
  const platform::FileHandle content = target.folder.OpenForReading(target.name);
  if (!content.IsOpen() || !platform::CopyOpenFile(content, backup)) Raise(kMsgBackupFailed);
  stampNow();
  if (ArchivSchredder) Shred(target);
  else DeletePlainly(target);
}

void TFileDeleter::Shred(const Target& target) {
  DrawRandomPatterns();
  {
    // Never through a link: a link is removed as a link, its target is
    // never overwritten.
    platform::FileHandle file = target.folder.OpenForWriting(target.name);
    if (!file.IsOpen() && platform::GetLastError() == ELOOP) return DeletePlainly(target);
    platform::FileStatus st;
    if (!file.IsOpen() || !file.Status(st)) Raise(kMsgShredFailed);
    // Another name still holds this content: overwriting it would destroy
    // that file, so only this name goes.
    if (st.links > 1) return DeletePlainly(target);
    Overwriter overwriter(file, *this);
    for (int pass = 0; pass < kPassCount; ++pass) {
      const PassOutcome outcome = overwriter.Pass(patterns_[pass]);
      if (outcome == PassOutcome::kFailed) Raise(kMsgShredFailed);
      if (outcome == PassOutcome::kAborted) break;
      if (passObserver) {
        std::optional<std::vector<uint8_t>> bytes = ReadAll(file);
        if (!bytes) Raise(kMsgShredFailed);
        passObserver(pass, *bytes);
      }
    }
  }
  DeletePlainly(target);
}

}  // namespace kv

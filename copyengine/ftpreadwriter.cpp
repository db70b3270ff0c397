#include "copyengine/ftpreadwriter.h"

#include <exception>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/record.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::Quoted;

std::string LastErrorText() { return platform::SysErrorMessage(platform::GetLastError()); }

FtpStateResult Failure(std::string message) { return FtpStateResult{false, std::move(message)}; }

FtpStateResult ReadFailure(const std::string& file) {
  return Failure("Die FTP-Statusdatei " + Quoted(file) + " konnte nicht gelesen werden: " + LastErrorText());
}

void AppendBytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

FtpStateFileOps FtpStateFileOps::Platform() {
  FtpStateFileOps ops;
  ops.move = [](std::string_view from, std::string_view to) { return platform::MoveFileNoReplace(from, to); };
  ops.write = [](std::string_view path, const std::vector<uint8_t>& bytes) {
    return platform::WriteFileAtomic(path, bytes.data(), bytes.size());
  };
  return ops;
}

std::string TFTPReadWriter::TempFileName(std::string_view cacheFile) {
  return platform::Copy(cacheFile, 1, static_cast<int64_t>(cacheFile.size()) - 3) + "bak";
}

std::string TFTPReadWriter::BackupFileName(std::string_view cacheFile) { return std::string(cacheFile) + "1"; }

void TFTPReadWriter::Clear() {
  folders_.Clear();
  files_.Clear();
  currentKey_.clear();
}

void TFTPReadWriter::Close() {
  Clear();
  cacheFile_.clear();
}

// A backup without the cache file is what a replacement leaves when it stops
// between its two moves: that backup is the last whole log.
void TFTPReadWriter::RecoverInterruptedReplace() {
  if (cacheFile_.empty() || platform::FileExists(cacheFile_)) return;
  const std::string backup = BackupFileName(cacheFile_);
  if (platform::FileExists(backup)) ops_.move(backup, cacheFile_);
}

FtpStateResult TFTPReadWriter::LoadIndex(std::string_view cacheFile) {
  cacheFile_ = std::string(cacheFile);
  Clear();
  if (cacheFile_.empty()) return {};
  RecoverInterruptedReplace();
  if (!platform::FileExists(cacheFile_)) return {};
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(cacheFile_, bytes)) return ReadFailure(cacheFile_);
  TFTPBlockScanner scanner(bytes, cacheFile_);
  TFTPBlockSpan block;
  while (scanner.Next(block)) folders_.Add(block.folder);
  folders_.Sort(TFTPFldrList::kByKey);
  if (!scanner.error().empty()) return Failure(scanner.error());
  return {};
}

FtpStateResult TFTPReadWriter::SelectFolder(std::string_view server, std::string_view folder) {
  std::string key = FtpStateKey(server, folder);
  if (key == currentKey_) return {};
  files_.Clear();
  const int32_t i = folders_.IndexOfKey(key);
  FtpStateResult result;
  if (i < 0) {
    folders_.Add(server, folder, 0);
  } else if (platform::FileExists(cacheFile_)) {
    result = ReadFolderRecords(folders_.GetItem(i).key);
  }
  currentKey_ = std::move(key);
  return result;
}

FtpStateResult TFTPReadWriter::ReadFolderRecords(const std::string& key) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(cacheFile_, bytes)) return ReadFailure(cacheFile_);
  TFTPBlockScanner scanner(bytes, cacheFile_);
  TFTPBlockSpan block;
  while (scanner.Next(block)) {
    if (!platform::SameText(block.folder.key, key)) continue;
    for (size_t r = 0; r < static_cast<size_t>(block.folder.count); ++r) files_.Add(scanner.Record(block, r));
    return {};
  }
  if (!scanner.error().empty()) return Failure(scanner.error());
  return {};
}

FtpStateResult TFTPReadWriter::SaveFolder(std::string_view server, std::string_view folder) {
  if (folder.empty() || cacheFile_.empty()) return {};
  const std::string requested = FtpStateKey(server, folder);
  if (requested != currentKey_) {
    if (!currentKey_.empty()) return ListOfOtherFolder(requested);
    if (FtpStateResult adopted = AdoptUnselectedFolder(server, folder); !adopted) return adopted;
  }
  const int32_t i = folders_.IndexOfKey(requested);
  if (i < 0) return {};
  const std::string key = folders_.GetItem(i).key;
  if (key.size() > kFtpStateTextWidth) {
    return Failure("Der Ordner " + Quoted(key) + " ist zu lang für die FTP-Statusdatei " + Quoted(cacheFile_));
  }
  FtpStateResult result;
  try {
    RecoverInterruptedReplace();
    const bool exists = platform::FileExists(cacheFile_);
    if (files_.Count() == 0) {
      if (!exists) return {};
      result = RewriteFile(key, false);
    } else if (!platform::ForceDirectories(platform::ExtractFilePath(cacheFile_))) {
      return Failure("Der Ordner der FTP-Statusdatei " + Quoted(cacheFile_) + " konnte nicht angelegt werden: " +
                     LastErrorText());
    } else {
      result = exists ? RewriteFile(key, true) : WriteNewFile(key);
    }
  } catch (const std::exception& e) {
    return Failure("Die FTP-Statusdatei " + Quoted(cacheFile_) + " konnte nicht geschrieben werden: " + e.what());
  }
  if (result.ok) folders_.SetCount(i, files_.Count());
  return result;
}

// The list holds the current folder's records; written as another folder's
// block they would replace that folder's states with foreign ones.
FtpStateResult TFTPReadWriter::ListOfOtherFolder(const std::string& requested) const {
  return Failure("Die Einträge des FTP-Ordners " + Quoted(currentKey_) + " wurden nicht als die von " +
                 Quoted(requested) + " in " + Quoted(cacheFile_) + " gespeichert");
}

// No folder is selected, so the list holds only what the caller put in for
// this folder. The folder becomes the current one with its stored records
// (read from the file whether or not the index lists them; an index entry
// added when it has none), and the caller's records are laid over them, so
// that the save loses neither.
FtpStateResult TFTPReadWriter::AdoptUnselectedFolder(std::string_view server, std::string_view folder) {
  const std::string key = FtpStateKey(server, folder);
  const std::vector<TFTPFileRecord> pending = files_.items();
  files_.Clear();
  if (platform::FileExists(cacheFile_)) {
    if (FtpStateResult read = ReadFolderRecords(key); !read) {
      // The stored records could not be read: a save now would drop them.
      files_.Clear();
      for (const TFTPFileRecord& rec : pending) files_.Add(rec);
      return read;
    }
  }
  if (folders_.IndexOfKey(key) < 0) folders_.Add(server, folder, 0);
  currentKey_ = key;
  for (const TFTPFileRecord& rec : pending) files_.Remember(rec);
  return {};
}

void TFTPReadWriter::AppendBlock(std::vector<uint8_t>& out, const std::string& key) const {
  out.reserve(out.size() + TFTPFldrRecord::kSize + files_.items().size() * TFTPFileRecord::kSize);
  AppendBytes(out, TFTPFldrRecord{key, files_.Count()}.Encode());
  for (const TFTPFileRecord& rec : files_.items()) AppendBytes(out, rec.Encode());
}

FtpStateResult TFTPReadWriter::WriteNewFile(const std::string& key) {
  std::vector<uint8_t> out;
  AppendBlock(out, key);
  if (ops_.write(cacheFile_, out)) return {};
  return Failure("Die FTP-Statusdatei " + Quoted(cacheFile_) + " konnte nicht geschrieben werden: " +
                 LastErrorText());
}

// keepBlock: the folder's block is written anew (in its place, else at the
// end); otherwise it is left out. A later block with the same key, which no
// read ever reached, is left out either way.
FtpStateResult TFTPReadWriter::RewriteFile(const std::string& key, bool keepBlock) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(cacheFile_, bytes)) return ReadFailure(cacheFile_);
  std::vector<uint8_t> out;
  out.reserve(bytes.size() + TFTPFldrRecord::kSize + files_.items().size() * TFTPFileRecord::kSize);
  TFTPBlockScanner scanner(bytes, cacheFile_);
  TFTPBlockSpan block;
  bool matched = false;
  while (scanner.Next(block)) {
    if (platform::SameText(block.folder.key, key)) {
      if (keepBlock && !matched) AppendBlock(out, key);
      matched = true;
      continue;
    }
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(block.begin),
               bytes.begin() + static_cast<std::ptrdiff_t>(block.end));
  }
  if (!matched) {
    if (!keepBlock) return {};  // nothing to remove
    AppendBlock(out, key);
  }
  const std::string temp = TempFileName(cacheFile_);
  FtpStateResult result = WriteTemp(temp, out);
  if (result.ok) result = ReplaceFileWithBackup(ops_, cacheFile_, temp);
  if (result.ok && !scanner.error().empty()) {
    result.message = scanner.error() + "; der unlesbare Rest ab Byte " + std::to_string(scanner.position()) +
                     " wurde nicht übernommen";
  }
  return result;
}

FtpStateResult TFTPReadWriter::WriteTemp(const std::string& temp, const std::vector<uint8_t>& bytes) {
  if (ops_.write(temp, bytes)) return {};
  const int err = platform::GetLastError();
  platform::DeleteFile(temp);
  return Failure("Die temporäre Datei " + Quoted(temp) + " konnte nicht geschrieben werden: " +
                 platform::SysErrorMessage(err));
}

FtpStateResult ReplaceFileWithBackup(const FtpStateFileOps& ops, const std::string& target,
                                     const std::string& temp) {
  if (!platform::FileExists(target)) {
    if (ops.move(temp, target)) return {};
    const std::string reason = LastErrorText();
    platform::DeleteFile(temp);
    return Failure("Die Datei " + Quoted(target) + " konnte nicht angelegt werden: " + reason);
  }
  const std::string backup = TFTPReadWriter::BackupFileName(target);
  if (platform::FileExists(backup)) platform::DeleteFile(backup);
  if (!ops.move(target, backup)) {
    return Failure("Die Datei " + Quoted(target) + " konnte nicht nach " + Quoted(backup) +
                   " verschoben werden: " + LastErrorText());
  }
  if (ops.move(temp, target)) {
    platform::DeleteFile(backup);
    return {};
  }
  const std::string reason = LastErrorText();
  platform::DeleteFile(temp);
  std::string message = "Die neue Fassung von " + Quoted(target) + " konnte nicht angelegt werden (" + reason + "); ";
  if (ops.move(backup, target)) return Failure(message + "die vorige Fassung wurde wiederhergestellt");
  return Failure(message + "die vorige Fassung liegt in " + Quoted(backup) + " (" + LastErrorText() + ")");
}

}  // namespace kv

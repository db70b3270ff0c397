#pragma once
// Deletes one local or network file of a job in the style the profile chose:
// plainly, by overwriting it 35 times first, into the trash, by moving it
// into a backup folder, or by renaming it to NAME.BAK. The copy object keeps
// one deleter for a whole run.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/treefolder.h"

namespace kv {

enum class TDelStyle : uint8_t {
  delNormal = 0,
  delShredder = 1,
  delBitbucket = 2,
  delBackup = 3,
  delRename = 4,
};

// Message numbers of the deleter's texts.
inline constexpr int kMsgFileNotDeleted = 65264;
inline constexpr int kMsgShredFailed = 65265;
inline constexpr int kMsgBackupFailed = 65266;
inline constexpr int kMsgRenameFailed = 65267;

// A deletion failed; the message is one of the deleter's texts.
class EFileDeleter : public std::runtime_error {
 public:
  EFileDeleter(int messageId, const std::string& text) : std::runtime_error(text), messageId_(messageId) {}
  int messageId() const { return messageId_; }

 private:
  int messageId_;
};

class TFileDeleter {
 public:
  static constexpr int kPassCount = 35;
  // Bytes written per write call while shredding: a multiple of the 3-byte
  // pattern, so every buffer starts on a pattern boundary.
  static constexpr size_t kShredBufferSize = 3 * 349525;  // just under 1 MiB
  using Pattern = std::array<uint8_t, 3>;

  TFileDeleter();

  // --- Set by the caller --------------------------------------------------------
  TDelStyle DelStyle = TDelStyle::delNormal;
  // Root folder of delBackup, ending in "\".
  std::string BackupPath;
  // delBackup: shred the original after it was copied instead of deleting it.
  bool ArchivSchredder = false;

  // Lets the caller's window process its messages while a file is shredded;
  // called between write buffers, at most once per pumpIntervalMs.
  std::function<void()> pump;
  uint64_t pumpIntervalMs = 100;
  // Asked between write buffers. When it says yes, shredding stops and the
  // file is removed plainly: once overwriting began its content is gone
  // anyway, and a half-overwritten file left behind could be copied back.
  std::function<bool()> abortRequested;
  // Observes the file after every shredding pass (pass index 0..34, the
  // file's bytes as read back from it). For tests; costs a read per pass.
  std::function<void(int pass, std::span<const uint8_t> fileBytes)> passObserver;

  // Deletes the file name of folder (its path names it in the backup) in
  // the current style, never through a link. A name that holds no file (a
  // folder, nothing, a link to nothing) is ignored. Failures set ErrMsg and
  // throw EFileDeleter with the same text.
  void Delete(const platform::TreeFolder& folder, std::string_view name, std::string_view path);
  // The same for the file a path names, in the folder the path leads to.
  void Delete(std::string_view path);

  const std::string& ErrMsg() const { return errMsg_; }
  const std::array<Pattern, kPassCount>& patterns() const { return patterns_; }

 private:
  struct Target {
    const platform::TreeFolder& folder;
    std::string name;
    std::string path;
  };
  void Shred(const Target& target);
  void Backup(const Target& target);
  void Rename(const Target& target);
  void DeletePlainly(const Target& target);
  void DrawRandomPatterns();
  [[noreturn]] void Raise(int messageId);

  std::array<Pattern, kPassCount> patterns_{};
  std::string errMsg_;
};

// The text of one of the deleter's message numbers.
std::string FileDeleterMessage(int messageId);

}  // namespace kv

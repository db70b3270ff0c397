#pragma once
// Copying one file of a local or network folder pair while the copy window
// shows its progress, and the small helpers that fill that window.
//
// A copy never puts a partly written file under the target's name, and it
// never gives up the previous target before the new content is complete: the
// new content is written under a temporary name of the system's own beside
// the target (platform::IsSystemTempName; never a name a user's file could
// have) and renamed onto the target only after it was written, closed
// without error and given its time, attributes and rights. Whatever fails or
// is cancelled before that leaves the previous target as it was and removes
// the temporary file (status 3 when that removal failed).
//
// A replaced file keeps its own owner, group, permission bits and ACL (the
// source's read-only attribute is applied over them), unless the rights are
// to be copied from the source; a new file gets the source's permission bits.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "copyengine/copywindow.h"
#include "platform/files.h"
#include "platform/treefolder.h"
#include "platform/time.h"

namespace kv {

// Status of a copy; the same codes as a protocol record's status.
inline constexpr int32_t kCopyDone = 1;
inline constexpr int32_t kCopyError = 2;
inline constexpr int32_t kCopyErrorPartialLeft = 3;

// Message texts the copy steps share.
inline constexpr int kMsgSecurityRenameFailed = 65268;
inline constexpr int kMsgSecurityRenameRevertFailed = 65269;
inline constexpr int kMsgAttributesFailed = 65270;
inline constexpr int kMsgSourcePathTooLong = 65271;
inline constexpr int kMsgTargetPathTooLong = 65272;
inline constexpr int kMsgFolderCreated = 65273;  // contains "%s"
inline constexpr int kMsgOpenSourceFailed = 65274;
inline constexpr int kMsgOpenTargetFailed = 65275;
inline constexpr int kMsgFileCopied = 65276;
inline constexpr int kMsgWriteFailedDiskFull = 65277;
// The text of one of these numbers; "" for any other.
std::string_view CopyMessage(int id);

struct CopyFileRequest {
  std::string source;  // Windows paths, as the window shows them
  std::string target;
  // Where the two files are: their folders, opened below their pair's
  // roots, and their names there. Without folders, the folders of the two
  // paths are opened as they are.
  const platform::TreeFolder* sourceFolder = nullptr;
  std::string sourceName;
  const platform::TreeFolder* targetFolder = nullptr;
  std::string targetName;
  // The source, already open, and what it was then (the check that it did
  // not change opened it); taken over by the copy.
  platform::FileHandle* openSource = nullptr;
  platform::FileStatus openSourceStatus;
  // Whether that check found a file at the target; none: not looked at.
  std::optional<bool> targetExists;
  bool copyRights = false;      // the copy object's NTFSAccess
  platform::FileTime lastWrite = 0;  // the target's last-write time (the job item's)
  int64_t size = 0;             // as the job item states it; drives the file bar
  uint8_t maxMessageLength = 255;
};

struct CopyFileResult {
  int32_t status = kCopyDone;
  std::string message;  // at most maxMessageLength bytes, never a split character
  // The user cancelled: nothing is copied and the window shows its aborting
  // labels; status stays 1 and the caller stops the job without a record for
  // this item. Status 3 (with its message) when the partial file stayed: the
  // caller still records that.
  bool aborted = false;
};

// Copies block by block; after every block the file bar moves, the window
// processes its messages and the abort flag is tested. Input/output failures
// come back as status and message; nothing else is caught.
CopyFileResult CopyFileWithProgress(const CopyFileRequest& request, TtfCopy& window);

// Bytes moved per block: progress and cancel are served this often.
inline constexpr size_t kCopyBlockSize = size_t{4} << 20;

// The smallest power of ten that brings size down to at most 2147483647, so
// that a progress bar's 32-bit range holds size / divisor.
int64_t ProgressDivisor(int64_t size);

// " Byte" below 1024, else KB, MB or GB with two decimals and a decimal
// comma; halves round away from zero (1152 bytes: "1,13 KB").
std::string FormatSizeText(int64_t bytes);

// The size of a found file; high and low 32-bit words as the platform's find
// data carries them.
uint64_t GetSearchRecSize(uint32_t sizeHigh, uint32_t sizeLow);
uint64_t GetSearchRecSize(const platform::DirEntry& entry);

// Shows FormatSizeText(bytes) in the label with its right edge at x and lets
// the window process its messages.
void SetSizeLabel(TtfCopy& window, CopyLabel label, int x, int64_t bytes);

// A path shortened to fit width (a text fits when it is narrower): a local
// path keeps its drive, "\..\", the last folders that fit and the name; a
// path with "/" (FTP) starts with "FTP://../". measure gives a text's width.
std::string ShortenPathText(std::string_view path, int width, const std::function<int(std::string_view)>& measure);
// Shows the path in the label, shortened to the label's width.
void ShortenPathLabel(TtfCopy& window, CopyLabel label, std::string_view path);

}  // namespace kv

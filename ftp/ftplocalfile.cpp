#include "ftp/ftplocalfile.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"
#include "platform/files.h"

namespace kv {
namespace {

constexpr std::string_view kReplacementPrefix = "kvftp-";

bool AllZero(const char* data, size_t size) {
  return size > 0 && data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0;
}

}  // namespace

bool TFtpLocalFile::OpenForReading(std::string_view path) {
  Discard();
  return stream_.Open(path, platform::OpenMode::Read);
}

bool TFtpLocalFile::OpenExisting(std::string_view path) {
  Discard();
  if (!stream_.Open(path, platform::OpenMode::ReadWrite)) return false;
  return stream_.Size(written_);
}

bool TFtpLocalFile::CreateReplacement(std::string_view path) {
  Discard();
  if (!stream_.CreateBeside(path, kReplacementPrefix, replacement_)) return false;
  target_ = path;
  replacing_ = platform::FileExists(path);
  written_ = 0;
  return true;
}

bool TFtpLocalFile::Write(const char* data, size_t size) {
  if (AllZero(data, size)) {
    stream_.Seek(stream_.Position() + size);
    return true;
  }
  if (!stream_.Write(data, size)) return false;
  written_ = std::max(written_, stream_.Position());
  return true;
}

bool TFtpLocalFile::Commit() {
  bool ok = true;
  if (stream_.Position() > written_) ok = stream_.Truncate(stream_.Position());
  if (ok && replacing_) ok = stream_.Sync();
  if (!stream_.Close()) ok = false;
  if (ok && !replacement_.empty()) ok = platform::MoveFileReplacing(replacement_, target_);
  if (ok) {
    replacement_.clear();
    return true;
  }
  const int error = platform::GetLastError();
  Discard();
  platform::SetLastError(error);
  return false;
}

void TFtpLocalFile::Discard() {
  (void)stream_.Close();
  if (!replacement_.empty()) platform::DeleteFile(replacement_);
  replacement_.clear();
  target_.clear();
  replacing_ = false;
  written_ = 0;
}

}  // namespace kv

#include "ftp/ftplocalfile.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"

namespace kv {
namespace {

bool AllZero(const char* data, size_t size) {
  return size > 0 && data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0;
}

}  // namespace

bool TFtpLocalFile::OpenForReading(std::string_view path) {
  Discard();
  return file_.Open(path, platform::OpenMode::Read);
}

bool TFtpLocalFile::OpenExisting(std::string_view path) {
  Discard();
  if (!file_.Open(path, platform::OpenMode::ReadWrite)) return false;
  return file_.Size(written_);
}

bool TFtpLocalFile::CreateReplacement(std::string_view path) {
  Discard();
  if (!replacement_.Begin(path)) return false;
  replacing_ = true;
  return true;
}

bool TFtpLocalFile::Write(const char* data, size_t size) {
  platform::FileStream& stream = Stream();
  if (AllZero(data, size)) {
    stream.Seek(stream.Position() + size);
    return true;
  }
  if (!stream.Write(data, size)) return false;
  written_ = std::max(written_, stream.Position());
  return true;
}

bool TFtpLocalFile::Commit() {
  platform::FileStream& stream = Stream();
  bool ok = stream.Position() <= written_ || stream.Truncate(stream.Position());
  if (ok) ok = replacing_ ? replacement_.Commit() : stream.Close();
  if (ok) {
    replacing_ = false;
    written_ = 0;
    return true;
  }
  const int error = platform::GetLastError();
  Discard();
  platform::SetLastError(error);
  return false;
}

void TFtpLocalFile::Discard() {
  (void)file_.Close();
  replacement_.Discard();
  replacing_ = false;
  written_ = 0;
}

}  // namespace kv

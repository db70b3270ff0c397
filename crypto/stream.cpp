#include "crypto/stream.h"

#include <algorithm>
#include <cstring>

#include "crypto/cryptconst.h"
#include "platform/errors.h"

namespace kv::crypto {

using platform::GetLastError;
using platform::SysErrorMessage;

// --- TMemoryStream -------------------------------------------------------------------

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= Size()) return 0;
  const size_t n = std::min(count, bytes_.size() - static_cast<size_t>(position_));
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

void TMemoryStream::Write(const void* data, size_t count) {
  const size_t at = static_cast<size_t>(position_);
  if (at + count > bytes_.size()) bytes_.resize(at + count);
  if (count > 0) std::memcpy(bytes_.data() + at, data, count);
  position_ += static_cast<int64_t>(count);
}

// --- TFileStream ---------------------------------------------------------------------

TFileStream::TFileStream(std::string_view path, platform::OpenMode mode) : name_(path) {
  if (!own_.Open(path, mode)) Fail(sStreamOpenError);
}

void TFileStream::Attach(std::string_view name, platform::FileStream& file) {
  name_ = std::string(name);
  file_ = &file;
}

void TFileStream::Fail(std::string_view text) const {
  throw EStreamError(FormatText(text, {name_, SysErrorMessage(GetLastError())}));
}

int64_t TFileStream::Size() {
  uint64_t size = 0;
  if (!file_->Size(size)) Fail(sStreamReadError);
  return static_cast<int64_t>(size);
}

int64_t TFileStream::Position() const { return static_cast<int64_t>(file_->Position()); }

void TFileStream::SetPosition(int64_t position) { file_->Seek(position < 0 ? 0 : static_cast<uint64_t>(position)); }

size_t TFileStream::Read(void* buffer, size_t count) {
  size_t got = 0;
  if (!file_->Read(buffer, count, got)) Fail(sStreamReadError);
  return got;
}

void TFileStream::Write(const void* data, size_t count) {
  if (!file_->Write(data, count)) Fail(sStreamWriteError);
}

void TFileStream::Close() {
  if (!file_->Close()) Fail(sStreamWriteError);
}

// --- TFileReplacementStream ----------------------------------------------------------

TFileReplacementStream::TFileReplacementStream(std::string_view target) {
  Attach(target, replacement_.Stream());
  if (!replacement_.Begin(target)) Fail(sStreamOpenError);
}

void TFileReplacementStream::Commit() {
  if (!replacement_.Commit()) Fail(sStreamReplaceError);
}

}  // namespace kv::crypto

#include "crypto/protection.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "crypto/cryptconst.h"
#include "crypto/stream.h"
#include "crypto/stringformat.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kv::crypto {

namespace {

// Chunks are read this many at a time: fewer system calls, the same chunks.
constexpr size_t kChunksPerRead = 16;

struct Progress {
  std::mutex mutex;
  TProgressProc proc = nullptr;
  bool hasOwner = false;
  std::weak_ptr<void> owner;
  std::atomic<bool> set{false};  // spares runs the lock while nothing is set
};

Progress& ProgressState() {
  static Progress* progress = new Progress;
  return *progress;
}

void StoreProgress(TProgressProc proc, bool hasOwner, std::weak_ptr<void> owner) {
  Progress& p = ProgressState();
  std::lock_guard lock(p.mutex);
  p.proc = proc;
  p.hasOwner = hasOwner;
  p.owner = std::move(owner);
  p.set = proc != nullptr;
}

}  // namespace

void SetProgress(TProgressProc proc) { StoreProgress(proc, false, {}); }
void SetProgress(TProgressProc proc, std::weak_ptr<void> owner) { StoreProgress(proc, true, std::move(owner)); }

TProtection::TProtection(TProtectionRef chain) : chain_(std::move(chain)) {}

void TProtection::SetChainedProtection(TProtectionRef protection) {
  if (protection == chain_) return;
  for (const TProtection* p = protection.get(); p; p = p->chain_.get()) {
    if (p == this) throw EProtection(std::string(sProtectionCircular));
  }
  chain_ = std::move(protection);
}

void TProtection::BeginAction(TCodingAction action) {
  if (chain_) chain_->BeginAction(action);
}

void TProtection::EndAction(TCodingAction action) {
  if (chain_) chain_->EndAction(action);
}

void TProtection::ProcessChunk(void* buffer, int32_t size, TCodingAction action) {
  if (chain_) chain_->ProcessChunk(buffer, size, action);
}

void TProtection::ReportProgress(int64_t current, int64_t maximum) {
  Progress& p = ProgressState();
  if (!p.set.load(std::memory_order_relaxed)) return;
  TProgressProc proc;
  std::shared_ptr<void> owner;
  {
    std::lock_guard lock(p.mutex);
    proc = p.proc;
    if (p.hasOwner) {
      owner = p.owner.lock();
      if (!owner) return;  // the owner is gone
    }
  }
  if (proc) proc(owner.get(), *this, current, maximum);
}

void TProtection::ProcessStream(TStream* source, TStream* destination, int64_t size, TCodingAction action) {
  if (!source) return;
  if (!destination) destination = source;
  if (size < 0) {
    size = source->Size();
    source->SetPosition(0);
  }
  BeginAction(action);
  try {
    ReportProgress(0, size);
    RunChunks(*source, *destination, size, action);
  } catch (...) {
    ReportProgress(0, 0);
    EndAction(action);
    throw;
  }
  ReportProgress(0, 0);
  EndAction(action);
}

// Reads several chunks at once but hands them to ProcessChunk one by one, so
// the chunks are those of a read per chunk. Source and destination keep
// positions of their own, which lets one stream be coded in place.
void TProtection::RunChunks(TStream& source, TStream& destination, int64_t size, TCodingAction action) {
  std::vector<uint8_t> buffer(static_cast<size_t>(kChunkSize) * kChunksPerRead);
  int64_t readAt = source.Position();
  int64_t writeAt = destination.Position();
  int64_t done = 0;
  while (done < size) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(size - done, static_cast<int64_t>(buffer.size())));
    source.SetPosition(readAt);
    const size_t got = source.Read(buffer.data(), want);
    if (got == 0) break;
    readAt += static_cast<int64_t>(got);
    for (size_t at = 0; at < got; at += kChunkSize) {
      const auto n = static_cast<int32_t>(std::min<size_t>(kChunkSize, got - at));
      ProcessChunk(buffer.data() + at, n, action);
      ReportProgress(done + static_cast<int64_t>(at) + n, size);
    }
    if (action != caCalculate) {
      destination.SetPosition(writeAt);
      destination.Write(buffer.data(), got);
      writeAt += static_cast<int64_t>(got);
    }
    done += static_cast<int64_t>(got);
  }
}

namespace {

// One file by identity, not by name: "A.bin" and "a.bin" are two files here,
// while "x\..\a.bin" or a hard link is the same one.
bool IsSameFile(std::string_view a, std::string_view b) {
  const std::optional<platform::FileIdentity> first = platform::GetFileIdentity(a);
  return first && first == platform::GetFileIdentity(b);
}

}  // namespace

void TProtection::ProcessFile(std::string_view source, std::string_view destination, TCodingAction action) {
  if (action == caCalculate) {
    TFileStream file(source, platform::OpenMode::Read);
    ProcessStream(&file, nullptr, -1, action);
    return;
  }
  if (platform::Trim(destination).empty() || IsSameFile(source, destination)) {
    TFileStream file(source, platform::OpenMode::ReadWrite);
    ProcessStream(&file, nullptr, -1, action);
    file.Close();
    return;
  }
  TFileStream input(source, platform::OpenMode::Read);
  TFileReplacementStream output(destination);
  ProcessStream(&input, &output, -1, action);
  output.Commit();
}

std::string TProtection::ProcessText(std::string_view text, TCodingAction action, int32_t format) {
  if (text.empty()) return {};
  TMemoryStream stream(action == caDecode ? FormatToBytes(text, format) : std::string(text));
  ProcessStream(&stream, nullptr, -1, action);
  if (action == caDecode) return stream.TakeBytes();
  return BytesToFormat(stream.Bytes(), format);
}

int32_t TProtection::ProcessBuffer(void* buffer, int32_t size, TCodingAction action) {
  BeginAction(action);
  try {
    ProcessChunk(buffer, size, action);
  } catch (...) {
    EndAction(action);
    throw;
  }
  EndAction(action);
  return size;
}

}  // namespace kv::crypto

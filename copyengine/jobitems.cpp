#include "copyengine/jobitems.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "platform/errors.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

constexpr size_t kItemSize = TSyncItem::kSize;

// Where GetCopySize reads an item's fields without decoding it.
constexpr size_t kOffSourceSize = 512;
constexpr size_t kOffDestinationSize = 520;
constexpr size_t kOffAction = 549;
constexpr size_t kOffStateCode = 550;
constexpr size_t kOffDirection = 551;

bool IsFileStateCode(uint8_t code) { return (code >= 1 && code <= 7) || (code >= 13 && code <= 15); }

int64_t CopySizeOf(uint8_t direction, int64_t sourceSize, int64_t destinationSize) {
  int64_t size = 0;
  if (direction == kJobDirectionSourceToDestination) size = sourceSize;
  if (direction == kJobDirectionDestinationToSource) size = destinationSize;
  return size < 0 ? 0 : size;
}

int64_t Int64At(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

int64_t CopySizeOfRaw(const uint8_t* item) {
  if (!IsFileStateCode(item[kOffStateCode]) || item[kOffAction] != kActionCopy) return 0;
  return CopySizeOf(item[kOffDirection], Int64At(item + kOffSourceSize), Int64At(item + kOffDestinationSize));
}

}  // namespace

bool IsFileItem(const TSyncItem& item) { return IsFileStateCode(item.stateCode); }
bool IsFolderItem(const TSyncItem& item) { return IsFolderStateCode(item.stateCode); }
bool HasAction(uint8_t action) { return action >= kActionCopy && action <= kActionCreateFolderIfCopy; }

int64_t AddSizes(int64_t a, int64_t b) {
  return a > std::numeric_limits<int64_t>::max() - b ? std::numeric_limits<int64_t>::max() : a + b;
}

int64_t CopySizeOf(const TSyncItem& item) {
  return CopySizeOf(item.direction, item.sourceSize, item.destinationSize);
}

void TJobItems::ThrowReadError() const {
  throw JobFileError("Die Auftragsdatei \"" + path_ + "\" kann nicht gelesen werden: " +
                     platform::SysErrorMessage(platform::GetLastError()));
}

uint64_t TJobItems::CountItems() {
  uint64_t size = 0;
  if (!job_.Size(size)) ThrowReadError();
  count_ = static_cast<int64_t>(size / kItemSize);
  return size % kItemSize;
}

TSyncItem TJobItems::Read(int64_t index) {
  std::array<uint8_t, kItemSize> bytes;
  job_.Seek(static_cast<uint64_t>(index - 1) * kItemSize);
  if (!job_.ReadExact(bytes.data(), bytes.size())) ThrowReadError();
  return TSyncItem::Decode(bytes);
}

std::optional<TSyncItem> TJobItems::Next() {
  if (index_ >= count_) return std::nullopt;
  ++index_;
  return Read(index_);
}

std::optional<TSyncItem> TJobItems::NextItemOfFolder() {
  if (index_ >= count_) return std::nullopt;
  TSyncItem next = Read(index_ + 1);
  if (IsFolderItem(next)) return std::nullopt;
  ++index_;
  return next;
}

template <typename Pred>
bool TJobItems::FolderHasItem(Pred pred) {
  for (int64_t i = index_ + 1; i <= count_; ++i) {
    const TSyncItem next = Read(i);
    if (IsFolderItem(next)) return false;
    if (pred(next)) return true;
  }
  return false;
}

bool TJobItems::HasFolderContent() {
  return FolderHasItem([](const TSyncItem& i) { return IsFileItem(i) && i.action == kActionCopy; });
}

bool TJobItems::FolderHasAction() {
  return FolderHasItem([](const TSyncItem& i) { return HasAction(i.action); });
}

int64_t TJobItems::GetCopySize() {
  constexpr size_t kChunkItems = 1024;
  std::vector<uint8_t> chunk(kChunkItems * kItemSize);
  int64_t total = 0;
  job_.Seek(0);
  for (int64_t done = 0; done < count_;) {
    const size_t items = static_cast<size_t>(std::min<int64_t>(count_ - done, kChunkItems));
    if (!job_.ReadExact(chunk.data(), items * kItemSize)) ThrowReadError();
    for (size_t i = 0; i < items; ++i) total = AddSizes(total, CopySizeOfRaw(chunk.data() + i * kItemSize));
    done += static_cast<int64_t>(items);
  }
  return total;
}

}  // namespace kv

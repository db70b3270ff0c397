#pragma once
// How the block-based digests take data: a partly filled buffer is filled
// first (and compressed when full), whole blocks are compressed straight from
// the caller's data, and the rest waits in the buffer. The position in the
// buffer is the byte count modulo the block size.
#include <cstdint>
#include <cstring>

namespace kv::crypto {

// Reads the data as it goes: when the data is the digest's own state (as the
// keystream actions feed it), the bytes after a compression are read after it.
template <size_t N, typename Transform>
void FeedBlocks(uint8_t (&buffer)[N], uint64_t& count, const void* data, int32_t size, Transform transform) {
  if (size <= 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  auto left = static_cast<size_t>(size);
  const size_t used = count % N;
  count += left;
  if (used != 0) {
    const size_t fill = N - used;
    if (left < fill) {
      std::memcpy(buffer + used, p, left);
      return;
    }
    std::memcpy(buffer + used, p, fill);
    transform(buffer);
    p += fill;
    left -= fill;
  }
  for (; left >= N; p += N, left -= N) transform(p);
  std::memcpy(buffer, p, left);
}

}  // namespace kv::crypto

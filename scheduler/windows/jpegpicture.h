#pragma once
// JPEG pictures decoded through libjpeg into plain RGB pixels. A damaged
// picture (bad data, a file cut short, a kind that does not convert to RGB,
// absurd dimensions) gives nothing rather than a part of one, and never
// ends the program as libjpeg's own error handling would.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kv {

struct TRgbPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // rows top to bottom, 3 bytes a pixel
};

// Pictures above this many pixels are refused before anything is allocated.
inline constexpr int64_t kMaxJpegPixels = int64_t{1} << 24;

std::optional<TRgbPicture> DecodeJpeg(std::span<const uint8_t> data);

}  // namespace kv

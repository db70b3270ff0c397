// makeaboutpicture JPEG-FILE SOURCE-FILE
//
// Draws the about box's background (a dark blue to teal gradient with a
// light diagonal sweep, two open rings and a rule under the version line)
// and compresses it with libjpeg. Only integer arithmetic goes into the
// pixels and libjpeg's settings are fixed, so every build writes the same
// bytes. SOURCE-FILE gets the bytes as a C++ array for the program.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "scheduler/windows/aboutpicture.h"

namespace {

constexpr int kWidth = kv::kAboutPictureWidth;
constexpr int kHeight = kv::kAboutPictureHeight;
constexpr int kQuality = 90;

struct Rgb {
  int r, g, b;
};

int Lerp(int from, int to, int t1024) { return from + (to - from) * t1024 / 1024; }

int IntSqrt(int64_t v) {
  int64_t root = 0;
  for (int64_t bit = int64_t{1} << 40; bit != 0; bit >>= 2) {
    if (v >= root + bit) {
      v -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
  }
  return static_cast<int>(root);
}

int Clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Brightness of a ring of the given radius and half thickness (pixels) at a
// distance given in 1/16 pixel, fading over one pixel at its edges.
int RingLight(int distance16, int radius, int halfThickness, int strength) {
  const int off = std::abs(distance16 - radius * 16) - halfThickness * 16;
  if (off >= 16) return 0;
  return off <= 0 ? strength : strength * (16 - off) / 16;
}

Rgb PixelAt(int x, int y) {
  const int ty = y * 1024 / (kHeight - 1), tx = x * 1024 / (kWidth - 1);
  Rgb c{Lerp(8, 10, ty), Lerp(26, 86, ty) + tx * 10 / 1024, Lerp(60, 104, ty) + tx * 24 / 1024};

  // A light sweep from the lower left to the upper right.
  const int sweep = std::abs(x + 2 * y - 760);
  int light = sweep < 180 ? (180 - sweep) / 6 : 0;

  // Two open rings, the outer open at the top, the inner at the bottom.
  const int dx = x - 560, dy = y - 112;
  const int distance16 = IntSqrt((int64_t{dx} * dx + int64_t{dy} * dy) * 256);
  if (!(dy < 0 && std::abs(dx) < 14)) light += RingLight(distance16, 82, 3, 46);
  if (!(dy > 0 && std::abs(dx) < 12)) light += RingLight(distance16, 60, 2, 38);

  // A rule between the version line and the contact lines.
  if (y >= 258 && y <= 259 && x >= 88 && x <= 640) light += 40 - std::abs(x - 364) * 30 / 276;

  // Darker towards the edges.
  const int edge = std::min(std::min(x, kWidth - 1 - x), std::min(y, kHeight - 1 - y));
  const int shade = edge < 48 ? (48 - edge) / 2 : 0;

  return Rgb{Clamp(c.r + light - shade), Clamp(c.g + light - shade), Clamp(c.b + light - shade)};
}

std::vector<uint8_t> Draw() {
  std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
  size_t i = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const Rgb c = PixelAt(x, y);
      rgb[i++] = static_cast<uint8_t>(c.r);
      rgb[i++] = static_cast<uint8_t>(c.g);
      rgb[i++] = static_cast<uint8_t>(c.b);
    }
  }
  return rgb;
}

// libjpeg's own error handling prints the reason and ends the program,
// which fails the build step: what a build tool should do.
std::vector<uint8_t> Compress(std::vector<uint8_t>& rgb) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = kWidth;
  info.image_height = kHeight;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = rgb.data() + size_t{info.next_scanline} * kWidth * 3;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return jpeg;
}

std::string AsSource(const std::vector<uint8_t>& jpeg) {
  std::string out =
      "// Written by makeaboutpicture while building: the about box's background.\n"
      "#include \"scheduler/windows/aboutpicture.h\"\n\n"
      "namespace kv {\nnamespace {\n\nconstexpr uint8_t kPicture[] = {";
  char hex[8];
  for (size_t i = 0; i < jpeg.size(); ++i) {
    if (i % 16 == 0) out += "\n   ";
    std::snprintf(hex, sizeof hex, " 0x%02x,", jpeg[i]);
    out += hex;
  }
  out +=
      "\n};\n\n}  // namespace\n\n"
      "std::span<const uint8_t> AboutBackgroundPicture() { return kPicture; }\n\n"
      "}  // namespace kv\n";
  return out;
}

bool WriteFile(const char* name, const void* data, size_t size) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: makeaboutpicture JPEG-FILE SOURCE-FILE\n");
    return 2;
  }
  std::vector<uint8_t> rgb = Draw();
  const std::vector<uint8_t> jpeg = Compress(rgb);
  const std::string source = AsSource(jpeg);
  if (!WriteFile(argv[1], jpeg.data(), jpeg.size()) || !WriteFile(argv[2], source.data(), source.size())) {
    std::fprintf(stderr, "makeaboutpicture: cannot write %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}

#include "scheduler/windows/jpegpicture.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

namespace kv {
namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return; the default one ends the process. This one jumps back into
// DecodeInto, which gives the picture up.
struct JumpingErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf escape;
};

[[noreturn]] void JumpBack(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JumpingErrorManager*>(info->err)->escape, 1);
}

// Warnings (corrupt data, a premature end) are counted, not printed.
void CountOnly(j_common_ptr) {}

bool SizeAcceptable(const jpeg_decompress_struct& info) {
  return info.output_width > 0 && info.output_height > 0 &&
         int64_t{info.output_width} * info.output_height <= kMaxJpegPixels;
}

// Between setjmp and the last libjpeg call no object with a destructor is
// created here (the longjmp would skip it); the pixels go into the caller's
// picture, which outlives the jump.
bool DecodeInto(std::span<const uint8_t> data, TRgbPicture& picture) {
  jpeg_decompress_struct info{};
  JumpingErrorManager errors{};
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = JumpBack;
  errors.base.output_message = CountOnly;
  if (setjmp(errors.escape) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_calc_output_dimensions(&info);
  if (!SizeAcceptable(info)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_start_decompress(&info);
  picture.width = static_cast<int>(info.output_width);
  picture.height = static_cast<int>(info.output_height);
  const size_t stride = size_t{info.output_width} * 3;
  picture.rgb.resize(stride * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = picture.rgb.data() + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  const bool clean = errors.base.num_warnings == 0;
  jpeg_destroy_decompress(&info);
  return clean;
}

}  // namespace

std::optional<TRgbPicture> DecodeJpeg(std::span<const uint8_t> data) {
  if (data.empty()) return std::nullopt;
  TRgbPicture picture;
  if (!DecodeInto(data, picture)) return std::nullopt;
  return picture;
}

}  // namespace kv

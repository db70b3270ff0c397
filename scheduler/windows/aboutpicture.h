#pragma once
// The about box's background: our own picture, drawn and compressed by
// scheduler/windows/picture/makeaboutpicture.cpp while the program is built
// and compiled into it.
#include <cstdint>
#include <span>

namespace kv {

// The size it is drawn in: the about box's client area.
inline constexpr int kAboutPictureWidth = 675;
inline constexpr int kAboutPictureHeight = 562;

// The JPEG file's bytes.
std::span<const uint8_t> AboutBackgroundPicture();

}  // namespace kv

#include "platform/ui/geometry.h"

#include <cstdint>
#include <cstdlib>

namespace kv::platform::ui {

int MulDiv(int value, int numerator, int denominator) {
  if (denominator == 0) return value;
  const int64_t product = int64_t{value} * numerator;
  int64_t quotient = product / denominator;
  const int64_t remainder = product % denominator;
  if (2 * std::llabs(remainder) >= std::llabs(int64_t{denominator}))
    quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
  return static_cast<int>(quotient);
}

int ScaleDivisor(int dpi, int dpiOffset) {
  if (dpi == kDesignDpi) return 0;
  const int divisor = dpi + dpiOffset;
  return divisor > 0 ? divisor : 0;
}

int ScaleLength(int value, int divisor) { return divisor == 0 ? value : MulDiv(value, kDesignDpi, divisor); }

Rect ScaleControlRect(const Rect& rect, int dpi, int dpiOffset) {
  const int divisor = ScaleDivisor(dpi, dpiOffset);
  if (divisor == 0) return rect;
  const int left = ScaleLength(rect.left, divisor);
  const int top = ScaleLength(rect.top, divisor);
  return Rect{left, top, ScaleLength(rect.left + rect.width, divisor) - left,
              ScaleLength(rect.top + rect.height, divisor) - top};
}

Rect ScaleWindowRect(const Rect& rect, int dpi, int dpiOffset) {
  const int divisor = ScaleDivisor(dpi, dpiOffset);
  if (divisor == 0) return rect;
  return Rect{rect.left, rect.top, ScaleLength(rect.width, divisor), ScaleLength(rect.height, divisor)};
}

Rect CenteredIn(const Rect& area, int width, int height) {
  return Rect{area.left + (area.width - width) / 2, area.top + (area.height - height) / 2, width, height};
}

}  // namespace kv::platform::ui

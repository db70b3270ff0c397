#include "platform/gui/geometry.h"

#include <QFont>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <cstdint>
#include <vector>

namespace kv::platform::gui {
namespace {

int ScaleLength(int value, int divisor) { return MulDiv(value, kDesignDpi, divisor); }

// A widget placed by its parent's layout is moved by the layout, not by us.
bool IsLaidOut(const QWidget& widget) {
  const QWidget* parent = widget.parentWidget();
  return parent != nullptr && parent->layout() != nullptr && parent->layout()->indexOf(&widget) >= 0;
}

QFont ScaledFont(QFont font, int divisor) {
  if (font.pointSizeF() > 0)
    font.setPointSizeF(font.pointSizeF() * kDesignDpi / divisor);
  else if (font.pixelSize() > 0)
    font.setPixelSize(ScaleLength(font.pixelSize(), divisor));
  return font;
}

bool SameSize(const QFont& a, const QFont& b) {
  return a.pointSizeF() == b.pointSizeF() && a.pixelSize() == b.pixelSize();
}

// Every font ends at its scaled size. A child that inherits its size gets
// it from its parent; one with a size of its own is set here. Which is which
// shows afterwards: an inheriting font has already followed its parent.
void ScaleFonts(QWidget& window, const QList<QWidget*>& children, int divisor) {
  std::vector<QFont> wanted;
  wanted.reserve(children.size());
  for (QWidget* child : children) wanted.push_back(ScaledFont(child->font(), divisor));
  window.setFont(ScaledFont(window.font(), divisor));
  for (qsizetype i = 0; i < children.size(); ++i) {
    QWidget& child = *children[i];
    if (SameSize(child.font(), wanted[i])) continue;
    QFont font = child.font();
    if (wanted[i].pointSizeF() > 0)
      font.setPointSizeF(wanted[i].pointSizeF());
    else
      font.setPixelSize(wanted[i].pixelSize());
    child.setFont(font);
  }
}

QSize ScaleLimit(QSize size, int divisor) {
  auto scale = [&](int v) { return v >= QWIDGETSIZE_MAX || v <= 0 ? v : ScaleLength(v, divisor); };
  return QSize(scale(size.width()), scale(size.height()));
}

}  // namespace

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

int ScreenDpi(const QWidget* widget) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return kDesignDpi;
  QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return kDesignDpi;
  return static_cast<int>(std::lround(screen->logicalDotsPerInchX()));
}

void ScaleWindow(QWidget& window, int dpi, int dpiOffset) {
  const int divisor = ScaleDivisor(dpi, dpiOffset);
  if (divisor == 0) return;
  // Limits first, or the new size would be clamped to the old ones.
  const QSize minimum = ScaleLimit(window.minimumSize(), divisor);
  const QSize maximum = ScaleLimit(window.maximumSize(), divisor);
  window.setMinimumSize(0, 0);
  window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  const Rect size = ScaleWindowRect(Rect{0, 0, window.width(), window.height()}, dpi, dpiOffset);
  window.resize(size.width, size.height);
  window.setMinimumSize(minimum);
  window.setMaximumSize(maximum);

  const QList<QWidget*> children = window.findChildren<QWidget*>();
  ScaleFonts(window, children, divisor);
  for (QWidget* child : children) {
    if (child->isWindow() || IsLaidOut(*child)) continue;
    const QRect g = child->geometry();
    const Rect r = ScaleControlRect(Rect{g.x(), g.y(), g.width(), g.height()}, dpi, dpiOffset);
    child->setGeometry(r.left, r.top, r.width, r.height);
  }
}

Rect CenteredIn(const Rect& area, int width, int height) {
  return Rect{area.left + (area.width - width) / 2, area.top + (area.height - height) / 2, width, height};
}

void CenterOnDesktop(QWidget& window) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect a = screen->availableGeometry();
  const Rect r = CenteredIn(Rect{a.x(), a.y(), a.width(), a.height()}, window.width(), window.height());
  window.move(r.left, r.top);
}

}  // namespace kv::platform::gui

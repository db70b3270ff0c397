#include "platform/gui/geometry.h"

#include <QFont>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <vector>

namespace kv::platform::gui {
namespace {

using ui::kDesignDpi;
using ui::Rect;
using ui::ScaleLength;

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

int ScreenDpi(const QWidget* widget) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return kDesignDpi;
  QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return kDesignDpi;
  return static_cast<int>(std::lround(screen->logicalDotsPerInchX()));
}

void ScaleWindow(QWidget& window, int dpi, int dpiOffset) {
  const int divisor = ui::ScaleDivisor(dpi, dpiOffset);
  if (divisor == 0) return;
  // Limits first, or the new size would be clamped to the old ones.
  const QSize minimum = ScaleLimit(window.minimumSize(), divisor);
  const QSize maximum = ScaleLimit(window.maximumSize(), divisor);
  window.setMinimumSize(0, 0);
  window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  const Rect size = ui::ScaleWindowRect(Rect{0, 0, window.width(), window.height()}, dpi, dpiOffset);
  window.resize(size.width, size.height);
  window.setMinimumSize(minimum);
  window.setMaximumSize(maximum);

  const QList<QWidget*> children = window.findChildren<QWidget*>();
  ScaleFonts(window, children, divisor);
  for (QWidget* child : children) {
    if (child->isWindow() || IsLaidOut(*child)) continue;
    const QRect g = child->geometry();
    const Rect r = ui::ScaleControlRect(Rect{g.x(), g.y(), g.width(), g.height()}, dpi, dpiOffset);
    child->setGeometry(r.left, r.top, r.width, r.height);
  }
}

void CenterOnDesktop(QWidget& window) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect a = screen->availableGeometry();
  const Rect r = ui::CenteredIn(Rect{a.x(), a.y(), a.width(), a.height()}, window.width(), window.height());
  window.move(r.left, r.top);
}

}  // namespace kv::platform::gui

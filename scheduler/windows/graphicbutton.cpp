#include "scheduler/windows/graphicbutton.h"

#include <QMouseEvent>
#include <QPainter>

#include "platform/gui/screencursor.h"

namespace kv {
namespace {

constexpr int kDegrees = 16;  // QPainter angles are in 1/16 degree

Qt::Alignment CaptionAlignment(TAlignment align) {
  switch (align) {
    case TAlignment::taLeftJustify:
      return Qt::AlignLeft;
    case TAlignment::taRightJustify:
      return Qt::AlignRight;
    case TAlignment::taCenter:
      break;
  }
  return Qt::AlignHCenter;
}

void ShowCursor(Qt::CursorShape shape) {
  if (shape == Qt::ArrowCursor)
    platform::gui::ResetScreenCursor();
  else
    platform::gui::SetScreenCursor(shape);
}

}  // namespace

TGraphicButton::TGraphicButton(QWidget* parent) : QWidget(parent) {
  resize(90, 25);
  setMouseTracking(true);  // moves without a pressed button, for the hover
}

void TGraphicButton::setCaption(const QString& caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  update();
}

void TGraphicButton::setAlign(TAlignment align) {
  if (align_ == align) return;
  align_ = align;
  update();
}

void TGraphicButton::setBrush(const QBrush& brush) {
  brush_ = brush;
  StyleChanged();
}

void TGraphicButton::setOutPen(const QPen& pen) {
  outPen_ = pen;
  StyleChanged();
}

bool TGraphicButton::HitTest(const QPoint& point) const {
  return leftDisc_.contains(point) || middle_.contains(point) || rightDisc_.contains(point);
}

// Rectangles are given as the edges they span, the right and bottom edge
// outside, so a square of side H covers H pixels.
void TGraphicButton::paintEvent(QPaintEvent*) {
  const int w = width(), h = height(), half = h / 2;
  QPainter painter(this);
  painter.setPen(outPen_);
  painter.setBrush(brush_);
  painter.drawArc(QRect(0, 0, h - 1, h - 1), 90 * kDegrees, 180 * kDegrees);
  painter.drawLine(half, 0, w - half, 0);
  painter.drawArc(QRect(w - h, 0, h - 1, h - 1), 270 * kDegrees, 180 * kDegrees);
  painter.drawLine(half, h - 1, w - half, h - 1);

  const QRect inner(half, 1, w - 2 * half, h - 2);
  painter.setPen(Qt::NoPen);
  painter.drawRect(inner);
  painter.drawChord(QRect(1, 1, h - 2, h - 2), 90 * kDegrees, 180 * kDegrees);
  painter.drawChord(QRect(w - h, 1, h - 1, h - 2), 270 * kDegrees, 180 * kDegrees);
  RebuildRegions();

  painter.setPen(palette().color(QPalette::WindowText));
  painter.setFont(font());
  painter.drawText(inner, static_cast<int>(Qt::TextSingleLine | Qt::AlignVCenter | CaptionAlignment(align_)),
                   caption_);
}

void TGraphicButton::RebuildRegions() {
  const int w = width(), h = height(), half = h / 2;
  leftDisc_ = QRegion(QRect(0, 0, h, h), QRegion::Ellipse);
  middle_ = QRegion(QRect(half, 1, w - 2 * half, h - 2));
  rightDisc_ = QRegion(QRect(w - h, 0, h, h), QRegion::Ellipse);
}

void TGraphicButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (!HitTest(point)) {
    // Out of the pill but still on the button: hovering stays as it was.
    platform::gui::ResetScreenCursor();
    return;
  }
  QWidget::mouseMoveEvent(event);
  emit mouseMoved(point);
  if (!hovering_) emit entered();
  hovering_ = true;
  ShowCursor(moveCursor_);
}

void TGraphicButton::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && HitTest(event->position().toPoint())) emit clicked();
}

void TGraphicButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  platform::gui::ResetScreenCursor();
  hovering_ = false;
}

}  // namespace kv

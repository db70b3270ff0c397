#pragma once
// TGraphicButton: a pill-shaped button drawn on its parent (no focus, no
// window of its own): an outline of two half circles joined by two lines,
// filled with its brush, its caption inside. Only the pill counts: the
// hit regions are those of the last paint, so before the first paint no
// point is inside, and the corners of the rectangle never are. The caption
// is drawn in the palette's window-text colour.
#include <QBrush>
#include <QPen>
#include <QRegion>
#include <QWidget>

namespace kv {

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

class TGraphicButton : public QWidget {
  Q_OBJECT

 public:
  explicit TGraphicButton(QWidget* parent = nullptr);

  QString caption() const { return caption_; }
  void setCaption(const QString& caption);
  TAlignment align() const { return align_; }
  void setAlign(TAlignment align);
  // Copied into the button's own brush and pen.
  const QBrush& brush() const { return brush_; }
  void setBrush(const QBrush& brush);
  const QPen& outPen() const { return outPen_; }
  void setOutPen(const QPen& pen);
  // The screen cursor while the mouse is over the pill (the arrow: none).
  Qt::CursorShape moveCursor() const { return moveCursor_; }
  void setMoveCursor(Qt::CursorShape cursor) { moveCursor_ = cursor; }

  // In the pill as last painted (widget coordinates).
  bool HitTest(const QPoint& point) const;
  bool hovering() const { return hovering_; }

  // Repaints after the brush or the pen changed.
  void StyleChanged() { update(); }

 signals:
  // A release of the left button over the pill.
  void clicked();
  // The mouse came onto the pill (once until it leaves the button).
  void entered();
  // The mouse moved over the pill.
  void mouseMoved(const QPoint& point);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void RebuildRegions();

  QString caption_;
  TAlignment align_ = TAlignment::taCenter;
  QBrush brush_{Qt::white};
  QPen outPen_{Qt::black};
  Qt::CursorShape moveCursor_ = Qt::ArrowCursor;
  QRegion leftDisc_, middle_, rightDisc_;
  bool hovering_ = false;
};

}  // namespace kv

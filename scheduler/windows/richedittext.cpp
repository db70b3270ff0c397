#include "scheduler/windows/richedittext.h"

#include <QEvent>
#include <QScrollBar>

namespace kv {
namespace {

void KeepArrow(QWidget& widget) {
  if (widget.cursor().shape() != Qt::ArrowCursor) widget.setCursor(Qt::ArrowCursor);
}

}  // namespace

TRichEditText::TRichEditText(QWidget* parent) : QTextEdit(parent) {
  KeepArrow(*viewport());
  horizontalScrollBar()->setCursor(Qt::ArrowCursor);
  verticalScrollBar()->setCursor(Qt::ArrowCursor);
}

// The text view sets its cursor as the mouse moves (the I-beam, a hand over
// links) and when its interaction flags change; whatever it set, the arrow
// comes back before the pointer is drawn.
bool TRichEditText::viewportEvent(QEvent* event) {
  const bool handled = QTextEdit::viewportEvent(event);
  switch (event->type()) {
    case QEvent::CursorChange:
    case QEvent::Enter:
    case QEvent::MouseMove:
    case QEvent::HoverMove:
      KeepArrow(*viewport());
      break;
    default:
      break;
  }
  return handled;
}

}  // namespace kv

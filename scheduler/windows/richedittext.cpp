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

// The text view changes its cursor now and then (a hand over a list item's
// check mark); whatever it sets, the arrow comes back at once.
bool TRichEditText::viewportEvent(QEvent* event) {
  const bool handled = QTextEdit::viewportEvent(event);
  if (event->type() == QEvent::CursorChange) KeepArrow(*viewport());
  return handled;
}

}  // namespace kv

#pragma once
// TRichEditText: a rich-text view for help texts that never shows the text
// cursor. The text view would switch to the I-beam whenever the mouse
// comes over the text; this one keeps the arrow there, and its scroll bars
// have the arrow as well.
#include <QTextEdit>

namespace kv {

class TRichEditText : public QTextEdit {
 public:
  explicit TRichEditText(QWidget* parent = nullptr);

 protected:
  bool viewportEvent(QEvent* event) override;
};

}  // namespace kv

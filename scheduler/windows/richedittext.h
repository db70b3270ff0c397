#pragma once
// TRichEditText: a rich-text view for help texts that never shows the text
// cursor: over the text the pointer stays the arrow, where the text view
// would show the I-beam, and its scroll bars have the arrow as well.
#include <QTextEdit>

namespace kv {

class TRichEditText : public QTextEdit {
 public:
  explicit TRichEditText(QWidget* parent = nullptr);

 protected:
  bool viewportEvent(QEvent* event) override;
};

}  // namespace kv

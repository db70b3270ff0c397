#pragma once
// The message box that shows a question on the window thread, as the class
// library's message dialogs looked: the kind's icon, German button texts,
// the first button default, Escape the safe answer.
#include "platform/ui/question.h"

class QMessageBox;

namespace kv::platform::gui {

// A new box for the question, not yet shown; the caller owns it.
QMessageBox* NewQuestionBox(const ui::Question& question);
// The answer of a finished box; the safe answer when it was closed
// without a button.
ui::Answer AnswerOf(const QMessageBox& box, const ui::Question& question);

}  // namespace kv::platform::gui

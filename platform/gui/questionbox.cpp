#include "platform/gui/questionbox.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include <vector>

namespace kv::platform::gui {
namespace {

QMessageBox::Icon IconOf(ui::QuestionKind kind) {
  switch (kind) {
    case ui::QuestionKind::Information: return QMessageBox::Information;
    case ui::QuestionKind::Warning: return QMessageBox::Warning;
    case ui::QuestionKind::Error: return QMessageBox::Critical;
    case ui::QuestionKind::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButton StandardButtonOf(ui::Answer answer) {
  switch (answer) {
    case ui::Answer::Ok: return QMessageBox::Ok;
    case ui::Answer::Cancel: return QMessageBox::Cancel;
    case ui::Answer::Yes: return QMessageBox::Yes;
    case ui::Answer::No: return QMessageBox::No;
  }
  return QMessageBox::NoButton;
}

}  // namespace

QMessageBox* NewQuestionBox(const ui::Question& question) {
  auto* box = new QMessageBox(IconOf(question.kind), QString::fromStdString(ui::CaptionOf(question)),
                              QString::fromStdString(question.text));
  const std::vector<ui::QuestionButton> buttons = ui::ButtonsOf(question.buttons);
  const ui::Answer safe = ui::SafeAnswer(question.buttons);
  for (const ui::QuestionButton& spec : buttons) {
    QPushButton* button = box->addButton(StandardButtonOf(spec.answer));
    button->setText(QString::fromUtf8(spec.text));
    if (spec.answer == safe) box->setEscapeButton(button);
  }
  box->setDefaultButton(StandardButtonOf(buttons.front().answer));
  return box;
}

ui::Answer AnswerOf(const QMessageBox& box, const ui::Question& question) {
  const QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
  for (const ui::QuestionButton& spec : ui::ButtonsOf(question.buttons))
    if (StandardButtonOf(spec.answer) == clicked) return spec.answer;
  return ui::SafeAnswer(question.buttons);
}

}  // namespace kv::platform::gui

#include "ftp/windows/ftpmsgwidget.h"

#include <QFont>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>

#include "platform/gui/remotewidget.h"

namespace kv {
namespace {

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

TMFtpMessengerWidget::TMFtpMessengerWidget(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName("TMFtpMessenger");
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setMaximumBlockCount(static_cast<int>(kMessengerMaxLines));
  ApplyLook(look_);
}

void TMFtpMessengerWidget::ApplyLook(const MessengerLook& look) {
  if (lookApplied_ && look == look_) return;
  look_ = look;
  lookApplied_ = true;
  QFont font(ToQt(look.font));
  font.setFixedPitch(look.fixedPitch);
  font.setStyleHint(look.fixedPitch ? QFont::TypeWriter : QFont::SansSerif);
  setFont(font);
}

void TMFtpMessengerWidget::Apply(const MessengerChannel::Update& update) {
  ApplyLook(update.look);
  if (update.restart) {
    clear();
    hasLines_ = false;
  }
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  for (const MessengerLine& line : update.lines) {
    QTextCharFormat format;
    format.setForeground(QColor::fromRgb(line.color));
    if (hasLines_) cursor.insertBlock();
    hasLines_ = true;
    cursor.insertText(ToQt(line.text), format);
  }
  if (look_.autoScroll) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void BindMessenger(TMFtpMessengerWidget& widget, const std::shared_ptr<MessengerChannel>& channel) {
  QPointer<TMFtpMessengerWidget> guard(&widget);
  channel->Attach([guard](const MessengerChannel::Update& update) {
    if (guard) guard->Apply(update);
  });
  QObject::connect(&widget, &QObject::destroyed, [channel] { channel->Detach(); });
}

namespace {

class MessengerWindow : public IMessengerView {
 public:
  explicit MessengerWindow(std::shared_ptr<MessengerChannel> channel)
      : remote_([channel] {
          auto* widget = new TMFtpMessengerWidget;
          widget->setWindowTitle("FTP");
          BindMessenger(*widget, channel);
          widget->show();
          return widget;
        }) {}

 private:
  platform::gui::RemoteWidget<TMFtpMessengerWidget> remote_;
};

}  // namespace

void InstallMessengerWindow() {
  SetMessengerViewFactory([](std::shared_ptr<MessengerChannel> channel) -> std::unique_ptr<IMessengerView> {
    return std::make_unique<MessengerWindow>(std::move(channel));
  });
}

}  // namespace kv

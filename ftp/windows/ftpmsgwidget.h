#pragma once
// The FTP log view on screen: a read-only text of the lines its model
// (TMFtpMessenger, ftp/ftpmsg.h) writes, each in its colour, fed through
// the model's channel. It decides nothing itself.
#include <QPlainTextEdit>

#include <memory>

#include "ftp/ftpmsg.h"

namespace kv {

class TMFtpMessengerWidget : public QPlainTextEdit {
 public:
  // Read-only, without word wrap and without an input method; keeps as
  // many lines as the model does.
  explicit TMFtpMessengerWidget(QWidget* parent = nullptr);

  void Apply(const MessengerChannel::Update& update);

 private:
  void ApplyLook(const MessengerLook& look);
  MessengerLook look_;
  bool lookApplied_ = false;
  // The document cannot tell an empty first line from no line at all.
  bool hasLines_ = false;
};

// Window thread: the widget shows the channel's lines for as long as both
// live.
void BindMessenger(TMFtpMessengerWidget& widget, const std::shared_ptr<MessengerChannel>& channel);

// Gives every TMFtpMessenger that is not hidden a window of its own. Called
// once by the program that has a window thread.
void InstallMessengerWindow();

}  // namespace kv

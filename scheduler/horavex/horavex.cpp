// Horavex: the scheduler in the notification area. One instance per user;
// it starts the scheduled profiles when they fall due, follows the profile
// editor's messages to the window class "TtfTimerMain", and makes the
// shutdown runs when the session ends. No command line. Without a display
// it runs offscreen and writes the text of its boxes to standard error.
#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "copyengine/windows/copywidget.h"
#include "crypto/cipher.h"
#include "platform/beep.h"
#include "platform/errors.h"
#include "platform/filelock.h"
#include "platform/gui/qtbackend.h"
#include "platform/session.h"
#include "platform/text.h"
#include "platform/ui/windowthread.h"
#include "platform/windowmessages.h"
#include "scheduler/windows/timermainwindow.h"
#include "synclist/windows/kestronizewindow.h"

using namespace kv;

namespace {

// The named mutex "Timer.exe": a lock of the user's, held until the
// process ends, however it ends.
std::optional<platform::ExclusiveLock> CheckSingleInstance() {
  std::optional<platform::ExclusiveLock> lock = platform::ExclusiveLock::TryAcquire("Timer.exe");
  if (!lock && platform::GetLastError() != EWOULDBLOCK) {
    std::fprintf(stderr, "Horavex: keine Sperre für die einzige Instanz: %s\n",
                 platform::SysErrorMessage(platform::GetLastError()).c_str());
  }
  return lock;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

void ReceiveMessages(platform::WindowMessageListener& listener, TtfTimerMainWidget& window) {
  for (const platform::ReceivedMessage& received : listener.Receive()) {
    if (!received.message) {
      std::fprintf(stderr, "Horavex: Datagramm verworfen: %s\n", received.refusal.c_str());
      continue;
    }
    const platform::WindowMessage& m = *received.message;
    std::fprintf(stderr, "Horavex: Nachricht %u (%lld, %lld) empfangen\n", m.message, static_cast<long long>(m.wParam),
                 static_cast<long long>(m.lParam));
    window.HandleWindowMessage(m);
  }
}

void TakeSignals(platform::SessionSignals& sessionSignals, TtfTimerMainWidget& window) {
  for (platform::SessionSignal arrived : sessionSignals.Take()) {
    switch (arrived) {
      case platform::SessionSignal::LogOff:
        std::fprintf(stderr, "Horavex: Signal: Abmelden\n");
        window.QueryEndSession(true);
        break;
      case platform::SessionSignal::Shutdown:
        std::fprintf(stderr, "Horavex: Signal: Herunterfahren\n");
        window.QueryEndSession(false);
        break;
      case platform::SessionSignal::Terminate:
        std::fprintf(stderr, "Horavex: Signal: Beenden\n");
        window.EndProgram();
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<platform::ExclusiveLock> instance = CheckSingleInstance();
  if (!instance) return 0;
  // The program carries the class library: its digests, checksums, ciphers
  // and text formats are registered for the program's whole life.
  crypto::CipherStartup();
  platform::SessionSignals& sessionSignals = platform::SessionSignals::Install();
  if (!HasDisplay()) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrovane Timer"));
  // A dialog closed while the main window is hidden must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);
  platform::gui::SetBoxesToStandardError(QGuiApplication::platformName() == QLatin1String("offscreen"));
  platform::gui::InstallQtWindowBackend();
  InstallCopyWindow();
  InstallKestronizeWindow();
  platform::SetBeepSink([] { platform::ui::WindowThread::Post([] { QApplication::beep(); }); });

  std::optional<platform::WindowMessageListener> listener =
      platform::WindowMessageListener::Create(kTimerMainClass);
  if (!listener) {
    std::fprintf(stderr, "Horavex: keine Nachrichten an \"%s\" möglich: %s\n", std::string(kTimerMainClass).c_str(),
                 platform::SysErrorMessage(platform::GetLastError()).c_str());
  }

  int exitStatus = 0;
  {
    TtfTimerMainWidget window;
    if (std::optional<int> early = window.FormCreate()) return *early;
    QSocketNotifier signalNotifier(sessionSignals.Fd(), QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &window,
                     [&] { TakeSignals(sessionSignals, window); });
    std::optional<QSocketNotifier> messageNotifier;
    if (listener) {
      messageNotifier.emplace(listener->Fd(), QSocketNotifier::Read);
      QObject::connect(&*messageNotifier, &QSocketNotifier::activated, &window,
                       [&] { ReceiveMessages(*listener, window); });
    }
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&](QSessionManager& manager) {
      if (!window.model().WMQueryEndSession(true)) manager.cancel();
    });
    // A request to end that came before the loop.
    TakeSignals(sessionSignals, window);
    exitStatus = window.model().Closing() ? 0 : app.exec();
    window.EndProgram();
  }
  platform::SetBeepSink({});
  return exitStatus;
}

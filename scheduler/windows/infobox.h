#pragma once
// TTFInfoBox: the scheduler's about window. A borderless picture with the
// version, the project's contact lines and a pill button that closes it;
// every key is swallowed, so only the button (or the window manager)
// closes it. The web line opens the project's page in the browser.
#include <QDialog>
#include <QRect>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/process.h"
#include "scheduler/windows/aboutpicture.h"

class QFrame;
class QLabel;

namespace kv {

class TGraphicButton;

inline constexpr char kInfoBoxCaption[] = "Kestrovane [ Info ]";
inline constexpr char kTimerVersion[] = "4.0.12";
inline constexpr char kWebAddress[] = "https://kestrovane.example/";
inline constexpr int kInfoBoxWidth = 683;
inline constexpr int kInfoBoxHeight = 589;

// Where the box is shown; what a test gives in place of the real screen.
struct TInfoBoxScreen {
  int dpi = 96;
  // The screen's area without panels; none: centred on the desktop.
  std::optional<QRect> workArea;
};

class TTFInfoBox : public QDialog {
  Q_OBJECT

 public:
  // The real screen's values, and the program's own picture, unless given.
  explicit TTFInfoBox(QWidget* parent = nullptr, std::optional<TInfoBoxScreen> screen = std::nullopt,
                      std::span<const uint8_t> picture = AboutBackgroundPicture());

  QLabel* label(const char* name) const;
  TGraphicButton* gbEnd() const { return gbEnd_; }
  QLabel* tiBack() const { return tiBack_; }
  // The programs started by clicks on the web line, oldest first.
  const std::vector<platform::StartedProcess>& webLaunches() const { return webLaunches_; }

  void tlWebClick();

 public slots:
  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls(std::span<const uint8_t> picture);
  void CreateBackground(std::span<const uint8_t> picture);
  void CreateTexts();
  void CreateLabel(const char* name, int left, int top, int pointSize, const QString& text);
  void PlaceInWorkArea(const TInfoBoxScreen& screen);
  void tlWebMouseMove();
  void tiBackMouseMove();

  QFrame* panel2_ = nullptr;
  QLabel* tiBack_ = nullptr;
  QLabel* tlWeb_ = nullptr;
  TGraphicButton* gbEnd_ = nullptr;
  std::vector<platform::StartedProcess> webLaunches_;
};

}  // namespace kv

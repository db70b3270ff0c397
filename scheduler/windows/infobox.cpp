#include "scheduler/windows/infobox.h"

#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <string>

#include "platform/errors.h"
#include "platform/gui/geometry.h"
#include "platform/gui/screencursor.h"
#include "scheduler/windows/graphicbutton.h"
#include "scheduler/windows/jpegpicture.h"

namespace kv {
namespace {

namespace gui = platform::gui;
namespace ui = platform::ui;

constexpr char kVersionText[] = "Timer Modul Version:";
constexpr char kCopyright[] = "Copyright © das Kestrovane-Projekt und seine Mitwirkenden";
constexpr char kFontFace[] = "Times New Roman";
// Shown where the picture is missing or damaged: white text stays readable.
const QColor kPlainBackground(12, 44, 74);

struct ContactLine {
  const char* name;
  int left, top, pointSize;
  const char* text;
};
constexpr ContactLine kContactLines[] = {
    {"tlFirm", 104, 292, 12, "Kestrovane"},
    {"tlStreet", 104, 316, 11, "Ordnerabgleich"},
    {"tlTown", 104, 340, 11, "ohne Aufsicht"},
    {"tlLand", 104, 364, 11, "für Linux"},
    {"tlTel", 344, 292, 11, "Fragen und Fehlerberichte"},
    {"tlFax", 344, 316, 11, "über die Projektseite:"},
    {"tlWeb", 344, 340, 11, "kestrovane.example"},
    {"tlMail", 344, 364, 11, "kontakt@kestrovane.example"},
};
constexpr int kVersionLeft = 104, kVersionTop = 196;
constexpr int kBulletSize = 10, kBulletGap = 16;

QFont BoxFont(int pointSize, bool bold) {
  QFont font(kFontFace, pointSize);
  font.setStyleHint(QFont::Serif);
  font.setBold(bold);
  return font;
}

void MakeWhite(QWidget& widget) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::WindowText, Qt::white);
  widget.setPalette(palette);
}

std::optional<QPixmap> PictureOf(std::span<const uint8_t> jpeg) {
  std::optional<TRgbPicture> decoded = DecodeJpeg(jpeg);
  if (!decoded) return std::nullopt;
  const QImage image(decoded->rgb.data(), decoded->width, decoded->height, decoded->width * 3,
                     QImage::Format_RGB888);
  return QPixmap::fromImage(image);  // a deep copy: the pixels go with `decoded`
}

std::optional<QRect> ScreenWorkArea(const QWidget& widget) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return std::nullopt;
  QScreen* screen = widget.screen() != nullptr ? widget.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return std::nullopt;
  return screen->availableGeometry();
}

}  // namespace

TTFInfoBox::TTFInfoBox(QWidget* parent, std::optional<TInfoBoxScreen> screen, std::span<const uint8_t> picture)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName("TFInfoBox");
  setWindowTitle(QString::fromUtf8(kInfoBoxCaption));
  setFixedSize(kInfoBoxWidth, kInfoBoxHeight);
  CreateControls(picture);
  label("tlVersion")->setText(label("tlVersion")->text() + " " + kTimerVersion);

  const TInfoBoxScreen where = screen.value_or(TInfoBoxScreen{gui::ScreenDpi(this), ScreenWorkArea(*this)});
  gui::ScaleWindow(*this, where.dpi, ui::kAboutDpiOffset);
  for (QLabel* l : panel2_->findChildren<QLabel*>()) {
    if (l != tiBack_) l->adjustSize();
  }
  PlaceInWorkArea(where);
}

void TTFInfoBox::CreateControls(std::span<const uint8_t> picture) {
  CreateBackground(picture);
  CreateTexts();
  gbEnd_ = new TGraphicButton(panel2_);
  gbEnd_->setObjectName("gbEnd");
  gbEnd_->setGeometry(528, 424, 113, 25);
  gbEnd_->setCaption("Beenden");
  gbEnd_->setAlign(TAlignment::taCenter);
  gbEnd_->setFont(BoxFont(12, true));
  MakeWhite(*gbEnd_);
  gbEnd_->setBrush(Qt::NoBrush);
  gbEnd_->setOutPen(QPen(Qt::white, 1, Qt::DotLine));
  gbEnd_->setMoveCursor(Qt::PointingHandCursor);
  connect(gbEnd_, &TGraphicButton::clicked, this, &QDialog::close);
}

void TTFInfoBox::CreateBackground(std::span<const uint8_t> picture) {
  panel2_ = new QFrame(this);
  panel2_->setObjectName("Panel2");
  panel2_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel2_->setLineWidth(2);
  panel2_->setGeometry(0, 0, kInfoBoxWidth, kInfoBoxHeight);
  panel2_->setAutoFillBackground(true);
  QPalette background = panel2_->palette();
  background.setColor(QPalette::Window, kPlainBackground);
  panel2_->setPalette(background);

  tiBack_ = new QLabel(panel2_);
  tiBack_->setObjectName("tiBack");
  tiBack_->setGeometry(panel2_->contentsRect());
  tiBack_->setScaledContents(true);
  if (std::optional<QPixmap> pixmap = PictureOf(picture)) tiBack_->setPixmap(*pixmap);
  tiBack_->setMouseTracking(true);
  tiBack_->installEventFilter(this);
}

// The version and contact lines, each with a red bullet, and the copyright.
void TTFInfoBox::CreateTexts() {
  CreateLabel("tlVersion", kVersionLeft, kVersionTop, 14, QString::fromUtf8(kVersionText));
  int bullets = 0;
  auto addBullet = [&](int left, int top) {
    auto* shape = new QFrame(panel2_);
    shape->setObjectName(QString("Shape%1").arg(++bullets));
    shape->setGeometry(left - kBulletGap, top + 7, kBulletSize, kBulletSize);
    shape->setAutoFillBackground(true);
    QPalette red = shape->palette();
    red.setColor(QPalette::Window, Qt::red);
    shape->setPalette(red);
  };
  for (const ContactLine& line : kContactLines) {
    CreateLabel(line.name, line.left, line.top, line.pointSize, QString::fromUtf8(line.text));
    addBullet(line.left, line.top);
  }
  addBullet(kVersionLeft, kVersionTop + 2);

  QLabel* copyright = new QLabel(QString::fromUtf8(kCopyright), panel2_);
  copyright->setObjectName("tlCopyRight");
  copyright->setFont(BoxFont(9, false));
  copyright->move(5, 540);
  MakeWhite(*copyright);

  tlWeb_ = label("tlWeb");
  tlWeb_->setMouseTracking(true);
  tlWeb_->installEventFilter(this);
}

void TTFInfoBox::CreateLabel(const char* name, int left, int top, int pointSize, const QString& text) {
  auto* l = new QLabel(text, panel2_);
  l->setObjectName(name);
  l->setFont(BoxFont(pointSize, true));
  l->move(left, top);
  MakeWhite(*l);
}

QLabel* TTFInfoBox::label(const char* name) const { return panel2_->findChild<QLabel*>(name); }

// Centred in the work area, the division truncating, so a box larger than
// the area starts left of and above it.
void TTFInfoBox::PlaceInWorkArea(const TInfoBoxScreen& screen) {
  if (!screen.workArea) {
    gui::CenterOnDesktop(*this);
    return;
  }
  const QRect& a = *screen.workArea;
  const ui::Rect r = ui::CenteredIn(ui::Rect{a.x(), a.y(), a.width(), a.height()}, width(), height());
  move(r.left, r.top);
}

void TTFInfoBox::keyPressEvent(QKeyEvent* event) { event->accept(); }

bool TTFInfoBox::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == tiBack_ && type == QEvent::MouseMove) tiBackMouseMove();
  if (watched != tlWeb_) return QDialog::eventFilter(watched, event);
  if (type == QEvent::MouseMove) tlWebMouseMove();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease) return false;
  const auto* mouse = static_cast<QMouseEvent*>(event);
  if (mouse->button() != Qt::LeftButton) return false;
  // The press is taken, so that the release comes to the label too.
  if (type == QEvent::MouseButtonRelease && tlWeb_->rect().contains(mouse->position().toPoint())) tlWebClick();
  return true;
}

void TTFInfoBox::tlWebMouseMove() {
  QFont font = tlWeb_->font();
  font.setBold(false);
  font.setUnderline(true);
  tlWeb_->setFont(font);
  gui::SetScreenCursor(Qt::PointingHandCursor);
}

void TTFInfoBox::tiBackMouseMove() {
  QFont font = tlWeb_->font();
  font.setBold(true);
  font.setUnderline(false);
  tlWeb_->setFont(font);
  gui::ResetScreenCursor();
}

void TTFInfoBox::tlWebClick() {
  std::optional<platform::StartedProcess> browser = platform::StartProcess({"xdg-open", kWebAddress}, "");
  if (browser) {
    webLaunches_.push_back(*browser);
    return;
  }
  const std::string reason = platform::SysErrorMessage(platform::GetLastError());
  std::fprintf(stderr, "Kestrovane: %s kann nicht geöffnet werden: xdg-open: %s\n", kWebAddress, reason.c_str());
}

// Closed under the hand cursor (the web line, the button): the cursor must
// not stay over the program's other windows.
void TTFInfoBox::done(int result) {
  gui::ResetScreenCursor();
  QDialog::done(result);
}

}  // namespace kv

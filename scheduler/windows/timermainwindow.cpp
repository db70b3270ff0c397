#include "scheduler/windows/timermainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QEventLoop>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "platform/gui/geometry.h"
#include "scheduler/windows/menuwindows.h"

namespace kv {
namespace {

namespace gui = platform::gui;
namespace ui = platform::ui;

constexpr int kWidth = 783;
constexpr int kHeight = 435;
constexpr int kRowHeight = 16;
// Column widths of FormResize; the name takes what is left.
constexpr int kIdWidth = 75;
constexpr int kTimerWidth = 100;
constexpr int kLastStartWidth = 95;
constexpr int kNameWidthLess = 278;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The icon in the notification area: a clock face with two arrows round it.
QIcon TimerTrayPicture() {
  QPixmap picture(32, 32);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x1d, 0x4e, 0x89), 2));
  p.setBrush(QColor(0x3a, 0x8f, 0xd9));
  p.drawEllipse(QRectF(2, 2, 28, 28));
  p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(16, 16), QPointF(16, 7));
  p.drawLine(QPointF(16, 16), QPointF(23, 19));
  p.setPen(QPen(QColor(0xf2, 0xb1, 0x34), 2));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(5, 5, 22, 22), 100 * 16, 70 * 16);
  p.drawArc(QRectF(5, 5, 22, 22), 280 * 16, 70 * 16);
  return QIcon(picture);
}

}  // namespace

TtfTimerMainWidget::TtfTimerMainWidget(TTimerMainSetup setup, std::optional<int> dpi)
    : model_(*this, std::move(setup)) {
  setObjectName(QStringLiteral("tfTimerMain"));
  setWindowTitle(Q(kTimerMainCaption));
  resize(kWidth, kHeight);
  CreateMenus();
  CreateGrid();
  stbDown_ = new QStatusBar(this);
  stbDown_->setObjectName(QStringLiteral("stbDown"));
  setStatusBar(stbDown_);
  timer1_ = new QTimer(this);
  timer1_->setSingleShot(true);
  timer1_->setInterval(1);
  connect(timer1_, &QTimer::timeout, this, [this] { model_.Timer1Timer(); });
  timerShut_ = new QTimer(this);
  timerShut_->setSingleShot(true);
  connect(timerShut_, &QTimer::timeout, this, [this] { model_.TimerShutTimer(); });
  const int screenDpi = dpi ? *dpi : gui::ScreenDpi(this);
  gui::ScaleWindow(*this, screenDpi);
  const int rowHeight = ui::ScaleLength(kRowHeight, ui::ScaleDivisor(screenDpi));
  tsgTimerItems_->verticalHeader()->setMinimumSectionSize(rowHeight);
  tsgTimerItems_->verticalHeader()->setDefaultSectionSize(rowHeight);
  gui::CenterOnDesktop(*this);
  model_.grid().onChanged = [this] {
    if (gridPending_) return;
    gridPending_ = true;
    QMetaObject::invokeMethod(this, [this] { ShowGrid(); }, Qt::QueuedConnection);
  };
}

// The threads must not outlive the window; they stop here at the latest.
TtfTimerMainWidget::~TtfTimerMainWidget() {
  model_.grid().onChanged = nullptr;
  model_.FormClose();
}

void TtfTimerMainWidget::CreateMenus() {
  popupMenu1_ = new QMenu(this);
  popupMenu1_->setObjectName(QStringLiteral("PopupMenu1"));
  popupMenu1_->addAction(QStringLiteral("Timer anzeigen"), this, [this] { ShowWindow(); });
  popupMenu1_->addAction(QStringLiteral("Timer beenden"), this, [this] { EndProgram(); });
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { popupMenu1_->popup(mapToGlobal(at)); });

  QMenu* file = menuBar()->addMenu(QStringLiteral("&Datei"));
  file->addAction(QStringLiteral("&Minimieren"), this, [this] { HideWindow(); });
  QAction* end = file->addAction(QStringLiteral("&Beenden"), this, [this] { EndProgram(); });
  end->setObjectName(QStringLiteral("miClose"));
  end->setShortcut(QKeySequence(Qt::Key_F12));
  end->setShortcutContext(Qt::ApplicationShortcut);
  QAction* options = menuBar()->addAction(QStringLiteral("&Einstellungen"), this, [this] { miOptionsClick(); });
  options->setObjectName(QStringLiteral("miOptions"));
  QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
  help->addAction(QStringLiteral("&Info"), this, [this] { OpenAboutBox(this); })->setObjectName("Info1");
}

void TtfTimerMainWidget::CreateGrid() {
  tsgTimerItems_ = new QTableWidget(1, TTimerGrid::kColumnCount, this);
  tsgTimerItems_->setObjectName(QStringLiteral("tsgTimerItems"));
  tsgTimerItems_->verticalHeader()->hide();
  tsgTimerItems_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tsgTimerItems_->setSelectionMode(QAbstractItemView::SingleSelection);
  tsgTimerItems_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tsgTimerItems_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  tsgTimerItems_->horizontalHeader()->setStretchLastSection(false);
  tsgTimerItems_->installEventFilter(this);
  setCentralWidget(tsgTimerItems_);
}

// Row 0 of the model is the heading row; the table shows the rows below it.
void TtfTimerMainWidget::ShowGrid() {
  gridPending_ = false;
  const TTimerGrid& grid = model_.grid();
  QStringList headings;
  for (int column = 0; column < TTimerGrid::kColumnCount; ++column) headings << Q(grid.Cell(column, 0));
  tsgTimerItems_->setHorizontalHeaderLabels(headings);
  tsgTimerItems_->setRowCount(grid.RowCount() - 1);
  for (int row = 1; row < grid.RowCount(); ++row) {
    for (int column = 0; column < TTimerGrid::kColumnCount; ++column) {
      const QString text = Q(grid.Cell(column, row));
      QTableWidgetItem* item = tsgTimerItems_->item(row - 1, column);
      if (item == nullptr) {
        tsgTimerItems_->setItem(row - 1, column, new QTableWidgetItem(text));
      } else if (item->text() != text) {
        item->setText(text);
      }
    }
  }
}

void TtfTimerMainWidget::FormResize() {
  tsgTimerItems_->setColumnWidth(TTimerGrid::kColId, kIdWidth);
  tsgTimerItems_->setColumnWidth(TTimerGrid::kColTimer, kTimerWidth);
  tsgTimerItems_->setColumnWidth(TTimerGrid::kColLastStart, kLastStartWidth);
  tsgTimerItems_->setColumnWidth(TTimerGrid::kColName, std::max(0, tsgTimerItems_->width() - kNameWidthLess));
}

bool TtfTimerMainWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tsgTimerItems_ && event->type() == QEvent::Resize) FormResize();
  return QMainWindow::eventFilter(watched, event);
}

std::optional<int> TtfTimerMainWidget::FormCreate() {
  if (std::optional<int> exitStatus = model_.FormCreate()) return exitStatus;
  ShowGrid();
  timer1_->start();
  return std::nullopt;
}

void TtfTimerMainWidget::HandleWindowMessage(const platform::WindowMessage& message) {
  switch (message.message) {
    case WM_TIMERCHANGED:
      model_.WMTimerChanged(message.wParam);
      return;
    case WM_TIMERREMOVED:
      model_.WMTimerRemoved(message.wParam);
      return;
    case WM_TIMERTRAY:
      if ((message.lParam & 0xFFFF) == WM_LBUTTONDBLCLK) ShowWindow();
      if ((message.lParam & 0xFFFF) == WM_RBUTTONDOWN) popupMenu1_->popup(QCursor::pos());
      return;
    default:
      std::fprintf(stderr, "Horavex: Nachricht %u nicht bekannt, übergangen\n", message.message);
  }
}

void TtfTimerMainWidget::QueryEndSession(bool logOff) {
  if (model_.WMQueryEndSession(logOff)) EndProgram();
}

void TtfTimerMainWidget::EndProgram() {
  if (model_.Closing()) return;
  model_.FormClose();
  hide();
  QCoreApplication::quit();
}

void TtfTimerMainWidget::closeEvent(QCloseEvent* event) {
  // Only the end of the program closes the window; otherwise it hides.
  if (model_.Closing()) {
    event->accept();
    return;
  }
  event->ignore();
  HideWindow();
}

void TtfTimerMainWidget::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized() || StaysReachable()) return;
  QTimer::singleShot(0, this, [this] { hide(); });
}

void TtfTimerMainWidget::miOptionsClick() {
  const int row = tsgTimerItems_->currentRow();
  const std::string profileNo = row >= 0 ? model_.grid().Cell(TTimerGrid::kColId, row + 1) : std::string();
  OpenOptionsWindow(this, model_.TimerIniFile(), model_.ScheduleFolder(), profileNo);
}

// With a display but no notification area a hidden window could never be
// brought back.
bool TtfTimerMainWidget::StaysReachable() const {
  return tiIcon_ == nullptr && QGuiApplication::platformName() != QLatin1String("offscreen");
}

bool TtfTimerMainWidget::AddTrayIcon(std::string_view tip) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  tiIcon_ = new QSystemTrayIcon(TimerTrayPicture(), this);
  tiIcon_->setToolTip(Q(tip));
  tiIcon_->setContextMenu(popupMenu1_);
  connect(tiIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) ShowWindow();
  });
  tiIcon_->show();
  return true;
}

void TtfTimerMainWidget::SetTrayTip(std::string_view tip) {
  if (tiIcon_ != nullptr) tiIcon_->setToolTip(Q(tip));
}

void TtfTimerMainWidget::RemoveTrayIcon() {
  delete tiIcon_;
  tiIcon_ = nullptr;
}

void TtfTimerMainWidget::ShowWindow() {
  showNormal();
  raise();
  activateWindow();
}

void TtfTimerMainWidget::HideWindow() {
  if (StaysReachable()) {
    showMinimized();
  } else {
    hide();
  }
}

void TtfTimerMainWidget::StartShutTimer(int milliseconds) { timerShut_->start(milliseconds); }

void TtfTimerMainWidget::WaitUntil(const std::function<bool()>& done) {
  if (done()) return;
  QEventLoop loop;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(5);
  // Returns early when the application quits; the callers look again.
  loop.exec();
}

}  // namespace kv

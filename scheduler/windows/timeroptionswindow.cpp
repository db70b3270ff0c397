#include "scheduler/windows/timeroptionswindow.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSpinBox>
#include <QStyle>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <span>
#include <utility>

#include "platform/gui/geometry.h"
#include "platform/ui/question.h"
#include "scheduler/windows/richedittext.h"

namespace kv {
namespace {

namespace gui = platform::gui;
namespace ui = platform::ui;

constexpr int kToolBarHeight = 29;
constexpr int kTreeWidth = 209;
constexpr int kTreeIndent = 19;
constexpr int kSplitterWidth = 3;
constexpr int kMinPaneWidth = 30;
constexpr int kTitlePoints = 12, kTextPoints = 10;
constexpr char kHelpFace[] = "Arial";
constexpr char kNoProfileText[] = "Kein Profil ausgewählt. Wählen Sie im Timer zuerst die Zeile eines Profils.";

struct HelpLine {
  const char* text;
  bool title = false;
};

constexpr HelpLine kInfoHelp[] = {
    {"Einstellungen für den Timer", true},
    {""},
    {"Einstellungen für den Timer"},
    {""},
    {"Sie können hier verschiedene Einstellungen vornehmen, die ausschließlich den Timer betreffen."},
};
constexpr HelpLine kStartHelp[] = {
    {"Startoptionen für den Timer", true},
    {""},
    {"Sie können hier einstellen, wie sich der Abgleichvorgang verhalten soll, wenn der Timer einen Prozess "
     "startet."},
    {""},
    {"Setzen Sie bei den gewünschten Optionen ein Häkchen."},
};
constexpr HelpLine kKDelHelp[] = {
    {"Kritische Löschmenge", true},
    {"Die kritische Löschmenge gibt an, wie viel Prozent der analysierten Dateien im Ziel, maximal zum Löschen "
     "erlaubt sind."},
    {"Die Anzahl der Dateien sind alle Dateien die im Ziel gefunden werden, die Filter werden ignoriert. Sind von "
     "dieser Anzahl mehr als X Prozent zum Löschen markiert, wird die automatische Synchronisation abgebrochen und "
     "ein entsprechendes Fehlerprotokoll geschrieben."},
    {""},
    {"Wenn der Timer auf jeden Fall die Synchronisation durchführen soll, setzen Sie die kritische Löschmenge auf "
     "101%."},
};
constexpr HelpLine kDelAgainHelp[] = {
    {"Erneute Prüfung für Löschungen", true},
    {""},
    {"Diese Funktion bietet Ihnen mehr Sicherheit beim Löschen von Dateien. Ist die Prüfung aktiv, wird ein "
     "zweites mal geprüft, ob die Löschmarkierungen berechtigt sind."},
    {""},
    {"Auf Grund von instabilen Verbindungen kann es sein, dass eine Datei zum löschen markiert wird, obwohl ein "
     "Gegenüber vorhanden ist!"},
    {"In so einem Fall werden alle Ordner, die mit diesen Laufwerken zu tun haben, aus der Abgleichliste "
     "entfernt."},
};
constexpr HelpLine kMailHelp[] = {
    {"Benachrichtigung per eMail", true},
    {""},
    {"Mit dem Benachrichtigungsdienst können Sie das Protokoll, des Kestrovane-Timers, an eine bestimmte "
     "eMail-Adresse versenden. Das Protokoll wird nur versandt, wenn Fehler aufgetreten sind."},
};

size_t Slot(TOptionsPage page) { return static_cast<size_t>(page) - 1; }

std::span<const HelpLine> HelpOf(TOptionsPage page) {
  switch (page) {
    case TOptionsPage::Info:
      return kInfoHelp;
    case TOptionsPage::Start:
      return kStartHelp;
    case TOptionsPage::KDel:
      return kKDelHelp;
    case TOptionsPage::DelAgain:
      return kDelAgainHelp;
    case TOptionsPage::Mail:
      return kMailHelp;
    case TOptionsPage::None:
      break;
  }
  return {};
}

constexpr TOptionsPage kPages[] = {TOptionsPage::Info, TOptionsPage::Start, TOptionsPage::KDel,
                                   TOptionsPage::DelAgain, TOptionsPage::Mail};

// Each paragraph a line: a title in 12 point bold, the text in 10 point.
void WriteHelp(QTextEdit& view, std::span<const HelpLine> lines) {
  view.clear();
  QTextCursor cursor(view.document());
  for (size_t i = 0; i < lines.size(); ++i) {
    QTextCharFormat format;
    format.setFontPointSize(lines[i].title ? kTitlePoints : kTextPoints);
    format.setFontWeight(lines[i].title ? QFont::Bold : QFont::Normal);
    if (i == 0)
      cursor.setBlockCharFormat(format);
    else
      cursor.insertBlock(QTextBlockFormat(), format);
    cursor.insertText(QString::fromUtf8(lines[i].text), format);
  }
  view.moveCursor(QTextCursor::Start);
}

// Splitter1: a bar between the tree and the pages that resizes the tree.
class SplitterBar : public QWidget {
 public:
  SplitterBar(QWidget* parent, std::function<void(int)> drag) : QWidget(parent), drag_(std::move(drag)) {
    setCursor(Qt::SplitHCursor);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override { lastX_ = event->globalPosition().toPoint().x(); }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const int x = event->globalPosition().toPoint().x();
    drag_(x - lastX_);
    lastX_ = x;
  }

 private:
  std::function<void(int)> drag_;
  int lastX_ = 0;
};

QCheckBox* NewCheckBox(QWidget* page, const char* name, const char* caption, int left, int top, int width) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), page);
  box->setObjectName(name);
  box->setGeometry(left, top, width, 17);
  return box;
}

// The general and the start page show their help in Arial, with the arrow
// over the text; the others in the window's face, as plain text views.
QTextEdit* NewHelpView(const char* name, bool arrowCursor) {
  QTextEdit* view = arrowCursor ? new TRichEditText : new QTextEdit;
  view->setObjectName(name);
  if (arrowCursor) {
    QFont face = view->font();
    face.setFamily(kHelpFace);
    face.setStyleHint(QFont::SansSerif);
    view->setFont(face);
  }
  return view;
}

QLabel* NewLabel(QWidget* page, const char* name, const char* caption, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(caption), page);
  label->setObjectName(name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace

TtfTimerOptions::TtfTimerOptions(std::string iniFileName, QWidget* parent, std::optional<int> dpi)
    : QDialog(parent), model_(std::move(iniFileName)) {
  setObjectName("tfTimerOptions");
  setWindowTitle(QString::fromUtf8(kOptionsCaption));
  setFont(QFont("MS Sans Serif", 8));
  resize(kOptionsWidth, kOptionsHeight);
  CreateControls();
  gui::ScaleWindow(*this, dpi.value_or(gui::ScreenDpi(this)));
  gui::CenterOnDesktop(*this);
  Relayout();
  WriteHelpTexts();
  ShowOptions(model_.LoadOptions());
}

void TtfTimerOptions::CreateControls() {
  CreateToolBar();
  CreateTree();
  splitter1_ = new SplitterBar(this, [this](int dx) { DragSplitter(dx); });
  splitter1_->setObjectName("Splitter1");
  splitter1_->setGeometry(kTreeWidth, kToolBarHeight, kSplitterWidth, kOptionsHeight - kToolBarHeight);
  CreatePage(TOptionsPage::Info, "tpInfo", NewHelpView("reInfo", true), kOptionsHeight - kToolBarHeight);
  CreateStartPage();
  CreateKDelPage();
  QWidget* delAgain = CreatePage(TOptionsPage::DelAgain, "tpDelAgain", NewHelpView("reDelAgain", false), 176);
  cbCheckDeletes_ =
      NewCheckBox(delAgain, "cbCheckDeletes", "Zum löschen markierte Dateien erneut prüfen", 16, 192, 400);
  CreateMailPage();
  ShowProfileMail(TProfileMail{});  // until the opener names a profile
  tvTOpts_->setCurrentItem(tvTOpts_->topLevelItem(0));
}

void TtfTimerOptions::CreateToolBar() {
  toolBar1_ = new QWidget(this);
  toolBar1_->setObjectName("ToolBar1");
  toolBar1_->setGeometry(0, 0, kOptionsWidth, kToolBarHeight);
  sbClose_ = new QToolButton(toolBar1_);
  sbClose_->setObjectName("sbClose");
  sbClose_->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));  // greyed when disabled
  sbClose_->setToolTip(QString::fromUtf8("Schließen"));
  sbClose_->setAutoRaise(true);
  sbClose_->setGeometry(2, 2, 23, 22);
  connect(sbClose_, &QToolButton::clicked, this, &QDialog::close);
}

void TtfTimerOptions::CreateStartPage() {
  QWidget* start = CreatePage(TOptionsPage::Start, "tpStart", NewHelpView("reStart", true), 272);
  cbShowProcess_ = NewCheckBox(start, "cbShowProcess", "Abgleichvorgang anzeigen", 16, 288, 400);
  cbMinimized_ = NewCheckBox(start, "cbMinimized", "Fortschritt minimiert anzeigen", 16, 312, 400);
}

void TtfTimerOptions::CreateKDelPage() {
  QWidget* kdel = CreatePage(TOptionsPage::KDel, "tpKDel", NewHelpView("reKDel", false), 252);
  NewLabel(kdel, "Label1", "Kritische Löschmenge in %:", 16, 272);
  spKDel_ = new QSpinBox(kdel);
  spKDel_->setObjectName("spKDel");
  spKDel_->setRange(1, 101);
  spKDel_->setGeometry(176, 268, 57, 22);
}

void TtfTimerOptions::CreateMailPage() {
  QWidget* mail = CreatePage(TOptionsPage::Mail, "tpMail", NewHelpView("reMail", false), 208);
  label2_ = NewLabel(mail, "Label2", "eMail-Adresse:", 16, 228);
  teMailAdress_ = new QLineEdit(mail);
  teMailAdress_->setObjectName("teMailAdress");
  teMailAdress_->setGeometry(104, 224, 300, 21);
  teMailAdress_->setMaxLength(kMailAddressLength);
  cbActive_ = NewCheckBox(mail, "cbActive", "Benachrichtigung aktiv", 16, 256, 400);
  tlNoProfile_ = NewLabel(mail, "tlNoProfile", kNoProfileText, 16, 288);
}

void TtfTimerOptions::CreateTree() {
  tvTOpts_ = new QTreeWidget(this);
  tvTOpts_->setObjectName("tvTOpts");
  tvTOpts_->setGeometry(0, kToolBarHeight, kTreeWidth, kOptionsHeight - kToolBarHeight);
  tvTOpts_->setHeaderHidden(true);
  tvTOpts_->setIndentation(kTreeIndent);
  tvTOpts_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvTOpts_->setExpandsOnDoubleClick(false);
  const struct {
    const char* text;
    int parent;  // absolute index of the parent; -1 at the top
  } nodes[] = {{"Allgemein", -1},       {"Startoptionen", 0},   {"Kritische Löschmenge", 0},
               {"Erneute Prüfung für Löschungen", 0}, {"Profilbezogen", -1}, {"Benachrichtigungsdienst", 4}};
  std::vector<QTreeWidgetItem*> items;
  for (const auto& node : nodes) {
    auto* item = node.parent < 0 ? new QTreeWidgetItem(tvTOpts_) : new QTreeWidgetItem(items[node.parent]);
    item->setText(0, QString::fromUtf8(node.text));
    item->setData(0, Qt::UserRole, static_cast<int>(items.size()));
    items.push_back(item);
  }
  tvTOpts_->expandAll();
  // tvTOptsCollapsing: the tree always stays fully expanded.
  connect(tvTOpts_, &QTreeWidget::itemCollapsed, tvTOpts_, &QTreeWidget::expandItem);
  connect(tvTOpts_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    tvTOptsChange(current != nullptr ? current->data(0, Qt::UserRole).toInt() : -1);
  });
}

// The help view sits at the page's top. It takes focus only when clicked,
// and then hands it to the tree (reKDelEnter), so it never holds the caret;
// Tab goes from the tree straight to the page's controls.
QWidget* TtfTimerOptions::CreatePage(TOptionsPage page, const char* name, QTextEdit* help, int helpHeight) {
  auto* panel = new QWidget(this);
  panel->setObjectName(name);
  panel->setGeometry(kTreeWidth + kSplitterWidth, kToolBarHeight, kOptionsWidth - kTreeWidth - kSplitterWidth,
                     kOptionsHeight - kToolBarHeight);
  help->setParent(panel);
  help->setReadOnly(true);
  help->setFocusPolicy(Qt::ClickFocus);
  help->setGeometry(0, 0, panel->width(), helpHeight);
  help->installEventFilter(this);
  panel->setVisible(page == TOptionsPage::Info);
  pages_[Slot(page)] = panel;
  helpViews_[Slot(page)] = help;
  return panel;
}

void TtfTimerOptions::WriteHelpTexts() {
  for (TOptionsPage page : kPages) WriteHelp(*helpViews_[Slot(page)], HelpOf(page));
}

void TtfTimerOptions::ShowOptions(const TRunOptions& options) {
  cbShowProcess_->setChecked(options.showProcess);
  cbMinimized_->setChecked(options.minimized);
  spKDel_->setValue(options.criticDel);  // brought into 1..101
  cbCheckDeletes_->setChecked(options.checkDeleteAgain);
}

TRunOptions TtfTimerOptions::CurrentOptions() const {
  return TRunOptions{.showProcess = cbShowProcess_->isChecked(),
                          .minimized = cbMinimized_->isChecked(),
                          .criticDel = spKDel_->value(),
                          .checkDeleteAgain = cbCheckDeletes_->isChecked()};
}

void TtfTimerOptions::LoadProfileMail(std::string_view profileNo) {
  ShowProfileMail(model_.LoadProfileMail(profileNo));
}

void TtfTimerOptions::ShowProfileMail(const TProfileMail& mail) {
  cbActive_->setChecked(mail.active);
  SetAddress(QString::fromStdString(mail.address));
  for (QWidget* control : {static_cast<QWidget*>(cbActive_), static_cast<QWidget*>(teMailAdress_),
                           static_cast<QWidget*>(label2_)})
    control->setEnabled(mail.hasProfile);
  tlNoProfile_->setVisible(!mail.hasProfile);
}

// Typing stops at 60 characters; an address already longer (written by
// another program) is shown whole, so that closing does not cut it.
void TtfTimerOptions::SetAddress(const QString& address) {
  teMailAdress_->setMaxLength(std::max<int>(kMailAddressLength, static_cast<int>(address.size())));
  teMailAdress_->setText(address);
}

QWidget* TtfTimerOptions::page(TOptionsPage page) const {
  return page == TOptionsPage::None ? nullptr : pages_[Slot(page)];
}

QTextEdit* TtfTimerOptions::helpView(TOptionsPage page) const {
  return page == TOptionsPage::None ? nullptr : helpViews_[Slot(page)];
}

TOptionsPage TtfTimerOptions::shownPage() const {
  for (TOptionsPage page : kPages) {
    if (!pages_[Slot(page)]->isHidden()) return page;
  }
  return TOptionsPage::None;
}

void TtfTimerOptions::tvTOptsChange(int absoluteIndex) {
  for (QWidget* panel : pages_) panel->hide();
  const TOptionsPage shown = PageOfNode(absoluteIndex);
  if (shown != TOptionsPage::None) pages_[Slot(shown)]->show();
}

// The alignment of the controls: the tool bar across the top, the tree and
// the splitter down the left, every page filling the rest; a help view
// spans its page's width (the general one the whole page). Heights and the
// tree's width stay as they are: they were scaled with the window.
void TtfTimerOptions::Relayout() {
  const int top = toolBar1_->height();
  const int rest = std::max(0, height() - top);
  toolBar1_->setGeometry(0, 0, width(), top);
  const int splitter = splitter1_->width();
  const int maxTree = std::max(kMinPaneWidth, width() - splitter - kMinPaneWidth);
  const int tree = std::clamp(tvTOpts_->width(), kMinPaneWidth, maxTree);
  tvTOpts_->setGeometry(0, top, tree, rest);
  splitter1_->setGeometry(tree, top, splitter, rest);
  const QRect area(tree + splitter, top, std::max(0, width() - tree - splitter), rest);
  for (TOptionsPage page : kPages) {
    pages_[Slot(page)]->setGeometry(area);
    QTextEdit* help = helpViews_[Slot(page)];
    help->resize(area.width(), page == TOptionsPage::Info ? area.height() : help->height());
  }
}

void TtfTimerOptions::DragSplitter(int dx) {
  tvTOpts_->resize(tvTOpts_->width() + dx, tvTOpts_->height());
  Relayout();
}

void TtfTimerOptions::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Relayout();
}

// No cancel: Escape does not close the window.
void TtfTimerOptions::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TtfTimerOptions::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn &&
      std::find(helpViews_.begin(), helpViews_.end(), watched) != helpViews_.end())
    tvTOpts_->setFocus(Qt::OtherFocusReason);
  return QDialog::eventFilter(watched, event);
}

void TtfTimerOptions::done(int result) {
  const std::vector<std::string> failures =
      model_.Save(CurrentOptions(), cbActive_->isChecked(), teMailAdress_->text().toStdString());
  if (!failures.empty()) {
    std::string text;
    for (const std::string& line : failures) text += (text.empty() ? "" : "\n") + line;
    ui::Ask(ui::Question(text, ui::QuestionKind::Error, ui::QuestionButtons::Ok));
  }
  QDialog::done(result);
}

}  // namespace kv

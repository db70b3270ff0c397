// The settings window offscreen and on a real X server: layout, pages and
// help texts, the tree that never collapses, focus, and what every close
// writes to "Timer.ini" and "Timer.dat", read back through IniFile.
#include "scheduler/windows/timeroptionswindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/inifile.h"
#include "platform/registry.h"
#include "scheduler/windows/richedittext.h"
#include "scheduler/windows/tests/windowtest.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using platform::IniFile;

constexpr char kProfile[] = "0000042";
constexpr char kServiceAddress[] = "dienst@kestrovane.example";

class TimerOptionsTest : public testing::Test {
 protected:
  TimerOptionsTest() {
    // A close that fails shows an error box; it is answered here, so that
    // an unexpected one fails the test instead of holding it.
    boxWatch_.callOnTimeout([this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxes_ << box->text();
        box->accept();
      }
    });
    boxWatch_.start(10);
    tree_.Write("Profile/Timer.dat", "[0000007]\r\nName=Andere\r\nKind=3\r\nMail=b@kestrovane.example\r\n"
                                     "[0000042]\r\nName=Demo\r\nKind=2\r\nMail=ann@kestrovane.example\r\n");
    platform::Registry(platform::Hive::CurrentUser)
        .WriteString("Software\\Vorlem\\Kestrovane", "ServiceAdress", kServiceAddress);
  }
  void TearDown() override { EXPECT_TRUE(boxes_.isEmpty()) << boxes_.join("\n").toStdString(); }

  std::unique_ptr<TtfTimerOptions> Open(std::string_view profileNo = kProfile, int dpi = 96) {
    auto w = std::make_unique<TtfTimerOptions>(ini_.fileName(), nullptr, dpi);
    w->setScheduleFolder(tree_.Posix("Profile/"));
    w->LoadProfileMail(profileNo);
    return w;
  }
  static void Close(TtfTimerOptions& w) {
    w.show();
    w.close();
  }
  IniFile Schedule() const { return IniFile(tree_.Posix("Profile/Timer.dat")); }
  static QCheckBox* Active(const TtfTimerOptions& w) { return w.findChild<QCheckBox*>("cbActive"); }
  static QLineEdit* Address(const TtfTimerOptions& w) { return w.findChild<QLineEdit*>("teMailAdress"); }

  test::ScopedRegistry registry_;
  test::TempTree tree_;
  IniFile ini_{tree_.Posix("Timer.ini")};
  QTimer boxWatch_;
  QStringList boxes_;
};

// Every node shows its page ("Profilbezogen" the general one, an index
// outside the tree none) and its help text: the title in 12 point bold, the
// rest in 10 point, with empty lines where they belong (a line break and an
// empty line are easy to confuse). The tree never collapses; a click into
// any help view hands the focus back to the tree, and Tab goes on to the
// controls.
TEST_F(TimerOptionsTest, EveryNodeShowsItsPageAndHelpTheTreeStaysOpenAndHelpGivesUpTheFocus) {
  EXPECT_EQ(Open(kProfile, 120)->size(), QSize(587, 404));  // 96/128
  EXPECT_EQ(PageOfNode(-1), TOptionsPage::None);
  EXPECT_EQ(PageOfNode(6), TOptionsPage::None);
  auto w = Open();
  EXPECT_EQ(w->size(), QSize(783, 539));
  w->show();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  QTreeWidget* tree = w->tvTOpts();
  EXPECT_EQ(w->shownPage(), TOptionsPage::Info);
  const struct {
    const char* node;
    TOptionsPage page;
    const char* face;
    const char* title;
    const char* shape;  // per line: T title, x text, _ empty
  } expected[] = {
      {"Allgemein", TOptionsPage::Info, "Arial", "Einstellungen für den Timer", "T_x_x"},
      {"Startoptionen", TOptionsPage::Start, "Arial", "Startoptionen für den Timer", "T_x_x"},
      {"Kritische Löschmenge", TOptionsPage::KDel, "MS Sans Serif", "Kritische Löschmenge", "Txx_x"},
      {"Erneute Prüfung für Löschungen", TOptionsPage::DelAgain, "MS Sans Serif", "Erneute Prüfung für Löschungen",
       "T_x_xx"},
      {"Profilbezogen", TOptionsPage::Info, "Arial", "Einstellungen für den Timer", "T_x_x"},
      {"Benachrichtigungsdienst", TOptionsPage::Mail, "MS Sans Serif", "Benachrichtigung per eMail", "T_x"},
  };
  std::vector<QTreeWidgetItem*> nodes;
  for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) nodes.push_back(*it);
  ASSERT_EQ(nodes.size(), std::size(expected));
  for (size_t i = 0; i < nodes.size(); ++i) {
    const auto& e = expected[i];
    SCOPED_TRACE(e.node);
    EXPECT_EQ(nodes[i]->text(0), QString::fromUtf8(e.node));
    tree->setCurrentItem(nodes[i]);
    EXPECT_EQ(w->shownPage(), e.page);
    QTextEdit* view = w->helpView(e.page);
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_EQ(view->font().family(), QString(e.face));
    EXPECT_EQ(dynamic_cast<TRichEditText*>(view) != nullptr, std::string(e.face) == "Arial");
    std::string shape;
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
      const bool title = block == view->document()->begin();
      shape += title ? 'T' : (block.text().isEmpty() ? '_' : 'x');
      EXPECT_EQ(block.charFormat().font().pointSize(), title ? 12 : 10) << shape;
      EXPECT_EQ(block.charFormat().font().bold(), title) << shape;
    }
    EXPECT_EQ(shape, e.shape);
    EXPECT_EQ(view->document()->begin().text(), QString::fromUtf8(e.title));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(QApplication::focusWidget(), tree);
  }
  tree->setCurrentItem(nodes[1]);
  QTest::keyClick(tree, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w->findChild<QCheckBox*>("cbShowProcess"));
  tree->setCurrentItem(nullptr);
  EXPECT_EQ(w->shownPage(), TOptionsPage::None);

  tree->collapseItem(nodes[0]);
  tree->setCurrentItem(nodes[4]);
  QTest::keyClick(tree, Qt::Key_Left);
  QTest::keyClick(tree, Qt::Key_Minus);
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(nodes[4]).center());
  EXPECT_TRUE(nodes[0]->isExpanded() && nodes[4]->isExpanded());
}

// A plain text view shows the I-beam, and a hand over a list item's check
// mark; ours keeps the arrow.
TEST_F(TimerOptionsTest, RichEditTextNeverShowsTheTextCursor) {
  TRichEditText view;
  view.setMarkdown("- [ ] Haken\n\n" + QString("Hilfetext\n\n").repeated(100));
  view.resize(200, 100);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const QRect mark = view.cursorRect(QTextCursor(view.document()->begin()));
  for (int x = 1; x < 60; x += 3) {
    test::MoveMouse(view.viewport(), QPoint(x, mark.center().y()));
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::ArrowCursor) << x;
  }
  view.setReadOnly(true);
  test::MoveMouse(view.viewport(), QPoint(30, 20));
  EXPECT_EQ(view.viewport()->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(view.verticalScrollBar()->cursor().shape(), Qt::ArrowCursor);
}

// Every close writes the four options back as shown: unchanged values stay,
// missing ones are the defaults, a critical share outside 1..101 is brought
// into it; the profile's Mail is rewritten, the other profile's untouched.
TEST_F(TimerOptionsTest, ClosingWritesTheOptionsBackAsShown) {
  const struct {
    const char* stored;
    int written[4];  // CheckDeleteAgain, CriticDel, Minimized, ShowProcess
  } cases[] = {
      {"ShowProcess=0\r\nMinimized=1\r\nCriticDel=35\r\nCheckDeleteAgain=0\r\n", {0, 35, 1, 0}},
      {"", {1, 20, 0, 1}},
      {"CriticDel=0\r\n", {1, 1, 0, 1}},
      {"CriticDel=500\r\n", {1, 101, 0, 1}},
      {"CriticDel=-3\r\n", {1, 1, 0, 1}},
      {"CriticDel=x\r\n", {1, 20, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    tree_.Write("Timer.ini", std::string("[Options]\r\n") + c.stored);
    Close(*Open());
    std::vector<std::string> written = ini_.ReadSectionValues("Options");
    std::sort(written.begin(), written.end());
    const std::vector<std::string> expected = {
        "CheckDeleteAgain=" + std::to_string(c.written[0]), "CriticDel=" + std::to_string(c.written[1]),
        "Minimized=" + std::to_string(c.written[2]), "ShowProcess=" + std::to_string(c.written[3])};
    EXPECT_EQ(written, expected);
  }
  EXPECT_EQ(Schedule().ReadString(kProfile, "Mail", "?"), "ann@kestrovane.example");
  EXPECT_EQ(Schedule().ReadString("0000007", "Mail", "?"), "b@kestrovane.example");
}

TEST_F(TimerOptionsTest, MailSwitchAndAddress) {
  auto w = Open();
  Active(*w)->setChecked(false);
  Close(*w);
  EXPECT_FALSE(Schedule().ValueExists(kProfile, "Mail")) << "unchecked leaves the address in place";

  // Without an address the service address is proposed; checked with an
  // empty address, it is written empty, which the next opening shows as
  // no address.
  for (int opening = 0; opening < 2; ++opening) {
    w = Open();
    EXPECT_FALSE(Active(*w)->isChecked());
    EXPECT_EQ(Address(*w)->text(), QString(kServiceAddress));
    Active(*w)->setChecked(true);
    Address(*w)->clear();
    Close(*w);
    EXPECT_EQ(Schedule().ReadString(kProfile, "Mail", "?"), "");
  }
  platform::Registry(platform::Hive::CurrentUser).DeleteKey("Software\\Vorlem");
  EXPECT_EQ(Address(*Open())->text(), QString()) << "no registry key: the design text";

  // Typing stops at 60; a longer stored address survives the close.
  w = Open();
  QTest::keyClicks(Address(*w), QString(75, 'x'));
  EXPECT_EQ(Address(*w)->text(), QString(60, 'x'));
  const std::string longer = std::string(70, 'a') + "@kestrovane.example";
  Schedule().WriteString(kProfile, "Mail", longer);
  w = Open();
  EXPECT_EQ(Address(*w)->text().toStdString(), longer);
  Close(*w);
  EXPECT_EQ(Schedule().ReadString(kProfile, "Mail", ""), longer);
}

// Without a profile of the schedule the mail page offers nothing and the
// close leaves "Timer.dat" alone: no section "[]", no removed profile back.
TEST_F(TimerOptionsTest, NoProfileOrAGoneOneWritesNoMail) {
  const std::string before = tree_.Read("Profile/Timer.dat");
  for (const char* number : {"", "0000099"}) {
    SCOPED_TRACE(number);
    auto w = Open(number);
    EXPECT_FALSE(Active(*w)->isEnabled() || Address(*w)->isEnabled());
    EXPECT_FALSE(w->findChild<QLabel*>("tlNoProfile")->isHidden());
    Active(*w)->setChecked(true);
    Close(*w);
    EXPECT_EQ(tree_.Read("Profile/Timer.dat"), before);
  }
  auto w = Open();
  EXPECT_TRUE(w->findChild<QLabel*>("tlNoProfile")->isHidden());
  Schedule().EraseSection(kProfile);  // the editor removes the profile meanwhile
  Close(*w);
  EXPECT_EQ(Schedule().ReadSections(), std::vector<std::string>{"0000007"});
}

TEST_F(TimerOptionsTest, AFailedWriteIsShown) {
  TtfTimerOptions w(tree_.Posix("missing/Timer.ini"));
  Close(w);
  ASSERT_EQ(boxes_.size(), 1);
  EXPECT_TRUE(boxes_.takeFirst().contains("missing/Timer.ini"));
}

}  // namespace
}  // namespace kv

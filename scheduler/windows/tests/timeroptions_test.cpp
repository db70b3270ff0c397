// The settings window offscreen and on a real X server: layout, pages and
// help texts, the tree that never collapses, focus, and what every close
// writes to "Timer.ini" and "Timer.dat", read back through IniFile.
#include "scheduler/windows/timeroptionswindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
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
  template <typename T>
  static T* Child(const TtfTimerOptions& w, const char* name) {
    return w.findChild<T*>(name);
  }
  void TearDown() override { EXPECT_TRUE(boxes_.isEmpty()) << boxes_.join("\n").toStdString(); }
  IniFile Schedule() const { return IniFile(tree_.Posix("Profile/Timer.dat")); }
  // The tree's nodes in the order of their absolute index.
  static std::vector<QTreeWidgetItem*> Nodes(QTreeWidget* tree) {
    std::vector<QTreeWidgetItem*> nodes;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) nodes.push_back(*it);
    return nodes;
  }

  test::ScopedRegistry registry_;
  test::TempTree tree_;
  IniFile ini_{tree_.Posix("Timer.ini")};
  QTimer boxWatch_;
  QStringList boxes_;
};

TEST_F(TimerOptionsTest, LayoutAt96And120Dpi) {
  auto w = Open();
  EXPECT_EQ(w->windowTitle(), QString::fromUtf8("Einstellungen für den Timer"));
  EXPECT_EQ(w->size(), QSize(783, 539));
  EXPECT_EQ(w->tvTOpts()->geometry(), QRect(0, 29, 209, 510));
  EXPECT_EQ(w->page(TOptionsPage::Start)->geometry(), QRect(212, 29, 571, 510));
  EXPECT_EQ(w->helpView(TOptionsPage::Start)->geometry(), QRect(0, 0, 571, 272));
  EXPECT_EQ(w->helpView(TOptionsPage::Info)->geometry(), QRect(0, 0, 571, 510));
  EXPECT_EQ(Child<QSpinBox>(*w, "spKDel")->minimum(), 1);
  EXPECT_EQ(Child<QSpinBox>(*w, "spKDel")->maximum(), 101);
  w->close();
  EXPECT_EQ(Open(kProfile, 120)->size(), QSize(587, 404));  // 96/128
}

// Each help text: its title, and where it has empty lines (a line break
// and an empty line are easy to confuse); the title in 12 point bold, the
// rest in 10 point.
TEST_F(TimerOptionsTest, HelpTextsInTheirFonts) {
  auto w = Open();
  const struct {
    TOptionsPage page;
    const char* face;
    const char* title;
    const char* shape;  // per line: T title, x text, _ empty
  } cases[] = {
      {TOptionsPage::Info, "Arial", "Einstellungen für den Timer", "T_x_x"},
      {TOptionsPage::Start, "Arial", "Startoptionen für den Timer", "T_x_x"},
      {TOptionsPage::KDel, "MS Sans Serif", "Kritische Löschmenge", "Txx_x"},
      {TOptionsPage::DelAgain, "MS Sans Serif", "Erneute Prüfung für Löschungen", "T_x_xx"},
      {TOptionsPage::Mail, "MS Sans Serif", "Benachrichtigung per eMail", "T_x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    QTextEdit* view = w->helpView(c.page);
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_EQ(view->font().family(), QString(c.face));
    EXPECT_EQ(dynamic_cast<TRichEditText*>(view) != nullptr, std::string(c.face) == "Arial");
    std::string shape;
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
      const bool title = block == view->document()->begin();
      shape += title ? 'T' : (block.text().isEmpty() ? '_' : 'x');
      EXPECT_EQ(block.charFormat().font().pointSize(), title ? 12 : 10) << shape;
      EXPECT_EQ(block.charFormat().font().bold(), title) << shape;
    }
    EXPECT_EQ(shape, c.shape);
    EXPECT_EQ(view->document()->begin().text(), QString::fromUtf8(c.title));
  }
  EXPECT_TRUE(w->helpView(TOptionsPage::KDel)->toPlainText().endsWith("auf 101%."));
}

TEST_F(TimerOptionsTest, NodesShowTheirPagesAndTheTreeNeverCollapses) {
  EXPECT_EQ(PageOfNode(-1), TOptionsPage::None);
  EXPECT_EQ(PageOfNode(6), TOptionsPage::None);
  auto w = Open();
  w->show();
  QTreeWidget* tree = w->tvTOpts();
  EXPECT_EQ(w->shownPage(), TOptionsPage::Info);
  const std::pair<const char*, TOptionsPage> expected[] = {
      {"Allgemein", TOptionsPage::Info},       {"Startoptionen", TOptionsPage::Start},
      {"Kritische Löschmenge", TOptionsPage::KDel}, {"Erneute Prüfung für Löschungen", TOptionsPage::DelAgain},
      {"Profilbezogen", TOptionsPage::Info},   {"Benachrichtigungsdienst", TOptionsPage::Mail}};
  const std::vector<QTreeWidgetItem*> nodes = Nodes(tree);
  ASSERT_EQ(nodes.size(), std::size(expected));
  for (size_t i = 0; i < nodes.size(); ++i) {
    EXPECT_EQ(nodes[i]->text(0), QString::fromUtf8(expected[i].first));
    tree->setCurrentItem(nodes[i]);
    EXPECT_EQ(w->shownPage(), expected[i].second) << expected[i].first;
  }
  tree->setCurrentItem(nullptr);
  EXPECT_EQ(w->shownPage(), TOptionsPage::None);

  QTreeWidgetItem* general = nodes[0];
  QTreeWidgetItem* profile = nodes[4];
  tree->collapseItem(general);
  tree->setCurrentItem(profile);
  QTest::keyClick(tree, Qt::Key_Left);
  QTest::keyClick(tree, Qt::Key_Minus);
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(profile).center());
  EXPECT_TRUE(general->isExpanded());
  EXPECT_TRUE(profile->isExpanded());
}

TEST_F(TimerOptionsTest, HelpViewsHandTheFocusToTheTreeAndTabReachesTheControls) {
  auto w = Open();
  w->show();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  const std::vector<QTreeWidgetItem*> nodes = Nodes(w->tvTOpts());
  for (int node = 0; node < 6; ++node) {
    w->tvTOpts()->setCurrentItem(nodes[node]);
    QTest::mouseClick(w->helpView(PageOfNode(node))->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(QApplication::focusWidget(), w->tvTOpts()) << node;
  }
  w->tvTOpts()->setCurrentItem(nodes[1]);
  w->tvTOpts()->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Child<QCheckBox>(*w, "cbShowProcess"));
}

// A text view starts with the I-beam, and shows a hand over a list item's
// check mark.
TEST_F(TimerOptionsTest, RichEditTextNeverShowsTheTextCursor) {
  TRichEditText view;
  view.setMarkdown("- [ ] Haken\n\n" + QString("Hilfetext\n\n").repeated(100));
  view.resize(200, 100);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const QRect mark = view.cursorRect(QTextCursor(view.document()->begin()));
  EXPECT_EQ(view.viewport()->cursor().shape(), Qt::ArrowCursor);
  for (int x = 1; x < 60; x += 3) {
    test::MoveMouse(view.viewport(), QPoint(x, mark.center().y()));
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::ArrowCursor) << x;
  }
  view.setReadOnly(true);
  test::MoveMouse(view.viewport(), QPoint(30, 20));
  EXPECT_EQ(view.viewport()->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(view.verticalScrollBar()->cursor().shape(), Qt::ArrowCursor);
}

// Every close writes back; read through IniFile as the runs read it.
TEST_F(TimerOptionsTest, ClosingUnchangedRewritesTheSameValues) {
  tree_.Write("Timer.ini", "[Options]\r\nShowProcess=0\r\nMinimized=1\r\nCriticDel=35\r\nCheckDeleteAgain=0\r\n");
  Close(*Open());
  EXPECT_EQ(ini_.ReadSectionValues("Options"),
            (std::vector<std::string>{"ShowProcess=0", "Minimized=1", "CriticDel=35", "CheckDeleteAgain=0"}));
  EXPECT_EQ(Schedule().ReadString(kProfile, "Mail", "?"), "ann@kestrovane.example");
  EXPECT_EQ(Schedule().ReadString("0000007", "Mail", "?"), "b@kestrovane.example");

  tree_.Write("Timer.ini", "");
  Close(*Open());
  EXPECT_EQ(ini_.ReadSectionValues("Options"),
            (std::vector<std::string>{"ShowProcess=1", "Minimized=0", "CriticDel=20", "CheckDeleteAgain=1"}));
}

TEST_F(TimerOptionsTest, CriticalShareIsShownAndWrittenWithinOneTo101) {
  for (const auto& [stored, shown] : {std::pair{"0", 1}, {"500", 101}, {"-3", 1}, {"101", 101}, {"x", 20}}) {
    SCOPED_TRACE(stored);
    ini_.WriteString("Options", "CriticDel", stored);
    auto w = Open();
    EXPECT_EQ(Child<QSpinBox>(*w, "spKDel")->value(), shown);
    Close(*w);
    EXPECT_EQ(ini_.ReadInteger("Options", "CriticDel", -1), shown);
  }
}

TEST_F(TimerOptionsTest, MailSwitchAndAddress) {
  auto w = Open();
  Child<QCheckBox>(*w, "cbActive")->setChecked(false);
  Close(*w);
  EXPECT_FALSE(Schedule().ValueExists(kProfile, "Mail")) << "unchecked leaves the address in place";

  w = Open();
  EXPECT_FALSE(Child<QCheckBox>(*w, "cbActive")->isChecked());
  EXPECT_EQ(Child<QLineEdit>(*w, "teMailAdress")->text(), QString(kServiceAddress));
  Child<QCheckBox>(*w, "cbActive")->setChecked(true);
  Child<QLineEdit>(*w, "teMailAdress")->clear();
  Close(*w);
  EXPECT_TRUE(Schedule().ValueExists(kProfile, "Mail"));
  EXPECT_EQ(Schedule().ReadString(kProfile, "Mail", "?"), "");

  platform::Registry(platform::Hive::CurrentUser).DeleteKey("Software\\Vorlem");
  w = Open();
  EXPECT_FALSE(Child<QCheckBox>(*w, "cbActive")->isChecked()) << "an empty address is no address";
  EXPECT_EQ(Child<QLineEdit>(*w, "teMailAdress")->text(), QString()) << "no registry key: the design text";
}

TEST_F(TimerOptionsTest, AddressTypingStopsAt60ButALongerStoredOneSurvives) {
  const std::string longer = std::string(70, 'a') + "@kestrovane.example";
  auto w = Open();
  auto* edit = Child<QLineEdit>(*w, "teMailAdress");
  edit->clear();
  QTest::keyClicks(edit, QString(75, 'x'));
  EXPECT_EQ(edit->text(), QString(60, 'x'));
  Close(*w);

  Schedule().WriteString(kProfile, "Mail", longer);
  w = Open();
  EXPECT_EQ(Child<QLineEdit>(*w, "teMailAdress")->text().toStdString(), longer);
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
    EXPECT_FALSE(Child<QCheckBox>(*w, "cbActive")->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(*w, "teMailAdress")->isEnabled());
    EXPECT_FALSE(Child<QLabel>(*w, "tlNoProfile")->isHidden());
    Child<QCheckBox>(*w, "cbActive")->setChecked(true);
    Close(*w);
    EXPECT_EQ(tree_.Read("Profile/Timer.dat"), before);
  }

  auto w = Open();
  EXPECT_TRUE(Child<QLabel>(*w, "tlNoProfile")->isHidden());
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

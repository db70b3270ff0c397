// The main window offscreen: the grid and its columns, sizes at
// 96 and 120 dpi, how it hides and ends, and the windows of its menu.
#include "scheduler/windows/timermainwindow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTimer>

#include <functional>
#include <memory>

#include "copyengine/windows/tests/widget_support.h"
#include "platform/inifile.h"
#include "platform/registry.h"
#include "platform/ui/jobstop.h"
#include "scheduler/tests/scheduler_fixture.h"
#include "scheduler/windows/infobox.h"
#include "scheduler/windows/timeroptionswindow.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::WaitUntil;

class TimerMainWindow : public ::testing::Test {
 protected:
  test::TempTree tree;
  test::ScopedRegistry registry;
  test::ScopedEnv runtime{"XDG_RUNTIME_DIR", tree.Posix().c_str()};
  test::FakeNetwork network;

  void SetUp() override {
    tree.Write("W/Profile/Timer.dat",
               "[0000001]\r\nName=Tägliche Sicherung\r\nKind=3\r\nDaily=23:59:59\r\nLastStart=11.01.26 23:59:59\r\n"
               "[0000002]\r\nName=Wochenende\r\nKind=4\r\n");
    tree.Mkdir("bin");
    platform::Registry(platform::Hive::CurrentUser).WriteString(kUserKey, "WorkDir", tree.WinFolder("W"));
  }
  void TearDown() override { platform::ui::SetAllJobsStopping(false); }

  std::unique_ptr<TtfTimerMainWidget> Window(int dpi) {
    TTimerMainSetup setup{.programFolder = tree.WinFolder("bin"), .network = &network};
    setup.runFactory = [](const TRunOptions&, const TProfItem&, const TUserOptions&, const std::string&) {
      ADD_FAILURE() << "nothing is due";
      return TRunHandle{};
    };
    return std::make_unique<TtfTimerMainWidget>(std::move(setup), dpi);
  }
};

TEST_F(TimerMainWindow, ShowsTheScheduleGridAndScalesItsColumns) {
  auto w = Window(96);
  ASSERT_EQ(w->FormCreate(), std::nullopt);
  ASSERT_TRUE(WaitUntil([&] { return w->tsgTimerItems()->rowCount() == 2; }));
  EXPECT_EQ(w->size(), QSize(783, 435));
  QTableWidget* grid = w->tsgTimerItems();
  const QStringList rows[] = {{"ID", "Name", "Timer", "Letzter Start"},
                              {"0000001", "Tägliche Sicherung", "Täglich", "11.01.26 23:59:59"},
                              {"0000002", "Wochenende", "Wöchentlich", ""}};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(grid->horizontalHeaderItem(c)->text(), rows[0][c]);
    for (int r = 0; r < 2; ++r) EXPECT_EQ(grid->item(r, c)->text(), rows[r + 1][c]) << r << "," << c;
  }
  EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 16);

  // 96 / (120 + 8) = 0.75: 783 x 435 becomes 587 x 326; the columns keep
  // their widths and the name takes the rest.
  auto scaled = Window(120);
  EXPECT_EQ(scaled->size(), QSize(587, 326));
  EXPECT_EQ(scaled->tsgTimerItems()->verticalHeader()->defaultSectionSize(), 12);
  for (TtfTimerMainWidget* window : {w.get(), scaled.get()}) {
    window->show();
    QTableWidget* table = window->tsgTimerItems();
    ASSERT_TRUE(WaitUntil([&] { return table->columnWidth(1) == table->width() - 278; }));
    EXPECT_EQ(QList<int>({table->columnWidth(0), table->columnWidth(2), table->columnWidth(3)}),
              QList<int>({75, 100, 95}));
  }
}

TEST_F(TimerMainWindow, HidesAfterTheStartAndOnCloseAndEndsWithF12) {
  auto w = Window(96);
  w->show();
  ASSERT_EQ(w->FormCreate(), std::nullopt);
  ASSERT_TRUE(WaitUntil([&] { return w->isHidden(); }));
  w->show();
  ASSERT_TRUE(WaitUntil([&] { return w->isVisible(); }));
  EXPECT_FALSE(w->close());
  EXPECT_TRUE(w->isHidden());
  EXPECT_FALSE(w->model().Closing());
  w->show();
  QAction* end = w->findChild<QAction*>("miClose");
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->shortcut(), QKeySequence(Qt::Key_F12));
  end->trigger();
  EXPECT_TRUE(w->model().Closing());
  EXPECT_TRUE(w->isHidden());
}

// Triggers the action and runs `use` on the modal window it opened, then
// closes that window.
template <typename Window>
void WithModal(QAction* action, const std::function<void(Window&)>& use) {
  bool opened = false;
  QObject scope;  // no window opened: the call goes with the scope
  QTimer::singleShot(0, &scope, [&] {
    auto* window = dynamic_cast<Window*>(QApplication::activeModalWidget());
    if (window == nullptr) return;
    opened = true;
    use(*window);
    window->close();
  });
  action->trigger();
  EXPECT_TRUE(opened);
}

// "&Einstellungen" edits the program's "Timer.ini" and the selected row's
// profile (none without a row); "&Info" shows the about box. (Also on the
// real X server, unlike the tests above.)
using MenuWindows = TimerMainWindow;

TEST_F(MenuWindows, OpenForTheProgramAndTheSelectedRow) {
  auto w = Window(96);
  ASSERT_EQ(w->FormCreate(), std::nullopt);
  ASSERT_TRUE(WaitUntil([&] { return w->tsgTimerItems()->rowCount() == 2; }));
  QAction* options = w->findChild<QAction*>("miOptions");
  w->tsgTimerItems()->selectRow(1);
  WithModal<TtfTimerOptions>(options, [](TtfTimerOptions& o) {
    o.findChild<QCheckBox*>("cbShowProcess")->setChecked(false);
    o.findChild<QCheckBox*>("cbActive")->setChecked(true);
    o.findChild<QLineEdit*>("teMailAdress")->setText("wochenende@kestrovane.example");
  });
  EXPECT_FALSE(platform::IniFile(tree.Posix("bin/Timer.ini")).ReadBool("Options", "ShowProcess", true));
  const platform::IniFile schedule(tree.Posix("W/Profile/Timer.dat"));
  EXPECT_EQ(schedule.ReadString("0000002", "Mail", ""), "wochenende@kestrovane.example");
  EXPECT_FALSE(schedule.ValueExists("0000001", "Mail"));

  w->tsgTimerItems()->setCurrentCell(-1, -1);
  WithModal<TtfTimerOptions>(options, [](TtfTimerOptions& o) {
    EXPECT_FALSE(o.findChild<QCheckBox*>("cbActive")->isEnabled()) << "no row, no profile";
  });
  WithModal<TTFInfoBox>(w->findChild<QAction*>("Info1"), [](TTFInfoBox& box) {
    EXPECT_EQ(box.label("tlVersion")->text(), "Timer Modul Version: 4.0.12");
  });
}

}  // namespace
}  // namespace kv

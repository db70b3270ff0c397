// The main window offscreen: caption, menus, grid and its columns, sizes at
// 96 and 120 dpi, and how it hides and ends.
#include "scheduler/windows/timermainwindow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTableWidget>
#include <QTimer>

#include <functional>

#include <memory>

#include "copyengine/windows/tests/widget_support.h"
#include "platform/inifile.h"
#include "platform/registry.h"
#include "platform/ui/jobstop.h"
#include "scheduler/windows/infobox.h"
#include "scheduler/windows/timeroptionswindow.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::WaitUntil;

class NoNetwork : public INetworkProbe {
 public:
  platform::NetworkState Probe() override { return {}; }
};

class TimerMainWindow : public ::testing::Test {
 protected:
  test::TempTree tree;
  test::ScopedRegistry registry;
  test::ScopedEnv runtime{"XDG_RUNTIME_DIR", tree.Posix().c_str()};
  NoNetwork network;

  void SetUp() override {
    tree.Write("W/Profile/Timer.dat",
               "[0000001]\r\nName=Tägliche Sicherung\r\nKind=3\r\nDaily=23:59:59\r\nLastStart=11.01.26 23:59:59\r\n"
               "[0000002]\r\nName=Wochenende\r\nKind=4\r\n");
    tree.Mkdir("bin");
    platform::Registry(platform::Hive::CurrentUser).WriteString(kWorkDirKey, "WorkDir", tree.WinFolder("W"));
  }
  void TearDown() override { platform::ui::SetAllJobsStopping(false); }

  std::unique_ptr<TtfTimerMainWidget> Window(int dpi) {
    TTimerMainSetup setup;
    setup.programFolder = tree.WinFolder("bin");
    setup.network = &network;
    setup.runFactory = [](const TRunOptions&, const TProfItem&, const TUserOptions&, const std::string&) {
      ADD_FAILURE() << "nothing is due";
      return TRunHandle{};
    };
    return std::make_unique<TtfTimerMainWidget>(std::move(setup), dpi);
  }
};

TEST_F(TimerMainWindow, ShowsTheScheduleGridWithItsMenusAndColumns) {
  auto w = Window(96);
  ASSERT_EQ(w->FormCreate(), std::nullopt);
  ASSERT_TRUE(WaitUntil([&] { return w->tsgTimerItems()->rowCount() == 2; }));
  EXPECT_EQ(w->windowTitle(), "Kestrovane Timer");
  EXPECT_EQ(w->size(), QSize(783, 435));
  QStringList menus;
  for (QAction* a : w->menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"&Datei", "&Einstellungen", "&?"}));
  QStringList popup;
  for (QAction* a : w->PopupMenu1()->actions()) popup << a->text();
  EXPECT_EQ(popup, (QStringList{"Timer anzeigen", "Timer beenden"}));

  QTableWidget* grid = w->tsgTimerItems();
  const QStringList headings{"ID", "Name", "Timer", "Letzter Start"};
  for (int c = 0; c < 4; ++c) EXPECT_EQ(grid->horizontalHeaderItem(c)->text(), headings[c]);
  const QStringList rows[] = {{"0000001", "Tägliche Sicherung", "Täglich", "11.01.26 23:59:59"},
                              {"0000002", "Wochenende", "Wöchentlich", ""}};
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_EQ(grid->item(r, c)->text(), rows[r][c]) << r << "," << c;
  }
  EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 16);
  EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
  w->show();
  ASSERT_TRUE(WaitUntil([&] { return grid->columnWidth(1) == grid->width() - 278; }));
  EXPECT_GT(grid->width(), 700);
  EXPECT_EQ(grid->columnWidth(0), 75);
  EXPECT_EQ(grid->columnWidth(2), 100);
  EXPECT_EQ(grid->columnWidth(3), 95);

  // 96 / (120 + 8) = 0.75: 783 x 435 becomes 587 x 326; the columns keep
  // their widths and the name takes the rest.
  auto scaled = Window(120);
  EXPECT_EQ(scaled->size(), QSize(587, 326));
  EXPECT_EQ(scaled->tsgTimerItems()->verticalHeader()->defaultSectionSize(), 12);
  scaled->show();
  QTableWidget* scaledGrid = scaled->tsgTimerItems();
  ASSERT_TRUE(WaitUntil([&] { return scaledGrid->columnWidth(1) == scaledGrid->width() - 278; }));
  EXPECT_EQ(scaledGrid->columnWidth(0), 75);
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

// The menu's two windows, opened as the user opens them; each is found
// while it runs modally, used and closed.
class MenuWindows : public TimerMainWindow {
 protected:
  // Triggers the action and runs `use` on the modal window it opened.
  template <typename Window>
  static void WithModal(QAction* action, const std::function<void(Window&)>& use) {
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
};

TEST_F(MenuWindows, EinstellungenEditsTheProgramsTimerIniAndTheSelectedRowsProfile) {
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
  const platform::IniFile timerIni(tree.Posix("bin/Timer.ini"));
  EXPECT_FALSE(timerIni.ReadBool("Options", "ShowProcess", true));
  const platform::IniFile schedule(tree.Posix("W/Profile/Timer.dat"));
  EXPECT_EQ(schedule.ReadString("0000002", "Mail", ""), "wochenende@kestrovane.example");
  EXPECT_FALSE(schedule.ValueExists("0000001", "Mail"));

  w->tsgTimerItems()->setCurrentCell(-1, -1);
  WithModal<TtfTimerOptions>(options, [](TtfTimerOptions& o) {
    EXPECT_FALSE(o.findChild<QCheckBox*>("cbActive")->isEnabled()) << "no row, no profile";
  });
}

TEST_F(MenuWindows, InfoShowsTheAboutBox) {
  auto w = Window(96);
  ASSERT_EQ(w->FormCreate(), std::nullopt);
  WithModal<TTFInfoBox>(w->findChild<QAction*>("Info1"), [](TTFInfoBox& box) {
    EXPECT_EQ(box.label("tlVersion")->text(), "Timer Modul Version: 4.0.12");
  });
}

}  // namespace
}  // namespace kv

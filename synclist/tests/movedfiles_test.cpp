// The moved-file search on real trees, and the drive passes that drop
// folders: vanished drives and drives where files came back.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <tuple>

#include "platform/errors.h"
#include "platform/text.h"
#include "synclist/dirtree.h"
#include "synclist/movelist.h"
#include "synclist/syncliste.h"
#include "synclist/tests/testrows.h"
#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::AddRows;
using test::Dos;
using test::Folder;
using test::OnlyDestination;
using test::OnlySource;
using test::RowNames;
using Names = std::vector<std::string>;

constexpr time_t kMTime = 1714557600;  // 01.05.2024 10:00:00 UTC
constexpr uint32_t kTime = Dos(2024, 5, 1, 12, 0, 0);
constexpr int kOnBoth = kStateFolderOnBothSides;

class MovedFiles : public ::testing::Test {
 protected:
  // Scans src and dst into a list with the strategy given (by default:
  // copy what is only in the source, delete what is only in the destination).
  TSyncListe Scan(const std::string& srcRel = "src", const std::string& dstRel = "dst",
                  std::array<int, 4> actions = {kActionCopy, kActionDelete, kActionCopy, kActionDelete}) {
    TDirTree tree;
    tree.recurse = true;
    tree.SetFolderKind(2);
    tree.ScanSource(t_.WinFolder(srcRel));
    tree.ScanDestination(t_.WinFolder(dstRel));
    tree.SortFolderList();
    TSyncListe list;
    list.SetRoots(t_.WinFolder(srcRel), t_.WinFolder(dstRel));
    list.AddFromTree(tree, {kStateFolderOnBothSides});
    TUnpackedStrategy s{};
    for (int k = 0; k < 4; ++k) s[k + 1] = {kFlagSourceToDestination, actions[k]};
    list.ApplyStrategy(s);
    return list;
  }
  void Tree(std::initializer_list<std::string_view> entries) { test::WriteTree(t_, kMTime, entries); }
  // "old -> new" of every move, with the tree's root cut off.
  std::vector<std::string> Moves(const TSyncListe& list) const {
    std::vector<std::string> moves;
    const size_t root = t_.Win().size();
    for (size_t i = 0; list.movedFiles() && i < list.movedFiles()->Count(); ++i) {
      const TMovePair p = list.movedFiles()->GetPair(i);
      moves.push_back(p.oldPath.substr(root) + " -> " + p.newPath.substr(root));
    }
    return moves;
  }

  // An empty list that holds the roots of the pairs given.
  static TSyncListe Pairs(std::initializer_list<TPairRoots> pairs) {
    TSyncListe list;
    for (const TPairRoots& roots : pairs) {
      TSyncListe pair;
      pair.SetRoots(roots.source, roots.destination);
      list.AppendFrom(std::move(pair));
    }
    return list;
  }
  test::ScopedRegistry registry_;
  test::ScopedEnv tz_{"TZ", "Europe/Berlin"};
  test::TempTree t_;
};

TEST_F(MovedFiles, AFileMovedInTheSourceIsMovedInTheDestinationAndLeavesTheJob) {
  Tree({"src/A/keep.txt=k", "dst/A/keep.txt=k", "src/B/other.txt=k", "dst/B/other.txt=k", "src/B/moved.txt=hello",
        "dst/A/moved.txt=hello", "src/B/new.txt=new"});
  TSyncListe list = Scan();
  list.FindMoved();
  EXPECT_EQ(Moves(list), Names{"\\dst\\A\\moved.txt -> \\dst\\B\\moved.txt"});
  EXPECT_FALSE(t_.Exists("dst/A/moved.txt"));
  EXPECT_EQ(t_.Read("dst/B/moved.txt"), "hello");

  list.MarkFolders();
  list.FormatTexts();
  list.WriteJobFile(t_.Win("job.tmp"));
  // Folder A had nothing else to do and is gone; B keeps its new file.
  Names job;
  for (const auto& r : test::DecodeJobFile(t_.Posix("job.tmp")))
    job.push_back(r.source + " " + std::to_string(r.stateCode) + " " + std::to_string(r.action));
  EXPECT_EQ(job, (Names{t_.WinFolder("src/B") + " 10 1", "new.txt 2 1"}));
}

TEST_F(MovedFiles, ANameThatChangedCaseIsFoundAndTheMovedFileKeepsItsName) {
  Tree({"src/B/MOVED.TXT=hello", "dst/A/moved.txt=hello"});
  TSyncListe list = Scan();
  list.FindMoved();
  EXPECT_EQ(Moves(list), Names{"\\dst\\A\\moved.txt -> \\dst\\B\\moved.txt"});
  EXPECT_TRUE(t_.Exists("dst/B/moved.txt"));  // B was created for it
  // One-sided folders keep their rows (and their strategy actions), empty now.
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.GetRow(0).state, kStateFolderOnlyInDestination);
  EXPECT_EQ(list.GetRow(1).state, kStateFolderOnlyInSource);
}

// A target written after the scan is never replaced: that candidate is
// passed over for the next one, and with none left both rows stay.
TEST_F(MovedFiles, AnExistingTargetIsNeverReplaced) {
  Tree({"src/B/f.txt=hello", "dst/A/f.txt=hello"});
  TSyncListe alone = Scan();
  Tree({"dst/B/f.txt=written meanwhile"});
  alone.FindMoved();
  EXPECT_EQ(alone.movedFiles(), nullptr);
  EXPECT_EQ(t_.Read("dst/B/f.txt"), "written meanwhile");
  EXPECT_EQ(t_.Read("dst/A/f.txt"), "hello");
  EXPECT_EQ(RowNames(alone), (Names{t_.WinFolder("src/A"), "f.txt", t_.WinFolder("src/B"), "f.txt"}));
  EXPECT_EQ(alone.GetRow(1).action, kActionDelete);

  std::filesystem::remove(t_.Posix("dst/B/f.txt"));
  Tree({"src/C/f.txt=hello", "dst/C"});
  TSyncListe two = Scan();
  Tree({"dst/B/f.txt=written meanwhile"});
  two.FindMoved();
  EXPECT_EQ(Moves(two), Names{"\\dst\\A\\f.txt -> \\dst\\C\\f.txt"});
  EXPECT_EQ(t_.Read("dst/C/f.txt"), "hello");
  EXPECT_EQ(t_.Read("dst/B/f.txt"), "written meanwhile");
  // A (only in the destination) stays; the B candidate is still copied; C
  // had nothing else to do and is gone.
  EXPECT_EQ(RowNames(two), (Names{t_.WinFolder("src/A"), t_.WinFolder("src/B"), "f.txt"}));
  EXPECT_EQ(two.GetRow(2).action, kActionCopy);
}

TEST_F(MovedFiles, ACandidateMayLieInAnotherPairAndSourceSideDeletionsMoveInTheSource) {
  Tree({"dst1/A/f.dat=data", "src2/B/f.dat=data", "src1/A", "dst2"});
  TSyncListe total;
  total.AppendFrom(Scan("src1", "dst1"));
  total.AppendFrom(Scan("src2", "dst2"));
  total.FindMoved();
  EXPECT_EQ(Moves(total), Names{"\\dst1\\A\\f.dat -> \\dst2\\B\\f.dat"});
  EXPECT_EQ(t_.Read("dst2/B/f.dat"), "data");
  EXPECT_EQ(RowNames(total), Names{t_.WinFolder("src2/B")});  // pair 2's B, only in the source

  // Only in the source and to delete: the move is made in the source.
  Tree({"src/A/f.txt=x", "dst/B/f.txt=x", "src/B", "dst/A"});
  TSyncListe back = Scan("src", "dst", {kActionNone, kActionNone, kActionDelete, kActionCopy});
  back.FindMoved();
  EXPECT_FALSE(t_.Exists("src/A/f.txt"));
  EXPECT_EQ(t_.Read("src/B/f.txt"), "x");
  EXPECT_EQ(back.Count(), 0u);
}

// Rows the search must leave alone: a partner of another size or time, a
// target folder on another drive (no folder is made there), a file that is
// gone (the folders made for it go again).
TEST_F(MovedFiles, NoMoveWithoutAnExactPartnerOnTheSameDrive) {
  test::MapDrive("V:", t_.Posix("v"));
  Tree({"v/dst/A/f.txt=12345", "dst/A/f.txt=12345"});
  struct Case {
    const char* what;
    std::string fromSource, fromDestination, name;
    int64_t size;
    uint32_t time;
  };
  const Case cases[] = {
      {"other size", t_.WinFolder("src/A"), t_.WinFolder("dst/A"), "f.txt", 6, kTime},
      {"other time", t_.WinFolder("src/A"), t_.WinFolder("dst/A"), "f.txt", 5, Dos(2024, 5, 1, 12, 0, 2)},
      {"other drive", "V:\\src\\A\\", "V:\\dst\\A\\", "f.txt", 5, kTime},
      {"file gone", t_.WinFolder("src/A"), t_.WinFolder("dst/A"), "g.txt", 5, kTime},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TSyncListe list = Pairs({{t_.WinFolder("src"), t_.WinFolder("dst")}, {"V:\\src\\", "V:\\dst\\"}});
    AddRows(list, {Folder(c.fromSource, c.fromDestination, kOnBoth), OnlyDestination(c.name, kActionDelete, 5, kTime),
                   Folder(t_.WinFolder("src/B/C"), t_.WinFolder("dst/B/C"), kStateFolderOnlyInSource),
                   OnlySource(c.name, kActionCopy, c.size, c.time)});
    list.FindMoved();
    EXPECT_EQ(list.movedFiles(), nullptr);
    EXPECT_EQ(list.Count(), 4u);
    EXPECT_FALSE(t_.Exists("dst/B"));
  }
  EXPECT_TRUE(t_.Exists("dst/A/f.txt"));
  EXPECT_TRUE(t_.Exists("v/dst/A/f.txt"));
}

// A folder swapped for a link to a folder outside between the scan and the
// move (or a link where a folder is to be made): the move is refused and
// reported, nothing outside changes, and the rows stay for the copy engine.
TEST_F(MovedFiles, AFolderSwappedForALinkAfterTheScanLeadsNowhereOutside) {
  struct Case {
    const char* madeBefore;  // a destination folder of the scan
    const char* link;        // a link to "outside" after the scan
  };
  for (const Case& c : {Case{"dst/B/C", "dst/B/C"}, Case{"dst/X", "dst/B"}, Case{"dst/B/C", "dst/A"}}) {
    SCOPED_TRACE(c.link);
    for (const char* rel : {"src", "dst", "outside"}) std::filesystem::remove_all(t_.Posix(rel));
    // A namesake outside is what a move from there would take.
    const bool fromOutside = std::string_view(c.link) == "dst/A";
    Tree({"src/B/C/f.txt=hello", "dst/A/f.txt=hello", c.madeBefore, fromOutside ? "outside/f.txt=outside" : "outside"});
    TSyncListe list = Scan();
    const size_t rows = list.Count();
    if (t_.Exists(c.link)) std::filesystem::rename(t_.Posix(c.link), t_.Posix(std::string(c.link) + "-aside"));
    std::filesystem::create_directory_symlink(t_.Posix("outside"), t_.Posix(c.link));
    std::vector<std::string> report;
    list.FindMoved(&report);
    EXPECT_TRUE(fromOutside ? t_.Read("outside/f.txt") == "outside" : std::filesystem::is_empty(t_.Posix("outside")));
    EXPECT_EQ(list.movedFiles(), nullptr);
    EXPECT_EQ(list.Count(), rows);
    EXPECT_EQ(report, Names{"Die Datei " + platform::Quoted(t_.Win("dst/A/f.txt")) + " wurde nicht nach " +
                            platform::Quoted(t_.Win("dst/B/C/f.txt")) + " verschoben: " +
                            platform::SysErrorMessage(ELOOP)});
  }
}

// "." and ".." lead nowhere, whether among a row's folders or as its name.
TEST_F(MovedFiles, DotNamesAreRefusedAndReported) {
  Tree({"dst/A/f.txt=12345", "dst/B", "outside"});
  const std::string a = t_.WinFolder("dst/A"), b = t_.WinFolder("dst/B");
  for (const auto& [from, to, name] : {std::tuple{a, t_.WinFolder("dst") + "..\\outside\\", "f.txt"},
                                       std::tuple{a + ".\\", b, "f.txt"}, std::tuple{a, b, ".."}}) {
    SCOPED_TRACE(from + " -> " + to + name);
    TSyncListe list = Pairs({{t_.WinFolder("src"), t_.WinFolder("dst")}});
    AddRows(list, {Folder(t_.WinFolder("src/A"), from, kOnBoth), OnlyDestination(name, kActionDelete, 5, kTime),
                   Folder(t_.WinFolder("src/B"), to, kStateFolderOnlyInSource), OnlySource(name, kActionCopy, 5, kTime)});
    std::vector<std::string> report;
    list.FindMoved(&report);
    EXPECT_EQ(list.Count(), 4u);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_TRUE(report[0].ends_with(platform::SysErrorMessage(EINVAL))) << report[0];
  }
  EXPECT_EQ(t_.Read("dst/A/f.txt"), "12345");
  EXPECT_TRUE(std::filesystem::is_empty(t_.Posix("outside")) && std::filesystem::is_empty(t_.Posix("dst/B")));
}

// --- Move and unstable-drive lists -------------------------------------------------------

TEST(MoveList, KeepsPairsInOrderCutAtWholeCharacters) {
  TMoveList list;
  list.Add("C:\\a\\x", "C:\\b\\x");
  list.Add(std::string(250, 'p') + "äää", "n");  // 256 bytes
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.GetPair(0).newPath, "C:\\b\\x");
  EXPECT_EQ(list.GetPair(1).oldPath, std::string(250, 'p') + "ää");
  EXPECT_THROW(list.GetPair(2), std::out_of_range);
  TMoveList copy;
  copy.Add("old", "stale");
  copy.FillFrom(&list);
  EXPECT_EQ(copy.Count(), 2u);
  EXPECT_EQ(copy.GetPair(0).oldPath, "C:\\a\\x");
  copy.FillFrom(nullptr);
  EXPECT_EQ(copy.Count(), 0u);
}

TEST(InStableDriveList, NamesTheDriveAndItsNetworkName) {
  test::ScopedRegistry registry;
  test::TempTree t;
  test::MapDrive("N:", t.Posix(), false, "\\\\server\\share");
  TInStableDriveList list;
  for (const char* path : {"C:\\data\\", "N:\\docs\\x\\", "\\\\srv\\sh\\dir\\"}) list.Add(path);
  std::vector<std::string> pairs;
  for (size_t i = 0; i < list.Count(); ++i) pairs.push_back(list.GetPair(i).drive + "|" + list.GetPair(i).uncDrive);
  EXPECT_EQ(pairs, (Names{"C:|", "N:|\\\\server\\share", "\\\\srv\\sh|"}));
  for (const char* held : {"n:\\other\\", "\\\\SERVER\\share\\x\\", "c:\\"}) EXPECT_TRUE(list.HoldsDriveOf(held)) << held;
  EXPECT_FALSE(list.HoldsDriveOf("D:\\"));
}

// --- Vanished and unstable drives ------------------------------------------------------------

TEST_F(MovedFiles, CollectDropsEveryBlockOnAVanishedDriveAndNamesTheDriveOnce) {
  Tree({"e"});
  test::MapDrive("E:", t_.Posix("e"), /*mustBeMounted=*/true);  // a plain folder: nothing mounted
  test::MapDrive("F:", t_.Posix("missing"), /*mustBeMounted=*/false);
  TSyncListe list;
  AddRows(list, {Folder(t_.WinFolder("s"), t_.WinFolder("d"), kOnBoth), OnlySource("keep1", kActionCopy),
                 Folder(t_.WinFolder("s/x"), "E:\\backup\\x\\", kOnBoth), OnlySource("a", kActionCopy),
                 Folder(t_.WinFolder("s/y"), "E:\\backup\\y\\", kStateFolderOnlyInSource),
                 Folder(t_.WinFolder("s/z"), "e:\\backup\\z\\", kOnBoth), OnlyDestination("b", kActionDelete),
                 Folder("F:\\in\\", t_.WinFolder("d/f"), kStateFolderOnlyInDestination),
                 OnlyDestination("c", kActionDelete), Folder("K:\\unmapped\\", t_.WinFolder("d/k"), kOnBoth),
                 Folder(t_.WinFolder("s/w"), t_.WinFolder("d/w"), kOnBoth), OnlySource("keep2", kActionCopy)});
  TDriveNameList vanished;
  list.CollectDrives(vanished);
  EXPECT_EQ(vanished, (TDriveNameList{"E:", "F:", "K:"}));
  EXPECT_EQ(RowNames(list), (Names{t_.WinFolder("s"), "keep1", t_.WinFolder("s/w"), "keep2"}));
  EXPECT_FALSE(t_.Exists("e/backup"));  // nothing was done on the empty mount point
}

TEST_F(MovedFiles, AFileToDeleteThatReappearedMakesItsDriveUnstable) {
  t_.Mkdir("u");
  test::MapDrive("U:", t_.Posix("u"), false, "\\\\srv\\share");
  Tree({"src/a/gone.txt=back again", "src/a/gone2.txt=back again"});
  TSyncListe list;
  AddRows(list, {Folder(t_.WinFolder("src/a"), t_.WinFolder("dst/a"), kOnBoth),
                 OnlyDestination("gone.txt", kActionDelete), OnlyDestination("gone2.txt", kActionDelete),
                 OnlyDestination("really-gone.txt", kActionDelete),
                 Folder("U:\\src\\", "U:\\dst\\", kOnBoth), OnlySource("y.txt", kActionDelete),
                 Folder(t_.WinFolder("src/b"), t_.WinFolder("dst/b"), kOnBoth), OnlySource("x.txt", kActionCopy),
                 Folder("U:\\s2\\", t_.WinFolder("dst/c"), kOnBoth), OnlySource("z.txt", kActionCopy)});
  TInStableDriveList unstable;
  unstable.Add("stale entry");
  list.RecheckUnstable(unstable);
  ASSERT_EQ(unstable.Count(), 1u);
  EXPECT_EQ(unstable.GetPair(0).drive, "C:");
  EXPECT_EQ(RowNames(list), (Names{"U:\\src\\", "y.txt"}));

  // A source-only file to delete that now exists in the destination: the
  // destination's drive, by its network name, and every block on it go.
  Tree({"u/dst/y.txt=y"});
  AddRows(list, {Folder("\\\\SRV\\share\\other\\", t_.WinFolder("d"), kOnBoth),
                 Folder(t_.WinFolder("s"), t_.WinFolder("d"), kOnBoth), OnlySource("k.txt", kActionCopy)});
  list.RecheckUnstable(unstable);
  ASSERT_EQ(unstable.Count(), 1u);
  EXPECT_EQ(unstable.GetPair(0).drive + "|" + unstable.GetPair(0).uncDrive, "U:|\\\\srv\\share");
  EXPECT_EQ(RowNames(list), (Names{t_.WinFolder("s"), "k.txt"}));
}

}  // namespace
}  // namespace kv

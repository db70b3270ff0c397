// The moved-file search on real trees, and the drive passes that drop
// folders: vanished drives and drives where files came back.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "synclist/dirtree.h"
#include "synclist/movelist.h"
#include "synclist/syncliste.h"
#include "synclist/tests/testrows.h"
#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::Dos;
using test::Folder;
using test::OnlyDestination;
using test::OnlySource;

constexpr time_t kMTime = 1714557600;  // 01.05.2024 10:00:00 UTC

class MovedFiles : public ::testing::Test {
 protected:
  // Scans src and dst of the tree into a list with the strategy "copy what
  // is only in the source, delete what is only in the destination".
  TSyncListe ScanMirror(const std::string& srcRel = "src", const std::string& dstRel = "dst") {
    TDirTree tree;
    tree.recurse = true;
    tree.SetFolderKind(2);
    tree.ScanSource(t_.WinFolder(srcRel));
    tree.ScanDestination(t_.WinFolder(dstRel));
    tree.SortFolderList();
    TSyncListe list;
    list.SetRoots(t_.WinFolder(srcRel), t_.WinFolder(dstRel));
    list.AddFromTree(tree, {kStateFolderOnBothSides});
    list.ApplyStrategy(Mirror());
    return list;
  }
  static TUnpackedStrategy Mirror() {
    TUnpackedStrategy s{};
    s[1] = {kFlagSourceToDestination, kActionCopy};
    s[2] = {kFlagSourceToDestination, kActionDelete};
    s[3] = {kFlagSourceToDestination, kActionCopy};
    s[4] = {kFlagSourceToDestination, kActionDelete};
    return s;
  }
  void File(const std::string& rel, const std::string& content) {
    t_.Write(rel, content);
    t_.SetMTime(rel, kMTime);
  }
  // The position of the row with this file name on either side, or -1.
  static int FindFile(const TSyncListe& list, const std::string& name) {
    for (size_t i = 0; i < list.Count(); ++i) {
      const TSyncListItem& r = list.GetRow(i);
      if (!r.IsFolder() && (r.source == name || r.destination == name)) return static_cast<int>(i);
    }
    return -1;
  }

  test::ScopedRegistry registry_;
  test::ScopedEnv tz_{"TZ", "Europe/Berlin"};
  test::TempTree t_;
};

TEST_F(MovedFiles, AFileMovedInTheSourceIsMovedInTheDestinationAndLeavesTheJob) {
  File("src/A/keep.txt", "k");
  File("dst/A/keep.txt", "k");
  File("src/B/other.txt", "o");
  File("dst/B/other.txt", "o");
  File("src/B/moved.txt", "hello");
  File("dst/A/moved.txt", "hello");
  File("src/B/new.txt", "new");
  TSyncListe list = ScanMirror();
  ASSERT_NE(FindFile(list, "moved.txt"), -1);

  list.FindMoved();
  ASSERT_NE(list.movedFiles(), nullptr);
  ASSERT_EQ(list.movedFiles()->Count(), 1u);
  EXPECT_EQ(list.movedFiles()->GetPair(0).oldPath, t_.Win("dst/A/moved.txt"));
  EXPECT_EQ(list.movedFiles()->GetPair(0).newPath, t_.Win("dst/B/moved.txt"));
  EXPECT_FALSE(t_.Exists("dst/A/moved.txt"));
  EXPECT_EQ(t_.Read("dst/B/moved.txt"), "hello");
  EXPECT_EQ(FindFile(list, "moved.txt"), -1);

  list.MarkFolders();
  list.FormatTexts();
  list.WriteJobFile(t_.Win("job.tmp"));
  const auto job = test::DecodeJobFile(t_.Posix("job.tmp"));
  // Folder A had nothing else to do and is gone; B keeps its new file.
  ASSERT_EQ(job.size(), 2u);
  EXPECT_EQ(job[0].source, t_.WinFolder("src/B"));
  EXPECT_EQ(job[0].stateCode, 10);
  EXPECT_EQ(job[0].action, kActionCopy);
  EXPECT_EQ(job[1].source, "new.txt");
  EXPECT_EQ(job[1].action, kActionCopy);
  for (const auto& r : job) EXPECT_TRUE(r.source != "moved.txt" && r.destination != "moved.txt");
}

TEST_F(MovedFiles, ANameThatChangedCaseIsFoundAndTheMovedFileKeepsItsName) {
  File("src/B/MOVED.TXT", "hello");
  File("dst/A/moved.txt", "hello");
  TSyncListe list = ScanMirror();
  list.FindMoved();
  ASSERT_NE(list.movedFiles(), nullptr);
  EXPECT_EQ(list.movedFiles()->GetPair(0).newPath, t_.WinFolder("dst/B") + "moved.txt");
  EXPECT_TRUE(t_.Exists("dst/B/moved.txt"));  // B was created for it
  EXPECT_FALSE(t_.Exists("dst/A/moved.txt"));
  // One-sided folders keep their rows (and their strategy actions), empty now.
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.GetRow(0).state, kStateFolderOnlyInDestination);
  EXPECT_EQ(list.GetRow(1).state, kStateFolderOnlyInSource);
}

TEST_F(MovedFiles, AnExistingTargetIsNeverReplacedAndBothRowsStay) {
  File("src/B/f.txt", "hello");
  File("dst/A/f.txt", "hello");
  TSyncListe list = ScanMirror();
  File("dst/B/f.txt", "written meanwhile");
  const size_t before = list.Count();
  list.FindMoved();
  EXPECT_EQ(list.movedFiles(), nullptr);
  EXPECT_EQ(t_.Read("dst/B/f.txt"), "written meanwhile");
  EXPECT_EQ(t_.Read("dst/A/f.txt"), "hello");
  ASSERT_EQ(list.Count(), before);
  const int i = FindFile(list, "f.txt");
  ASSERT_NE(i, -1);
  EXPECT_EQ(list.GetRow(i).action, kActionDelete);
}

TEST_F(MovedFiles, TheFirstCandidateWhoseMoveSucceedsIsTaken) {
  File("src/B/f.txt", "hello");
  File("src/C/f.txt", "hello");
  File("dst/A/f.txt", "hello");
  t_.Mkdir("dst/B");
  t_.Mkdir("dst/C");
  TSyncListe list = ScanMirror();
  File("dst/B/f.txt", "written meanwhile");  // the first candidate's target is taken now
  list.FindMoved();
  ASSERT_NE(list.movedFiles(), nullptr);
  EXPECT_EQ(list.movedFiles()->GetPair(0).newPath, t_.Win("dst/C/f.txt"));
  EXPECT_EQ(t_.Read("dst/C/f.txt"), "hello");
  EXPECT_EQ(t_.Read("dst/B/f.txt"), "written meanwhile");
  // A (only in the destination) stays; the B candidate is still copied; C
  // had nothing else to do and is gone.
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.GetRow(0).source, t_.WinFolder("src/A"));
  EXPECT_EQ(list.GetRow(1).source, t_.WinFolder("src/B"));
  EXPECT_EQ(list.GetRow(2).action, kActionCopy);
}

TEST_F(MovedFiles, ACandidateMayLieInAnotherFolderPair) {
  File("dst1/A/f.dat", "data");
  File("src2/B/f.dat", "data");
  t_.Mkdir("src1/A");
  t_.Mkdir("dst2");
  TSyncListe total;
  TSyncListe first = ScanMirror("src1", "dst1");
  TSyncListe second = ScanMirror("src2", "dst2");
  total.AppendFrom(first);
  total.AppendFrom(second);
  total.FindMoved();
  ASSERT_NE(total.movedFiles(), nullptr);
  EXPECT_EQ(total.movedFiles()->GetPair(0).oldPath, t_.Win("dst1/A/f.dat"));
  EXPECT_EQ(total.movedFiles()->GetPair(0).newPath, t_.Win("dst2/B/f.dat"));
  EXPECT_EQ(t_.Read("dst2/B/f.dat"), "data");
  ASSERT_EQ(total.Count(), 1u);  // only pair 2's folder B (only in the source) is left
  EXPECT_EQ(total.GetRow(0).source, t_.WinFolder("src2/B"));
}

TEST_F(MovedFiles, AFileToDeleteInTheSourceIsMovedInTheSource) {
  File("src/A/f.txt", "x");
  File("dst/B/f.txt", "x");
  t_.Mkdir("src/B");
  t_.Mkdir("dst/A");
  TDirTree tree;
  tree.recurse = true;
  tree.ScanSource(t_.WinFolder("src"));
  tree.ScanDestination(t_.WinFolder("dst"));
  tree.SortFolderList();
  TSyncListe list;
  list.SetRoots(t_.WinFolder("src"), t_.WinFolder("dst"));
  list.AddFromTree(tree, {kStateFolderOnBothSides});
  TUnpackedStrategy fromDestination{};
  fromDestination[3] = {kFlagSourceToDestination, kActionDelete};
  fromDestination[4] = {kFlagSourceToDestination, kActionCopy};
  list.ApplyStrategy(fromDestination);
  list.FindMoved();
  EXPECT_FALSE(t_.Exists("src/A/f.txt"));
  EXPECT_EQ(t_.Read("src/B/f.txt"), "x");
  EXPECT_EQ(list.Count(), 0u);
}

TEST_F(MovedFiles, NoFolderIsMadeOnAnotherDriveAndAFailedMoveRemovesTheFoldersItMade) {
  test::MapDrive("V:", t_.Posix("v"));
  t_.Mkdir("v");
  const uint32_t time = Dos(2024, 5, 1, 12, 0, 0);
  File("v/dst/A/f.txt", "12345");
  // Pair on V: deletes f.txt in A; the candidate's destination folder is on C:.
  TSyncListe list;
  list.AddRow(Folder("V:\\src\\A\\", "V:\\dst\\A\\", kStateFolderOnBothSides));
  list.AddRow(OnlyDestination("f.txt", kActionDelete, 5, time));
  list.AddRow(Folder(t_.WinFolder("src/B"), t_.WinFolder("dst/B"), kStateFolderOnlyInSource));
  list.AddRow(OnlySource("f.txt", kActionCopy, 5, time));
  list.FindMoved();
  EXPECT_EQ(list.movedFiles(), nullptr);
  EXPECT_FALSE(t_.Exists("dst/B"));
  EXPECT_TRUE(t_.Exists("v/dst/A/f.txt"));
  EXPECT_EQ(list.Count(), 4u);

  // Same drive, but the file to move is gone: the folders made for it go too.
  TSyncListe gone;
  gone.AddRow(Folder(t_.WinFolder("src/A"), t_.WinFolder("dst/A"), kStateFolderOnBothSides));
  gone.AddRow(OnlyDestination("g.txt", kActionDelete, 5, time));
  gone.AddRow(Folder(t_.WinFolder("src/B/C"), t_.WinFolder("dst/B/C"), kStateFolderOnlyInSource));
  gone.AddRow(OnlySource("g.txt", kActionCopy, 5, time));
  gone.FindMoved();
  EXPECT_EQ(gone.movedFiles(), nullptr);
  EXPECT_FALSE(t_.Exists("dst/B"));
  EXPECT_EQ(gone.Count(), 4u);
}

TEST_F(MovedFiles, PartnersMustAgreeInSizeAndTime) {
  const uint32_t time = Dos(2024, 5, 1, 12, 0, 0);
  File("dst/A/f.txt", "12345");
  struct Case {
    int64_t size;
    uint32_t time;
  } const cases[] = {{6, time}, {5, Dos(2024, 5, 1, 12, 0, 2)}};
  for (const Case& c : cases) {
    TSyncListe list;
    list.AddRow(Folder(t_.WinFolder("src/A"), t_.WinFolder("dst/A"), kStateFolderOnBothSides));
    list.AddRow(OnlyDestination("f.txt", kActionDelete, 5, time));
    list.AddRow(Folder(t_.WinFolder("src/B"), t_.WinFolder("dst/B"), kStateFolderOnlyInSource));
    list.AddRow(OnlySource("f.txt", kActionCopy, c.size, c.time));
    list.FindMoved();
    EXPECT_EQ(list.movedFiles(), nullptr);
    EXPECT_EQ(list.Count(), 4u);
  }
  EXPECT_TRUE(t_.Exists("dst/A/f.txt"));
}

// --- Move and unstable-drive lists -------------------------------------------------------

TEST(MoveList, KeepsPairsInOrderAndHandsThemOn) {
  TMoveList list;
  list.Add("C:\\a\\x", "C:\\b\\x");
  list.Add(std::string(250, 'p') + "\xC3\xA4\xC3\xA4\xC3\xA4", "n");  // 256 bytes
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.GetPair(0).newPath, "C:\\b\\x");
  EXPECT_EQ(list.GetPair(1).oldPath, std::string(250, 'p') + "\xC3\xA4\xC3\xA4");  // whole characters only
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
  struct Case {
    const char* path;
    const char* drive;
    const char* unc;
  } const cases[] = {
      {"C:\\data\\", "C:", ""},
      {"N:\\docs\\x\\", "N:", "\\\\server\\share"},
      {"\\\\srv\\sh\\dir\\", "\\\\srv\\sh", ""},
  };
  TInStableDriveList list;
  for (const Case& c : cases) list.Add(c.path);
  ASSERT_EQ(list.Count(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(list.GetPair(i).drive, cases[i].drive);
    EXPECT_EQ(list.GetPair(i).uncDrive, cases[i].unc);
  }
  EXPECT_TRUE(list.HoldsDriveOf("n:\\other\\"));
  EXPECT_TRUE(list.HoldsDriveOf("\\\\SERVER\\share\\x\\"));
  EXPECT_TRUE(list.HoldsDriveOf("c:\\"));
  EXPECT_FALSE(list.HoldsDriveOf("D:\\"));
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

// --- Vanished drives -----------------------------------------------------------------------

TEST_F(MovedFiles, CollectDropsEveryBlockOnAVanishedDriveAndNamesTheDriveOnce) {
  t_.Mkdir("e");
  test::MapDrive("E:", t_.Posix("e"), /*mustBeMounted=*/true);  // a plain folder: nothing mounted
  test::MapDrive("F:", t_.Posix("missing"), /*mustBeMounted=*/false);
  TSyncListe list;
  list.AddRow(Folder(t_.WinFolder("s"), t_.WinFolder("d"), kStateFolderOnBothSides));
  list.AddRow(OnlySource("keep1", kActionCopy));
  list.AddRow(Folder(t_.WinFolder("s/x"), "E:\\backup\\x\\", kStateFolderOnBothSides));
  list.AddRow(OnlySource("a", kActionCopy));
  list.AddRow(Folder(t_.WinFolder("s/y"), "E:\\backup\\y\\", kStateFolderOnlyInSource));
  list.AddRow(Folder(t_.WinFolder("s/z"), "e:\\backup\\z\\", kStateFolderOnBothSides));
  list.AddRow(OnlyDestination("b", kActionDelete));
  list.AddRow(Folder("F:\\in\\", t_.WinFolder("d/f"), kStateFolderOnlyInDestination));
  list.AddRow(OnlyDestination("c", kActionDelete));
  list.AddRow(Folder("K:\\unmapped\\", t_.WinFolder("d/k"), kStateFolderOnBothSides));
  list.AddRow(Folder(t_.WinFolder("s/w"), t_.WinFolder("d/w"), kStateFolderOnBothSides));
  list.AddRow(OnlySource("keep2", kActionCopy));
  TDriveNameList vanished;
  list.CollectDrives(vanished);
  EXPECT_EQ(vanished, (TDriveNameList{"E:", "F:", "K:"}));
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.GetRow(1).source, "keep1");
  EXPECT_EQ(list.GetRow(2).source, t_.WinFolder("s/w"));
  EXPECT_EQ(list.GetRow(3).source, "keep2");
  EXPECT_FALSE(t_.Exists("e/backup"));  // nothing was done on the empty mount point
}

// --- Unstable drives --------------------------------------------------------------------------

TEST_F(MovedFiles, AFileToDeleteThatReappearedMakesItsDriveUnstable) {
  t_.Mkdir("u");
  test::MapDrive("U:", t_.Posix("u"), false, "\\\\srv\\share");
  File("src/a/gone.txt", "back again");
  File("src/a/gone2.txt", "back again");
  TSyncListe list;
  list.AddRow(Folder(t_.WinFolder("src/a"), t_.WinFolder("dst/a"), kStateFolderOnBothSides));
  list.AddRow(OnlyDestination("gone.txt", kActionDelete));
  list.AddRow(OnlyDestination("gone2.txt", kActionDelete));
  list.AddRow(OnlyDestination("really-gone.txt", kActionDelete));
  list.AddRow(Folder("U:\\src\\", "U:\\dst\\", kStateFolderOnBothSides));
  list.AddRow(OnlySource("y.txt", kActionDelete));
  list.AddRow(Folder(t_.WinFolder("src/b"), t_.WinFolder("dst/b"), kStateFolderOnBothSides));
  list.AddRow(OnlySource("x.txt", kActionCopy));
  list.AddRow(Folder("U:\\s2\\", t_.WinFolder("dst/c"), kStateFolderOnBothSides));
  list.AddRow(OnlySource("z.txt", kActionCopy));
  TInStableDriveList unstable;
  unstable.Add("stale entry");
  list.RecheckUnstable(unstable);
  ASSERT_EQ(unstable.Count(), 1u);
  EXPECT_EQ(unstable.GetPair(0).drive, "C:");
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.GetRow(0).source, "U:\\src\\");

  // A source-only file to delete that now exists in the destination: the
  // destination's drive, by its network name, and every block on it go.
  File("u/dst/y.txt", "y");
  list.AddRow(Folder("\\\\SRV\\share\\other\\", t_.WinFolder("d"), kStateFolderOnBothSides));
  list.AddRow(Folder(t_.WinFolder("s"), t_.WinFolder("d"), kStateFolderOnBothSides));
  list.AddRow(OnlySource("k.txt", kActionCopy));
  list.RecheckUnstable(unstable);
  ASSERT_EQ(unstable.Count(), 1u);
  EXPECT_EQ(unstable.GetPair(0).drive, "U:");
  EXPECT_EQ(unstable.GetPair(0).uncDrive, "\\\\srv\\share");
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.GetRow(0).source, t_.WinFolder("s"));
}

}  // namespace
}  // namespace kv

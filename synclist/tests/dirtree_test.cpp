// Scans of real temporary folder pairs.
#include "synclist/dirtree.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "platform/volumes.h"
#include "synclist/abort.h"
#include "synclist/tests/testrows.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::TempTree;
using Lines = std::vector<std::string>;

// 2024-06-15 12:00:00 UTC, a summer day in Berlin, even seconds.
constexpr time_t kBase = 1718452800;

// DOS date-time of a moment in local time, packed here from the C library's
// calendar fields, independently of the platform's conversion.
uint32_t ExpectedDos(time_t t) {
  struct tm tm {};
  localtime_r(&t, &tm);
  return (static_cast<uint32_t>(tm.tm_year + 1900 - 1980) << 25) | (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
         (static_cast<uint32_t>(tm.tm_mday) << 16) | (static_cast<uint32_t>(tm.tm_hour) << 11) |
         (static_cast<uint32_t>(tm.tm_min) << 5) | static_cast<uint32_t>(tm.tm_sec / 2);
}

// The whole result of a scan in the folder list's order: "key state" per
// folder, then "key|list name state direction" per file.
Lines Dump(const TDirTree& t) {
  Lines lines;
  for (const std::string& key : t.folderList()) {
    const TDirNode* node = t.FindFolder(key);
    if (node == nullptr) return lines.push_back("no node for " + key), lines;
    lines.push_back(key + " " + std::to_string(node->state));
    for (const TFileObj& f : node->files) {
      lines.push_back(key + "|" + std::string(f.ListName()) + " " + std::to_string(f.state) + " " +
                      std::to_string(f.direction));
    }
  }
  return lines;
}

struct Issue {
  TScanIssueKind kind;
  TScanSide side;
  std::string key;
  std::string name;
  bool operator==(const Issue&) const = default;
};

std::vector<Issue> IssuesOf(const TDirTree& t) {
  std::vector<Issue> out;
  for (const TScanIssue& i : t.issues()) out.push_back({i.kind, i.side, i.key, i.name});
  return out;
}

void PrintTo(const Issue& i, std::ostream* os) {
  *os << static_cast<int>(i.kind) << "/" << static_cast<int>(i.side) << "/" << i.key << "/" << i.name;
}

class DirTreeTest : public ::testing::Test {
 protected:
  test::ScopedEnv tz_{"TZ", "Europe/Berlin"};
  TempTree tree_;

  void Put(const std::string& rel, std::string_view content, time_t mtime = kBase) {
    tree_.Write(rel, content);
    tree_.SetMTime(rel, mtime);
  }
  void Tree(std::initializer_list<std::string_view> entries) { test::WriteTree(tree_, kBase, entries); }

  // Both scans with the settings given; the folder list sorted.
  void Scan(TDirTree& t, bool recurse = true) {
    t.recurse = recurse;
    t.ScanSource(tree_.WinFolder("src"));
    t.ScanDestination(tree_.WinFolder("dst"));
    t.SortFolderList();
  }
};

// --- Comparison of namesakes ---------------------------------------------------

// 2024-03-31 01:59:59 CET; one real second later the clocks read 03:00:00.
constexpr time_t kBeforeSpring = 1711846799;

TEST_F(DirTreeTest, NamesakesGetStateAndDirection) {
  constexpr int kOlder = kStateDestinationOlder, kNewer = kStateDestinationNewer;
  constexpr int kSmaller = kStateSameTimeDestinationSmaller, kLarger = kStateSameTimeDestinationLarger;
  const struct {
    const char* what;
    int srcSize;
    time_t srcTime;
    int dstSize;
    time_t dstTime;
    bool tolerance, dropEqual;
    int state;  // -1: the file leaves the list
    int direction;
  } cases[] = {
      {"equal", 10, kBase, 10, kBase, true, true, -1, 0},
      {"odd second in the same DOS step", 10, kBase, 10, kBase + 1, false, true, -1, 0},
      {"equal, not dropped", 10, kBase, 10, kBase, true, false, kLarger, 0},
      {"destination older", 10, kBase, 10, kBase - 100, true, true, kOlder, 1},
      {"destination newer", 10, kBase, 10, kBase + 100, true, true, kNewer, 0},
      {"same time, smaller", 20, kBase, 10, kBase, true, true, kSmaller, 1},
      {"same time, larger", 10, kBase, 20, kBase, true, true, kLarger, 0},
      {"two seconds older, tolerance", 10, kBase, 10, kBase - 2, true, true, -1, 0},
      {"two seconds newer, tolerance", 10, kBase, 10, kBase + 2, true, true, -1, 0},
      {"two seconds, tolerance off", 10, kBase, 10, kBase - 2, false, true, kOlder, 1},
      {"two seconds newer, tolerance off", 10, kBase, 10, kBase + 2, false, true, kNewer, 0},
      {"two seconds, other size", 10, kBase, 11, kBase - 2, true, true, kOlder, 1},
      {"two seconds, drop equal off", 10, kBase, 10, kBase + 2, true, false, -1, 0},
      {"four seconds", 10, kBase, 10, kBase + 4, true, true, kNewer, 0},
      {"one hour older", 10, kBase, 10, kBase - 3600, true, true, kOlder, 1},
      {"one hour newer", 10, kBase, 10, kBase + 3600, true, true, kNewer, 0},
      // Two real seconds across the spring switch are an hour and two
      // seconds on the clock: not the two-second rule.
      {"two seconds across the switch", 10, kBeforeSpring - 1, 10, kBeforeSpring + 1, true, true, kNewer, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Put("src/f.dat", std::string(c.srcSize, 's'), c.srcTime);
    Put("dst/f.dat", std::string(c.dstSize, 'd'), c.dstTime);
    TDirTree t;
    t.twoSecondTolerance = c.tolerance;
    t.dropEqualFiles = c.dropEqual;
    Scan(t);
    EXPECT_EQ(t.destinationEntriesSeen(), 1);
    ASSERT_NE(t.root(), nullptr);
    EXPECT_EQ(t.root()->state, kStateFolderOnBothSides);
    EXPECT_EQ(t.fileCount(), c.state < 0 ? 0 : 1);
    ASSERT_EQ(t.root()->files.size(), c.state < 0 ? 0u : 1u);
    if (c.state < 0) continue;
    const TFileObj& f = t.root()->files[0];
    EXPECT_EQ(f.state, c.state);
    EXPECT_EQ(f.direction, c.direction);
    EXPECT_EQ(f.srcName + "|" + f.destName, "f.dat|f.dat");
    EXPECT_EQ(f.srcSize, c.srcSize);
    EXPECT_EQ(f.destSize, c.dstSize);
    EXPECT_EQ(f.srcTime, ExpectedDos(c.srcTime));
    EXPECT_EQ(f.destTime, ExpectedDos(c.dstTime));
  }
}

TEST_F(DirTreeTest, HugeSparseFilesCompareByTheirFull64BitSize) {
  constexpr off_t kFiveGiB = 5LL << 30;
  constexpr off_t kOneGiB = 1LL << 30;  // the same low 32 bits as 5 GiB
  tree_.Mkdir("src");
  tree_.Mkdir("dst");
  for (const char* rel : {"src/big.img", "dst/big.img", "src/other.img", "dst/other.img"}) {
    int fd = open(tree_.Posix(rel).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, std::string(rel) == "dst/other.img" ? kOneGiB : kFiveGiB), 0);
    close(fd);
    tree_.SetMTime(rel, kBase);
  }
  TDirTree t;
  Scan(t);
  EXPECT_EQ(Dump(t), (Lines{" 10", "|other.img 4 1"}));
  EXPECT_EQ(t.root()->files[0].srcSize, kFiveGiB);
  EXPECT_EQ(t.root()->files[0].destSize, kOneGiB);
}

// File systems with 64-bit times (tmpfs here) take last-write times far
// outside what a FILETIME holds; the scan clamps them to the DOS range.
TEST_F(DirTreeTest, TimesBeyondTheFileTimeRangeAreClamped) {
  test::ScopedEnv tmp{"TMPDIR", "/dev/shm"};
  if (!std::filesystem::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  TempTree shm;
  for (const char* rel : {"src/ancient.txt", "dst/ancient.txt", "src/future.txt"}) shm.Write(rel, "x");
  shm.SetMTime("src/ancient.txt", -(time_t{1} << 62));
  shm.SetMTime("dst/ancient.txt", -(time_t{1} << 62) + 7);
  shm.SetMTime("src/future.txt", time_t{1} << 62);
  struct stat st {};
  if (stat(shm.Posix("src/ancient.txt").c_str(), &st) != 0 || st.st_mtime != -(time_t{1} << 62))
    GTEST_SKIP() << "this file system clamps last-write times itself";
  TDirTree t;
  t.recurse = true;
  t.ScanSource(shm.WinFolder("src"));
  t.ScanDestination(shm.WinFolder("dst"));
  EXPECT_EQ(Dump(t), (Lines{" 10", "|future.txt 1 1"}));  // both ancient times are 01.01.1980
  ASSERT_EQ(t.root()->files.size(), 1u);
  EXPECT_EQ(t.root()->files[0].srcTime, test::Dos(2107, 12, 31, 23, 59, 58));
}

// --- Trees, folders and counters -------------------------------------------------

TEST_F(DirTreeTest, GivesFolderStatesOneSidedFilesAndSortedLists) {
  // A namesake in other case is one file with both spellings.
  Tree({"src/b.txt=1", "src/A.txt=1", "src/.hidden=h", "dst/.hidden=h", "src/both/x.txt=x", "dst/both/x.txt=x",
        "src/onlysrc/deep/s.txt=s", "dst/onlydst/d.txt=dd", "dst/c.txt=c@10", "src/empty",
        "src/Report.TXT=new content", "dst/report.txt=old@-60"});
  TDirTree t;
  Scan(t);

  EXPECT_EQ(Dump(t), (Lines{" 10", "|A.txt 1 1", "|b.txt 1 1", "|c.txt 0 0", "|Report.TXT 2 1", "both\\ 10",
                            "empty\\ 8", "onlydst\\ 7", "onlydst\\|d.txt 0 0", "onlysrc\\ 8", "onlysrc\\deep\\ 8",
                            "onlysrc\\deep\\|s.txt 1 1"}));
  const TFileObj* report = t.root()->FindFile("REPORT.txt");
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->srcName + "|" + report->destName, "Report.TXT|report.txt");
  EXPECT_EQ(t.root()->FindFile("c.txt")->srcName + "|" + t.root()->FindFile("a.txt")->destName, "|");
  EXPECT_EQ(t.FindFolder("ONLYSRC\\DEEP\\"), t.FindFolder("onlysrc\\deep\\"));
  EXPECT_EQ(t.FindFolder("onlysrc\\")->direction, kFlagNone);
  EXPECT_EQ(t.folderCount(), 6);
  EXPECT_EQ(t.fileCount(), 6);
  // .hidden, x.txt, d.txt, c.txt, report.txt
  EXPECT_EQ(t.destinationEntriesSeen(), 5);
  EXPECT_TRUE(t.issues().empty());
}

// Without recursion only the roots' files; a missing destination root makes
// every source file new.
TEST_F(DirTreeTest, RecurseOffAndMissingDestinationRoot) {
  Tree({"src/a.txt=a", "src/sub/b.txt=b", "dst/sub/c.txt=c"});
  TDirTree flat;
  Scan(flat, /*recurse=*/false);
  EXPECT_EQ(Dump(flat), (Lines{" 10", "|a.txt 1 1"}));
  EXPECT_EQ(flat.folderCount(), 1);
  EXPECT_EQ(flat.destinationEntriesSeen(), 0);

  TDirTree t;
  t.recurse = true;
  t.ScanSource(tree_.Win("src"));  // no trailing "\": added
  t.ScanDestination(tree_.Win("no such folder"));
  EXPECT_EQ(Dump(t), (Lines{" 10", "|a.txt 1 1", "sub\\ 8", "sub\\|b.txt 1 1"}));
  EXPECT_EQ(t.fileCount(), 2);
  EXPECT_TRUE(t.issues().empty());
}

// --- Masks and folder filters ------------------------------------------------------

TEST_F(DirTreeTest, DestinationEntriesAreCountedBeforeMasksAndFoldersFilteredOnBothSides) {
  Tree({"src/same.txt=s", "dst/same.txt=s", "dst/skip.tmp=t", "dst/new.txt=n", "dst/cache/b.txt=b", "dst/folder"});
  TDirTree t;
  t.SetFolderKind(2);
  t.SetMasks("", "*.tmp", "cache\\");
  Scan(t);
  EXPECT_EQ(t.destinationEntriesSeen(), 3);
  EXPECT_EQ(Dump(t), (Lines{" 10", "|new.txt 0 0", "folder\\ 7"}));
  EXPECT_EQ(t.root()->folderKind, 2);
  EXPECT_EQ(t.FindFolder("folder\\")->folderKind, 2);
}

struct MaskCase {
  const char* include;
  const char* excludeFiles;
  const char* excludeFolders;
  std::vector<std::string> rows;  // "key|name" of every remaining file row
};

void PrintTo(const MaskCase& c, std::ostream* os) {
  *os << "include '" << c.include << "' files '" << c.excludeFiles << "' folders '" << c.excludeFolders << "'";
}

class MaskTest : public DirTreeTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(MaskTest, LeavesOutWhatTheMasksSay) {
  const MaskCase& c = GetParam();
  for (const char* rel : {"a.doc", "b.TXT", "c.tmp", "D.TMP", "README", "my file.txt", "[abc.txt", "sub/e.doc",
                          "sub/temp/f.doc", "sub/tempx/g.doc", "temp/h.doc"}) {
    Put(std::string("src/") + rel, "x");
  }
  tree_.Mkdir("dst");
  TDirTree t;
  t.SetMasks(c.include, c.excludeFiles, c.excludeFolders);
  Scan(t);
  std::vector<std::string> rows;
  for (const std::string& key : t.folderList()) {
    for (const TFileObj& f : t.FindFolder(key)->files) rows.push_back(key + "|" + f.srcName);
  }
  EXPECT_EQ(rows, c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, MaskTest,
    ::testing::Values(
        MaskCase{"", "*.tmp", "",
                 {"|[abc.txt", "|a.doc", "|b.TXT", "|my file.txt", "|README", "sub\\|e.doc", "sub\\temp\\|f.doc",
                  "sub\\tempx\\|g.doc", "temp\\|h.doc"}},
        MaskCase{"*.doc;*.txt", "", "",
                 {"|[abc.txt", "|a.doc", "|b.TXT", "|my file.txt", "sub\\|e.doc", "sub\\temp\\|f.doc",
                  "sub\\tempx\\|g.doc", "temp\\|h.doc"}},
        // "*.*" needs a dot; an unclosed "[" is literal; quotes keep blanks.
        MaskCase{"*.*", "*.doc:*.tmp", "", {"|[abc.txt", "|b.TXT", "|my file.txt"}},
        MaskCase{"[abc.txt", "", "sub\\", {"|[abc.txt"}},
        MaskCase{"\"my file.txt\", a.doc", "", "*", {"|a.doc", "|my file.txt"}},
        // Folder masks test the relative path with its trailing "\".
        MaskCase{"*.doc", "", "sub\\temp\\", {"|a.doc", "sub\\|e.doc", "sub\\tempx\\|g.doc", "temp\\|h.doc"}},
        MaskCase{"*.doc", "", "temp", {"|a.doc", "sub\\|e.doc", "sub\\temp\\|f.doc", "sub\\tempx\\|g.doc",
                                       "temp\\|h.doc"}},
        MaskCase{"*.doc", "", "*temp\\", {"|a.doc", "sub\\|e.doc", "sub\\tempx\\|g.doc"}},
        MaskCase{"*.doc", "", "SUB\\*", {"|a.doc", "temp\\|h.doc"}}));

// --- Links, hostile names, collisions --------------------------------------------

TEST_F(DirTreeTest, FileLinksAreTheirTargetsAndFolderLinksAreLeftOutOnBothSides) {
  Tree({"target/file.txt=0123456789", "target/inner/t.txt=t", "src/plain.txt=p", "dst"});
  std::filesystem::create_symlink(tree_.Posix("target/file.txt"), tree_.Posix("src/lnk.txt"));
  std::filesystem::create_directory_symlink(tree_.Posix("target"), tree_.Posix("src/linked"));
  Put("dst/linked/own.txt", "mine");  // must not look deleted or be touched
  // The same from the other side: the source's real folder is not copied
  // through the destination's link.
  Tree({"src/shared/s.txt=s", "src/shared/deep/d.txt=d"});
  std::filesystem::create_directory_symlink(tree_.Posix("target"), tree_.Posix("dst/shared"));
  // Neither fifos nor sockets are files; a name with "\" cannot be named.
  ASSERT_EQ(mkfifo(tree_.Posix("src/pipe").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo(tree_.Posix("dst/pipe").c_str(), 0644), 0);
  Put("src/sub/bad\\name.txt", "b");
  TDirTree t;
  Scan(t);

  EXPECT_EQ(Dump(t), (Lines{" 10", "|lnk.txt 1 1", "|plain.txt 1 1", "sub\\ 8"}));
  EXPECT_EQ(t.root()->FindFile("lnk.txt")->srcSize, 10);
  EXPECT_EQ(t.FindFolder("linked\\inner\\"), nullptr);
  EXPECT_EQ(t.fileCount(), 2);
  EXPECT_EQ(t.destinationEntriesSeen(), 0);
  EXPECT_EQ(IssuesOf(t), (std::vector<Issue>{{TScanIssueKind::FolderLink, TScanSide::Source, "", "linked\\"},
                                             {TScanIssueKind::UnnamableName, TScanSide::Source, "sub\\", "bad\\name.txt"},
                                             {TScanIssueKind::FolderLink, TScanSide::Destination, "", "shared\\"}}));
}

// What cannot be compared safely is left out of both scans, as a folder
// filter would leave it out: a link that leads nowhere (a mirror would
// otherwise delete its namesake on the other side) and a folder whose path
// no job file could hold. The system's temporaries are no user data:
// leftovers of killed runs go, one a live run holds stays.
TEST_F(DirTreeTest, BrokenLinksPathsTooLongAndTemporariesAreLeftOutOfBothScans) {
  Tree({"src/keep.txt=k", "dst/gone.txt=precious", "src/lost/in.txt=i", "src/abcdefghijkl/x.txt=x",
        "dst/abcdefghijkl/y.txt=y", "src/.kvtmp-Leftover00=partial", "dst/.kvtmp-LiveWrite0=partial"});
  std::filesystem::create_symlink(tree_.Posix("nowhere"), tree_.Posix("src/gone.txt"));
  std::filesystem::create_symlink(tree_.Posix("nowhere"), tree_.Posix("dst/lost"));
  const int holder = open(tree_.Posix("dst/.kvtmp-LiveWrite0").c_str(), O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  TDirTree t;
  t.maxKeyBytes = 12;
  Scan(t);
  close(holder);

  EXPECT_EQ(Dump(t), (Lines{" 10", "|keep.txt 1 1"}));
  EXPECT_EQ(IssuesOf(t), (std::vector<Issue>{{TScanIssueKind::BrokenLink, TScanSide::Source, "", "gone.txt"},
                                             {TScanIssueKind::PathTooLong, TScanSide::Source, "", "abcdefghijkl\\"},
                                             {TScanIssueKind::BrokenLink, TScanSide::Destination, "", "lost"}}));
  EXPECT_EQ(t.destinationEntriesSeen(), 1);
  EXPECT_FALSE(tree_.Exists("src/.kvtmp-Leftover00"));
  EXPECT_TRUE(tree_.Exists("dst/.kvtmp-LiveWrite0"));

  // Roots so long that not even the root's own row fits: nothing at all.
  TDirTree none;
  none.maxKeyBytes = -1;
  Scan(none);
  EXPECT_TRUE(none.folderList().empty());
  EXPECT_EQ(IssuesOf(none), (std::vector<Issue>{{TScanIssueKind::PathTooLong, TScanSide::Source, "", ""}}));
}

TEST_F(DirTreeTest, CaseCollisionsLeaveEverySpellingOutOfBothScans) {
  // Two spellings in the source: the destination's namesake must not look
  // like a file only in the destination (it would be deleted). Two in the
  // destination: the source file must not be copied over one of them. c.txt
  // is an untouched neighbour; colliding folders keep their whole subtree out.
  Tree({"src/a.txt=1", "src/A.txt=2", "dst/a.TXT=3", "src/b.txt=1", "dst/b.txt=22", "dst/B.txt=333", "src/c.txt=c",
        "src/Dir/x.txt=x", "src/dir/y.txt=y", "dst/DIR/z.txt=z", "src/Two/deep/p.txt=p", "dst/two/deep/p.txt=pp",
        "dst/TWO/q.txt=q"});
  TDirTree t;
  Scan(t);

  EXPECT_EQ(Dump(t), (Lines{" 10", "|c.txt 1 1"}));
  EXPECT_EQ(t.fileCount(), 1);
  EXPECT_EQ(t.folderCount(), 1);
  EXPECT_EQ(t.FindFolder("two\\deep\\"), nullptr);
  const auto collision = [](TScanSide side, const char* name) {
    return Issue{TScanIssueKind::CaseCollision, side, "", name};
  };
  EXPECT_EQ(IssuesOf(t), (std::vector<Issue>{
                             collision(TScanSide::Source, "A.txt"), collision(TScanSide::Source, "a.txt"),
                             collision(TScanSide::Source, "Dir\\"), collision(TScanSide::Source, "dir\\"),
                             collision(TScanSide::Destination, "B.txt"), collision(TScanSide::Destination, "b.txt"),
                             collision(TScanSide::Destination, "TWO\\"), collision(TScanSide::Destination, "two\\")}));
}

// --- Folders that cannot be listed -----------------------------------------------

// Scans as an unprivileged user (root reads everything) after making the
// tree reachable for it and locking the folders given; 0 when check passes,
// else the number of the first failing check.
int ScanUnprivileged(const TempTree& tree, const std::vector<std::string>& locked,
                     const std::function<int(TDirTree&)>& check) {
  chmod(tree.Posix().c_str(), 0755);
  for (const auto& e : std::filesystem::recursive_directory_iterator(tree.Posix())) {
    if (e.is_directory() && !e.is_symlink()) chmod(e.path().c_str(), 0755);
  }
  for (const std::string& rel : locked) chmod(tree.Posix(rel).c_str(), 0);
  const int result = test::RunUnprivileged([&] {
    TDirTree t;
    t.recurse = true;
    t.ScanSource(tree.WinFolder("src"));
    t.ScanDestination(tree.WinFolder("dst"));
    return check(t);
  });
  for (const std::string& rel : locked) chmod(tree.Posix(rel).c_str(), 0755);
  return result;
}

TEST_F(DirTreeTest, UnlistableFoldersAreLeftOutOnBothSidesAndReported) {
  Tree({"src/ok.txt=o", "src/locked/f.txt=f", "src/locked/inner/g.txt=g", "dst/locked/f.txt=older@-100",
        "dst/locked/h.txt=h", "src/dlock/deep/s.txt=s", "dst/dlock/d.txt=d"});
  int result = ScanUnprivileged(tree_, {"src/locked", "dst/dlock"}, [](TDirTree& t) {
    if (Dump(t) != Lines{" 10", "|ok.txt 1 1"} || t.fileCount() != 1 || t.folderCount() != 1) return 1;
    if (IssuesOf(t) != std::vector<Issue>{{TScanIssueKind::UnlistableFolder, TScanSide::Source, "locked\\", ""},
                                          {TScanIssueKind::UnlistableFolder, TScanSide::Destination, "dlock\\", ""}})
      return 2;
    return t.issues()[0].error.empty() ? 3 : 0;
  });
  EXPECT_EQ(result, 0) << "failed check " << result;
}

TEST_F(DirTreeTest, UnlistableRootLeavesNoFolderAtAll) {
  Tree({"src/a.txt=a", "dst/b.txt=b", "dst/sub/c.txt=c"});
  int result = ScanUnprivileged(tree_, {"dst"}, [](TDirTree& t) {
    if (!t.folderList().empty() || t.FindFolder("") != nullptr || t.root() != nullptr) return 1;
    if (t.fileCount() != 0 || t.folderCount() != 0) return 2;
    const Issue unlistable{TScanIssueKind::UnlistableFolder, TScanSide::Destination, "", ""};
    return IssuesOf(t) == std::vector<Issue>{unlistable} ? 0 : 3;
  });
  EXPECT_EQ(result, 0) << "failed check " << result;
}

TEST_F(DirTreeTest, SourceOnAnUnpluggedDriveDoesNotMakeTheDestinationLookDeleted) {
  test::ScopedRegistry registry;
  Tree({"usb", "dst/keep.txt=k"});  // usb is no mount point: the drive is not there
  platform::VolumeTable table = platform::VolumeTable::Load();
  table.Set(platform::Volume{"U:", tree_.Posix("usb"), platform::DriveType::Removable, "", true, ""});
  table.Save();
  TDirTree t;
  t.recurse = true;
  t.ScanSource("U:\\Daten\\");
  t.ScanDestination(tree_.WinFolder("dst"));
  EXPECT_TRUE(t.folderList().empty());
  EXPECT_EQ(t.fileCount(), 0);
  ASSERT_EQ(t.issues().size(), 1u);
  EXPECT_EQ(t.issues()[0].kind, TScanIssueKind::UnlistableFolder);
  EXPECT_EQ(t.issues()[0].side, TScanSide::Source);
}

// --- Progress ----------------------------------------------------------------------

// Every listed folder has its node, every file list is strictly sorted, the
// counters agree with the lists.
::testing::AssertionResult IsConsistent(const TDirTree& t) {
  int64_t files = 0;
  for (const std::string& key : t.folderList()) {
    const TDirNode* node = t.FindFolder(key);
    if (node == nullptr) return ::testing::AssertionFailure() << "no node for " << key;
    for (size_t i = 1; i < node->files.size(); ++i) {
      if (platform::CompareText(node->files[i - 1].ListName(), node->files[i].ListName()) >= 0)
        return ::testing::AssertionFailure() << "unsorted in " << key;
    }
    files += static_cast<int64_t>(node->files.size());
  }
  if (files != t.fileCount()) return ::testing::AssertionFailure() << files << " files, count " << t.fileCount();
  if (static_cast<int64_t>(t.folderList().size()) != t.folderCount())
    return ::testing::AssertionFailure() << "folder count " << t.folderCount();
  return ::testing::AssertionSuccess();
}

// Each pass ends with a forced progress call; an abort leaves a tree that
// its owner can read and free.
TEST_F(DirTreeTest, ProgressEndsEachPassAndAnAbortLeavesAConsistentTree) {
  for (const char* folder : {"f0/", "f1/"}) {
    for (int f = 0; f < 5; ++f) {
      Put(std::string("src/") + folder + "s" + std::to_string(f), "x");
      Put(std::string("dst/") + folder + "D" + std::to_string(f), "y");
    }
  }
  Put("dst/F0/other.txt", "o");  // the destination's collision leaves f0 out
  {
    TDirTree t;
    int calls = 0;
    t.progress = [&](TDirTree& tree) {
      EXPECT_EQ(&tree, &t);
      ++calls;
    };
    t.ScanSource(tree_.WinFolder("src"));
    const int afterSource = calls;
    EXPECT_GE(afterSource, 1);
    t.ScanDestination(tree_.WinFolder("dst"));
    EXPECT_GT(calls, afterSource);
  }
  // Progress calls: 1 root entered, 2 root's files, 3 f1 entered, 4 f1's
  // files, ... 7 end of the source pass, 8 destination root entered, 9 its
  // files (f0 left out), 10 f1 entered.
  for (int abortAt : {1, 4, 10}) {
    auto t = std::make_unique<TDirTree>();
    t->recurse = true;
    int calls = 0;
    // Each call outlasts the interval, so the next check calls again.
    t->progress = [&](TDirTree&) {
      usleep(static_cast<useconds_t>(TDirTree::kTickInterval + 10) * 1000);
      if (++calls == abortAt) throw EAbort();
    };
    EXPECT_THROW(
        {
          t->ScanSource(tree_.WinFolder("src"));
          t->ScanDestination(tree_.WinFolder("dst"));
        },
        EAbort)
        << "abort at call " << abortAt;
    EXPECT_TRUE(IsConsistent(*t)) << "abort at call " << abortAt;
    if (abortAt == 10) {
      EXPECT_EQ(t->FindFolder("f0\\"), nullptr);
    }
    t.reset();  // frees what the aborted scan left
  }
}

}  // namespace
}  // namespace kv

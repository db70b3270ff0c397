// The second try of failed folder deletions, on protocols written here and
// real folders in a temporary tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "copyengine/delfldrcheck.h"
#include "copyengine/endofrun.h"
#include "copyengine/jobrun.h"
#include "copyengine/tests/engine_fixture.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::TempTree;

constexpr const char* kFailed = "Der / die Ordner konnten nicht gelöscht werden! Directory not empty";
constexpr const char* kDeleted = "Der / die Ordner wurden gelöscht.";
constexpr uint8_t kOnlyDest = 8, kOnlySource = 9, kBoth = 10;

// The folder check's window as the check drives it: each call as
// "<source line> | <destination line>".
class ScopedCheckWindow {
 public:
  ScopedCheckWindow() {
    old_ = SetDelFldrCheckViewFactory([this](bool) {
      ++windows;
      return std::make_unique<View>(lines);
    });
  }
  ~ScopedCheckWindow() { SetDelFldrCheckViewFactory(std::move(old_)); }
  int windows = 0;
  std::vector<std::string> lines;

 private:
  class View : public IDelFldrCheckView {
   public:
    explicit View(std::vector<std::string>& lines) : lines_(lines) {}
    void Publish(const DelFldrCheckSnapshot& s) override { lines_.push_back(s.sourceFolder + " | " + s.destFolder); }

   private:
    std::vector<std::string>& lines_;
  };
  DelFldrCheckViewFactory old_;
};

struct Folder {
  std::string side1, side2;  // relative to the tree
  uint8_t stateCode = kOnlySource, action = 2, status = 2;
};

class DelFolderCheckTest : public ::testing::Test {
 protected:
  test::ScopedRegistry registry;
  TempTree tree;
  ScopedCheckWindow window;
  TFolderPair pair{.sourceRoot = tree.WinFolder("src"), .destinationRoot = tree.WinFolder("dst")};

  DelFolderCheckTest() {
    tree.Mkdir("src");
    tree.Mkdir("dst");
  }

  TPtkItem Record(const Folder& f) const {
    TSyncItem item;
    item.source = f.side1.empty() ? "" : tree.WinFolder(f.side1);
    item.destination = f.side2.empty() ? "" : tree.WinFolder(f.side2);
    item.rowKind = 1;
    item.action = f.action;
    item.stateCode = f.stateCode;
    return TPtkItem(std::move(item), f.status, f.status == 2 ? kFailed : "");
  }

  // Runs the check over a protocol of these records and returns it.
  test::DecodedPtk Check(const std::vector<TPtkItem>& records) {
    CopyJobFiles files;
    files.protocol = ProtocolStream::Create(tree.Win("p.ptk"));
    for (const TPtkItem& r : records) files.protocol->Append(r);
    CopyJobSettings settings;
    TFileDeleter deleter;
    TJobRun run(files, settings, deleter);
    run.pairs.emplace(std::vector<TFolderPair>{pair});
    CheckDelFolders(run);
    files.protocol->Close();
    return test::DecodePtk(tree.Posix("p.ptk"));
  }
};

// Each case: the folders on disk (names of their own), the protocol's
// records; afterwards the records' statuses and the folders that are left.
TEST_F(DelFolderCheckTest, RetriesFailedFolderDeletionsOnly) {
  struct Case {
    const char* what;
    std::vector<const char*> folders;  // made before the check ("x/f.txt": a file)
    std::vector<Folder> records;
    std::vector<int> statuses;
    std::vector<const char*> left;  // of the folders made
  } cases[] = {
      {"an empty protocol", {"src/z"}, {}, {}, {"src/z"}},
      {"one record, its folder empty now", {"src/a"}, {{"src/a", "dst/a"}}, {1}, {}},
      {"one record, its folder still holds a file", {"dst/b/f.txt"}, {{"src/b", "dst/b", kOnlyDest}}, {2},
       {"dst/b/f.txt"}},
      {"a parent before its child: the child goes first",
       {"src/p/c"},
       {{"src/p", "dst/p"}, {"src/p/c", "dst/p/c"}},
       {1, 1},
       {}},
      {"a folder on both sides, both empty", {"src/d", "dst/d"}, {{"src/d", "dst/d", kBoth}}, {1}, {}},
      {"a folder on both sides, one still full: the other goes, the record stays",
       {"src/e", "dst/e/f.txt"},
       {{"src/e", "dst/e", kBoth}},
       {2},
       {"dst/e/f.txt"}},
      {"a folder that is gone already", {}, {{"src/g", "dst/g"}}, {1}, {}},
      {"records that are no failed folder deletion stay as they are",
       {"src/h1", "src/h2", "src/h3", "src/h4"},
       {{"src/h1", "dst/h1", kOnlySource, 2, 1},
        {"src/h2", "dst/h2", kOnlySource, 1, 2},
        {"src/h3", "dst/h3", 2, 2, 2},
        {"src/h4", "dst/h4", kBoth, 0, 2}},
       {1, 2, 2, 2},
       {"src/h1", "src/h2", "src/h3", "src/h4"}},
      {"a folder of no pair is never guessed", {"elsewhere/x"}, {{"elsewhere/x", "dst/x"}}, {2}, {"elsewhere/x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* rel : c.folders) {
      const std::string r = rel;
      if (r.ends_with(".txt")) tree.Write(r, "x");
      else tree.Mkdir(r);
    }
    std::vector<TPtkItem> records;
    for (const Folder& f : c.records) records.push_back(Record(f));
    const test::DecodedPtk ptk = Check(records);
    ASSERT_EQ(ptk.records.size(), c.statuses.size());
    for (size_t i = 0; i < ptk.records.size(); ++i) {
      EXPECT_EQ(ptk.records[i].status, c.statuses[i]) << i;
      // A record that went right says so; one that stays keeps its text.
      const bool rewritten = c.records[i].status == 2 && c.statuses[i] == 1;
      EXPECT_EQ(ptk.records[i].message, rewritten ? kDeleted : records[i].message) << i;
      EXPECT_EQ(ptk.records[i].first, records[i].item.source) << i;
    }
    for (const char* rel : c.folders) {
      const bool kept = std::find_if(c.left.begin(), c.left.end(), [&](const char* l) { return std::string(l) == rel; }) !=
                        c.left.end();
      EXPECT_EQ(tree.Exists(rel), kept) << rel;
    }
  }
}

// The window shows the missing side's path for a folder of one side, both
// for a folder of both sides; it comes for every check, also with nothing to
// examine.
TEST_F(DelFolderCheckTest, TheWindowShowsTheFoldersExamined) {
  Check({});
  EXPECT_EQ(window.windows, 1);
  EXPECT_TRUE(window.lines.empty());
  tree.Mkdir("src/a");
  Check({Record({"src/a", "dst/a", kOnlySource}), Record({"src/b", "dst/b", kOnlyDest}),
         Record({"src/c", "dst/c", kBoth}), Record({"src/d", "dst/d", kBoth, 2, 1})});
  EXPECT_EQ(window.lines, (std::vector<std::string>{tree.WinFolder("src/c") + " | " + tree.WinFolder("dst/c"),
                                                    tree.WinFolder("src/b") + " | ",
                                                    " | " + tree.WinFolder("dst/a")}));
}

// Which side of an FTP pair is on the server: its FTP side, when its path
// names one. A local root typed with "/" stays local.
TEST_F(DelFolderCheckTest, OnlyTheFtpSideOfAnFtpPairGoesToTheServer) {
  std::string slashed = tree.WinFolder("src");
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  pair = {.sourceRoot = slashed, .destinationRoot = "ftp://127.0.0.1/pub/", .pairKind = kPairKindFtpDestination};
  tree.Mkdir("src/local");
  const auto side1 = [&](const char* name) { return slashed + name + "/"; };
  TSyncItem local{.source = side1("local"), .destination = "ftp://127.0.0.1/pub/local/", .action = 2,
                  .stateCode = kOnlySource};
  TSyncItem remote{.source = side1("remote"), .destination = "ftp://127.0.0.1/pub/remote/", .action = 2,
                   .stateCode = kOnlyDest};
  // No server there: a folder on it cannot go.
  const test::DecodedPtk ptk = Check({TPtkItem(local, 2, kFailed), TPtkItem(remote, 2, kFailed)});
  ASSERT_EQ(ptk.records.size(), 2u);
  EXPECT_EQ(ptk.records[0].status, 1);
  EXPECT_FALSE(tree.Exists("src/local"));
  EXPECT_EQ(ptk.records[1].status, 2);
}

}  // namespace
}  // namespace kv

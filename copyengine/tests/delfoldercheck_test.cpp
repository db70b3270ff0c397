// The second try of failed folder deletions, on protocols written here and
// real folders in a temporary tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "copyengine/delfldrcheck.h"
#include "copyengine/endofrun.h"
#include "copyengine/jobrun.h"
#include "copyengine/tests/engine_fixture.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

constexpr const char* kFailed = "Der / die Ordner konnten nicht gelöscht werden! Directory not empty";
constexpr uint8_t kOnlyDest = 8, kOnlySource = 9, kBoth = 10;

class DelFolderCheckTest : public ::testing::Test {
 protected:
  test::ScopedRegistry registry;
  test::TempTree tree;
  TFolderPair pair{.sourceRoot = tree.WinFolder("src"), .destinationRoot = tree.WinFolder("dst")};
  int windows = 0;
  DelFldrCheckViewFactory oldFactory = SetDelFldrCheckViewFactory([this](bool) { return ++windows, nullptr; });

  ~DelFolderCheckTest() override { SetDelFldrCheckViewFactory(oldFactory); }

  // A folder record: paths relative to the tree.
  TPtkItem Record(const char* side1, const char* side2, uint8_t code, uint8_t action = 2, uint8_t status = 2) const {
    return TPtkItem(TSyncItem{.source = tree.WinFolder(side1), .destination = tree.WinFolder(side2), .rowKind = 1,
                              .action = action, .stateCode = code},
                    status, status == 2 ? kFailed : "");
  }

  // Runs the check of a hidden run over a protocol of these records.
  test::DecodedPtk Check(const std::vector<TPtkItem>& records) {
    CopyJobFiles files;
    files.protocol = ProtocolStream::Create(tree.Win("p.ptk"));
    for (const TPtkItem& r : records) files.protocol->Append(r);
    const CopyJobSettings settings{.hidden = true};
    TFileDeleter deleter;
    TJobRun run(files, settings, deleter);
    run.pairs.emplace(std::vector<TFolderPair>{pair});
    CheckDelFolders(run);
    files.protocol->Close();
    return test::DecodePtk(tree.Posix("p.ptk"));
  }
};

// Each case: folders made on disk (names of their own; "x.txt" makes a
// file), the records; afterwards their statuses and what is left on disk.
TEST_F(DelFolderCheckTest, RetriesFailedFolderDeletionsOnly) {
  const struct {
    const char* what;
    std::vector<const char*> made;
    std::vector<TPtkItem> records;
    std::vector<int> statuses;
    std::vector<const char*> left;
  } cases[] = {
      {"an empty protocol", {"src/z"}, {}, {}, {"src/z"}},
      {"one record, its folder empty now", {"src/a"}, {Record("src/a", "dst/a", kOnlySource)}, {1}, {}},
      {"one record, its folder still full", {"dst/b/x.txt"}, {Record("src/b", "dst/b", kOnlyDest)}, {2}, {"dst/b/x.txt"}},
      {"a parent before its child: the child goes first",
       {"src/p/c"}, {Record("src/p", "dst/p", kOnlySource), Record("src/p/c", "dst/p/c", kOnlySource)}, {1, 1}, {}},
      {"both sides empty", {"src/d", "dst/d"}, {Record("src/d", "dst/d", kBoth)}, {1}, {}},
      {"both sides, one still full: the other goes, the record stays",
       {"src/e", "dst/e/x.txt"}, {Record("src/e", "dst/e", kBoth)}, {2}, {"dst/e/x.txt"}},
      {"a folder gone already", {}, {Record("src/g", "dst/g", kOnlySource)}, {1}, {}},
      {"no failed folder deletion",
       {"src/h1", "src/h2", "src/h3", "src/h4"},
       {Record("src/h1", "dst/h1", kOnlySource, 2, 1), Record("src/h2", "dst/h2", kOnlySource, 1),
        Record("src/h3", "dst/h3", 2), Record("src/h4", "dst/h4", kBoth, 0)},
       {1, 2, 2, 2},
       {"src/h1", "src/h2", "src/h3", "src/h4"}},
      {"a folder of no pair is never guessed", {"other/x"}, {Record("other/x", "dst/x", kOnlySource)}, {2}, {"other/x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string rel : c.made) rel.ends_with(".txt") ? tree.Write(rel, "x") : tree.Mkdir(rel);
    const test::DecodedPtk ptk = Check(c.records);
    ASSERT_EQ(ptk.records.size(), c.statuses.size());
    for (size_t i = 0; i < c.statuses.size(); ++i) {
      EXPECT_EQ(ptk.records[i].status, c.statuses[i]) << i;
      const bool rewritten = c.records[i].status == 2 && c.statuses[i] == 1;
      EXPECT_EQ(ptk.records[i].message, rewritten ? "Der / die Ordner wurden gelöscht." : c.records[i].message) << i;
    }
    for (const char* rel : c.made) {
      EXPECT_EQ(tree.Exists(rel), std::count(c.left.begin(), c.left.end(), std::string_view(rel)) == 1) << rel;
    }
  }
  EXPECT_EQ(windows, static_cast<int>(std::size(cases)));  // hidden runs too
}

// Only the pair's FTP side goes to the server, and only when its path names
// one: a local root typed with "/" stays local.
TEST_F(DelFolderCheckTest, OnlyTheFtpSideOfAnFtpPairGoesToTheServer) {
  std::string slashed = tree.WinFolder("src");
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  pair = {.sourceRoot = slashed, .destinationRoot = "ftp://127.0.0.1/pub/", .pairKind = kPairKindFtpDestination};
  tree.Mkdir("src/local");
  const TSyncItem local{.source = slashed + "local/", .destination = "ftp://127.0.0.1/pub/local/", .action = 2,
                        .stateCode = kOnlySource};
  const test::DecodedPtk ptk = Check({TPtkItem(local, 2, kFailed)});
  EXPECT_EQ(ptk.records.at(0).status, 1);
  EXPECT_FALSE(tree.Exists("src/local"));
}

}  // namespace
}  // namespace kv

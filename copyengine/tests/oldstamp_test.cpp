#include "copyengine/oldstamp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/volumes.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;

// Golden records from the offset table (see the file layout): SS[255] at 0
// and 256, Int32 count at 512; entry SS[255] at 0, FILETIME at 256.
void PutText(Bytes& b, size_t at, std::string_view s) {
  b[at] = static_cast<uint8_t>(s.size());
  std::memcpy(b.data() + at + 1, s.data(), s.size());
}
void PutLE(Bytes& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
Bytes Header(std::string_view src, std::string_view dst, int32_t count) {
  Bytes b(516, 0);
  PutText(b, 0, src);
  PutText(b, 256, dst);
  PutLE(b, 512, static_cast<uint32_t>(count), 4);
  return b;
}
Bytes Entry(std::string_view name, uint64_t filetime) {
  Bytes b(264, 0);
  PutText(b, 0, name);
  PutLE(b, 256, filetime, 8);
  return b;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr uint64_t kOld = 132000000000000000ULL;
constexpr uint64_t kNew = 133500000000000000ULL;

struct Stamp {
  std::string src;
  std::string dst;
  std::string name;
  uint64_t time;
};

class RecordingView : public IOldStampMergeView {
 public:
  void Begin(bool hidden, bool minimized) override { calls.push_back(std::string("Begin ") + (hidden ? "hidden" : "shown") + (minimized ? " inactive" : "")); }
  void ShowFolders(std::string_view source, std::string_view dest) override {
    calls.push_back("Show " + std::string(source) + " -> " + std::string(dest));
  }
  void End() override { calls.push_back("End"); }
  std::vector<std::string> calls;
};

class OldStampRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Mkdir("prof");
    path_ = tree_.Win("prof/OS.vrl");
  }

  // One run of the copy engine: the start step, the stamps, the file closed.
  bool Run(const std::vector<Stamp>& stamps) {
    OldStampFileStart start = StartOldStampFile(path_);
    ResetOldStampWriter();
    for (const Stamp& s : stamps) {
      EXPECT_TRUE(WriteOldStamp(*start.stream, s.src, s.dst, static_cast<FileTime>(s.time), s.name));
    }
    start.stream->close();
    return start.previousMoved;
  }
  Bytes FileBytes(std::string_view rel) const { return ToBytes(tree_.Read(rel)); }
  std::string Folder(std::string_view rel) const { return tree_.WinFolder(rel); }

  test::ScopedRegistry registry_;
  test::TempTree tree_;
  std::string path_;
};

TEST_F(OldStampRunTest, StampsOfOnePairInARowShareOneBlockAndXYXGivesThreeBlocks) {
  const std::string x = Folder("src/x"), xd = Folder("dst/x"), y = Folder("src/y"), yd = Folder("dst/y");
  EXPECT_FALSE(Run({{x, xd, "a.txt", kOld}, {x, xd, "b.txt", kNew}}));
  EXPECT_EQ(FileBytes("prof/OS.vrl"),
            Concat({Header(x, xd, 2), Entry("a.txt", kOld), Entry("b.txt", kNew)}));

  // A fresh file starts with a block of its own, even when the writer was not
  // reset for it and the pair is the one written last.
  OldStampFileStart start = StartOldStampFile(path_);
  for (const Stamp& s : std::vector<Stamp>{{x, xd, "a", 1}, {x, xd, "b", 2}, {y, yd, "c", 3}, {x, xd, "d", 4}}) {
    ASSERT_TRUE(WriteOldStamp(*start.stream, s.src, s.dst, static_cast<FileTime>(s.time), s.name));
  }
  start.stream->close();
  EXPECT_EQ(FileBytes("prof/OS.vrl"),
            Concat({Header(x, xd, 2), Entry("a", 1), Entry("b", 2), Header(y, yd, 1), Entry("c", 3),
                    Header(x, xd, 1), Entry("d", 4)}));
}

TEST_F(OldStampRunTest, AStreamThatNoLongerEndsWithTheBlockGetsANewHeader) {
  // The same stream object holding a new file, the writer not reset: patching
  // the old block's place would write into nothing.
  std::stringstream stream;
  ResetOldStampWriter();
  ASSERT_TRUE(WriteOldStamp(stream, Folder("s"), Folder("d"), 1, "a"));
  stream.str("");
  stream.clear();
  ASSERT_TRUE(WriteOldStamp(stream, Folder("s"), Folder("d"), 2, "b"));
  EXPECT_EQ(ToBytes(stream.str()), Concat({Header(Folder("s"), Folder("d"), 1), Entry("b", 2)}));
}

TEST_F(OldStampRunTest, FoldersAreWrittenInTheirUncForm) {
  platform::VolumeTable table = platform::VolumeTable::Load();
  platform::Volume share;
  share.root = "N:";
  share.folder = tree_.Posix("share");
  share.remoteName = "\\\\srv\\daten";
  share.mustBeMounted = false;
  table.Set(share);
  table.Save();
  Run({{"N:\\Quelle\\", Folder("dst"), "a.txt", kOld}});
  EXPECT_EQ(FileBytes("prof/OS.vrl"), Concat({Header("\\\\srv\\daten\\Quelle\\", Folder("dst"), 1), Entry("a.txt", kOld)}));
}

TEST_F(OldStampRunTest, TextsThatDoNotFitAreNotStampedAtAll) {
  OldStampFileStart start = StartOldStampFile(path_);
  ResetOldStampWriter();
  EXPECT_FALSE(WriteOldStamp(*start.stream, Folder("s"), Folder("d"), 1, std::string(256, 'n')));
  EXPECT_FALSE(WriteOldStamp(*start.stream, "C:\\" + std::string(260, 'f') + "\\", Folder("d"), 1, "a"));
  EXPECT_TRUE(WriteOldStamp(*start.stream, Folder("s"), Folder("d"), 1, std::string(255, 'n')));
  start.stream->close();
  EXPECT_EQ(FileBytes("prof/OS.vrl"), Concat({Header(Folder("s"), Folder("d"), 1), Entry(std::string(255, 'n'), 1)}));
}

TEST_F(OldStampRunTest, StartStepMovesThePreviousFileAsideAndStartsEmpty) {
  tree_.Write("prof/OS.vrl1", "stale");
  EXPECT_FALSE(Run({}));
  EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));  // a stale previous file goes
  EXPECT_EQ(tree_.Read("prof/OS.vrl"), "");

  tree_.Write("prof/OS.vrl", "previous");
  EXPECT_TRUE(Run({}));
  EXPECT_EQ(tree_.Read("prof/OS.vrl1"), "previous");
  EXPECT_EQ(tree_.Read("prof/OS.vrl"), "");

  EXPECT_THROW(StartOldStampFile("Q:\\nowhere\\OS.vrl"), std::runtime_error);
}

// The previous file has gone aside when this run's file is created; when
// that creation fails, the previous stamps must be P again for the next run.
TEST_F(OldStampRunTest, WhenThisRunsFileCannotBeCreatedThePreviousStampsTakeTheirNameBack) {
  struct Case {
    const char* name;
    bool previous;       // a previous file P exists
    bool createsEmpty;   // the failing step leaves an empty P behind
  };
  const Case cases[] = {
      {"nothing created", true, false},
      {"empty file left behind", true, true},
      {"no previous file", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(tree_.Posix("prof/OS.vrl").c_str());
    if (c.previous) tree_.Write("prof/OS.vrl", "previous stamps");
    bool previousAsideWhenCreating = false;
    const OldStampFileOpener failing = [&](const std::string& posix, std::ios::openmode mode) {
      previousAsideWhenCreating = tree_.Exists("prof/OS.vrl1") && !tree_.Exists("prof/OS.vrl");
      EXPECT_TRUE(mode & std::ios::trunc);
      if (!c.createsEmpty) return std::unique_ptr<std::fstream>();
      auto stream = std::make_unique<std::fstream>(posix, mode);
      stream->setstate(std::ios::failbit);
      return stream;
    };
    try {
      StartOldStampFile(path_, failing);
      ADD_FAILURE() << "a file that cannot be created must be reported";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
    }
    EXPECT_EQ(previousAsideWhenCreating, c.previous);
    EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));
    if (c.previous) {
      EXPECT_EQ(tree_.Read("prof/OS.vrl"), "previous stamps");
    } else {
      EXPECT_FALSE(tree_.Exists("prof/OS.vrl"));
    }
  }
}

TEST_F(OldStampRunTest, MergeKeepsNewTimesSurvivingOldBlocksAndOneBlockPerPair) {
  const std::string x = Folder("src/x"), xd = Folder("dst/x");
  const std::string y = Folder("src/y"), yd = Folder("dst/y");
  const std::string z = Folder("src/z"), zd = Folder("dst/z");
  tree_.Write("src/x/a.txt", "a");
  tree_.Write("src/x/b.txt", "b");
  tree_.Write("src/y/c.txt", "c");

  Run({{x, xd, "A.TXT", kOld}, {x, xd, "b.txt", kOld}, {x, xd, "gone.txt", kOld},
       {y, yd, "c.txt", kOld}, {z, zd, "z.txt", kOld}});
  // This run: X, Y, X again, the last with its destination in other letters.
  std::string xdUpper = xd;
  for (char& c : xdUpper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_TRUE(Run({{x, xd, "a.txt", kNew}, {y, yd, "d.txt", kNew}, {x, xdUpper, "e.txt", kNew}}));

  RecordingView view;
  OldStampMergeResult result = UpdateOldStamps(path_, false, true, &view);
  EXPECT_EQ(result.outcome, OldStampMergeOutcome::Merged) << result.error;
  EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));

  // Blocks in ascending key order; in a pair this run's entries first, then
  // the earlier ones this run did not stamp whose file is still there.
  EXPECT_EQ(FileBytes("prof/OS.vrl"),
            Concat({Header(x, xd, 3), Entry("a.txt", kNew), Entry("e.txt", kNew), Entry("b.txt", kOld),
                    Header(y, yd, 2), Entry("d.txt", kNew), Entry("c.txt", kOld),
                    Header(z, zd, 1), Entry("z.txt", kOld)}));
  EXPECT_EQ(view.calls, (std::vector<std::string>{"Begin shown inactive", "Show " + x + " -> " + xd,
                                                  "Show " + y + " -> " + yd, "End"}));
}

TEST_F(OldStampRunTest, MergeTakesBlocksInAnyOrderFromBothFiles) {
  // Previous file unsorted (Y before X, X twice); this run only X.
  const std::string x = Folder("src/x"), xd = Folder("dst/x");
  const std::string y = Folder("src/y"), yd = Folder("dst/y");
  tree_.Write("src/x/k.txt", "k");
  tree_.Write("src/x/m.txt", "m");
  Run({{y, yd, "y.txt", kOld}, {x, xd, "k.txt", kOld}, {y, yd, "y2.txt", kOld}, {x, xd, "m.txt", kOld}});
  ASSERT_TRUE(Run({{x, xd, "k.txt", kNew}}));
  ASSERT_EQ(UpdateOldStamps(path_, true, false).outcome, OldStampMergeOutcome::Merged);
  EXPECT_EQ(FileBytes("prof/OS.vrl"),
            Concat({Header(x, xd, 2), Entry("k.txt", kNew), Entry("m.txt", kOld),
                    Header(y, yd, 2), Entry("y.txt", kOld), Entry("y2.txt", kOld)}));
}

TEST_F(OldStampRunTest, ARunWithoutStampsRestoresThePreviousFileUnchanged) {
  tree_.Write("src/x/a.txt", "a");
  Run({{Folder("src/x"), Folder("dst/x"), "a.txt", kOld}, {Folder("src/y"), Folder("dst/y"), "b.txt", kOld}});
  const Bytes before = FileBytes("prof/OS.vrl");
  ASSERT_TRUE(Run({}));
  RecordingView view;
  EXPECT_EQ(UpdateOldStamps(path_, true, false, &view).outcome, OldStampMergeOutcome::PreviousRestored);
  EXPECT_EQ(FileBytes("prof/OS.vrl"), before);
  EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));
  EXPECT_EQ(view.calls, (std::vector<std::string>{"Begin hidden", "End"}));
}

TEST_F(OldStampRunTest, AnEmptyPreviousFileLeavesThisRunsFileAlone) {
  tree_.Write("prof/OS.vrl", "");
  ASSERT_TRUE(Run({{Folder("s"), Folder("d"), "a", kNew}}));
  const Bytes written = FileBytes("prof/OS.vrl");
  EXPECT_EQ(UpdateOldStamps(path_, false, false).outcome, OldStampMergeOutcome::NoPrevious);
  EXPECT_EQ(FileBytes("prof/OS.vrl"), written);
  EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));
}

TEST_F(OldStampRunTest, AGarbledPreviousFileIsReportedAndThisRunsStampsStay) {
  const std::string garbage = "\x05" "C:\\x\\" + std::string(600, '\x7f');
  for (const std::string& previous : {garbage, std::string(100, '\0')}) {
    tree_.Write("prof/OS.vrl", previous);
    ASSERT_TRUE(Run({{Folder("s"), Folder("d"), "a", kNew}}));
    const Bytes written = FileBytes("prof/OS.vrl");
    RecordingView view;
    OldStampMergeResult result = UpdateOldStamps(path_, false, false, &view);
    EXPECT_EQ(result.outcome, OldStampMergeOutcome::Failed);
    EXPECT_NE(result.error.find(path_ + "1"), std::string::npos) << result.error;
    EXPECT_EQ(FileBytes("prof/OS.vrl"), written);
    EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));
    EXPECT_EQ(view.calls.back(), "End");
  }
}

TEST_F(OldStampRunTest, AMissingPreviousFileIsRaisedAfterTheViewEnded) {
  Run({{Folder("s"), Folder("d"), "a", kNew}});
  RecordingView view;
  EXPECT_THROW(UpdateOldStamps(path_, false, false, &view), EOldStampFile);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"Begin shown", "End"}));
}

}  // namespace
}  // namespace kv

// The list builder end to end: a profile folder written as the profile editor
// writes it, real source and destination trees, and the job file decoded on
// its own.
#include "synclist/buildsynclist.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/ui/question.h"
#include "platform/volumes.h"
#include "synclist/abort.h"
#include "synclist/drivelist.h"
#include "synclist/kestronize.h"
#include "synclist/scanmasks.h"
#include "testsupport/fixtures.h"
#include "testsupport/profiles.h"
#include "synclist/tests/testrows.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace ui = platform::ui;
using test::FilterSpec;
using test::FolderPairSpec;
using test::JobRecord;
using test::MirrorPair;

constexpr time_t kMTime = 1714557600;  // 01.05.2024 10:00:00 UTC

// A fake window side: counts the views made and can post the abort button
// or a close request as soon as the window exists.
struct FakeWindow {
  int made = 0;
  std::vector<uint32_t> postOnCreate;
  KestronizeViewFactory previous;

  FakeWindow() {
    previous = SetKestronizeViewFactory([this](const TKestronizeLink& link) {
      ++made;
      for (uint32_t id : postOnCreate) link.model.Post(id);
      return std::make_unique<TKestronizeView>();
    });
  }
  ~FakeWindow() { SetKestronizeViewFactory(std::move(previous)); }
};

class BuildSyncListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t_.Mkdir("work/Profile/0000001");
    t_.Mkdir("src");
    t_.Mkdir("dst");
  }

  std::string ProfileFolder() const { return t_.WinFolder("work/Profile/0000001"); }
  std::string ProfilePosix(const std::string& name) const { return t_.Posix("work/Profile/0000001/" + name); }

  void Tree(std::initializer_list<std::string_view> entries) { test::WriteTree(t_, kMTime, entries); }

  // Writes "Pro.kst" and "UsrOpt.kst" and loads both as the scheduler does.
  void WriteProfile(test::ProfileSpec spec = {}, test::UserOptionsSpec options = {}) {
    spec.profileNo = "0000001";
    if (spec.profilePath.empty()) spec.profilePath = ProfileFolder();
    test::ProfileSpec other;
    other.profileNo = "0000002";
    test::WriteProfileList(t_.Posix("work/Profile/Pro.kst"), {other, spec});
    test::WriteUserOptions(t_.Posix("work/UsrOpt.kst"), options);
    userOptions_ = LoadUserOptions(t_.Win("work/Profile/Timer.dat"));
    ProfileLookup lookup = FindProfile(userOptions_.profileFolder + "Pro.kst", "0000001");
    ASSERT_TRUE(lookup.profile) << lookup.error;
    profile_ = *lookup.profile;
  }

  void WritePairs(const std::vector<FolderPairSpec>& pairs, size_t extraTail = 0) {
    test::WriteSrcDest(ProfilePosix("SrcDest.kst"), pairs, extraTail);
  }

  // The drive table as the run thread saves it.
  std::string SaveDriveTable() {
    TDriveList drives;
    drives.AddPath(t_.WinFolder("src"), "", "", "");
    drives.AddPath(t_.WinFolder("dst"), "", "", "");
    return drives.SaveToTempFile();
  }

  void Build(bool hide = true, bool useFilters = true) {
    driveTable_ = SaveDriveTable();
    BuildSyncList(useFilters, false, hide, false, userOptions_, profile_, driveTable_, jobFile_, vanished_, moved_,
                  limit_, nullptr, &report_);
  }

  std::vector<JobRecord> Job() const { return test::DecodeJobFile(*platform::ToPosixPath(jobFile_)); }

  // File name -> record, over the job's file rows.
  std::map<std::string, JobRecord> JobFiles() const {
    std::map<std::string, JobRecord> files;
    for (const JobRecord& r : Job()) {
      if (r.rowKind == 0) files[r.source.empty() ? r.destination : r.source] = r;
    }
    return files;
  }

  // The names of the job's file rows, sorted.
  std::vector<std::string> FileNames() const {
    std::vector<std::string> names;
    for (const auto& [name, r] : JobFiles()) names.push_back(name);
    return names;
  }

  // "name state action" per file row, sorted by name.
  std::vector<std::string> FileStates() const {
    std::vector<std::string> rows;
    for (const auto& [name, r] : JobFiles())
      rows.push_back(name + " " + std::to_string(r.stateCode) + " " + std::to_string(r.action));
    return rows;
  }

  // Builds as the unprivileged user, to whom the folders given belong (with
  // the drive table); judge gets the report and the job and returns what
  // the child exits with.
  int BuildAsAnotherUser(std::initializer_list<const char*> owned,
                         const std::function<int(const std::vector<std::string>&, const std::vector<JobRecord>&)>& judge) {
    for (const char* rel : owned) EXPECT_EQ(::chown(t_.Posix(rel).c_str(), 65534, 65534), 0) << rel;
    const std::string driveTable = SaveDriveTable();
    EXPECT_EQ(::chown(platform::ToPosixPath(driveTable)->c_str(), 65534, 65534), 0);
    return test::RunUnprivileged([&] {
      std::string job;
      std::vector<std::string> report;
      BuildSyncList(true, false, true, false, userOptions_, profile_, driveTable, job, vanished_, moved_, limit_,
                    nullptr, &report);
      return judge(report, test::DecodeJobFile(*platform::ToPosixPath(job)));
    });
  }

  static bool AnyLine(const std::vector<std::string>& lines, const std::function<bool(const std::string&)>& pred) {
    return std::any_of(lines.begin(), lines.end(), pred);
  }

  bool ReportMentions(const std::string& text) const {
    return std::any_of(report_.begin(), report_.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  test::ScopedRegistry registry_;
  test::ScopedEnv tz_{"TZ", "Europe/Berlin"};
  test::TempTree t_;
  TUserOptions userOptions_;
  TProfItem profile_;
  std::string driveTable_;
  std::string jobFile_;
  TDriveNameList vanished_;
  TMoveList moved_;
  int limit_ = 101;  // above every share: never critical
  std::vector<std::string> report_;
};

// Roots stored without their "\", a folder filter, a file filter that
// excludes, folder rows of the kind the user options choose.
TEST_F(BuildSyncListTest, WholeProfileToJobFile) {
  WriteProfile({}, {.folderRowKind = 1});
  const std::string src = platform::ExcludeTrailingBackslash(t_.WinFolder("src"));
  const std::string dst = platform::ExcludeTrailingBackslash(t_.WinFolder("dst"));
  FolderPairSpec pair = MirrorPair(src, dst);
  pair.filterMode = 1;
  WritePairs({pair});
  test::WriteFilters(ProfilePosix("Filters.kst"),
                     {FilterSpec{src, dst, {t_.Win("src/skip")}, {"*.bak"}}});
  Tree({"src/a.txt=a", "src/b.bak=b", "src/skip/x.txt=x", "src/sub/c.txt=c", "src/same.txt=same", "dst/same.txt=same",
        "dst/old.txt=old", "src/newer.txt=newer@86400", "dst/newer.txt=older"});

  Build();

  EXPECT_EQ(jobFile_.rfind(ProfileFolder() + "$", 0), 0u) << jobFile_;
  EXPECT_FALSE(platform::FileExists(driveTable_));  // the drive table is deleted
  EXPECT_EQ(limit_, 101);
  EXPECT_TRUE(report_.empty()) << report_.front();

  // States: 2 only in source, 1 only in destination, 3 source newer.
  EXPECT_EQ(FileStates(), (std::vector<std::string>{"a.txt 2 1", "c.txt 2 1", "newer.txt 3 1", "old.txt 1 2"}));
  EXPECT_EQ(JobFiles().at("a.txt").direction, 1);

  // Paths built from the normalised roots, never "...\srcsub\".
  std::vector<std::string> folders;
  for (const JobRecord& r : Job()) {
    if (r.rowKind != 0) folders.push_back(r.source + " kind " + std::to_string(r.rowKind));
    EXPECT_TRUE(r.zeroFilled);
  }
  EXPECT_EQ(folders, (std::vector<std::string>{t_.WinFolder("src") + " kind 1", t_.WinFolder("src/sub") + " kind 1"}));
}

// Per case the pair's filter mode, whether filters are used, the files built.
TEST_F(BuildSyncListTest, FileKeysExcludeOrIncludeOnly) {
  WriteProfile();
  test::WriteFilters(ProfilePosix("Filters.kst"), {FilterSpec{t_.WinFolder("src"), t_.WinFolder("dst"), {}, {"*.bak"}}});
  Tree({"src/one.bak=1", "src/two.txt=2", "dst/three.bak=3", "dst/four.doc=4"});
  const std::tuple<uint8_t, bool, std::vector<std::string>> cases[] = {
      {1, true, {"four.doc", "two.txt"}}, {0, true, {"one.bak", "three.bak"}}, {2, true, {"one.bak", "three.bak"}},
      {1, false, {"four.doc", "one.bak", "three.bak", "two.txt"}}};
  for (const auto& [mode, useFilters, files] : cases) {
    FolderPairSpec pair = MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"));
    pair.filterMode = mode;
    WritePairs({pair});
    Build(true, useFilters);
    EXPECT_EQ(FileNames(), files) << int(mode) << useFilters;
  }
}

// Pairs with an FTP side are left to the copy engine; a missing pair file
// is reported. Either way the job file exists, empty.
TEST_F(BuildSyncListTest, FtpOnlyProfileOrMissingPairFileGivesAnEmptyJobFile) {
  WriteProfile();
  Tree({"src/a.txt=a"});
  Build();
  EXPECT_TRUE(Job().empty());
  EXPECT_TRUE(ReportMentions("SrcDest.kst"));

  FolderPairSpec pair = MirrorPair(t_.WinFolder("src"), "ftp://host/dir/");
  pair.pairKind = 2;
  WritePairs({pair});
  Build();
  ASSERT_TRUE(platform::FileExists(jobFile_));
  EXPECT_TRUE(Job().empty());
}

TEST_F(BuildSyncListTest, CriticalShareStopsWithMinusOneAndWritesNothing) {
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"))});
  // 1 deletion among 4 destination entries
  Tree({"src/e1=1", "dst/e1=1", "src/e2=2", "dst/e2=2", "src/e3=3", "dst/e3=3", "dst/gone=x", "src/new=n"});
  limit_ = 20;
  Build();
  EXPECT_EQ(limit_, -1);
  EXPECT_TRUE(platform::FileExists(jobFile_));
  EXPECT_TRUE(Job().empty());
  EXPECT_TRUE(t_.Exists("dst/gone"));
}

// A source folder that was renamed away makes the whole destination look
// deleted; a mirror must not empty the backup because of it. A destination
// that is not there yet still gets its copies.
TEST_F(BuildSyncListTest, AMissingRootNeverDeletesTheOtherSide) {
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("renamed"), t_.WinFolder("dst")),
              MirrorPair(t_.WinFolder("src"), t_.WinFolder("new"))});
  Tree({"dst/keep.txt=k", "dst/sub/deep.txt=d", "src/a.txt=a"});
  Build();
  const auto files = JobFiles();
  for (const auto& [name, r] : files) EXPECT_NE(r.action, kActionDelete) << name;
  EXPECT_EQ(files.at("a.txt").action, kActionCopy);
  EXPECT_TRUE(ReportMentions(t_.WinFolder("renamed"))) << ::testing::PrintToString(report_);
  EXPECT_FALSE(ReportMentions(t_.WinFolder("new"))) << ::testing::PrintToString(report_);
}

// A source inside its destination must not look like a folder "only in the
// destination" to a mirror (it would be deleted), and a destination inside
// its source must not be copied into itself.
TEST_F(BuildSyncListTest, ARootInsideTheOtherIsLeftOutOfBothScans) {
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("dst/inner"), t_.WinFolder("dst")),
              MirrorPair(t_.WinFolder("src"), t_.WinFolder("src/backup"))});
  Tree({"dst/inner/data.txt=d", "src/a.txt=a", "src/backup/old.txt=o"});
  Build();
  std::vector<std::string> rows;
  for (const JobRecord& r : Job()) {
    rows.push_back(std::to_string(r.stateCode) + " " + std::to_string(r.action) + " " +
                   (r.rowKind != 0 ? r.source + "|" + r.destination : r.source + r.destination));
  }
  const std::string inner = t_.WinFolder("dst/inner"), dst = t_.WinFolder("dst");
  const std::string src = t_.WinFolder("src"), backup = t_.WinFolder("src/backup");
  EXPECT_EQ(rows, (std::vector<std::string>{"10 1 " + inner + "|" + dst, "2 1 data.txt",
                                            "10 4 " + src + "|" + backup, "2 1 a.txt", "1 2 old.txt"}));
  EXPECT_TRUE(ReportMentions("ineinander")) << ::testing::PrintToString(report_);
}

TEST_F(BuildSyncListTest, MovedFilesAreMovedAndListedOnlyWhenTheProfileAsks) {
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"))});
  Tree({"src/B/moved.txt=hello", "dst/A/moved.txt=hello", "src/A/keep.txt=k", "dst/A/keep.txt=k"});
  moved_.Add("kept", "as given");
  Build();
  EXPECT_EQ(moved_.Count(), 1u);
  EXPECT_TRUE(t_.Exists("dst/A/moved.txt"));
  EXPECT_EQ(JobFiles().count("moved.txt"), 1u);

  test::ProfileSpec spec;
  spec.findMovedFiles = 2;  // any non-zero byte
  WriteProfile(spec);
  Build();
  ASSERT_EQ(moved_.Count(), 1u);  // replaced by the moves done
  EXPECT_EQ(moved_.GetPair(0).oldPath, t_.Win("dst/A/moved.txt"));
  EXPECT_EQ(moved_.GetPair(0).newPath, t_.Win("dst/B/moved.txt"));
  EXPECT_EQ(t_.Read("dst/B/moved.txt"), "hello");
  EXPECT_EQ(JobFiles().count("moved.txt"), 0u);
}

// A hidden window gets no view (so no abort click), but the build runs.
TEST_F(BuildSyncListTest, InactivePairsAreBuiltUnlessAskedOtherwise) {
  WriteProfile();
  FolderPairSpec pair = MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"));
  pair.active = 0;
  WritePairs({pair});
  Tree({"src/a.txt=a"});
  FakeWindow window;
  window.postOnCreate = {kKestronizeAbortClick};
  Build(/*hide=*/true);
  EXPECT_EQ(window.made, 0);
  EXPECT_EQ(JobFiles().count("a.txt"), 1u);

  driveTable_ = SaveDriveTable();
  BuildSyncList(true, true, true, false, userOptions_, profile_, driveTable_, jobFile_, vanished_, moved_, limit_,
                nullptr, &report_);
  EXPECT_TRUE(Job().empty());
}

// Names the scan left out, a cut-off pair file and an unreadable old-stamp
// file reach the report; the rest is built. An unset folder-row kind in the
// user options gives folder rows of kind 2.
TEST_F(BuildSyncListTest, WhatTheBuildLeavesOutReachesTheReport) {
  test::ProfileSpec spec;
  spec.keepOldStamps = 1;
  WriteProfile(spec, {.folderRowKind = 0});
  WritePairs({MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"))}, 100);
  test::WriteBytes(ProfilePosix("OS.vrl"), std::vector<uint8_t>(10, 1));  // a header cut off
  Tree({"src/Same.txt=1", "src/same.TXT=2", "src/sub/plain.txt=p", "src/a.txt=a@86400", "dst/a.txt=b"});
  Build();
  for (const std::string& text : {t_.Win("src/Same.txt"), std::string("SrcDest.kst"), std::string("100 von 3828"),
                                  std::string("OS.vrl")}) {
    EXPECT_TRUE(ReportMentions(text)) << text << " in " << ::testing::PrintToString(report_);
  }
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"a.txt", "plain.txt"}));
  for (const JobRecord& r : Job()) {
    EXPECT_EQ(r.rowKind, !r.source.empty() && r.source.back() == '\\' ? 2 : 0) << r.source;
  }
}

TEST_F(BuildSyncListTest, UnreadableSourceFolderIsReported) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to run the build as another user";
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"))});
  Tree({"src/locked/a.txt=a", "dst/locked/a.txt=old", "src/open.txt=o"});
  ASSERT_EQ(::chmod(t_.Posix().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(t_.Posix("src/locked").c_str(), 0700), 0);
  // Everything but the locked folder belongs to the unprivileged user.
  const int result = BuildAsAnotherUser(
      {"work", "work/Profile", "work/Profile/0000001", "src", "dst", "dst/locked", "dst/locked/a.txt", "src/open.txt"},
      [&](const std::vector<std::string>& report, const std::vector<JobRecord>& job) {
        const bool reported =
            AnyLine(report, [&](const std::string& l) { return l.find(t_.WinFolder("src/locked")) != std::string::npos; });
        // The destination's copy must not be marked for deletion.
        const bool deletes =
            std::any_of(job.begin(), job.end(), [](const JobRecord& r) { return r.action == kActionDelete; });
        return (reported ? 0 : 1) | (deletes ? 2 : 0);
      });
  EXPECT_EQ(result, 0);
}

// A filter file that is there but cannot be read is no "no filters": a
// mirror would delete the folders the user had excluded. That pair's
// deletions are withheld and the problem is reported; its copies go on.
TEST_F(BuildSyncListTest, AnUnreadableFilterFileWithholdsThatPairsDeletions) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to run the build as another user";
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"))});
  test::WriteFilters(ProfilePosix("Filters.kst"), {FilterSpec{t_.WinFolder("src"), t_.WinFolder("dst"),
                                                               {t_.Win("src/excluded")}, {}}});
  Tree({"src/new.txt=n", "dst/excluded/kept.txt=k"});
  ASSERT_EQ(::chmod(t_.Posix().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(ProfilePosix("Filters.kst").c_str(), 0600), 0);  // root's alone
  const int result = BuildAsAnotherUser(
      {"work", "work/Profile", "work/Profile/0000001", "src", "src/new.txt", "dst", "dst/excluded",
       "dst/excluded/kept.txt"},
      [](const std::vector<std::string>& report, const std::vector<JobRecord>& job) {
        const bool reported = AnyLine(report, [](const std::string& l) {
          return l.find("Filters.kst") != std::string::npos && l.find("Permission denied") != std::string::npos;
        });
        const bool deletes =
            std::any_of(job.begin(), job.end(), [](const JobRecord& r) { return r.action == kActionDelete; });
        const bool copies = std::any_of(job.begin(), job.end(), [](const JobRecord& r) { return r.source == "new.txt"; });
        return (reported ? 0 : 1) | (deletes ? 2 : 0) | (copies ? 0 : 4);
      });
  EXPECT_EQ(result, 0);
}

// A folder whose path is longer than the 255 bytes a job file holds for it
// is left out of both scans with a report line; the rest of the profile is
// built (it used to fail the whole job, on every run).
TEST_F(BuildSyncListTest, AFolderPathTooLongForTheJobFileLeavesOnlyThatFolderOut) {
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"))});
  const std::string root = t_.WinFolder("src");
  const std::string deep = std::string(120, 'a') + "/" + std::string(270 - root.size() - 122, 'b');
  Tree({"src/ok.txt=o", std::string("src/") + deep + "/far.txt=f", "dst/" + deep + "/old.txt=o"});
  ASSERT_GT(root.size() + deep.size() + 1, 255u);
  Build();
  EXPECT_EQ(FileNames(), std::vector<std::string>{"ok.txt"});
  EXPECT_TRUE(ReportMentions("länger als 255")) << ::testing::PrintToString(report_);
  EXPECT_TRUE(ReportMentions(std::string(120, 'a') + "\\" + std::string(10, 'b'))) << ::testing::PrintToString(report_);
}

// Job files, pair copies and temporary files of runs that were killed are
// cleared away by the next run of the profile; nothing else of the folder is.
TEST_F(BuildSyncListTest, TheNextRunRemovesWhatKilledRunsLeftInTheProfileFolder) {
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"))});
  for (const char* leftover : {"$0C1D.tmp", "$FFFF.tmp", ".kvtmp-K1lledRun0"}) t_.Write("work/Profile/0000001/" + std::string(leftover), "x");
  Build();
  for (const char* leftover : {"$0C1D.tmp", "$FFFF.tmp", ".kvtmp-K1lledRun0"})
    EXPECT_FALSE(t_.Exists("work/Profile/0000001/" + std::string(leftover))) << leftover;
  EXPECT_TRUE(platform::FileExists(jobFile_));
  EXPECT_TRUE(t_.Exists("work/Profile/0000001/SrcDest.kst"));
}

TEST_F(BuildSyncListTest, ProfileFolderThatCannotTakeTheJobFileIsAnError) {
  test::ProfileSpec spec;
  spec.profilePath = t_.WinFolder("missing");
  WriteProfile(spec);
  driveTable_ = SaveDriveTable();
  EXPECT_THROW(BuildSyncList(true, false, true, false, userOptions_, profile_, driveTable_, jobFile_, vanished_,
                             moved_, limit_, nullptr, &report_),
               std::runtime_error);
  EXPECT_EQ(jobFile_, "");
  EXPECT_FALSE(platform::FileExists(driveTable_));
}

// --- Window and abort ---------------------------------------------------------

// Only Yes to the abort question aborts.
TEST_F(BuildSyncListTest, AbortClickAsksAndOnlyYesAborts) {
  WriteProfile();
  WritePairs({MirrorPair(t_.WinFolder("src"), t_.WinFolder("dst"))});
  Tree({"src/a.txt=a"});
  for (ui::Answer answer : {ui::Answer::Yes, ui::Answer::No, ui::Answer::Cancel}) {
    SCOPED_TRACE(static_cast<int>(answer));
    FakeWindow window;
    window.postOnCreate = {kKestronizeAbortClick};
    std::vector<std::string> asked;
    ui::ScopedResponder responder([&](const ui::Question& q) {
      asked.push_back(q.text);
      EXPECT_EQ(q.buttons, ui::QuestionButtons::YesNoCancel);
      return answer;
    });
    if (answer == ui::Answer::Yes) {
      EXPECT_THROW(Build(false), EAbort);
      EXPECT_TRUE(platform::FileExists(jobFile_));  // named and left empty
      EXPECT_TRUE(Job().empty());
    } else {
      Build(false);
      EXPECT_EQ(JobFiles().count("a.txt"), 1u);
    }
    EXPECT_EQ(asked, std::vector<std::string>{kKestronizeAbortQuestion});
    EXPECT_FALSE(platform::FileExists(driveTable_));
    EXPECT_EQ(window.made, 1);
  }
}

// --- The window model on its own ----------------------------------------------

TEST(Kestronize, CloseAsksAndOnlyClosesOnceAborted) {
  std::vector<ui::Answer> answers = {ui::Answer::No, ui::Answer::Yes};
  int asked = 0;
  ui::ScopedResponder responder([&](const ui::Question&) { return answers[asked++]; });
  TtfKestronize form(false);
  form.Show(false);
  EXPECT_FALSE(form.FormClose());  // No: stays open, no abort
  EXPECT_FALSE(form.abortRequested());
  EXPECT_TRUE(form.visible());
  EXPECT_FALSE(form.FormClose());  // Yes: abort set, still open until the runner ends
  EXPECT_TRUE(form.abortRequested());
  EXPECT_FALSE(form.snapshot().abortEnabled);
  EXPECT_TRUE(form.FormClose());  // now it may close, without asking again
  EXPECT_FALSE(form.visible());
  EXPECT_EQ(asked, 2);
}

TEST(Kestronize, ProgressTextsAndAbortFromTheCallback) {
  ui::ScopedResponder responder([](const ui::Question&) { return ui::Answer::Yes; });
  TtfKestronize form(true);
  form.SetRoots("C:\\Quelle", "D:\\Ziel\\");
  form.SetStepText("Suchen der Dateien");
  TSyncListe list;
  form.ListProgress(list);
  EXPECT_EQ(form.snapshot().sourceDestinationText, "Quelle: C:\\Quelle | Ziel: D:\\Ziel\\");
  EXPECT_EQ(form.snapshot().statusText, "Aktueller Prozeß: Suchen der Dateien");
  EXPECT_EQ(form.snapshot().timeText.rfind("Vergangene Zeit: 00:00:", 0), 0u);
  EXPECT_EQ(form.StatusPathText(), "");
  form.sbAbortClick();
  EXPECT_THROW(form.ListProgress(list), EAbort);
}

TEST(Kestronize, ElapsedTextDoesNotWrapAtADay) {
  EXPECT_EQ(ElapsedText(0), "00:00:00");
  EXPECT_EQ(ElapsedText(3723999), "01:02:03");
  EXPECT_EQ(ElapsedText(90000000), "25:00:00");
}

// --- Filter masks and strategy ------------------------------------------------

class FilterMasksTest : public ::testing::Test {
 protected:
  TFilterMasks Read(const std::string& src, const std::string& dst, std::vector<std::string> folderKeys,
                    std::vector<std::string> fileKeys = {}) {
    test::WriteFilters(t_.Posix("Filters.kst"), {FilterSpec{src, dst, std::move(folderKeys), std::move(fileKeys)}});
    return ReadFilterMasks(t_.Win("Filters.kst"), src, dst);
  }
  test::ScopedRegistry registry_;
  test::TempTree t_;
};

// Folder keys become lower-case masks relative to a root (compared with a
// "\" so that "C:\data" is no prefix of "C:\datasub"); section names ignore
// case; a missing file or section gives no masks.
TEST_F(FilterMasksTest, FolderKeysBecomeRelativeLowerCaseMasks) {
  struct Case {
    FilterSpec written;
    const char* readSource;
    const char* readDestination;
    const char* folderMasks;
    const char* fileMasks;
  };
  const Case cases[] = {
      {{"C:\\Daten\\", "D:\\Ziel\\",
        {"C:\\Daten\\Temp", "d:\\ziel\\Alt\\Cache", "C:\\Anderswo\\x", "C:\\DatenSub\\y"}, {"*.bak", "a b.txt"}},
       "C:\\Daten\\", "D:\\Ziel\\", "\"temp*\",\"alt\\cache*\"", "\"*.bak\",\"a b.txt\""},
      {{"C:\\data", "D:\\dst", {"C:\\datasub\\x", "C:\\data\\sub"}, {}}, "C:\\data", "D:\\dst", "\"sub*\"", ""},
      {{"C:\\A\\", "D:\\B\\", {"C:\\A\\x"}, {"*.tmp"}}, "c:\\a\\", "d:\\b\\", "\"x*\"", "\"*.tmp\""},
      {{"C:\\A\\", "D:\\B\\", {"C:\\A\\x"}, {"*.tmp"}}, "C:\\A\\", "D:\\C\\", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folderMasks);
    test::WriteFilters(t_.Posix("Filters.kst"), {c.written});
    TFilterMasks m = ReadFilterMasks(t_.Win("Filters.kst"), c.readSource, c.readDestination);
    EXPECT_EQ(m.folderMasks, c.folderMasks);
    EXPECT_EQ(m.fileMasks, c.fileMasks);
  }
  EXPECT_EQ(ReadFilterMasks(t_.Win("fehlt.kst"), "C:\\A\\", "D:\\B\\").folderMasks, "");
}

// A folder name with mask syntax in it must leave out that folder (and what
// begins with its name, as every folder key does) and nothing else: per case
// the folder below the source root and a name the mask must not match.
// "*" and "?" in a folder key were meant as wildcards; "[" opens no set.
TEST_F(FilterMasksTest, FolderKeysKeepTheirWildcardsButABracketIsLiteral) {
  struct Case {
    const char* key;
    const char* matches;
    const char* doesNotMatch;
  } cases[] = {{"a*b", "axyb", "xab"},       {"a?b", "axb", "ab"},         {"we[ir]d", "we[ir]d", "wei]d"},
               {"we[ird", "we[ird", "weird"}, {"[!a]", "[!a]", "b"},        {"it's \"q\"", "it's \"q\"", "it's q"},
               {"x,y z", "x,y z", "x"},       {"a;b", "a;b", "ab"}};
  for (const Case& c : cases) {
    TFilterMasks m = Read("C:\\S\\", "D:\\T\\", {std::string("C:\\S\\") + c.key});
    const std::vector<std::string> masks = ParseMaskText(m.folderMasks);
    ASSERT_EQ(masks.size(), 1u) << m.folderMasks;
    EXPECT_TRUE(MatchesAnyMask(std::string(c.matches) + "\\", masks)) << masks[0];
    EXPECT_FALSE(MatchesAnyMask(std::string(c.doesNotMatch) + "\\", masks)) << masks[0];
  }
}

TEST(SetStrategy, UnpacksDirectionsAndCopiesActions) {
  std::vector<uint8_t> bytes(20);
  const uint8_t directions[10] = {7, 2, 0, 1, 5, 2, 1, 0, 255, 2};
  for (int i = 0; i < 10; ++i) {
    bytes[2 * i] = directions[i];
    bytes[2 * i + 1] = static_cast<uint8_t>(10 + i);
  }
  TUnpackedStrategy s = SetStrategy(bytes);
  const int expected[10] = {7, 0, 1, 1, 1, 0, 1, 1, 1, 0};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(s[i].direction, expected[i]) << i;
    EXPECT_EQ(s[i].action, 10 + i) << i;
  }
  bytes[0] = 2;
  EXPECT_EQ(SetStrategy(bytes)[0].direction, 0);
  EXPECT_THROW(SetStrategy(std::vector<uint8_t>(19)), std::invalid_argument);
}

TEST(NewJobFileName, CreatesAnEmptyDollarFile) {
  test::ScopedRegistry registry;
  test::TempTree t;
  const std::string name = NewJobFileName(t.WinFolder());
  EXPECT_EQ(name.rfind(t.WinFolder() + "$", 0), 0u) << name;
  EXPECT_EQ(platform::GetFileSize(name), 0);
  EXPECT_NE(NewJobFileName(t.WinFolder()), name);
}

}  // namespace
}  // namespace kv

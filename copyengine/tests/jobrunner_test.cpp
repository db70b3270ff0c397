// The job execution on real temporary trees: every kind of item, the
// protocol it leaves (decoded from the record layout), the old timestamps,
// cancelling and failing runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "copyengine/copyobj.h"
#include "copyengine/jobrunner.h"
#include "copyengine/pairfinder.h"
#include "copyengine/tests/engine_fixture.h"
#include "copyengine/tests/fake_windows.h"
#include "platform/inifile.h"
#include "testsupport/acl.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace test;
using platform::HRESULT;
using platform::S_OK;

constexpr const char* kCopied = "Die Datei wurde kopiert.";
constexpr const char* kChanged = "Die Datei/en haben sich seit dem Setzen der Strategie verändert!";
constexpr const char* kFilesDeleted = "Die Datei/en wurde/n gelöscht.";
constexpr const char* kFoldersDeleted = "Der / die Ordner wurden gelöscht.";
constexpr const char* kFoldersCreated = "Der / die Ordner wurden erstellt.";
constexpr const char* kNotCreated = "Der / die Ordner konnten nicht erstellt werden! ";
constexpr const char* kNotDeleted = "Der / die Ordner konnten nicht gelöscht werden! ";

// State codes and directions as the job file stores them.
constexpr uint8_t kOnlyDest = 1, kOnlySource = 2, kDestOlder = 3;
constexpr uint8_t kFolderOnlyDest = 8, kFolderOnlySource = 9, kFolderBoth = 10;
constexpr uint8_t kToDest = 1, kToSource = 2;

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }
bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class JobTest : public ::testing::Test {
 public:
  TempTree tree;
  ScopedRegistry registry;
  ScopedEnv tz{"TZ", "Europe/Berlin"};
  const std::string profile = "work/Profile/1/";

  void SetUp() override {
    tree.Mkdir("src");
    tree.Mkdir("dst");
    FreshPtk();
    tree.Mkdir(profile + "ptk");
    WriteSrcDest(tree.Posix(profile + "SrcDest.kst"), {Pair()});
  }

  FolderPairSpec Pair() const {
    FolderPairSpec pair;
    pair.source = Src();
    pair.destination = Dst();
    return pair;
  }
  std::string Src(const std::string& rel = "") const { return tree.WinFolder("src/" + rel); }
  std::string Dst(const std::string& rel = "") const { return tree.WinFolder("dst/" + rel); }
  std::string JobPosix() const { return tree.Posix(profile + "$0ABC.tmp"); }
  std::string OsVrl() const { return tree.Posix(profile + "OS.vrl"); }
  void FreshPtk() const { tree.Write(profile + "AUTOptk/00000.ptk", ""); }
  DecodedPtk Ptk() const { return DecodePtk(tree.Posix(profile + "AUTOptk/00000.ptk")); }
  std::string LastRunDate(const std::string& folder) const {
    return platform::IniFile(tree.Win(profile + folder + "/last.vrl")).ReadString("LastProcess", "Date", "");
  }

  EngineCall Call() const {
    EngineCall call;
    call.ptkFile = tree.Win(profile + "AUTOptk/00000.ptk");
    call.srcFile = tree.Win(profile + "$0ABC.tmp");
    call.mainFile = tree.Win(profile + "SrcDest.kst");
    return call;
  }
  EngineCall WithStamps(EngineCall call) const {
    call.osFile = tree.Win(profile + "OS.vrl");
    return call;
  }

  HRESULT RunWritten(const EngineCall& call) {
    TCopyObj* obj = new TCopyObj;
    obj->AddRef();
    const HRESULT hr = DriveCopyObject(*obj, call);
    obj->Release();
    return hr;
  }
  HRESULT Run(const std::vector<JobItemSpec>& items, const EngineCall& call) {
    WriteJob(JobPosix(), items);
    return RunWritten(call);
  }
  HRESULT Run(const std::vector<JobItemSpec>& items) { return Run(items, Call()); }

  // A file with a local last-write time; returns that time as DOS value.
  uint32_t File(const std::string& rel, const std::string& content, int day = 10, int second = 20) {
    tree.Write(rel, content);
    tree.SetMTime(rel, LocalEpoch(2024, 3, day, 11, 30, second));
    return DosOf(2024, 3, day, 11, 30, second);
  }

  static JobItemSpec CopyToDest(const std::string& name, uint32_t dos, int64_t size, uint8_t state = kOnlySource) {
    JobItemSpec s;
    s.source = name;
    s.sourceSize = size;
    s.sourceTime = dos;
    s.stateCode = state;
    s.action = 1;
    s.direction = kToDest;
    return s;
  }
  // An item of a file only on side 2: copied back (action 1) or deleted (2).
  static JobItemSpec OnlyOnDest(const std::string& name, uint32_t dos, int64_t size, uint8_t action = 1) {
    JobItemSpec s;
    s.destination = name;
    s.destinationSize = size;
    s.destinationTime = dos;
    s.stateCode = kOnlyDest;
    s.action = action;
    s.direction = kToSource;
    return s;
  }
  JobItemSpec Both() const { return FolderItem(Src(), Dst(), kFolderBoth, 1); }

  // Earlier stamps of the pair for one file that still exists.
  void PreviousStamps() {
    tree.Write("src/kept.txt", "k");
    GoldenOldStamps().Block(Src(), Dst(), 1).Entry("kept.txt", 133000000000000000ULL).WriteTo(OsVrl());
  }

  // The job file and the pair copy are gone; nothing else changed there.
  void ExpectProfileFolderClean() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tree.Posix(profile))) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"AUTOptk", "OS.vrl", "SrcDest.kst", "ptk"}));
  }
};

// --- Copies ---------------------------------------------------------------------------

TEST_F(JobTest, CopiesBothWaysRecordsEveryItemAndStampsTheCopies) {
  const uint32_t a = File("src/a.txt", "aaaaa");
  const uint32_t b = File("dst/b.txt", "bbbbbb", 11);
  JobItemSpec replace = CopyToDest("c.txt", File("src/c.txt", "ccccccc", 12), 7, kDestOlder);
  replace.destination = "c.txt";
  replace.destinationSize = 3;
  replace.destinationTime = File("dst/c.txt", "old", 1);
  ASSERT_EQ(Run({Both(), CopyToDest("a.txt", a, 5), OnlyOnDest("b.txt", b, 6), replace}, WithStamps(Call())), S_OK);

  EXPECT_EQ(tree.Read("dst/a.txt"), "aaaaa");
  EXPECT_EQ(tree.Read("src/b.txt"), "bbbbbb");  // without its missing side 1
  EXPECT_EQ(tree.Read("dst/c.txt"), "ccccccc");
  struct stat st {};
  ASSERT_EQ(stat(tree.Posix("dst/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, LocalEpoch(2024, 3, 10, 11, 30, 20));

  const DecodedPtk ptk = Ptk();
  ASSERT_TRUE(ptk.wellFormed);
  ASSERT_EQ(ptk.records.size(), 4u);
  EXPECT_EQ(ptk.records[0].status, 0);
  EXPECT_EQ(ptk.records[0].rowKind, 1);  // folder records of local pairs
  EXPECT_EQ(ptk.records[0].message, "");
  const char* names[] = {"a.txt", "b.txt", "c.txt"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(ptk.records[i + 1].status, 1);
    EXPECT_EQ(ptk.records[i + 1].message, kCopied);
    EXPECT_EQ(ptk.records[i + 1].first, names[i]);
    EXPECT_EQ(ptk.records[i + 1].second, names[i]);
  }
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->size, "18 Byte");
  EXPECT_EQ(ptk.trailer->analyseTime, "00:00:07");
  EXPECT_EQ(ptk.trailer->errorFlag, 0);
  EXPECT_EQ(ptk.trailer->copyTime.size(), 8u);

  const std::vector<StampFields> stamps = DecodeOsVrl(OsVrl());
  ASSERT_EQ(stamps.size(), 3u);
  EXPECT_EQ(stamps[0].folder1, Src());
  EXPECT_EQ(stamps[0].folder2, Dst());
  EXPECT_EQ(stamps[0].fileTime, FileTimeOfEpoch(LocalEpoch(2024, 3, 10, 11, 30, 20)));
  EXPECT_EQ(StampNames(OsVrl()), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_NE(LastRunDate("AUTOptk"), "");
  ExpectProfileFolderClean();
}

TEST_F(JobTest, AFileChangedSinceTheListWasBuiltIsNotCopied) {
  const time_t listed = LocalEpoch(2024, 3, 10, 11, 30, 20);
  struct Case {
    const char* what;
    std::function<void(JobTest&)> change;  // after the job item was made from the file
    bool copied;
  };
  const Case cases[] = {
      {"untouched", [](JobTest&) {}, true},
      {"other size", [&](JobTest& t) { t.tree.Write("src/f.txt", "1234567"); t.tree.SetMTime("src/f.txt", listed); }, false},
      {"two seconds later, same size", [&](JobTest& t) { t.tree.SetMTime("src/f.txt", listed + 2); }, true},
      {"two seconds later, other size", [&](JobTest& t) { t.tree.Write("src/f.txt", "123"); t.tree.SetMTime("src/f.txt", listed + 2); }, false},
      {"four seconds later", [&](JobTest& t) { t.tree.SetMTime("src/f.txt", listed + 4); }, false},
      {"appeared on the other side", [](JobTest& t) { t.tree.Write("dst/f.txt", "new!"); }, false},
      {"gone", [](JobTest& t) { fs::remove(t.tree.Posix("src/f.txt")); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(tree.Posix("dst/f.txt"));
    FreshPtk();
    const uint32_t dos = File("src/f.txt", "12345");
    c.change(*this);
    ASSERT_EQ(Run({Both(), CopyToDest("f.txt", dos, 5)}), S_OK);
    const DecodedPtk ptk = Ptk();
    ASSERT_EQ(ptk.records.size(), 2u);
    EXPECT_EQ(ptk.records[1].status, c.copied ? 1 : 2);
    EXPECT_EQ(ptk.records[1].message, c.copied ? kCopied : kChanged);
    if (c.copied) EXPECT_EQ(tree.Read("dst/f.txt"), "12345");
  }
}

TEST_F(JobTest, MissingFoldersOfAFileAreCreatedOrReported) {
  const uint32_t dos = File("src/deep/x.txt", "x");
  // The side-2 folder is made with its parents.
  ASSERT_EQ(Run({FolderItem(Src("deep"), Dst("new/deeper"), kFolderBoth, 1), CopyToDest("x.txt", dos, 1)}), S_OK);
  EXPECT_EQ(tree.Read("dst/new/deeper/x.txt"), "x");

  // A file stands where the folder should be.
  FreshPtk();
  tree.Write("dst/blocked", "a file");
  ASSERT_EQ(Run({FolderItem(Src("deep"), Dst("blocked/sub"), kFolderBoth, 1), CopyToDest("x.txt", dos, 1)}), S_OK);
  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 2u);
  EXPECT_EQ(ptk.records[1].status, 2);
  EXPECT_EQ(ptk.records[1].message, "Der / die Ordner wurde/n nicht gefunden!");
  EXPECT_EQ(ptk.trailer->errorFlag, 1);
}

TEST_F(JobTest, PathsLongerThan255CharactersAreRefused) {
  ASSERT_LT(Src().size(), 200u);
  const std::string name = std::string(256 - Src().size(), 'n');  // exactly 256 characters with the folder
  const std::string fits = std::string(255 - std::max(Src().size(), Dst().size()), 'f');
  const uint32_t dos = File("src/" + name, "long");
  const uint32_t dosFits = File("src/" + fits, "fits");
  ASSERT_EQ(Run({Both(), CopyToDest(name, dos, 4), OnlyOnDest(name, dos, 4), CopyToDest(fits, dosFits, 4)}), S_OK);
  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 4u);
  EXPECT_EQ(ptk.records[1].message, "Der Pfad-/Dateiname der Quelle ist länger als 255 Zeichen!");
  // Side 2 is tested first for a copy from side 2, and named the target.
  EXPECT_EQ(ptk.records[2].message, "Der Pfad-/Dateiname des Ziels ist länger als 255 Zeichen!");
  EXPECT_EQ(ptk.records[3].status, 1);
  EXPECT_FALSE(tree.Exists("dst/" + name));
}

// --- Deletions ---------------------------------------------------------------------------

TEST_F(JobTest, FileDeletionsFollowTheChosenStyle) {
  // The home trash lies on the device of the tree.
  ScopedEnv dataHome("XDG_DATA_HOME", tree.Posix("home/.local/share").c_str());
  const std::string backup = "work/BackUp/C" + tree.Posix("dst") + "/old.txt";
  const std::pair<int32_t, std::string> cases[] = {  // DelSchredder, where the content is kept
      {0, ""}, {1, "home/.local/share/Trash/files/old.txt"}, {2, backup}, {3, "dst/old.txt.BAK"}, {4, ""}};
  for (const auto& [delSchredder, keptAt] : cases) {
    SCOPED_TRACE(delSchredder);
    fs::remove(tree.Posix("dst/old.txt.BAK"));
    FreshPtk();
    const uint32_t dos = File("dst/old.txt", "old content");
    chmod(tree.Posix("dst/old.txt").c_str(), 0444);  // read-only files go as well
    EngineCall call = Call();
    call.delSchredder = delSchredder;
    ASSERT_EQ(Run({Both(), OnlyOnDest("old.txt", dos, 11, 2)}, call), S_OK);
    EXPECT_FALSE(tree.Exists("dst/old.txt"));
    if (!keptAt.empty()) EXPECT_EQ(tree.Read(keptAt), "old content");
    EXPECT_EQ(tree.Exists("dst/old.txt.BAK"), delSchredder == 3);
    const DecodedPtk ptk = Ptk();
    ASSERT_EQ(ptk.records.size(), 2u);
    EXPECT_EQ(ptk.records[1].status, 1);
    EXPECT_EQ(ptk.records[1].message, kFilesDeleted);
  }
}

TEST_F(JobTest, DeletingAFileOfBothSidesDeletesBothAndReportsTheWorse) {
  JobItemSpec del = CopyToDest("both.txt", File("src/both.txt", "s"), 1, kDestOlder);
  del.destination = "both.txt";
  del.destinationSize = 2;
  del.destinationTime = File("dst/both.txt", "dd");
  del.action = 2;
  // A rename that cannot happen fails side 2 only.
  tree.Write("dst/both.txt.BAK", "in the way");
  EngineCall call = Call();
  call.delSchredder = 3;
  ASSERT_EQ(Run({Both(), del}, call), S_OK);
  EXPECT_TRUE(tree.Exists("src/both.txt.BAK"));
  EXPECT_TRUE(tree.Exists("dst/both.txt"));
  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 2u);
  EXPECT_EQ(ptk.records[1].status, 2);
  EXPECT_EQ(ptk.records[1].message,
            "Die Datei konnte nicht gelöscht werden, da das umbenennen nicht durchgeführt werden konnte!");
}

TEST_F(JobTest, AFolderOnlyOnOneSideIsDeletedWithItsFiles) {
  File("dst/gone/f1.txt", "1");
  File("dst/gone/f2.txt", "2");
  File("dst/stays/f3.txt", "3");
  File("dst/stays/unlisted.txt", "not in the job");
  ASSERT_EQ(Run({FolderItem(Src("gone"), Dst("gone"), kFolderOnlyDest, 2), OnlyOnDest("f1.txt", 0, 0, 2),
                 OnlyOnDest("f2.txt", 0, 0, 2), FolderItem(Src("stays"), Dst("stays"), kFolderOnlyDest, 2),
                 OnlyOnDest("f3.txt", 0, 0, 2)}),
            S_OK);
  EXPECT_FALSE(tree.Exists("dst/gone"));
  EXPECT_FALSE(tree.Exists("dst/stays/f3.txt"));
  EXPECT_TRUE(tree.Exists("dst/stays/unlisted.txt"));
  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 5u);
  EXPECT_EQ(ptk.records[0].status, 1);
  EXPECT_EQ(ptk.records[0].message, kFoldersDeleted);
  EXPECT_EQ(ptk.records[1].message, kFilesDeleted);
  EXPECT_EQ(ptk.records[2].message, kFilesDeleted);
  // The folder record was rewritten in place once its removal failed.
  EXPECT_EQ(ptk.records[3].status, 2);
  EXPECT_TRUE(StartsWith(ptk.records[3].message, kNotDeleted)) << ptk.records[3].message;
  EXPECT_EQ(ptk.records[3].first, Src("stays"));
  EXPECT_EQ(ptk.records[4].status, 1);
}

TEST_F(JobTest, AFolderDeletedOnBothSidesLeavesTheNextFolderToTheLoop) {
  File("src/old/a.txt", "a");
  File("dst/old/a.txt", "a");
  File("dst/old/only2.txt", "b");
  const uint32_t n = File("src/new/n.txt", "n");
  JobItemSpec a;
  a.source = "a.txt";
  a.destination = "a.txt";
  a.stateCode = 15;
  a.action = 2;
  JobItemSpec only2 = OnlyOnDest("only2.txt", 0, 0, 2);
  only2.direction = 0;
  ASSERT_EQ(Run({FolderItem(Src("old"), Dst("old"), kFolderBoth, 2), a, only2,
                 FolderItem(Src("new"), Dst("new"), kFolderOnlySource, 1), CopyToDest("n.txt", n, 1)}),
            S_OK);
  EXPECT_FALSE(tree.Exists("src/old"));
  EXPECT_FALSE(tree.Exists("dst/old"));
  EXPECT_EQ(tree.Read("dst/new/n.txt"), "n");
  std::vector<std::pair<int, std::string>> records;
  for (const PtkRecordFields& r : Ptk().records) records.push_back({r.status, r.message});
  // The folder record is rewritten once both folders are gone.
  EXPECT_EQ(records, (std::vector<std::pair<int, std::string>>{
                         {1, kFoldersDeleted}, {1, kFilesDeleted}, {1, kFilesDeleted}, {1, kFoldersCreated}, {1, kCopied}}));
}

// --- Folders -------------------------------------------------------------------------------

TEST_F(JobTest, FolderItemsCreateWhatTheirActionAsksFor) {
  struct Case {
    const char* what;
    JobItemSpec folder;
    std::vector<JobItemSpec> files;
    const char* created;  // rel path that must exist afterwards, or nullptr
    const char* absent;
    uint8_t status;
    std::string message;
  };
  for (const char* rel : {"src/s1", "dst/d1", "src/s4"}) tree.Mkdir(rel);
  const uint32_t dos = File("src/s5/c.txt", "c");
  JobItemSpec deleteOnly;
  deleteOnly.source = "nothing.txt";
  deleteOnly.stateCode = kOnlySource;
  deleteOnly.action = 2;
  const Case cases[] = {
      {"only in source, copy", FolderItem(Src("s1"), Dst("s1"), kFolderOnlySource, 1), {}, "dst/s1", nullptr, 1,
       kFoldersCreated},
      {"only in destination, create", FolderItem(Src("d1"), Dst("d1"), kFolderOnlyDest, 3), {}, "src/d1", nullptr, 1,
       kFoldersCreated},
      {"conditional, nothing copied", FolderItem(Src("s4"), Dst("s4"), kFolderOnlySource, 4), {deleteOnly}, nullptr,
       "dst/s4", 0, ""},
      {"conditional, a copy follows", FolderItem(Src("s5"), Dst("s5"), kFolderOnlySource, 4),
       {CopyToDest("c.txt", dos, 1)}, "dst/s5/c.txt", nullptr, 1, "Der Ordner \"%s\" wurde erstellt."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreshPtk();
    std::vector<JobItemSpec> job{c.folder};
    job.insert(job.end(), c.files.begin(), c.files.end());
    ASSERT_EQ(Run(job), S_OK);
    if (c.created) EXPECT_TRUE(tree.Exists(c.created));
    if (c.absent) EXPECT_FALSE(tree.Exists(c.absent));
    const DecodedPtk ptk = Ptk();
    ASSERT_FALSE(ptk.records.empty());
    EXPECT_EQ(ptk.records[0].status, c.status);
    EXPECT_EQ(ptk.records[0].message, c.message);
  }
}

TEST_F(JobTest, CreatedFoldersTakeTheRightsOfTheirOtherSideWhenAsked) {
  for (const char* rel : {"src/guarded", "src/plain"}) {
    tree.Mkdir(rel);
    ASSERT_EQ(chmod(tree.Posix(rel).c_str(), 0750), 0);
  }
  EngineCall call = Call();
  call.ntfsAccess = true;
  ASSERT_EQ(Run({FolderItem(Src("guarded"), Dst("guarded"), kFolderOnlySource, 3)}, call), S_OK);
  call.ntfsAccess = false;
  const mode_t oldMask = ::umask(022);
  const HRESULT plain = Run({FolderItem(Src("plain"), Dst("plain"), kFolderOnlySource, 3)}, call);
  ::umask(oldMask);
  ASSERT_EQ(plain, S_OK);
  EXPECT_EQ(RightsOf(tree.Posix("dst/guarded")).mode, 0750u);
  EXPECT_EQ(RightsOf(tree.Posix("dst/plain")).mode, 0755u);
}

TEST_F(JobTest, AFolderThatCannotBeCreatedPassesOverItsFilesButCountsTheirBytes) {
  ScopedFakeCopyWindow window;
  const uint32_t dos = File("src/sub/a.txt", "abc");
  const uint32_t dos2 = File("src/b.txt", "de");
  tree.Write("dst/sub", "a file in the way");
  EngineCall call = Call();
  call.hidden = false;
  ASSERT_EQ(Run({FolderItem(Src("sub"), Dst("sub"), kFolderOnlySource, 1), CopyToDest("a.txt", dos, 3), Both(),
                 CopyToDest("b.txt", dos2, 2)},
                call),
            S_OK);
  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 3u);
  EXPECT_EQ(ptk.records[0].status, 2);
  EXPECT_TRUE(StartsWith(ptk.records[0].message, kNotCreated)) << ptk.records[0].message;
  EXPECT_GT(ptk.records[0].message.size(), std::string(kNotCreated).size());
  EXPECT_EQ(ptk.records[2].first, "b.txt");
  // The passed-over file still counts: the overall bar ends full.
  EXPECT_EQ(window.last.bar(CopyBar::pgAll).max, 5);
  EXPECT_EQ(window.last.bar(CopyBar::pgAll).position, 5);
  EXPECT_EQ(window.last.label(CopyLabel::tlFullSize).text, "5 Byte");
}

TEST_F(JobTest, ACancelDuringACopyLeavesNoRecordForItButEndsTheRun) {
  const uint32_t a = File("src/a.txt", "aaa");
  const uint32_t b = File("src/b.txt", std::string(100000, 'b'));
  const uint32_t c = File("src/c.txt", "ccc");
  bool clicked = false;
  ScopedFakeCopyWindow window(
      [&clicked](const CopyWindowSnapshot& s, const platform::HandlerRef& model) {
        if (!clicked && EndsWith(s.label(CopyLabel::tlSrc).path, "b.txt")) {
          clicked = true;
          model.Post(kCopyMsgAbortClick);
        }
      },
      true);
  EngineCall call = WithStamps(Call());
  call.hidden = false;
  ASSERT_EQ(Run({Both(), CopyToDest("a.txt", a, 3), CopyToDest("b.txt", b, 100000), CopyToDest("c.txt", c, 3)}, call),
            S_OK);
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(tree.Exists("dst/a.txt"));
  for (const char* rel : {"dst/b.txt", "dst/b.txt.sync", "dst/c.txt"}) EXPECT_FALSE(tree.Exists(rel)) << rel;
  EXPECT_TRUE(window.last.label(CopyLabel::tlAbort1).visible);
  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 2u);
  EXPECT_EQ(ptk.records[1].first, "a.txt");
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(StampNames(OsVrl()), (std::vector<std::string>{"a.txt"}));
}

// --- The protocol at the end -----------------------------------------------------------------

TEST_F(JobTest, AProtocolOfOneRecordIsDroppedOnlyWhenItReportsNothing) {
  // A folder pair with nothing to do: one record of status 0.
  ASSERT_EQ(Run({Both()}), S_OK);
  EXPECT_FALSE(tree.Exists(profile + "AUTOptk/00000.ptk"));
  EXPECT_EQ(LastRunDate("AUTOptk"), "");

  // The scheduler's record of a missing drive, and a job with nothing to do.
  const char* missing = "Mindestens ein Laufwerk ist nicht verfügbar!";
  WriteBytes(tree.Posix(profile + "AUTOptk/00000.ptk"),
             GoldenRecord(kProtocolRecordSize).Text(0, "Q:\\").Byte(550, 10).Byte(600, 2).Text(601, missing).bytes());
  ASSERT_EQ(Run({}), S_OK);
  DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 1u);
  EXPECT_EQ(ptk.records[0].message, missing);
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->errorFlag, 1);

  // One folder created is something done.
  FreshPtk();
  tree.Mkdir("src/made");
  ASSERT_EQ(Run({FolderItem(Src("made"), Dst("made"), kFolderOnlySource, 3)}), S_OK);
  ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 1u);
  EXPECT_TRUE(ptk.trailer);
}

TEST_F(JobTest, ManualRunsUseTheirOwnIndexAndNeverFlagErrors) {
  tree.Write(profile + "ptk/00000.ptk", "");
  const uint32_t dos = File("src/m.txt", "m");
  tree.Write("src/m.txt", "changed");
  EngineCall call = Call();
  call.manual = true;
  call.ptkFile = tree.Win(profile + "ptk/00000.ptk");
  ASSERT_EQ(Run({Both(), CopyToDest("m.txt", dos, 1)}, call), S_OK);
  const DecodedPtk ptk = DecodePtk(tree.Posix(profile + "ptk/00000.ptk"));
  ASSERT_EQ(ptk.records.size(), 2u);
  EXPECT_EQ(ptk.records[1].status, 2);
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->errorFlag, 0);
  EXPECT_NE(LastRunDate("ptk"), "");
  EXPECT_FALSE(tree.Exists(profile + "AUTOptk/last.vrl"));

  // Without a protocol the job still runs.
  call = Call();
  call.ptkFile = tree.Win(profile + "AUTOptk/missing.ptk");
  ASSERT_EQ(Run({Both(), CopyToDest("p.txt", File("src/p.txt", "p"), 1)}, call), S_OK);
  EXPECT_EQ(tree.Read("dst/p.txt"), "p");
  EXPECT_FALSE(tree.Exists(profile + "AUTOptk/missing.ptk"));
}

// --- Bad input and failures ------------------------------------------------------------------

TEST_F(JobTest, ItemsOfNoPairOrOfAnFtpPairAreReportedNotGuessed) {
  FolderPairSpec ftp;
  ftp.source = Src("up");
  ftp.destination = "ftp://example.org/up/";
  ftp.pairKind = 2;
  WriteSrcDest(tree.Posix(profile + "SrcDest.kst"), {Pair(), ftp});
  const uint32_t dos = File("src/up/u.txt", "u");
  File("other/o.txt", "o");
  ASSERT_EQ(Run({FolderItem(Src("up"), "ftp://example.org/up/", kFolderBoth, 1), CopyToDest("u.txt", dos, 1),
                 FolderItem(tree.WinFolder("other"), Dst("other"), kFolderBoth, 1), CopyToDest("o.txt", dos, 1)}),
            S_OK);
  EXPECT_FALSE(tree.Exists("dst/other"));
  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 3u);
  EXPECT_EQ(ptk.records[0].message, "FTP-Ordnerpaare werden von dieser Version nicht unterstützt.");
  EXPECT_EQ(ptk.records[1].first, "u.txt");
  EXPECT_EQ(ptk.records[1].status, 2);
  EXPECT_EQ(ptk.records[2].status, 2);
  EXPECT_EQ(ptk.records[2].first, tree.WinFolder("other"));
  EXPECT_NE(ptk.records[2].message.find("kein Ordnerpaar"), std::string::npos);
}

TEST_F(JobTest, ATornJobFileAndUnknownItemsAreReported) {
  const uint32_t dos = File("src/t.txt", "t");
  JobItemSpec weird = CopyToDest("t.txt", dos, 1);
  weird.stateCode = 11;
  WriteJob(JobPosix(), {Both(), weird, CopyToDest("t.txt", dos, 1)});
  std::vector<uint8_t> bytes = ReadBytes(JobPosix());
  bytes.resize(bytes.size() + 100, 0);
  WriteBytes(JobPosix(), bytes);
  ASSERT_EQ(RunWritten(Call()), S_OK);
  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 4u);
  EXPECT_NE(ptk.records[0].message.find("unvollständigen Eintrag (100 Bytes)"), std::string::npos);
  EXPECT_EQ(ptk.records[2].status, 2);
  EXPECT_EQ(ptk.records[3].status, 1);
}

TEST_F(JobTest, TheMergeOfTheOldStampsShowsItsWindowUnlessHidden) {
  struct Case {
    bool hidden, minimized;
    int views;
    const char* begin;
  };
  const Case cases[] = {{false, false, 1, "Begin shown"}, {false, true, 1, "Begin shown inactive"}, {true, false, 0, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "hidden " << c.hidden << ", minimized " << c.minimized);
    PreviousStamps();  // so that this run's end merges
    const uint32_t a = File("src/a.txt", "a");
    ScopedFakeMergeWindow window;
    EngineCall call = WithStamps(Call());
    call.hidden = c.hidden;
    call.minimized = c.minimized;
    ASSERT_EQ(Run({Both(), CopyToDest("a.txt", a, 1)}, call), S_OK);
    EXPECT_EQ(window.views, c.views);
    if (c.views == 1) {
      EXPECT_EQ(window.calls, (std::vector<std::string>{c.begin, "Show " + Src() + " -> " + Dst(), "End"}));
    } else {
      EXPECT_TRUE(window.calls.empty());
    }
    // Merged either way.
    EXPECT_EQ(StampNames(OsVrl()), (std::vector<std::string>{"a.txt", "kept.txt"}));
    EXPECT_FALSE(tree.Exists(profile + "OS.vrl1"));
    fs::remove(tree.Posix("dst/a.txt"));
  }
}

TEST_F(JobTest, AFailingRunStillCleansUpAndKeepsTheStampHistory) {
  PreviousStamps();
  const uint32_t a = File("src/a.txt", "a");
  const uint32_t b = File("src/b.txt", "b");
  // The job file breaks off under the running job.
  bool cut = false;
  ScopedFakeCopyWindow window([&](const CopyWindowSnapshot& s, const platform::HandlerRef&) {
    if (!cut && EndsWith(s.label(CopyLabel::tlSrc).path, "a.txt")) {
      cut = true;
      ASSERT_EQ(truncate(JobPosix().c_str(), 1000), 0);
    }
  });
  EngineCall call = WithStamps(Call());
  call.hidden = false;
  EXPECT_TRUE(platform::FAILED(Run({Both(), CopyToDest("a.txt", a, 1), CopyToDest("b.txt", b, 1)}, call)));
  ASSERT_TRUE(cut);

  const DecodedPtk ptk = Ptk();
  ASSERT_EQ(ptk.records.size(), 3u);
  EXPECT_EQ(ptk.records[1].first, "a.txt");
  EXPECT_EQ(ptk.records[2].status, 2);
  EXPECT_TRUE(StartsWith(ptk.records[2].message, "Der Abgleich wurde wegen eines Fehlers abgebrochen: "));
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->errorFlag, 1);
  EXPECT_EQ(StampNames(OsVrl()), (std::vector<std::string>{"a.txt", "kept.txt"}));
  EXPECT_FALSE(tree.Exists(profile + "OS.vrl1"));
  ExpectProfileFolderClean();
}

// --- Pieces ---------------------------------------------------------------------------------

TEST(PathIsBelowRoot, MatchesRootsAsPrefixesOnly) {
  struct Case {
    const char* path;
    const char* root;
    bool below;
  };
  const Case cases[] = {
      {"C:\\Daten\\", "C:\\Daten\\", true},
      {"C:\\Daten\\sub\\", "C:\\Daten\\", true},
      {"c:\\Daten\\sub\\", "C:\\Daten", true},
      {"C:\\daten\\sub\\", "C:\\Daten\\", false},
      {"C:\\Daten2\\", "C:\\Daten\\", false},
      {"D:\\x\\C:\\Daten\\", "C:\\Daten\\", false},
      {"C:\\", "C:\\Daten\\", false},
      {"\\\\Server\\Share\\a\\", "\\\\server\\share\\", true},
      {"\\\\server\\share2\\", "\\\\server\\share\\", false},
      {"ftp://Example.org/pub/x/", "ftp://example.org/pub/", true},
      {"ftp://example.org\\pub\\x\\", "ftp://example.org/pub/", true},
      {"ftp://example.org/Pub/", "ftp://example.org/pub/", false},
      {"C:\\Daten\\", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(PathIsBelowRoot(c.path, c.root), c.below) << c.path << " in " << c.root;
}

TEST(FolderPairFinder, SearchesOnFromTheLastPairAndRoundToTheStart) {
  auto pair = [](const char* s, const char* d) {
    TFolderPair p;
    p.sourceRoot = s;
    p.destinationRoot = d;
    return p;
  };
  TFolderPairFinder finder({pair("C:\\a\\", "D:\\a\\"), pair("C:\\b\\", "D:\\b\\"), pair("C:\\a\\", "E:\\a\\")});
  const TFolderPair* p = finder.Find("C:\\a\\x\\", "E:\\a\\x\\");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->destinationRoot, "E:\\a\\");
  p = finder.Find("C:\\b\\", "D:\\b\\");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->sourceRoot, "C:\\b\\");
  EXPECT_EQ(finder.Find("C:\\a\\", "F:\\a\\"), nullptr);
  EXPECT_EQ(finder.Find("C:\\ab\\", "D:\\ab\\"), nullptr);
}

TEST(MSecToTimeStr, WritesHoursMinutesSecondsWrappingAtADay) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "00:00:00"},       {999, "00:00:00"},      {1000, "00:00:01"},        {3723000, "01:02:03"},
      {86399999, "23:59:59"}, {86400000, "00:00:00"}, {4294967295u, "17:02:47"},
  };
  for (const auto& [ms, text] : cases) EXPECT_EQ(MSecToTimeStr(ms), text) << ms;
}

}  // namespace
}  // namespace kv

// The job execution on real temporary trees: every kind of item, the
// protocol it leaves (decoded from the record layout), the old timestamps,
// cancelling and failing runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "copyengine/copyobj.h"
#include "copyengine/copywindow.h"
#include "copyengine/jobrunner.h"
#include "copyengine/oldstamp.h"
#include "copyengine/pairfinder.h"
#include "copyengine/tests/engine_fixture.h"
#include "platform/inifile.h"
#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace test;
using platform::HRESULT;

constexpr const char* kCopied = "Die Datei wurde kopiert.";
constexpr const char* kChanged = "Die Datei/en haben sich seit dem Setzen der Strategie verändert!";
constexpr const char* kNotFound = "Der / die Ordner wurde/n nicht gefunden!";
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

class JobTest : public ::testing::Test {
 public:
  TempTree tree;
  ScopedRegistry registry;
  ScopedEnv tz{"TZ", "Europe/Berlin"};
  const std::string profile = "work/Profile/1/";

  void SetUp() override {
    tree.Mkdir("src");
    tree.Mkdir("dst");
    tree.Write(profile + "AUTOptk/00000.ptk", "");
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
  std::string PtkPosix() const { return tree.Posix(profile + "AUTOptk/00000.ptk"); }
  std::string JobPosix() const { return tree.Posix(profile + "$0ABC.tmp"); }

  EngineCall Call() const {
    EngineCall call;
    call.ptkFile = tree.Win(profile + "AUTOptk/00000.ptk");
    call.srcFile = tree.Win(profile + "$0ABC.tmp");
    call.mainFile = tree.Win(profile + "SrcDest.kst");
    return call;
  }

  HRESULT Run(const std::vector<JobItemSpec>& items, const EngineCall& call) {
    WriteJob(JobPosix(), items);
    TCopyObj* obj = new TCopyObj;
    obj->AddRef();
    const HRESULT hr = DriveCopyObject(*obj, call);
    obj->Release();
    return hr;
  }
  HRESULT Run(const std::vector<JobItemSpec>& items) { return Run(items, Call()); }

  // A file with a local last-write time; returns that time as DOS value.
  uint32_t File(const std::string& rel, const std::string& content, int day = 10, int second = 20) {
    tree.Write(rel, content);
    tree.SetMTime(rel, LocalEpoch(2024, 3, day, 11, 30, second));
    return DosOf(2024, 3, day, 11, 30, second);
  }

  JobItemSpec CopyToDest(const std::string& name, uint32_t dos, int64_t size, uint8_t state = kOnlySource) {
    JobItemSpec s;
    s.source = name;
    s.sourceSize = size;
    s.sourceTime = dos;
    s.stateCode = state;
    s.action = 1;
    s.direction = kToDest;
    return s;
  }
  JobItemSpec Both() const { return FolderItem(Src(), Dst(), kFolderBoth, 1); }

  std::vector<std::string> ProfileFolderNames() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tree.Posix(profile))) names.push_back(e.path().filename());
    return names;
  }
};

// --- Copies ---------------------------------------------------------------------------

TEST_F(JobTest, CopiesBothWaysRecordsEveryItemAndStampsTheCopies) {
  const uint32_t a = File("src/a.txt", "aaaaa");
  const uint32_t b = File("dst/b.txt", "bbbbbb", 11);
  const uint32_t cNew = File("src/c.txt", "ccccccc", 12);
  const uint32_t cOld = File("dst/c.txt", "old", 1);
  JobItemSpec fromDest;
  fromDest.destination = "b.txt";
  fromDest.destinationSize = 6;
  fromDest.destinationTime = b;
  fromDest.stateCode = kOnlyDest;
  fromDest.action = 1;
  fromDest.direction = kToSource;
  JobItemSpec replace = CopyToDest("c.txt", cNew, 7, kDestOlder);
  replace.destination = "c.txt";
  replace.destinationSize = 3;
  replace.destinationTime = cOld;

  EngineCall call = Call();
  call.osFile = tree.Win(profile + "OS.vrl");
  ASSERT_EQ(Run({Both(), CopyToDest("a.txt", a, 5), fromDest, replace}, call), platform::S_OK);

  EXPECT_EQ(tree.Read("dst/a.txt"), "aaaaa");
  EXPECT_EQ(tree.Read("src/b.txt"), "bbbbbb");
  EXPECT_EQ(tree.Read("dst/c.txt"), "ccccccc");
  struct stat st {};
  ASSERT_EQ(stat(tree.Posix("dst/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, LocalEpoch(2024, 3, 10, 11, 30, 20));

  const DecodedPtk ptk = DecodePtk(PtkPosix());
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

  const std::vector<StampFields> stamps = DecodeOsVrl(tree.Posix(profile + "OS.vrl"));
  ASSERT_EQ(stamps.size(), 3u);
  EXPECT_EQ(stamps[0].folder1, Src());
  EXPECT_EQ(stamps[0].folder2, Dst());
  EXPECT_EQ(stamps[0].name, "a.txt");
  EXPECT_EQ(stamps[0].fileTime, FileTimeOfEpoch(LocalEpoch(2024, 3, 10, 11, 30, 20)));
  EXPECT_EQ(stamps[1].name, "b.txt");
  EXPECT_EQ(stamps[2].name, "c.txt");

  platform::IniFile index(tree.Win(profile + "AUTOptk/last.vrl"));
  EXPECT_NE(index.ReadString("LastProcess", "Date", ""), "");
  // The job file and the pair copy are gone; nothing else changed there.
  std::vector<std::string> left = ProfileFolderNames();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"AUTOptk", "OS.vrl", "SrcDest.kst", "ptk"}));
}

TEST_F(JobTest, AFileChangedSinceTheListWasBuiltIsNotCopied) {
  struct Case {
    const char* what;
    std::function<void(JobTest&)> change;  // after the job item was made from the file
    bool copied;
  };
  const Case cases[] = {
      {"untouched", [](JobTest&) {}, true},
      {"other size", [](JobTest& t) { t.tree.Write("src/f.txt", "1234567"); t.tree.SetMTime("src/f.txt", LocalEpoch(2024, 3, 10, 11, 30, 20)); }, false},
      {"two seconds later, same size", [](JobTest& t) { t.tree.SetMTime("src/f.txt", LocalEpoch(2024, 3, 10, 11, 30, 22)); }, true},
      {"two seconds later, other size", [](JobTest& t) { t.tree.Write("src/f.txt", "123"); t.tree.SetMTime("src/f.txt", LocalEpoch(2024, 3, 10, 11, 30, 22)); }, false},
      {"four seconds later", [](JobTest& t) { t.tree.SetMTime("src/f.txt", LocalEpoch(2024, 3, 10, 11, 30, 24)); }, false},
      {"appeared on the other side", [](JobTest& t) { t.tree.Write("dst/f.txt", "new!"); }, false},
      {"gone", [](JobTest& t) { fs::remove(t.tree.Posix("src/f.txt")); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(tree.Posix("dst/f.txt"));
    tree.Write(profile + "AUTOptk/00000.ptk", "");
    const uint32_t dos = File("src/f.txt", "12345");
    c.change(*this);
    ASSERT_EQ(Run({Both(), CopyToDest("f.txt", dos, 5)}), platform::S_OK);
    const DecodedPtk ptk = DecodePtk(PtkPosix());
    ASSERT_EQ(ptk.records.size(), 2u);
    EXPECT_EQ(ptk.records[1].status, c.copied ? 1 : 2);
    EXPECT_EQ(ptk.records[1].message, c.copied ? kCopied : kChanged);
    if (c.copied) EXPECT_EQ(tree.Read("dst/f.txt"), "12345");
  }
}

TEST_F(JobTest, AFileOnlyOnSide2IsCopiedBackWithoutItsMissingSide1) {
  const uint32_t dos = File("dst/back.txt", "back");
  JobItemSpec item;
  item.destination = "back.txt";
  item.destinationSize = 4;
  item.destinationTime = dos;
  item.stateCode = kOnlyDest;
  item.action = 1;
  item.direction = kToSource;
  ASSERT_EQ(Run({Both(), item}), platform::S_OK);
  EXPECT_EQ(tree.Read("src/back.txt"), "back");
}

TEST_F(JobTest, MissingFoldersOfAFileAreCreatedOrReported) {
  const uint32_t dos = File("src/deep/x.txt", "x");
  // The side-2 folder is made with its parents.
  ASSERT_EQ(Run({FolderItem(Src("deep"), Dst("new/deeper"), kFolderBoth, 1), CopyToDest("x.txt", dos, 1)}),
            platform::S_OK);
  EXPECT_EQ(tree.Read("dst/new/deeper/x.txt"), "x");

  // A file stands where the folder should be.
  tree.Write(profile + "AUTOptk/00000.ptk", "");
  tree.Write("dst/blocked", "a file");
  ASSERT_EQ(Run({FolderItem(Src("deep"), Dst("blocked/sub"), kFolderBoth, 1), CopyToDest("x.txt", dos, 1)}),
            platform::S_OK);
  const DecodedPtk ptk = DecodePtk(PtkPosix());
  ASSERT_EQ(ptk.records.size(), 2u);
  EXPECT_EQ(ptk.records[1].status, 2);
  EXPECT_EQ(ptk.records[1].message, kNotFound);
  EXPECT_EQ(ptk.trailer->errorFlag, 1);
}

TEST_F(JobTest, PathsLongerThan255CharactersAreRefused) {
  const std::string prefix = Src();
  ASSERT_LT(prefix.size(), 200u);
  const std::string name = std::string(256 - prefix.size(), 'n');  // exactly 256 characters with the folder
  const std::string fits = std::string(255 - std::max(Src().size(), Dst().size()), 'f');
  const uint32_t dos = File("src/" + name, "long");
  const uint32_t dosFits = File("src/" + fits, "fits");
  JobItemSpec back;
  back.destination = name;
  back.destinationSize = 4;
  back.destinationTime = dos;
  back.stateCode = kOnlyDest;
  back.action = 1;
  back.direction = kToSource;
  ASSERT_EQ(Run({Both(), CopyToDest(name, dos, 4), back, CopyToDest(fits, dosFits, 4)}), platform::S_OK);
  const DecodedPtk ptk = DecodePtk(PtkPosix());
  ASSERT_EQ(ptk.records.size(), 4u);
  EXPECT_EQ(ptk.records[1].message, "Der Pfad-/Dateiname der Quelle ist länger als 255 Zeichen!");
  // Side 2 is tested first for a copy from side 2, and named the target.
  EXPECT_EQ(ptk.records[2].message, "Der Pfad-/Dateiname des Ziels ist länger als 255 Zeichen!");
  EXPECT_EQ(ptk.records[3].status, 1);
  EXPECT_FALSE(tree.Exists("dst/" + name));
}

// --- Deletions ---------------------------------------------------------------------------

TEST_F(JobTest, FileDeletionsFollowTheChosenStyle) {
  struct Case {
    int32_t delSchredder;
    std::function<void(JobTest&)> check;
  };
  const std::string backupRel = "work/BackUp/C" + tree.Posix("dst") + "/old.txt";
  // The home trash lies on the device of the tree.
  ScopedEnv dataHome("XDG_DATA_HOME", tree.Posix("home/.local/share").c_str());
  const Case cases[] = {
      {0, [](JobTest& t) { EXPECT_FALSE(t.tree.Exists("dst/old.txt.BAK")); }},
      {1, [](JobTest& t) { EXPECT_EQ(t.tree.Read("home/.local/share/Trash/files/old.txt"), "old content"); }},
      {2, [&](JobTest& t) { EXPECT_EQ(t.tree.Read(backupRel), "old content"); }},
      {3, [](JobTest& t) { EXPECT_EQ(t.tree.Read("dst/old.txt.BAK"), "old content"); }},
      {4, [](JobTest& t) { EXPECT_FALSE(t.tree.Exists("dst/old.txt.BAK")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.delSchredder);
    fs::remove(tree.Posix("dst/old.txt.BAK"));
    tree.Write(profile + "AUTOptk/00000.ptk", "");
    const uint32_t dos = File("dst/old.txt", "old content");
    chmod(tree.Posix("dst/old.txt").c_str(), 0444);  // read-only files go as well
    JobItemSpec del;
    del.destination = "old.txt";
    del.destinationSize = 11;
    del.destinationTime = dos;
    del.stateCode = kOnlyDest;
    del.action = 2;
    del.direction = kToSource;
    EngineCall call = Call();
    call.delSchredder = c.delSchredder;
    ASSERT_EQ(Run({Both(), del}, call), platform::S_OK);
    EXPECT_FALSE(tree.Exists("dst/old.txt"));
    c.check(*this);
    const DecodedPtk ptk = DecodePtk(PtkPosix());
    ASSERT_EQ(ptk.records.size(), 2u);
    EXPECT_EQ(ptk.records[1].status, 1);
    EXPECT_EQ(ptk.records[1].message, kFilesDeleted);
  }
}

TEST_F(JobTest, DeletingAFileOfBothSidesDeletesBothAndReportsTheWorse) {
  const uint32_t s = File("src/both.txt", "s");
  const uint32_t d = File("dst/both.txt", "dd");
  JobItemSpec del = CopyToDest("both.txt", s, 1, kDestOlder);
  del.destination = "both.txt";
  del.destinationSize = 2;
  del.destinationTime = d;
  del.action = 2;
  // A rename that cannot happen fails side 2 only.
  tree.Write("dst/both.txt.BAK", "in the way");
  EngineCall call = Call();
  call.delSchredder = 3;
  ASSERT_EQ(Run({Both(), del}, call), platform::S_OK);
  EXPECT_TRUE(tree.Exists("src/both.txt.BAK"));
  EXPECT_TRUE(tree.Exists("dst/both.txt"));
  const DecodedPtk ptk = DecodePtk(PtkPosix());
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
  auto fileOf = [](const char* name) {
    JobItemSpec s;
    s.destination = name;
    s.stateCode = kOnlyDest;
    s.action = 2;
    s.direction = kToSource;
    return s;
  };
  ASSERT_EQ(Run({FolderItem(Src("gone"), Dst("gone"), kFolderOnlyDest, 2), fileOf("f1.txt"), fileOf("f2.txt"),
                 FolderItem(Src("stays"), Dst("stays"), kFolderOnlyDest, 2), fileOf("f3.txt")}),
            platform::S_OK);
  EXPECT_FALSE(tree.Exists("dst/gone"));
  EXPECT_FALSE(tree.Exists("dst/stays/f3.txt"));
  EXPECT_TRUE(tree.Exists("dst/stays/unlisted.txt"));
  const DecodedPtk ptk = DecodePtk(PtkPosix());
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
  JobItemSpec only2;
  only2.destination = "only2.txt";
  only2.stateCode = kOnlyDest;
  only2.action = 2;
  ASSERT_EQ(Run({FolderItem(Src("old"), Dst("old"), kFolderBoth, 2), a, only2,
                 FolderItem(Src("new"), Dst("new"), kFolderOnlySource, 1), CopyToDest("n.txt", n, 1)}),
            platform::S_OK);
  EXPECT_FALSE(tree.Exists("src/old"));
  EXPECT_FALSE(tree.Exists("dst/old"));
  EXPECT_EQ(tree.Read("dst/new/n.txt"), "n");
  const DecodedPtk ptk = DecodePtk(PtkPosix());
  ASSERT_EQ(ptk.records.size(), 5u);
  EXPECT_EQ(ptk.records[0].status, 1);  // rewritten once both folders were gone
  EXPECT_EQ(ptk.records[0].message, kFoldersDeleted);
  EXPECT_EQ(ptk.records[1].message, kFilesDeleted);
  EXPECT_EQ(ptk.records[2].message, kFilesDeleted);
  EXPECT_EQ(ptk.records[3].message, kFoldersCreated);
  EXPECT_EQ(ptk.records[4].message, kCopied);
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
  tree.Mkdir("src/s1");
  tree.Mkdir("dst/d1");
  tree.Mkdir("src/s4");
  tree.Mkdir("src/s5");
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
    tree.Write(profile + "AUTOptk/00000.ptk", "");
    std::vector<JobItemSpec> job{c.folder};
    job.insert(job.end(), c.files.begin(), c.files.end());
    ASSERT_EQ(Run(job), platform::S_OK);
    if (c.created) EXPECT_TRUE(tree.Exists(c.created));
    if (c.absent) EXPECT_FALSE(tree.Exists(c.absent));
    const DecodedPtk ptk = DecodePtk(PtkPosix());
    ASSERT_FALSE(ptk.records.empty());
    EXPECT_EQ(ptk.records[0].status, c.status);
    EXPECT_EQ(ptk.records[0].message, c.message);
  }
}

// Watches the copy window's model; the window layer is not there in tests.
class FakeView : public ICopyWindowView {
 public:
  using OnPublish = std::function<void(const CopyWindowSnapshot&, const platform::HandlerRef&)>;
  FakeView(platform::HandlerRef model, OnPublish onPublish, CopyWindowSnapshot* last)
      : model_(std::move(model)), onPublish_(std::move(onPublish)), last_(last) {}
  void Publish(const CopyWindowSnapshot& s) override {
    *last_ = s;
    if (onPublish_) onPublish_(s, model_);
  }
  bool AskAbort(std::string_view) override { return true; }

 private:
  platform::HandlerRef model_;
  OnPublish onPublish_;
  CopyWindowSnapshot* last_;
};

// Installs a fake window layer for the scope.
class ScopedFakeWindow {
 public:
  explicit ScopedFakeWindow(FakeView::OnPublish onPublish = {}) {
    old_ = SetCopyWindowViewFactory([this, onPublish](const CopyWindowLink& link) {
      return std::make_unique<FakeView>(link.model, onPublish, &last);
    });
  }
  ~ScopedFakeWindow() { SetCopyWindowViewFactory(std::move(old_)); }
  CopyWindowSnapshot last;

 private:
  CopyWindowViewFactory old_;
};

TEST_F(JobTest, CreatedFoldersTakeTheRightsOfTheirOtherSideWhenAsked) {
  tree.Mkdir("src/guarded");
  ASSERT_EQ(chmod(tree.Posix("src/guarded").c_str(), 0750), 0);
  tree.Mkdir("src/plain");
  ASSERT_EQ(chmod(tree.Posix("src/plain").c_str(), 0750), 0);
  EngineCall call = Call();
  call.ntfsAccess = true;
  ASSERT_EQ(Run({FolderItem(Src("guarded"), Dst("guarded"), kFolderOnlySource, 3)}, call), platform::S_OK);
  call.ntfsAccess = false;
  const mode_t oldMask = ::umask(022);
  const HRESULT plain = Run({FolderItem(Src("plain"), Dst("plain"), kFolderOnlySource, 3)}, call);
  ::umask(oldMask);
  ASSERT_EQ(plain, platform::S_OK);
  struct stat st {};
  ASSERT_EQ(stat(tree.Posix("dst/guarded").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
  ASSERT_EQ(stat(tree.Posix("dst/plain").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(JobTest, AFolderThatCannotBeCreatedPassesOverItsFilesButCountsTheirBytes) {
  ScopedFakeWindow window;
  tree.Mkdir("src/sub");
  const uint32_t dos = File("src/sub/a.txt", "abc");
  const uint32_t dos2 = File("src/b.txt", "de");
  tree.Write("dst/sub", "a file in the way");
  EngineCall call = Call();
  call.hidden = false;
  ASSERT_EQ(Run({FolderItem(Src("sub"), Dst("sub"), kFolderOnlySource, 1), CopyToDest("a.txt", dos, 3),
                 Both(), CopyToDest("b.txt", dos2, 2)},
                call),
            platform::S_OK);
  const DecodedPtk ptk = DecodePtk(PtkPosix());
  ASSERT_EQ(ptk.records.size(), 3u);
  EXPECT_EQ(ptk.records[0].status, 2);
  EXPECT_TRUE(StartsWith(ptk.records[0].message, kNotCreated)) << ptk.records[0].message;
  EXPECT_GT(ptk.records[0].message.size(), std::string(kNotCreated).size());
  EXPECT_EQ(ptk.records[2].first, "b.txt");
  // The passed-over file still counts: the overall bar ends full.
  const CopyBarState& all = window.last.bar(CopyBar::pgAll);
  EXPECT_EQ(all.max, 5);
  EXPECT_EQ(all.position, 5);
  EXPECT_EQ(window.last.label(CopyLabel::tlFullSize).text, "5 Byte");
}

TEST_F(JobTest, ACancelDuringACopyLeavesNoRecordForItButEndsTheRun) {
  const uint32_t a = File("src/a.txt", "aaa");
  const uint32_t b = File("src/b.txt", std::string(100000, 'b'));
  const uint32_t c = File("src/c.txt", "ccc");
  bool clicked = false;
  ScopedFakeWindow window([&clicked](const CopyWindowSnapshot& s, const platform::HandlerRef& model) {
    const CopyLabelState& src = s.label(CopyLabel::tlSrc);
    if (!clicked && src.path.size() >= 5 && src.path.substr(src.path.size() - 5) == "b.txt") {
      clicked = true;
      model.Post(kCopyMsgAbortClick);
    }
  });
  EngineCall call = Call();
  call.hidden = false;
  call.osFile = tree.Win(profile + "OS.vrl");
  ASSERT_EQ(Run({Both(), CopyToDest("a.txt", a, 3), CopyToDest("b.txt", b, 100000), CopyToDest("c.txt", c, 3)}, call),
            platform::S_OK);
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(tree.Exists("dst/a.txt"));
  EXPECT_FALSE(tree.Exists("dst/b.txt"));
  EXPECT_FALSE(tree.Exists("dst/b.txt.sync"));
  EXPECT_FALSE(tree.Exists("dst/c.txt"));
  EXPECT_TRUE(window.last.label(CopyLabel::tlAbort1).visible);
  const DecodedPtk ptk = DecodePtk(PtkPosix());
  ASSERT_EQ(ptk.records.size(), 2u);
  EXPECT_EQ(ptk.records[1].first, "a.txt");
  ASSERT_TRUE(ptk.trailer);
  const std::vector<StampFields> stamps = DecodeOsVrl(tree.Posix(profile + "OS.vrl"));
  ASSERT_EQ(stamps.size(), 1u);
  EXPECT_EQ(stamps[0].name, "a.txt");
}

// --- The protocol at the end -----------------------------------------------------------------

TEST_F(JobTest, AProtocolOfOneRecordIsDroppedOnlyWhenItReportsNothing) {
  // A folder pair with nothing to do: one record of status 0.
  ASSERT_EQ(Run({Both()}), platform::S_OK);
  EXPECT_FALSE(tree.Exists(profile + "AUTOptk/00000.ptk"));
  EXPECT_EQ(platform::IniFile(tree.Win(profile + "AUTOptk/last.vrl")).ReadString("LastProcess", "Date", ""), "");

  // The scheduler's record of a missing drive, and a job with nothing to do.
  std::vector<uint8_t> own(864, 0);
  PutText(own, 0, 255, "Q:\\");
  own[550] = 10;
  own[600] = 2;
  PutText(own, 601, 255, "Mindestens ein Laufwerk ist nicht verfügbar!");
  WriteBytes(PtkPosix(), own);
  ASSERT_EQ(Run({}), platform::S_OK);
  DecodedPtk ptk = DecodePtk(PtkPosix());
  ASSERT_EQ(ptk.records.size(), 1u);
  EXPECT_EQ(ptk.records[0].message, "Mindestens ein Laufwerk ist nicht verfügbar!");
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->errorFlag, 1);

  // One folder created is something done.
  tree.Write(profile + "AUTOptk/00000.ptk", "");
  tree.Mkdir("src/made");
  ASSERT_EQ(Run({FolderItem(Src("made"), Dst("made"), kFolderOnlySource, 3)}), platform::S_OK);
  ptk = DecodePtk(PtkPosix());
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
  ASSERT_EQ(Run({Both(), CopyToDest("m.txt", dos, 1)}, call), platform::S_OK);
  const DecodedPtk ptk = DecodePtk(tree.Posix(profile + "ptk/00000.ptk"));
  ASSERT_EQ(ptk.records.size(), 2u);
  EXPECT_EQ(ptk.records[1].status, 2);
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->errorFlag, 0);
  EXPECT_NE(platform::IniFile(tree.Win(profile + "ptk/last.vrl")).ReadString("LastProcess", "Date", ""), "");
  EXPECT_FALSE(tree.Exists(profile + "AUTOptk/last.vrl"));
}

TEST_F(JobTest, WithoutAProtocolTheJobStillRuns) {
  const uint32_t dos = File("src/p.txt", "p");
  EngineCall call = Call();
  call.ptkFile = tree.Win(profile + "AUTOptk/missing.ptk");
  ASSERT_EQ(Run({Both(), CopyToDest("p.txt", dos, 1)}, call), platform::S_OK);
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
  JobItemSpec otherFile = CopyToDest("o.txt", dos, 1);
  ASSERT_EQ(Run({FolderItem(Src("up"), "ftp://example.org/up/", kFolderBoth, 1), CopyToDest("u.txt", dos, 1),
                 FolderItem(tree.WinFolder("other"), Dst("other"), kFolderBoth, 1), otherFile}),
            platform::S_OK);
  EXPECT_FALSE(tree.Exists("dst/other"));
  const DecodedPtk ptk = DecodePtk(PtkPosix());
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
  TCopyObj* obj = new TCopyObj;
  obj->AddRef();
  ASSERT_EQ(DriveCopyObject(*obj, Call()), platform::S_OK);
  obj->Release();
  const DecodedPtk ptk = DecodePtk(PtkPosix());
  ASSERT_EQ(ptk.records.size(), 4u);
  EXPECT_NE(ptk.records[0].message.find("unvollständigen Eintrag (100 Bytes)"), std::string::npos);
  EXPECT_EQ(ptk.records[2].status, 2);
  EXPECT_EQ(ptk.records[3].status, 1);
}

// Watches the merge of the old timestamps; the window layer is not there in
// tests.
class ScopedFakeMergeWindow {
 public:
  ScopedFakeMergeWindow() {
    old_ = SetOldStampMergeViewFactory([this]() -> std::unique_ptr<IOldStampMergeView> {
      ++views;
      return std::make_unique<Recorder>(calls);
    });
  }
  ~ScopedFakeMergeWindow() { SetOldStampMergeViewFactory(std::move(old_)); }
  int views = 0;
  std::vector<std::string> calls;

 private:
  class Recorder : public IOldStampMergeView {
   public:
    explicit Recorder(std::vector<std::string>& calls) : calls_(calls) {}
    void Begin(bool hidden, bool minimized) override {
      calls_.push_back(std::string("Begin") + (hidden ? " hidden" : "") + (minimized ? " inactive" : ""));
    }
    void ShowFolders(std::string_view source, std::string_view dest) override {
      calls_.push_back("Show " + std::string(source) + " -> " + std::string(dest));
    }
    void End() override { calls_.push_back("End"); }

   private:
    std::vector<std::string>& calls_;
  };
  OldStampMergeViewFactory old_;
};

TEST_F(JobTest, TheMergeOfTheOldStampsShowsItsWindowUnlessHidden) {
  struct Case {
    bool hidden, minimized;
    int views;
    const char* begin;
  };
  const Case cases[] = {{false, false, 1, "Begin"}, {false, true, 1, "Begin inactive"}, {true, false, 0, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "hidden " << c.hidden << ", minimized " << c.minimized);
    // A previous run's stamps, so that this run's end merges.
    tree.Write("src/kept.txt", "k");
    std::vector<uint8_t> previous(516 + 264, 0);
    PutText(previous, 0, 255, Src());
    PutText(previous, 256, 255, Dst());
    PutLe(previous, 512, 1, 4);
    PutText(previous, 516, 255, "kept.txt");
    WriteBytes(tree.Posix(profile + "OS.vrl"), previous);
    const uint32_t a = File("src/a.txt", "a");

    ScopedFakeMergeWindow window;
    EngineCall call = Call();
    call.hidden = c.hidden;
    call.minimized = c.minimized;
    call.osFile = tree.Win(profile + "OS.vrl");
    ASSERT_EQ(Run({Both(), CopyToDest("a.txt", a, 1)}, call), platform::S_OK);

    EXPECT_EQ(window.views, c.views);
    if (c.views == 1) {
      EXPECT_EQ(window.calls, (std::vector<std::string>{c.begin, "Show " + Src() + " -> " + Dst(), "End"}));
    } else {
      EXPECT_TRUE(window.calls.empty());
    }
    // Merged either way.
    std::vector<std::string> names;
    for (const StampFields& s : DecodeOsVrl(tree.Posix(profile + "OS.vrl"))) names.push_back(s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "kept.txt"}));
    EXPECT_FALSE(tree.Exists(profile + "OS.vrl1"));
    std::remove(tree.Posix("dst/a.txt").c_str());
  }
}

TEST_F(JobTest, AFailingRunStillCleansUpAndKeepsTheStampHistory) {
  // Stamps of an earlier run for a file that still exists.
  tree.Write("src/kept.txt", "k");
  {
    std::vector<uint8_t> block(516 + 264, 0);
    PutText(block, 0, 255, Src());
    PutText(block, 256, 255, Dst());
    PutLe(block, 512, 1, 4);
    PutText(block, 516, 255, "kept.txt");
    PutLe(block, 516 + 256, 133000000000000000ULL, 8);
    WriteBytes(tree.Posix(profile + "OS.vrl"), block);
  }
  const uint32_t a = File("src/a.txt", "a");
  const uint32_t b = File("src/b.txt", "b");
  // The job file breaks off under the running job.
  bool cut = false;
  ScopedFakeWindow window([&](const CopyWindowSnapshot& s, const platform::HandlerRef&) {
    const std::string& path = s.label(CopyLabel::tlSrc).path;
    if (!cut && path.size() >= 5 && path.substr(path.size() - 5) == "a.txt") {
      cut = true;
      ASSERT_EQ(truncate(JobPosix().c_str(), 1000), 0);
    }
  });
  EngineCall call = Call();
  call.hidden = false;
  call.osFile = tree.Win(profile + "OS.vrl");
  const HRESULT hr = Run({Both(), CopyToDest("a.txt", a, 1), CopyToDest("b.txt", b, 1)}, call);
  EXPECT_TRUE(platform::FAILED(hr));
  ASSERT_TRUE(cut);

  const DecodedPtk ptk = DecodePtk(PtkPosix());
  ASSERT_EQ(ptk.records.size(), 3u);
  EXPECT_EQ(ptk.records[1].first, "a.txt");
  EXPECT_EQ(ptk.records[2].status, 2);
  EXPECT_TRUE(StartsWith(ptk.records[2].message, "Der Abgleich wurde wegen eines Fehlers abgebrochen: "));
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->errorFlag, 1);

  std::vector<std::string> names;
  for (const StampFields& s : DecodeOsVrl(tree.Posix(profile + "OS.vrl"))) names.push_back(s.name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "kept.txt"}));
  EXPECT_FALSE(tree.Exists(profile + "OS.vrl1"));
  std::vector<std::string> left = ProfileFolderNames();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"AUTOptk", "OS.vrl", "SrcDest.kst", "ptk"}));
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
      {0, "00:00:00"},        {999, "00:00:00"},         {1000, "00:00:01"},
      {3723000, "01:02:03"},  {86399999, "23:59:59"},    {86400000, "00:00:00"},
      {4294967295u, "17:02:47"},
  };
  for (const auto& [ms, text] : cases) EXPECT_EQ(MSecToTimeStr(ms), text) << ms;
}

}  // namespace
}  // namespace kv

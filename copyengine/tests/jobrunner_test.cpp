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
#include "copyengine/filecopy.h"
#include "copyengine/jobrunner.h"
#include "copyengine/pairfinder.h"
#include "copyengine/tests/engine_fixture.h"
#include "copyengine/tests/fake_windows.h"
#include "platform/inifile.h"
#include "platform/program.h"
#include "platform/volumes.h"
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
constexpr const char* kInvalidItem = "Der Eintrag der Auftragsdatei ist ungültig und wurde übergangen!";
constexpr const char* kMissing = "Mindestens ein Laufwerk ist nicht verfügbar!";

// State codes and directions as the job file stores them.
constexpr uint8_t kOnlyDest = 1, kOnlySource = 2, kDestOlder = 3;
constexpr uint8_t kFolderOnlyDest = 8, kFolderOnlySource = 9, kFolderBoth = 10;
constexpr uint8_t kToDest = 1, kToSource = 2;

std::vector<std::string> NamesInFolder(const std::string& posix) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(posix)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A record as (status, message); status -1 takes any status, and a message
// with a "*" takes what starts with the text before it and holds the text
// after it.
using Rows = std::vector<std::pair<int, std::string>>;
constexpr int kAny = -1;
bool Matches(const std::string& text, const std::string& pattern) {
  const size_t star = pattern.find('*');
  if (star == std::string::npos) return text == pattern;
  return text.rfind(pattern.substr(0, star), 0) == 0 && text.find(pattern.substr(star + 1), star) != std::string::npos;
}

// A profile with one pair src -> dst, its job and protocol files.
class JobEnv {
 public:
  TempTree tree;
  ScopedRegistry registry;
  ScopedEnv tz{"TZ", "Europe/Berlin"};
  const std::string profile = "work/Profile/1/";

  JobEnv() {
    tree.Mkdir("src");
    tree.Mkdir("dst");
    FreshPtk();
    tree.Mkdir(profile + "ptk");
    WriteSrcDest(tree.Posix(profile + "SrcDest.kst"), {Pair()});
  }

  FolderPairSpec Pair() const { return {.source = Src(), .destination = Dst()}; }
  std::string Src(const std::string& rel = "") const { return tree.WinFolder("src/" + rel); }
  std::string Dst(const std::string& rel = "") const { return tree.WinFolder("dst/" + rel); }
  std::string JobPosix() const { return tree.Posix(profile + "$0ABC.tmp"); }
  void Job(const std::vector<JobItemSpec>& items) const { WriteJob(JobPosix(), items); }
  std::string OsVrl() const { return tree.Posix(profile + "OS.vrl"); }
  void FreshPtk() const { tree.Write(profile + "AUTOptk/00000.ptk", ""); }
  DecodedPtk Ptk() const { return DecodePtk(tree.Posix(profile + "AUTOptk/00000.ptk")); }
  std::string LastRunDate(const std::string& folder) const {
    return platform::IniFile(tree.Win(profile + folder + "/last.vrl")).ReadString("LastProcess", "Date", "");
  }
  void ExpectRecords(const Rows& want) const {
    const DecodedPtk ptk = Ptk();
    ASSERT_TRUE(ptk.wellFormed);
    ASSERT_EQ(ptk.records.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      if (want[i].first != kAny) {
        EXPECT_EQ(ptk.records[i].status, want[i].first) << "record " << i;
      }
      EXPECT_TRUE(Matches(ptk.records[i].message, want[i].second)) << "record " << i << ": " << ptk.records[i].message;
    }
  }

  EngineCall Call(bool stamps = false) const {
    EngineCall call;
    call.ptkFile = tree.Win(profile + "AUTOptk/00000.ptk");
    call.srcFile = tree.Win(profile + "$0ABC.tmp");
    call.mainFile = tree.Win(profile + "SrcDest.kst");
    if (stamps) call.osFile = tree.Win(profile + "OS.vrl");
    return call;
  }

  HRESULT RunWritten(const EngineCall& call) {
    TCopyObj* obj = new TCopyObj;
    obj->AddRef();
    const HRESULT hr = DriveCopyObject(*obj, call);
    obj->Release();
    return hr;
  }
  HRESULT RunJob(const std::vector<JobItemSpec>& items, const EngineCall& call) {
    WriteJob(JobPosix(), items);
    return RunWritten(call);
  }
  HRESULT RunJob(const std::vector<JobItemSpec>& items) { return RunJob(items, Call()); }

  // A file with a local last-write time; returns that time as DOS value.
  uint32_t File(const std::string& rel, const std::string& content, int day = 10, int second = 20) {
    tree.Write(rel, content);
    tree.SetMTime(rel, LocalEpoch(2024, 3, day, 11, 30, second));
    return DosOf(2024, 3, day, 11, 30, second);
  }

  static JobItemSpec CopyToDest(const std::string& name, uint32_t dos, int64_t size, uint8_t state = kOnlySource) {
    return {.source = name, .sourceSize = size, .sourceTime = dos, .action = 1, .stateCode = state, .direction = kToDest};
  }
  // An item of a file only on side 2: copied back (action 1) or deleted (2).
  static JobItemSpec OnlyOnDest(const std::string& name, uint32_t dos, int64_t size, uint8_t action = 1) {
    return {.destination = name, .destinationSize = size, .destinationTime = dos, .action = action,
            .stateCode = kOnlyDest, .direction = kToSource};
  }
  JobItemSpec Both() const { return FolderItem(Src(), Dst(), kFolderBoth, 1); }
  JobItemSpec Folder(const std::string& rel, uint8_t state, uint8_t action) const {
    return FolderItem(Src(rel), Dst(rel), state, action);
  }

  // Earlier stamps of the pair for one file that still exists.
  void PreviousStamps() {
    tree.Write("src/kept.txt", "k");
    GoldenOldStamps().Block(Src(), Dst(), 1).Entry("kept.txt", 133000000000000000ULL).WriteTo(OsVrl());
  }

  std::vector<std::string> NamesIn(const std::string& rel) const { return NamesInFolder(tree.Posix(rel)); }

  // The job file and the pair copy are gone; nothing else changed there.
  void ExpectProfileFolderClean() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tree.Posix(profile))) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"AUTOptk", "OS.vrl", "SrcDest.kst", "ptk"}));
  }
};

class JobTest : public ::testing::Test, public JobEnv {};

// --- One job, the protocol it leaves ----------------------------------------------------

// Each case on a fresh profile: it lays out the tree and writes the job
// file; the run must succeed and leave these records.
struct JobCase {
  const char* what;
  std::function<void(JobEnv&, EngineCall&)> prepare;
  Rows records;
  std::function<void(JobEnv&)> after = [](JobEnv&) {};
};

TEST(JobRecords, EveryJobLeavesItsRecords) {
  const JobCase cases[] = {
      {"a missing folder is made with its parents",
       [](JobEnv& e, EngineCall&) {
         e.Job({FolderItem(e.Src("deep"), e.Dst("new/deeper"), kFolderBoth, 1),
                e.CopyToDest("x.txt", e.File("src/deep/x.txt", "x"), 1)});
       },
       {{kAny, "*"}, {1, kCopied}}, [](JobEnv& e) { EXPECT_EQ(e.tree.Read("dst/new/deeper/x.txt"), "x"); }},
      {"a file stands where the folder should be",
       [](JobEnv& e, EngineCall&) {
         e.tree.Write("dst/blocked", "a file");
         e.Job({FolderItem(e.Src("deep"), e.Dst("blocked/sub"), kFolderBoth, 1),
                e.CopyToDest("x.txt", e.File("src/deep/x.txt", "x"), 1)});
       },
       {{kAny, "*"}, {2, "Der / die Ordner wurde/n nicht gefunden!"}},
       [](JobEnv& e) { EXPECT_EQ(e.Ptk().trailer->errorFlag, 1); }},
      {"paths longer than 255 characters; side 2 is tested first for a copy from side 2",
       [](JobEnv& e, EngineCall&) {
         ASSERT_LT(e.Src().size(), 200u);
         const std::string name(256 - e.Src().size(), 'n');  // exactly 256 characters with the folder
         const std::string fits(255 - std::max(e.Src().size(), e.Dst().size()), 'f');
         const uint32_t dos = e.File("src/" + name, "long");
         e.Job({e.Both(), e.CopyToDest(name, dos, 4), e.OnlyOnDest(name, dos, 4),
                e.CopyToDest(fits, e.File("src/" + fits, "fits"), 4)});
       },
       {{kAny, "*"}, {2, "Der Pfad-/Dateiname der Quelle ist länger als 255 Zeichen!"},
        {2, "Der Pfad-/Dateiname des Ziels ist länger als 255 Zeichen!"}, {1, kCopied}},
       [](JobEnv& e) { EXPECT_FALSE(e.tree.Exists("dst/" + std::string(256 - e.Src().size(), 'n'))); }},
      {"a file of both sides whose rename cannot happen on side 2",
       [](JobEnv& e, EngineCall& call) {
         JobItemSpec del = e.CopyToDest("both.txt", e.File("src/both.txt", "s"), 1, kDestOlder);
         del.destination = "both.txt", del.destinationSize = 2, del.destinationTime = e.File("dst/both.txt", "dd");
         del.action = 2;
         e.tree.Write("dst/both.txt.BAK", "in the way");
         call.delSchredder = 3;
         e.Job({e.Both(), del});
       },
       {{kAny, "*"}, {2, "Die Datei konnte nicht gelöscht werden, da das umbenennen nicht durchgeführt werden konnte!"}},
       [](JobEnv& e) { EXPECT_TRUE(e.tree.Exists("src/both.txt.BAK") && e.tree.Exists("dst/both.txt")); }},
      {"a folder only on side 2 goes with its files, one holding an unlisted file stays",
       [](JobEnv& e, EngineCall&) {
         for (const char* rel : {"dst/gone/f1.txt", "dst/gone/f2.txt", "dst/stays/f3.txt", "dst/stays/unlisted.txt"})
           e.File(rel, "x");
         e.Job({e.Folder("gone", kFolderOnlyDest, 2), e.OnlyOnDest("f1.txt", 0, 0, 2), e.OnlyOnDest("f2.txt", 0, 0, 2),
                e.Folder("stays", kFolderOnlyDest, 2), e.OnlyOnDest("f3.txt", 0, 0, 2)});
       },
       // The folder record is rewritten in place once its removal failed.
       {{1, kFoldersDeleted}, {1, kFilesDeleted}, {1, kFilesDeleted}, {2, kNotDeleted + std::string("*")},
        {1, kFilesDeleted}},
       [](JobEnv& e) {
         EXPECT_FALSE(e.tree.Exists("dst/gone") || e.tree.Exists("dst/stays/f3.txt"));
         EXPECT_TRUE(e.tree.Exists("dst/stays/unlisted.txt"));
         EXPECT_EQ(e.Ptk().records[3].first, e.Src("stays"));
       }},
      {"a folder deleted on both sides leaves the next folder to the loop",
       [](JobEnv& e, EngineCall&) {
         for (const char* rel : {"src/old/a.txt", "dst/old/a.txt", "dst/old/only2.txt"}) e.File(rel, "a");
         const JobItemSpec a{.source = "a.txt", .destination = "a.txt", .action = 2, .stateCode = 15};
         const JobItemSpec only2{.destination = "only2.txt", .action = 2, .stateCode = kOnlyDest};
         e.Job({e.Folder("old", kFolderBoth, 2), a, only2, e.Folder("new", kFolderOnlySource, 1),
                e.CopyToDest("n.txt", e.File("src/new/n.txt", "n"), 1)});
       },
       {{1, kFoldersDeleted}, {1, kFilesDeleted}, {1, kFilesDeleted}, {1, kFoldersCreated}, {1, kCopied}},
       [](JobEnv& e) {
         EXPECT_FALSE(e.tree.Exists("src/old") || e.tree.Exists("dst/old"));
         EXPECT_EQ(e.tree.Read("dst/new/n.txt"), "n");
       }},
      {"folders that held a file deleted later go at the end of the run",
       [](JobEnv& e, EngineCall&) {
         e.File("dst/outer/inner/x.txt", "x");
         e.Job({e.Folder("outer", kFolderOnlyDest, 2), e.Folder("outer/inner", kFolderOnlyDest, 2),
                e.OnlyOnDest("x.txt", 0, 0, 2)});
       },
       {{1, kFoldersDeleted}, {1, kFoldersDeleted}, {1, kFilesDeleted}},
       [](JobEnv& e) { EXPECT_FALSE(e.tree.Exists("dst/outer")); }},
      {"a folder only in the source, copied",
       [](JobEnv& e, EngineCall&) { e.tree.Mkdir("src/s1"), e.Job({e.Folder("s1", kFolderOnlySource, 1)}); },
       {{1, kFoldersCreated}}, [](JobEnv& e) { EXPECT_TRUE(e.tree.Exists("dst/s1")); }},
      {"a folder only in the destination, created",
       [](JobEnv& e, EngineCall&) { e.tree.Mkdir("dst/d1"), e.Job({e.Folder("d1", kFolderOnlyDest, 3)}); },
       {{1, kFoldersCreated}}, [](JobEnv& e) { EXPECT_TRUE(e.tree.Exists("src/d1")); }},
      {"a conditional folder with nothing copied into it",
       [](JobEnv& e, EngineCall&) {
         e.tree.Mkdir("src/s4");
         e.Job({e.Folder("s4", kFolderOnlySource, 4), {.source = "nothing.txt", .action = 2, .stateCode = kOnlySource}});
       },
       {{0, ""}, {kAny, "*"}}, [](JobEnv& e) { EXPECT_FALSE(e.tree.Exists("dst/s4")); }},
      {"a conditional folder that a copy follows",
       [](JobEnv& e, EngineCall&) {
         e.Job({e.Folder("s5", kFolderOnlySource, 4), e.CopyToDest("c.txt", e.File("src/s5/c.txt", "c"), 1)});
       },
       {{1, "Der Ordner \"%s\" wurde erstellt."}, {1, kCopied}},
       [](JobEnv& e) { EXPECT_TRUE(e.tree.Exists("dst/s5/c.txt")); }},
      {"one record, of a missing drive: the error is kept",
       [](JobEnv& e, EngineCall&) {
         WriteBytes(e.tree.Posix(e.profile + "AUTOptk/00000.ptk"),
                    GoldenRecord(kProtocolRecordSize).Text(0, "Q:\\").Byte(550, 10).Byte(600, 2).Text(601, kMissing).bytes());
         e.Job({});
       },
       {{2, kMissing}}, [](JobEnv& e) { EXPECT_EQ(e.Ptk().trailer->errorFlag, 1); }},
      {"one record, of a folder created, is something done",
       [](JobEnv& e, EngineCall&) { e.tree.Mkdir("src/made"), e.Job({e.Folder("made", kFolderOnlySource, 3)}); },
       {{1, kFoldersCreated}}, [](JobEnv& e) { EXPECT_TRUE(e.Ptk().trailer); }},
      {"items of no pair are reported, not guessed",
       [](JobEnv& e, EngineCall&) {
         const uint32_t dos = e.File("other/o.txt", "o");
         e.Job({FolderItem(e.tree.WinFolder("other"), e.Dst("other"), kFolderBoth, 1), e.CopyToDest("o.txt", dos, 1)});
       },
       {{2, "*kein Ordnerpaar"}},
       [](JobEnv& e) {
         EXPECT_FALSE(e.tree.Exists("dst/other"));
         EXPECT_EQ(e.Ptk().records[0].first, e.tree.WinFolder("other"));
       }},
      {"a link to a read-only file elsewhere: the link goes, the file keeps its rights",
       [](JobEnv& e, EngineCall&) {
         e.tree.Write("elsewhere/ro.txt", "keep");
         ASSERT_EQ(chmod(e.tree.Posix("elsewhere/ro.txt").c_str(), 0444), 0);
         ASSERT_EQ(symlink(e.tree.Posix("elsewhere/ro.txt").c_str(), e.tree.Posix("dst/link.txt").c_str()), 0);
         e.Job({e.Both(), e.OnlyOnDest("link.txt", 0, 0, 2)});
       },
       {{0, ""}, {1, kFilesDeleted}},
       [](JobEnv& e) {
         struct stat st {};
         EXPECT_NE(lstat(e.tree.Posix("dst/link.txt").c_str(), &st), 0);
         ASSERT_EQ(stat(e.tree.Posix("elsewhere/ro.txt").c_str(), &st), 0);
         EXPECT_EQ(st.st_mode & 0777, 0444u);
       }},
      {"a deletion on a drive that is not mounted is no success",
       [](JobEnv& e, EngineCall&) {
         e.tree.Mkdir("stick");
         platform::VolumeTable table = platform::VolumeTable::Load();
         table.Set({.root = "K:", .folder = e.tree.Posix("stick"), .mustBeMounted = true});
         table.Save();
         WriteSrcDest(e.tree.Posix(e.profile + "SrcDest.kst"), {e.Pair(), {.source = e.Src(), .destination = "K:\\x\\"}});
         e.Job({FolderItem(e.Src(), "K:\\x\\", kFolderBoth, 1), e.OnlyOnDest("gone.txt", 0, 0, 2),
                FolderItem(e.Src("f"), "K:\\x\\f\\", kFolderOnlyDest, 2), e.OnlyOnDest("g.txt", 0, 0, 2)});
       },
       {{0, ""}, {2, "Die Datei/en konnte/n nicht gelöscht werden! *"}, {2, kNotDeleted + std::string("*")},
        {2, "Die Datei/en konnte/n nicht gelöscht werden! *"}},
       [](JobEnv& e) { EXPECT_EQ(e.Ptk().trailer->errorFlag, 1); }},
      {"names that lead out of their folder are refused",
       [](JobEnv& e, EngineCall&) {
         e.tree.Write("victim.txt", "mine");
         e.tree.Write("src/victim.txt", "src");
         e.tree.Mkdir("dst/gone");
         e.Job({e.Both(), e.OnlyOnDest("..\\victim.txt", 0, 0, 2), e.CopyToDest("..\\src\\victim.txt", 0, 3),
                e.Folder("gone", kFolderOnlyDest, 2), e.OnlyOnDest("..\\..\\victim.txt", 0, 0, 2)});
       },
       {{0, ""}, {2, kInvalidItem}, {2, kInvalidItem}, {1, kFoldersDeleted}, {2, kInvalidItem}},
       [](JobEnv& e) {
         EXPECT_EQ(e.tree.Read("victim.txt"), "mine");
         EXPECT_FALSE(e.tree.Exists("dst/gone"));
       }},
      {"sizes no file can have neither overflow the totals nor stop the run",
       [](JobEnv& e, EngineCall&) {
         constexpr int64_t kHuge = INT64_MAX;
         e.Job({e.Both(), e.CopyToDest("h1", 0, kHuge), e.CopyToDest("h2", 0, kHuge), e.CopyToDest("neg", 0, -5),
                e.Folder("absent", kFolderOnlySource, 1), e.CopyToDest("h3", 0, kHuge), e.CopyToDest("h4", 0, kHuge)});
       },
       {{0, ""}, {2, kChanged}, {2, kChanged}, {2, kChanged}, {2, "Der / die Ordner wurde/n nicht gefunden!"}}},
      {"a name spelt otherwise only in case is that file, replaced under its own spelling",
       [](JobEnv& e, EngineCall&) {
         JobItemSpec item = e.CopyToDest("Report.TXT", e.File("src/Report.TXT", "new report", 12), 10, kDestOlder);
         item.destination = "report.txt", item.destinationSize = 3, item.destinationTime = e.File("dst/report.txt", "old", 1);
         e.Job({e.Both(), item});
       },
       {{0, ""}, {1, kCopied}},
       [](JobEnv& e) {
         EXPECT_EQ(e.tree.Read("dst/report.txt"), "new report");
         EXPECT_FALSE(e.tree.Exists("dst/Report.TXT"));
       }},
      {"folder items naming . or .. are refused and nothing outside the pair is touched",
       [](JobEnv& e, EngineCall&) {
         e.tree.Write("outside/victim.txt", "mine");
         e.tree.Write("src/x.txt", "x");
         const uint32_t dos = e.File("src/x.txt", "x");
         e.Job({FolderItem(e.Src(), e.Dst("..\\outside"), kFolderBoth, 1), e.CopyToDest("victim.txt", dos, 1),
                FolderItem(e.Src("..\\outside"), e.Dst("gone"), kFolderOnlySource, 2),
                e.CopyToDest("victim.txt", 0, 0, kOnlySource)});
       },
       {{2, "Der Ordnerpfad enthält \".\" oder \"..\" und wurde übergangen!"},
        {2, "Der Ordnerpfad enthält \".\" oder \"..\" und wurde übergangen!"}},
       [](JobEnv& e) { EXPECT_EQ(e.tree.Read("outside/victim.txt"), "mine"); }},
      {"a torn job file and an unknown item",
       [](JobEnv& e, EngineCall&) {
         const uint32_t dos = e.File("src/t.txt", "t");
         JobItemSpec weird = e.CopyToDest("t.txt", dos, 1);
         weird.stateCode = 11;
         e.Job({e.Both(), weird, e.CopyToDest("t.txt", dos, 1)});
         std::vector<uint8_t> bytes = ReadBytes(e.JobPosix());
         bytes.resize(bytes.size() + 100, 0);
         WriteBytes(e.JobPosix(), bytes);
       },
       {{kAny, "*unvollständigen Eintrag (100 Bytes)"}, {kAny, "*"}, {2, "*"}, {1, kCopied}}},
  };
  for (const JobCase& c : cases) {
    SCOPED_TRACE(c.what);
    JobEnv env;
    EngineCall call = env.Call();
    c.prepare(env, call);
    ASSERT_EQ(env.RunWritten(call), S_OK);
    env.ExpectRecords(c.records);
    c.after(env);
  }
}

// --- Copies ---------------------------------------------------------------------------

TEST_F(JobTest, CopiesBothWaysRecordsEveryItemAndStampsTheCopies) {
  const uint32_t a = File("src/a.txt", "aaaaa");
  const uint32_t b = File("dst/b.txt", "bbbbbb", 11);
  JobItemSpec replace = CopyToDest("c.txt", File("src/c.txt", "ccccccc", 12), 7, kDestOlder);
  replace.destination = "c.txt", replace.destinationSize = 3, replace.destinationTime = File("dst/c.txt", "old", 1);
  ASSERT_EQ(RunJob({Both(), CopyToDest("a.txt", a, 5), OnlyOnDest("b.txt", b, 6), replace}, Call(true)), S_OK);

  EXPECT_EQ(tree.Read("dst/a.txt"), "aaaaa");
  EXPECT_EQ(tree.Read("src/b.txt"), "bbbbbb");  // without its missing side 1
  EXPECT_EQ(tree.Read("dst/c.txt"), "ccccccc");
  struct stat st {};
  ASSERT_EQ(stat(tree.Posix("dst/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, LocalEpoch(2024, 3, 10, 11, 30, 20));

  ExpectRecords({{0, ""}, {1, kCopied}, {1, kCopied}, {1, kCopied}});
  const DecodedPtk ptk = Ptk();
  EXPECT_EQ(ptk.records[0].rowKind, 1);  // folder records of local pairs
  const char* names[] = {"a.txt", "b.txt", "c.txt"};
  for (int i = 0; i < 3; ++i) {
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
    int later;                // the source's time, seconds after the listed one
    const char* source;       // its new content; "": removed
    const char* destination;  // a file that appeared on side 2
    bool copied;
  } cases[] = {{"untouched", 0, nullptr, nullptr, true},          {"other size", 0, "1234567", nullptr, false},
               {"two seconds later, same size", 2, nullptr, nullptr, true},
               {"two seconds later, other size", 2, "123", nullptr, false},
               {"four seconds later", 4, nullptr, nullptr, false}, {"appeared on side 2", 0, nullptr, "new!", false},
               {"gone", 0, "", nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(tree.Posix("dst/f.txt"));
    FreshPtk();
    const uint32_t dos = File("src/f.txt", "12345");
    if (c.source && *c.source) tree.Write("src/f.txt", c.source);
    if (c.source && !*c.source) fs::remove(tree.Posix("src/f.txt"));
    else tree.SetMTime("src/f.txt", listed + c.later);
    if (c.destination) tree.Write("dst/f.txt", c.destination);
    ASSERT_EQ(RunJob({Both(), CopyToDest("f.txt", dos, 5)}), S_OK);
    ExpectRecords({{0, ""}, {c.copied ? 1 : 2, c.copied ? kCopied : kChanged}});
    if (c.copied) {
      EXPECT_EQ(tree.Read("dst/f.txt"), "12345");
    }
  }
}

// The external log after the protocol's trailer, its trace beside the
// program: a copy done from side 1, one refused from side 2.
TEST_F(JobTest, TheExternalLogFollowsTheOldLinesAndIsTraced) {
  tree.Write("logs/ext.log", "alt\r\n");
  File("dst/b.txt", "changed");
  Job({Both(), CopyToDest("a.txt", File("src/a.txt", "aaa"), 3), OnlyOnDest("b.txt", DosOf(2024, 3, 1, 8, 0, 0), 2)});
  TCopyObj* obj = new TCopyObj;
  obj->AddRef();
  obj->Set_ExtLog(tree.Win("logs/ext.log").c_str());
  obj->Set_ExtTrenn(";");
  EXPECT_EQ(DriveCopyObject(*obj, Call()), S_OK);
  obj->Release();
  const std::string log = tree.Read("logs/ext.log");
  EXPECT_EQ(log.substr(0, 6), "alt\r\n[");
  EXPECT_EQ(log.substr(log.find("]\r\n") + 3),
            "1;" + Src() + "a.txt;" + Dst() + "a.txt;1;\r\n2;" + Src() + "b.txt;" + Dst() + "b.txt;2;\r\n");
  EXPECT_EQ(platform::IniFile(platform::ProgramFolder() + "ExtPtk.log").ReadString("Protokoll des externen Logfiles", "3", ""),
            "PARAMETER Externe Logdatei: " + tree.Win("logs/ext.log"));
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
    ASSERT_EQ(RunJob({Both(), OnlyOnDest("old.txt", dos, 11, 2)}, call), S_OK);
    EXPECT_FALSE(tree.Exists("dst/old.txt"));
    if (!keptAt.empty()) {
      EXPECT_EQ(tree.Read(keptAt), "old content");
    }
    EXPECT_EQ(tree.Exists("dst/old.txt.BAK"), delSchredder == 3);
    ExpectRecords({{0, ""}, {1, kFilesDeleted}});
  }
}

// --- Folders -------------------------------------------------------------------------------

TEST_F(JobTest, CreatedFoldersTakeTheRightsOfTheirOtherSideWhenAsked) {
  for (const char* rel : {"src/guarded", "src/plain"}) {
    tree.Mkdir(rel);
    ASSERT_EQ(chmod(tree.Posix(rel).c_str(), 0750), 0);
  }
  EngineCall call = Call();
  call.ntfsAccess = true;
  ASSERT_EQ(RunJob({Folder("guarded", kFolderOnlySource, 3)}, call), S_OK);
  call.ntfsAccess = false;
  const mode_t oldMask = ::umask(022);
  const HRESULT plain = RunJob({Folder("plain", kFolderOnlySource, 3)}, call);
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
  ASSERT_EQ(RunJob({Folder("sub", kFolderOnlySource, 1), CopyToDest("a.txt", dos, 3), Both(), CopyToDest("b.txt", dos2, 2)},
                call),
            S_OK);
  ExpectRecords({{2, kNotCreated + std::string("*")}, {kAny, "*"}, {1, kCopied}});
  EXPECT_GT(Ptk().records[0].message.size(), std::string(kNotCreated).size());
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
  EngineCall call = Call(true);
  call.hidden = false;
  ASSERT_EQ(RunJob({Both(), CopyToDest("a.txt", a, 3), CopyToDest("b.txt", b, 100000), CopyToDest("c.txt", c, 3)}, call),
            S_OK);
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(tree.Exists("dst/a.txt"));
  for (const char* rel : {"dst/b.txt", "dst/b.txt.sync", "dst/c.txt"}) EXPECT_FALSE(tree.Exists(rel)) << rel;
  EXPECT_TRUE(window.last.label(CopyLabel::tlAbort1).visible);
  ExpectRecords({{0, ""}, {1, kCopied}});
  EXPECT_EQ(Ptk().records[1].first, "a.txt");
  EXPECT_TRUE(Ptk().trailer);
  EXPECT_EQ(StampNames(OsVrl()), (std::vector<std::string>{"a.txt"}));
}

TEST_F(JobTest, ACancelledCopyWhosePartialFileStaysIsStillRecorded) {
  const uint32_t big = File("src/big.bin", std::string(2 * kCopyBlockSize + 5, 'b'));
  // The run goes on as a user that the folder's rights can stop.
  for (const std::string& root : {tree.Posix(), registry.Directory()}) {
    for (const auto& e : fs::recursive_directory_iterator(root)) fs::permissions(e.path(), fs::perms::all, fs::perm_options::add);
    fs::permissions(root, fs::perms::all, fs::perm_options::add);
  }
  ASSERT_EQ(chown(tree.Posix("dst").c_str(), IsRoot() ? 65534 : getuid(), static_cast<gid_t>(-1)), 0);
  const std::string dst = tree.Posix("dst");
  const int outcome = RunUnprivileged([&] {
    bool clicked = false;
    ScopedFakeCopyWindow window(
        [&](const CopyWindowSnapshot& s, const platform::HandlerRef& model) {
          if (clicked || s.bar(CopyBar::pgFile).position == 0) return;
          clicked = true;
          ::chmod(dst.c_str(), 0555);  // the partial file can no longer be removed
          model.Post(kCopyMsgAbortClick);
        },
        true);
    EngineCall call = Call();
    call.hidden = false;
    return RunJob({Both(), CopyToDest("big.bin", big, 2 * kCopyBlockSize + 5)}, call) == S_OK && clicked ? 0 : 1;
  });
  ::chmod(dst.c_str(), 0755);
  ASSERT_EQ(outcome, 0);
  ExpectRecords({{0, ""}, {3, "Der Kopiervorgang wurde abgebrochen, *"}});
  EXPECT_TRUE(Ptk().trailer);
}

// --- The protocol at the end -----------------------------------------------------------------

TEST_F(JobTest, AProtocolOfOneRecordReportingNothingIsDropped) {
  ASSERT_EQ(RunJob({Both()}), S_OK);
  EXPECT_FALSE(tree.Exists(profile + "AUTOptk/00000.ptk"));
  EXPECT_EQ(LastRunDate("AUTOptk"), "");
}

TEST_F(JobTest, ManualRunsUseTheirOwnIndexAndNeverFlagErrors) {
  tree.Write(profile + "ptk/00000.ptk", "");
  const uint32_t dos = File("src/m.txt", "m");
  tree.Write("src/m.txt", "changed");
  EngineCall call = Call();
  call.manual = true;
  call.ptkFile = tree.Win(profile + "ptk/00000.ptk");
  ASSERT_EQ(RunJob({Both(), CopyToDest("m.txt", dos, 1)}, call), S_OK);
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
  ASSERT_EQ(RunJob({Both(), CopyToDest("p.txt", File("src/p.txt", "p"), 1)}, call), S_OK);
  EXPECT_EQ(tree.Read("dst/p.txt"), "p");
  EXPECT_FALSE(tree.Exists(profile + "AUTOptk/missing.ptk"));
}

// --- Old stamps and failures ------------------------------------------------------------------

TEST_F(JobTest, TheMergeOfTheOldStampsShowsItsWindowUnlessHidden) {
  struct Case {
    bool hidden, minimized;
    const char* begin;  // nullptr: no window
  };
  for (const Case& c : {Case{false, false, "Begin shown"}, Case{false, true, "Begin shown inactive"}, Case{true, false, nullptr}}) {
    SCOPED_TRACE(testing::Message() << "hidden " << c.hidden << ", minimized " << c.minimized);
    PreviousStamps();  // so that this run's end merges
    const uint32_t a = File("src/a.txt", "a");
    ScopedFakeMergeWindow window;
    EngineCall call = Call(true);
    call.hidden = c.hidden;
    call.minimized = c.minimized;
    ASSERT_EQ(RunJob({Both(), CopyToDest("a.txt", a, 1)}, call), S_OK);
    EXPECT_EQ(window.views, c.begin ? 1 : 0);
    EXPECT_EQ(window.calls, (c.begin ? std::vector<std::string>{c.begin, "Show " + Src() + " -> " + Dst(), "End"}
                                     : std::vector<std::string>{}));
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
  EngineCall call = Call(true);
  call.hidden = false;
  EXPECT_TRUE(platform::FAILED(RunJob({Both(), CopyToDest("a.txt", a, 1), CopyToDest("b.txt", b, 1)}, call)));
  ASSERT_TRUE(cut);

  ExpectRecords({{0, ""}, {1, kCopied}, {2, "Der Abgleich wurde wegen eines Fehlers abgebrochen: *"}});
  EXPECT_EQ(Ptk().records[1].first, "a.txt");
  ASSERT_TRUE(Ptk().trailer);
  EXPECT_EQ(Ptk().trailer->errorFlag, 1);
  EXPECT_EQ(StampNames(OsVrl()), (std::vector<std::string>{"a.txt", "kept.txt"}));
  EXPECT_FALSE(tree.Exists(profile + "OS.vrl1"));
  ExpectProfileFolderClean();
}

// --- Nothing outside the pair ---------------------------------------------------------------

// A run paused after its list was built, while destination folders are
// swapped for links to a folder outside: nothing outside changes, and every
// item of those folders says so.
TEST_F(JobTest, FoldersSwappedForLinksAfterTheListLeadNowhereOutside) {
  tree.Write("outside/keep.txt", "outside");
  tree.Write("outside/old.txt", "outside");
  const uint32_t dos = File("src/sub/new.txt", "new");
  const uint32_t old = File("dst/sub/old.txt", "old");
  File("dst/gone/g.txt", "g");
  Job({Folder("sub", kFolderBoth, 4), CopyToDest("new.txt", dos, 3), OnlyOnDest("old.txt", old, 3, 2),
       OnlyOnDest("keep.txt", 0, 0, 2), Folder("gone", kFolderOnlyDest, 2), OnlyOnDest("g.txt", 0, 0, 2),
       OnlyOnDest("keep.txt", 0, 0, 2)});
  for (const char* rel : {"dst/sub", "dst/gone"}) {
    fs::rename(tree.Posix(rel), tree.Posix(std::string(rel) + "-moved"));
    fs::create_directory_symlink(tree.Posix("outside"), tree.Posix(rel));
  }
  ASSERT_EQ(RunWritten(Call()), S_OK);
  EXPECT_EQ(NamesIn("outside"), (std::vector<std::string>{"keep.txt", "old.txt"}));
  EXPECT_EQ(tree.Read("outside/keep.txt") + tree.Read("outside/old.txt"), "outsideoutside");
  ExpectRecords({{0, ""}, {2, "*symbolic links"}, {2, "*symbolic links"}, {2, "*symbolic links"},
                 {2, "*symbolic links"}, {2, "*symbolic links"}, {2, "*symbolic links"}});
}

// --- Old stamps that cannot be merged ---------------------------------------------------------

// The merge of 200 earlier stamps cannot write its result (the disk is
// full): this run's stamps and the earlier ones are both kept, and the
// protocol says so with an error before its trailer.
TEST_F(JobTest, AMergeThatFailsKeepsTheEarlierStampsAndSaysSo) {
  GoldenOldStamps history;
  history.Block(Src(), Dst(), 200);
  for (int i = 0; i < 200; ++i) {
    tree.Write("src/h" + std::to_string(i), "h");
    history.Entry("h" + std::to_string(i), 133000000000000000ULL + static_cast<uint64_t>(i));
  }
  history.WriteTo(OsVrl());
  const std::string earlier = tree.Read(profile + "OS.vrl");
  const uint32_t a = File("src/a.txt", "a");
  const int outcome = RunWithFileSizeLimit(earlier.size() + 100, [&] {
    return RunJob({Both(), CopyToDest("a.txt", a, 1)}, Call(true)) == S_OK ? 0 : 1;
  });
  ASSERT_EQ(outcome, 0);
  EXPECT_EQ(tree.Read(profile + "OS.vrl1"), earlier);
  EXPECT_EQ(StampNames(OsVrl()), (std::vector<std::string>{"a.txt"}));
  ExpectRecords({{0, ""}, {1, kCopied}, {2, "Die bisherigen Zeitstempel bleiben in dieser Datei*File too large"}});
  EXPECT_EQ(Ptk().records[2].first, tree.Win(profile + "OS.vrl1"));
  EXPECT_EQ(Ptk().trailer->errorFlag, 1);
}

// A protocol with nothing to tell that cannot be deleted is kept, whole and
// with the reason, and the run still succeeds.
TEST_F(JobTest, AnEmptyProtocolThatCannotBeDeletedIsKeptWithTheReason) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to run the engine as another user";
  for (const std::string& root : {tree.Posix(), registry.Directory()}) {
    for (const auto& e : fs::recursive_directory_iterator(root)) fs::permissions(e.path(), fs::perms::all, fs::perm_options::add);
    fs::permissions(root, fs::perms::all, fs::perm_options::add);
  }
  // Sticky and root's: others may add files there but not delete root's.
  ASSERT_EQ(chmod(tree.Posix(profile + "AUTOptk").c_str(), 01777), 0);
  Job({Both()});
  const int outcome = RunUnprivileged([&] { return RunWritten(Call()) == S_OK ? 0 : 1; });
  ASSERT_EQ(outcome, 0);
  ExpectRecords({{0, ""}, {2, "Das leere Protokoll konnte nicht gelöscht werden: Operation not permitted"}});
  EXPECT_TRUE(Ptk().trailer);
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
      // Compared as normalised paths: doubled separators are one; "." and
      // ".." lead nowhere below a root.
      {"C:\\Daten\\\\sub\\", "C:\\Daten\\", true},
      {"C:\\Daten\\..\\Other\\", "C:\\Daten\\", false},
      {"C:\\Daten\\.\\", "C:\\Daten\\", false},
  };
  for (const Case& c : cases) EXPECT_EQ(PathIsBelowRoot(c.path, c.root), c.below) << c.path << " in " << c.root;
  EXPECT_EQ(PathBelowRoot("C:\\Daten\\\\sub/x\\", "c:\\Daten"), "sub\\x\\");
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

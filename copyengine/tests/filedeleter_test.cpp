#include "copyengine/filedeleter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/volumes.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using namespace kv::test;
using Bytes = std::vector<uint8_t>;

// The overwrite schedule as published: passes 0-3 and 31-34 random, the
// rest fixed 3-byte patterns.
constexpr int kPasses = 35;
bool IsRandom(int pass) { return pass < 4 || pass > 30; }
Bytes Published(int pass) {
  switch (pass) {
    case 4: return {0x55, 0x55, 0x55};
    case 5: return {0xAA, 0xAA, 0xAA};
    case 6: case 25: return {0x92, 0x49, 0x24};
    case 7: case 26: return {0x49, 0x24, 0x92};
    case 8: case 27: return {0x24, 0x92, 0x49};
    case 28: return {0x6D, 0xB6, 0xDB};
    case 29: return {0xB6, 0xDB, 0x6D};
    case 30: return {0xDB, 0x6D, 0xB6};
    default: {
      const auto b = static_cast<uint8_t>((pass - 9) * 0x11);  // 9 -> 00 ... 24 -> FF
      return {b, b, b};
    }
  }
}
Bytes Repeated(const Bytes& unit, size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = unit[i % 3];
  return out;
}
bool IsRepeatedUnit(const Bytes& bytes) {
  if (bytes.size() < 3) return bytes.empty();
  return bytes == Repeated(Bytes(bytes.begin(), bytes.begin() + 3), bytes.size());
}

struct Pass {
  int index;
  Bytes bytes;
};

void Observe(TFileDeleter& d, std::vector<Pass>& passes) {
  d.passObserver = [&passes](int pass, std::span<const uint8_t> bytes) {
    passes.push_back({pass, Bytes(bytes.begin(), bytes.end())});
  };
}

// The exception's number, 0 when nothing was raised.
int DeleteAndCatch(TFileDeleter& d, std::string_view path) {
  try {
    d.Delete(path);
    return 0;
  } catch (const EFileDeleter& e) {
    return d.ErrMsg() == e.what() && e.what() == FileDeleterMessage(e.messageId()) ? e.messageId() : -1;
  }
}

class DeleterTest : public ::testing::Test {
 protected:
  DeleterTest() : dataHome_("XDG_DATA_HOME", tree_.Posix("data").c_str()) {}

  ScopedRegistry registry_;
  TempTree tree_;
  ScopedEnv dataHome_;
  TFileDeleter deleter_;
};

TEST(FileDeleterMessages, AreTheSystemsOwn) {
  EXPECT_EQ(FileDeleterMessage(65264), "Die Datei/en konnte/n nicht gelöscht werden!");
  EXPECT_EQ(FileDeleterMessage(65265), "Fehler beim überschreiben/löschen der Datei!");
  EXPECT_EQ(FileDeleterMessage(65266),
            "Die Datei konnte nicht gelöscht werden, da das Backupfile nicht erstellt werden konnte!");
  EXPECT_EQ(FileDeleterMessage(65267),
            "Die Datei konnte nicht gelöscht werden, da das umbenennen nicht durchgeführt werden konnte!");
}

TEST_F(DeleterTest, ShredWritesEveryPassOverTheRoundedUpSizeAndPumpsPerBuffer) {
  const size_t big = 2 * TFileDeleter::kShredBufferSize + 4;  // covered: 2 buffers + 6 bytes
  const std::pair<size_t, size_t> cases[] = {{0, 0}, {1, 3}, {9, 9}, {10, 12}, {11, 12}, {big, big + 2}};
  deleter_.DelStyle = TDelStyle::delShredder;
  deleter_.pumpIntervalMs = 0;
  for (const auto& [size, covered] : cases) {
    SCOPED_TRACE(size);
    tree_.Write("f.bin", std::string(size, 'x'));
    int pumps = 0, next = 0;
    deleter_.pump = [&pumps] { ++pumps; };
    deleter_.passObserver = [&next, covered = covered](int pass, std::span<const uint8_t> bytes) {
      EXPECT_EQ(pass, next++);
      const Bytes b(bytes.begin(), bytes.end());
      ASSERT_EQ(b.size(), covered);
      if (IsRandom(pass)) EXPECT_TRUE(IsRepeatedUnit(b)) << pass;
      else EXPECT_TRUE(b == Repeated(Published(pass), covered)) << pass;
    };
    ASSERT_EQ(DeleteAndCatch(deleter_, tree_.Win("f.bin")), 0);
    EXPECT_FALSE(tree_.Exists("f.bin"));
    EXPECT_EQ(next, kPasses);
    if (size == big) {
      EXPECT_EQ(pumps, kPasses * 3);  // once per buffer, never per 3 bytes
    }
  }
}

TEST_F(DeleterTest, RandomPassesAreDrawnAnewForEveryFile) {
  deleter_.DelStyle = TDelStyle::delShredder;
  std::vector<Bytes> units[2];
  for (auto& u : units) {
    tree_.Write("f.bin", "abcdef");
    std::vector<Pass> passes;
    Observe(deleter_, passes);
    deleter_.Delete(tree_.Win("f.bin"));
    for (const Pass& p : passes)
      if (IsRandom(p.index)) u.push_back(Bytes(p.bytes.begin(), p.bytes.begin() + 3));
  }
  ASSERT_EQ(units[0].size(), 8u);
  EXPECT_NE(units[0], units[1]);  // 192 random bits alike: practically never
}

TEST_F(DeleterTest, AbortStopsShreddingAndTheFileStillGoes) {
  tree_.Write("f.bin", std::string(100, 'x'));
  deleter_.DelStyle = TDelStyle::delShredder;
  int asked = 0;
  deleter_.abortRequested = [&asked] { return ++asked >= 1; };
  std::vector<Pass> passes;
  Observe(deleter_, passes);
  EXPECT_EQ(DeleteAndCatch(deleter_, tree_.Win("f.bin")), 0);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(passes.empty());
  EXPECT_FALSE(tree_.Exists("f.bin"));
}

TEST_F(DeleterTest, ShredRemovesALinkButNeverItsTarget) {
  // A symbolic link, and a second hard link whose content another name still holds.
  for (const bool hard : {false, true}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    tree_.Write("target.txt", "precious");
    ASSERT_EQ(chmod(tree_.Posix("target.txt").c_str(), 0444), 0);
    ASSERT_EQ(hard ? link(tree_.Posix("target.txt").c_str(), tree_.Posix("link.txt").c_str())
                   : symlink(tree_.Posix("target.txt").c_str(), tree_.Posix("link.txt").c_str()),
              0);
    deleter_.DelStyle = TDelStyle::delShredder;
    std::vector<Pass> passes;
    Observe(deleter_, passes);
    EXPECT_EQ(DeleteAndCatch(deleter_, tree_.Win("link.txt")), 0);
    EXPECT_FALSE(tree_.Exists("link.txt"));
    EXPECT_EQ(tree_.Read("target.txt"), "precious");
    struct stat st;
    ASSERT_EQ(stat(tree_.Posix("target.txt").c_str(), &st), 0);
    if (!hard) {
      EXPECT_EQ(st.st_mode & 0777, 0444u);  // not even its bits were touched
    }
    EXPECT_TRUE(passes.empty());
    ASSERT_EQ(unlink(tree_.Posix("target.txt").c_str()), 0);
  }
}

TEST_F(DeleterTest, NothingToDeleteIsNoError) {
  tree_.Mkdir("folder");
  ASSERT_EQ(symlink("nowhere", tree_.Posix("dangling").c_str()), 0);
  deleter_.BackupPath = tree_.WinFolder("backup");
  for (TDelStyle style : {TDelStyle::delNormal, TDelStyle::delShredder, TDelStyle::delBitbucket,
                          TDelStyle::delBackup, TDelStyle::delRename}) {
    SCOPED_TRACE(static_cast<int>(style));
    deleter_.DelStyle = style;
    for (const char* rel : {"missing.txt", "folder", "dangling"}) EXPECT_EQ(DeleteAndCatch(deleter_, tree_.Win(rel)), 0);
    EXPECT_TRUE(tree_.Exists("folder"));
    EXPECT_TRUE(tree_.Exists("dangling"));
  }
  EXPECT_FALSE(tree_.Exists("backup"));
  EXPECT_FALSE(tree_.Exists("data"));
}

TEST_F(DeleterTest, EveryStyleDeletesAReadOnlyFile) {
  struct Case {
    TDelStyle style;
    const char* leftAt;  // where the content is afterwards, "" when gone
  } cases[] = {{TDelStyle::delNormal, ""}, {TDelStyle::delShredder, ""}, {TDelStyle::delBitbucket, "data/Trash/files/ro.txt"},
               {TDelStyle::delBackup, "backup/ro.txt"}, {TDelStyle::delRename, "w/ro.txt.BAK"}};
  tree_.Mkdir("w");
  tree_.Mkdir("data");
  if (IsRoot()) {
    for (const char* rel : {"", "w", "data"}) ASSERT_EQ(chown(tree_.Posix(rel).c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(registry_.Directory().c_str(), 0755), 0);
  }
  const std::string win = tree_.Win("w/ro.txt");
  // The backup keeps the folder part: "C:\tmp\x\w\" becomes "C\tmp\x\w\".
  const std::string backupRoot = tree_.WinFolder("backup");
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.style));
    tree_.Write("w/ro.txt", "read only");
    ASSERT_EQ(chmod(tree_.Posix("w/ro.txt").c_str(), 0444), 0);
    if (IsRoot()) {
      ASSERT_EQ(chown(tree_.Posix("w/ro.txt").c_str(), 65534, 65534), 0);
    }
    const int rc = RunUnprivileged([&] {
      TFileDeleter d;
      d.DelStyle = c.style;
      d.BackupPath = backupRoot;
      return DeleteAndCatch(d, win) == 0 ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(tree_.Exists("w/ro.txt"));
    if (c.style == TDelStyle::delBackup) {
      const std::string folder = win.substr(0, win.rfind('\\'));
      std::string rel = folder.substr(0, 1) + folder.substr(2);  // drop the ":"
      for (char& ch : rel)
        if (ch == '\\') ch = '/';
      EXPECT_EQ(tree_.Read("backup/" + rel + "/ro.txt"), "read only");
    } else if (*c.leftAt) {
      EXPECT_EQ(tree_.Read(c.leftAt), "read only");
    }
  }
}

TEST_F(DeleterTest, RenameNeverReplacesAnExistingBak) {
  deleter_.DelStyle = TDelStyle::delRename;
  tree_.Write("a.txt", "new");
  tree_.Write("a.txt.BAK", "old backup");
  ASSERT_EQ(chmod(tree_.Posix("a.txt").c_str(), 0444), 0);
  EXPECT_EQ(DeleteAndCatch(deleter_, tree_.Win("a.txt")), kMsgRenameFailed);
  EXPECT_EQ(tree_.Read("a.txt"), "new");
  EXPECT_EQ(tree_.Read("a.txt.BAK"), "old backup");
  struct stat st;
  ASSERT_EQ(stat(tree_.Posix("a.txt").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IWUSR);  // its attributes were cleared first

  tree_.Write("b.txt", "b");
  EXPECT_EQ(DeleteAndCatch(deleter_, tree_.Win("b.txt")), 0);
  EXPECT_EQ(tree_.Read("b.txt.BAK"), "b");
  EXPECT_FALSE(tree_.Exists("b.txt"));
}

class BackupTest : public DeleterTest {
 protected:
  void SetUp() override {
    platform::VolumeTable table = platform::VolumeTable::Load();
    table.Set({.root = "D:", .folder = tree_.Posix("d"), .mustBeMounted = false});
    table.Set({.root = "\\\\Server\\Freigabe", .folder = tree_.Posix("share"), .mustBeMounted = false});
    table.Save();
    tree_.Mkdir("d");
    tree_.Mkdir("share");
    deleter_.DelStyle = TDelStyle::delBackup;
    deleter_.BackupPath = "D:\\Profil\\BackUp\\";
  }

  // Modification time in whole seconds.
  time_t MTime(const std::string& rel) {
    struct stat st {};
    EXPECT_EQ(stat(tree_.Posix(rel).c_str(), &st), 0) << rel;
    return st.st_mtime;
  }
};

TEST_F(BackupTest, FolderPartBecomesThePathBelowTheBackupRoot) {
  struct Case {
    std::string file, original, backup;  // Windows path of the deleted file, its place in the tree, its backup's
  } cases[] = {
      {"D:\\Daten\\a.txt", "d/Daten/a.txt", "d/Profil/BackUp/D/Daten/a.txt"},
      {"\\\\Server\\Freigabe\\Ordner\\b.txt", "share/Ordner/b.txt", "d/Profil/BackUp/Server/Freigabe/Ordner/b.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    tree_.Write(c.original, "first");
    tree_.SetMTime(c.original, 946684800);  // 2000: the backup must not keep it
    const time_t before = time(nullptr);
    ASSERT_EQ(DeleteAndCatch(deleter_, c.file), 0);
    const time_t after = time(nullptr);
    EXPECT_FALSE(tree_.Exists(c.original));
    EXPECT_EQ(tree_.Read(c.backup), "first");
    EXPECT_GE(MTime(c.backup), before - 2);  // two-second resolution
    EXPECT_LE(MTime(c.backup), after);

    // A second deletion of that path replaces the first backup.
    tree_.Write(c.original, "second");
    ASSERT_EQ(DeleteAndCatch(deleter_, c.file), 0);
    EXPECT_FALSE(tree_.Exists(c.original));
    EXPECT_EQ(tree_.Read(c.backup), "second");
  }
}

TEST_F(BackupTest, CopiedBackupShredsTheOriginalWhenAsked) {
  tree_.Write("d/Profil/BackUp/D/Daten/a.txt", "earlier backup");
  tree_.Write("d/Daten/a.txt", "secret!");  // 7 bytes: every pass covers 9
  deleter_.ArchivSchredder = true;
  std::vector<Pass> passes;
  Observe(deleter_, passes);
  ASSERT_EQ(DeleteAndCatch(deleter_, "D:\\Daten\\a.txt"), 0);
  EXPECT_EQ(tree_.Read("d/Profil/BackUp/D/Daten/a.txt"), "secret!");
  EXPECT_FALSE(tree_.Exists("d/Daten/a.txt"));
  ASSERT_EQ(passes.size(), size_t{kPasses});
  EXPECT_EQ(passes[4].bytes, Repeated(Published(4), 9));
}

TEST_F(BackupTest, NoBackupNoDeletion) {
  tree_.Write("d/Daten/a.txt", "keep");
  tree_.Write("d/blocker", "a file where a folder should be");
  for (const char* root : {"", "D:\\blocker\\"}) {
    SCOPED_TRACE(root);
    deleter_.BackupPath = root;
    EXPECT_EQ(DeleteAndCatch(deleter_, "D:\\Daten\\a.txt"), kMsgBackupFailed);
    EXPECT_EQ(tree_.Read("d/Daten/a.txt"), "keep");
  }
}

// Failures need a permission refused: they run without root.
TEST_F(DeleterTest, FailuresRaiseTheirMessageAndKeepTheFile) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to prepare files the test user cannot change";
  struct Case {
    const char* what;
    TDelStyle style;
    int expected;
  } cases[] = {
      {"folder not writable", TDelStyle::delNormal, kMsgFileNotDeleted},
      {"file of another user", TDelStyle::delShredder, kMsgShredFailed},
      {"no trash can be made", TDelStyle::delBitbucket, kMsgFileNotDeleted},
  };
  ASSERT_EQ(chmod(registry_.Directory().c_str(), 0755), 0);
  ASSERT_EQ(chmod(tree_.Posix().c_str(), 0755), 0);
  tree_.Mkdir("ro");     // root's, 0755: nobody else may delete in it
  tree_.Mkdir("w");
  tree_.Mkdir("data");   // root's: the home trash cannot be made
  ASSERT_EQ(chmod(tree_.Posix("data").c_str(), 0555), 0);
  ASSERT_EQ(chown(tree_.Posix("w").c_str(), 65534, 65534), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string rel = c.style == TDelStyle::delNormal ? "ro/f.txt" : "w/f.txt";
    tree_.Write(rel, "kept");
    ASSERT_EQ(chmod(tree_.Posix(rel).c_str(), 0644), 0);
    if (c.style == TDelStyle::delBitbucket) {
      ASSERT_EQ(chown(tree_.Posix(rel).c_str(), 65534, 65534), 0);
    }
    const std::string win = tree_.Win(rel);
    const int rc = RunUnprivileged([&] {
      TFileDeleter d;
      d.DelStyle = c.style;
      return DeleteAndCatch(d, win) - 65260;
    });
    EXPECT_EQ(rc, c.expected - 65260);
    EXPECT_EQ(tree_.Read(rel), "kept");
  }
}

}  // namespace
}  // namespace kv

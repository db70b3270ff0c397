#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "copyengine/ftplogmirror.h"
#include "copyengine/ftpreadwriter.h"
#include "copyengine/ftpstate.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;

// Golden records from the layout: folder record = SS[255] key at 0, Int32
// count at 256 (260 bytes); file record = SS[255] name at 0, Int32 size at
// 256, local DOS date at 260, remote DOS time at 264 (268 bytes).
Bytes Folder(std::string_view key, int32_t count) {
  return test::GoldenRecord(260).Text(0, key).Le(256, static_cast<uint32_t>(count), 4).bytes();
}
Bytes File(std::string_view name, int32_t size, uint32_t local, uint32_t remote) {
  return test::GoldenRecord(268).Text(0, name).Le(256, static_cast<uint32_t>(size), 4).Le(260, local, 4).Le(264, remote, 4).bytes();
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

constexpr uint32_t kDos1 = 0x5A8B6C21;     // 11.04.2025 13:33:02
constexpr uint32_t kDos2 = 0x5B873F0F;     // 07.12.2025 07:56:30
constexpr uint32_t kDosHigh = 0xC8210000;  // 01.01.2080 00:00:00: bit 31 set

TFTPFileRecord Rec(std::string name, int32_t size, uint32_t local = kDos1, uint32_t remote = kDos2) {
  return TFTPFileRecord{std::move(name), size, local, remote};
}

// Block A (two files) and block B (one file) as a stored file.
Bytes BlockA() { return Concat({Folder("ftp.example.org@/a", 2), File("one.txt", 10, kDos1, kDos2), File("two.txt", 20, kDos2, kDos1)}); }
Bytes BlockB() { return Concat({Folder("ftp.example.org@/b", 1), File("b.bin", -5, kDosHigh, kDos1)}); }
Bytes AB() { return Concat({BlockA(), BlockB()}); }

class FtpStateTest : public ::testing::Test {
 protected:
  void Store(const Bytes& b) { tree_.Write("FTPLog/ftp.example.org/kvftp.log", Str(b)); }
  // Stores the bytes and indexes them.
  void Load(TFTPReadWriter& rw, const Bytes& b) {
    Store(b);
    ASSERT_TRUE(rw.LoadIndex(cache_).ok);
  }
  std::string Stored() const { return tree_.Read("FTPLog/ftp.example.org/kvftp.log"); }
  bool Has(std::string_view name) const { return tree_.Exists(std::string("FTPLog/ftp.example.org/") + std::string(name)); }

  test::ScopedRegistry registry_;
  test::TempTree tree_;
  std::string cache_ = tree_.Win("FTPLog/ftp.example.org/kvftp.log");
};

// ---- Records and lists ---------------------------------------------------------

TEST(FtpStateRecords, EncodeGivesTheLayoutsBytesAndDecodeReadsThemBack) {
  const Bytes folder = Folder("host@/x/y", 7);
  EXPECT_EQ(TFTPFldrRecord({"host@/x/y", 7}).Encode(), folder);
  EXPECT_EQ(TFTPFldrRecord::Decode(folder).key, "host@/x/y");
  EXPECT_EQ(TFTPFldrRecord::Decode(folder).count, 7);

  for (const TFTPFileRecord& rec : {Rec("a.txt", 0, 0, 0), Rec("Grüße.doc", 2147483647), Rec("neg", -1, kDosHigh, 0xFFFFFFFF)}) {
    const Bytes golden = File(rec.name, rec.remoteSize, rec.localDate, rec.remoteTime);
    EXPECT_EQ(rec.Encode(), golden) << rec.name;
    EXPECT_EQ(TFTPFileRecord::Decode(golden), rec) << rec.name;
  }
  EXPECT_THROW(TFTPFileRecord::Decode(Bytes(267, 0)), std::invalid_argument);
  EXPECT_THROW(TFTPFldrRecord::Decode(Bytes(259, 0)), std::invalid_argument);
}

TEST(FtpStateLists, FileListFindsNamesWithoutCaseAndIgnoresBadIndexes) {
  TFTPFileList list;
  ASSERT_TRUE(list.Add(Rec("Alpha.TXT", 1)));
  ASSERT_TRUE(list.Add(Rec("beta", 2)));
  EXPECT_EQ(list.IndexOf("alpha.txt"), 0);
  EXPECT_EQ(list.IndexOf("BETA"), 1);
  EXPECT_EQ(list.IndexOf("gamma"), -1);

  list.Delete(-1);
  list.Delete(2);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_THROW(list.GetItem(2), std::out_of_range);

  // A name the file cannot hold is not taken in, so a save never fails on it.
  EXPECT_FALSE(list.Add(Rec(std::string(256, 'n'), 3)));
  EXPECT_FALSE(list.SetItem(0, Rec(std::string(256, 'n'), 3)));
  EXPECT_TRUE(list.Add(Rec(std::string(255, 'n'), 3)));

  EXPECT_TRUE(list.Remember(Rec("ALPHA.txt", 99)));
  EXPECT_EQ(list.GetItem(0).remoteSize, 99);
  EXPECT_EQ(list.Count(), 3);
  list.Forget("Beta");
  list.Forget("never there");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.IndexOf("beta"), -1);
}

TEST(FtpStateLists, FolderListSortsByKeyOrByCountText) {
  TFTPFldrList list;
  list.Add("h", "/b", 9);
  list.Add("h", "/A", 10);
  list.Add("h", "/c", 2);
  EXPECT_EQ(list.IndexOf("H", "/a"), 1);
  EXPECT_EQ(list.IndexOf("h", "/d"), -1);

  auto keys = [&list] {
    std::string all;
    for (int32_t i = 0; i < list.Count(); ++i) all += list.GetItem(i).key + " ";
    return all;
  };
  list.Sort(7);  // unknown mode: unchanged
  EXPECT_EQ(keys(), "h@/b h@/A h@/c ");
  list.Sort(TFTPFldrList::kByKey);
  EXPECT_EQ(keys(), "h@/A h@/b h@/c ");
  list.Sort(TFTPFldrList::kByCountText);  // "10" < "2" < "9" as texts
  EXPECT_EQ(keys(), "h@/A h@/c h@/b ");
}

// ---- Loading and selecting ------------------------------------------------------

TEST_F(FtpStateTest, LoadIndexSortsTheBlocksAndSelectFolderReadsOneWhateverTheCase) {
  TFTPReadWriter rw;
  Load(rw, Concat({BlockB(), BlockA()}));
  ASSERT_EQ(rw.Folders().Count(), 2);
  EXPECT_EQ(rw.Folders().GetItem(0).key + " " + std::to_string(rw.Folders().GetItem(0).count), "ftp.example.org@/a 2");
  EXPECT_EQ(rw.Folders().GetItem(1).key, "ftp.example.org@/b");
  EXPECT_EQ(rw.Files().Count(), 0);

  ASSERT_TRUE(rw.SelectFolder("FTP.Example.ORG", "/B").ok);
  ASSERT_EQ(rw.Files().Count(), 1);
  EXPECT_EQ(rw.Files().GetItem(0), Rec("b.bin", -5, kDosHigh, kDos1));
  ASSERT_TRUE(rw.SelectFolder("ftp.example.org", "/a").ok);
  ASSERT_EQ(rw.Files().Count(), 2);
  EXPECT_EQ(rw.Files().GetItem(1), Rec("two.txt", 20, kDos2, kDos1));

  // An unknown folder: an empty list and an index entry.
  ASSERT_TRUE(rw.SelectFolder("ftp.example.org", "/new").ok);
  EXPECT_EQ(rw.Files().Count(), 0);
  const int32_t i = rw.Folders().IndexOf("ftp.example.org", "/new");
  ASSERT_GE(i, 0);
  EXPECT_EQ(rw.Folders().GetItem(i).count, 0);
}

TEST_F(FtpStateTest, ABrokenFileIsAnErrorNamingItAndKeepsOnlyWholeBlocks) {
  struct Case {
    const char* what;
    Bytes tail;
    const char* says;
  } cases[] = {
      {"folder record cut", Bytes(100, 7), "Ordnersatz unvollständig (100 von 260 Bytes)"},
      {"negative count", Folder("ftp.example.org@/c", -3), "negative Anzahl"},
      {"records missing", Concat({Folder("ftp.example.org@/c", 2), File("x", 1, 0, 0)}), "2 Dateisätze angekündigt, nur 1"},
      {"record cut", Concat({Folder("ftp.example.org@/c", 1), Bytes(200, 0)}), "1 Dateisätze angekündigt, nur 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Store(Concat({BlockA(), c.tail}));
    TFTPReadWriter rw;
    const FtpStateResult r = rw.LoadIndex(cache_);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find(cache_), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("Block 2 bei Byte " + std::to_string(BlockA().size())), std::string::npos) << r.message;
    EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
    ASSERT_EQ(rw.Folders().Count(), 1);
    EXPECT_EQ(rw.Folders().GetItem(0).key, "ftp.example.org@/a");

    // A folder behind the break is not there; one before it still reads.
    EXPECT_TRUE(rw.SelectFolder("ftp.example.org", "/c").ok);
    EXPECT_EQ(rw.Files().Count(), 0);
    EXPECT_TRUE(rw.SelectFolder("ftp.example.org", "/a").ok);
    EXPECT_EQ(rw.Files().Count(), 2);
  }
}

TEST_F(FtpStateTest, SelectingTheCurrentFolderAgainKeepsTheListButClearReadsItAfresh) {
  TFTPReadWriter rw;
  Load(rw, BlockA());
  rw.SelectFolder("ftp.example.org", "/a");
  rw.Files().Forget("one.txt");
  rw.SelectFolder("ftp.example.org", "/a");
  EXPECT_EQ(rw.Files().Count(), 1);

  rw.Clear();
  EXPECT_EQ(rw.Files().Count(), 0);
  EXPECT_TRUE(rw.CurrentKey().empty());
  // The index is empty after Clear: the folder counts as new (nothing read).
  rw.SelectFolder("ftp.example.org", "/a");
  EXPECT_EQ(rw.Files().Count(), 0);

  ASSERT_TRUE(rw.LoadIndex(cache_).ok);
  rw.SelectFolder("ftp.example.org", "/a");
  EXPECT_EQ(rw.Files().Count(), 2);
}

// ---- Saving -------------------------------------------------------------------

TEST_F(FtpStateTest, SavingRewritesABlockInPlaceAndAppendsANewOne) {
  TFTPReadWriter rw;
  Load(rw, AB());

  // Selected in another case: the block keeps its stored key.
  ASSERT_TRUE(rw.SelectFolder("FTP.example.org", "/A").ok);
  rw.Files().Remember(Rec("two.txt", 21, kDos1, kDos1));
  rw.Files().Remember(Rec("three.txt", 30));
  const FtpStateResult saved = rw.SaveFolder("FTP.example.org", "/A");
  ASSERT_TRUE(saved.ok) << saved.message;
  EXPECT_TRUE(saved.message.empty());
  const Bytes newA = Concat({Folder("ftp.example.org@/a", 3), File("one.txt", 10, kDos1, kDos2),
                             File("two.txt", 21, kDos1, kDos1), File("three.txt", 30, kDos1, kDos2)});
  EXPECT_EQ(Stored(), Str(Concat({newA, BlockB()})));
  const TFTPFldrRecord a = rw.Folders().GetItem(rw.Folders().IndexOf("ftp.example.org", "/a"));
  EXPECT_EQ(a.key + " " + std::to_string(a.count), "ftp.example.org@/a 3");

  ASSERT_TRUE(rw.SelectFolder("ftp.example.org", "/c").ok);
  rw.Files().Add(Rec("c", 1));
  ASSERT_TRUE(rw.SaveFolder("ftp.example.org", "/c").ok);
  EXPECT_EQ(Stored(), Str(Concat({newA, BlockB(), Folder("ftp.example.org@/c", 1), File("c", 1, kDos1, kDos2)})));
  EXPECT_FALSE(Has("kvftp.bak") || Has("kvftp.log1"));
}

TEST_F(FtpStateTest, SavingAnEmptyListRemovesTheBlockAndKeepsTheOthers) {
  const Bytes blockC = Concat({Folder("ftp.example.org@/c", 1), File("c", 1, 0, 0)});
  TFTPReadWriter rw;
  Load(rw, Concat({BlockA(), BlockB(), blockC}));
  rw.SelectFolder("ftp.example.org", "/b");
  rw.Files().Forget("B.BIN");
  ASSERT_TRUE(rw.SaveFolder("ftp.example.org", "/b").ok);
  EXPECT_EQ(Stored(), Str(Concat({BlockA(), blockC})));

  // A folder the file never held: nothing to remove, the file stays.
  rw.SelectFolder("ftp.example.org", "/zzz");
  ASSERT_TRUE(rw.SaveFolder("ftp.example.org", "/zzz").ok);
  EXPECT_EQ(Stored(), Str(Concat({BlockA(), blockC})));
  EXPECT_FALSE(Has("kvftp.bak"));
}

TEST_F(FtpStateTest, TheFirstSaveCreatesTheFileAndItsFolders) {
  TFTPReadWriter rw;
  ASSERT_TRUE(rw.LoadIndex(cache_).ok);
  EXPECT_EQ(rw.Folders().Count(), 0);
  rw.SelectFolder("ftp.example.org", "/");
  // An empty list with no file: nothing is written.
  ASSERT_TRUE(rw.SaveFolder("ftp.example.org", "/").ok);
  EXPECT_FALSE(Has("kvftp.log"));

  rw.Files().Add(Rec("x", 5));
  ASSERT_TRUE(rw.SaveFolder("ftp.example.org", "/").ok);
  EXPECT_EQ(Stored(), Str(Concat({Folder("ftp.example.org@/", 1), File("x", 5, kDos1, kDos2)})));
}

TEST_F(FtpStateTest, WhileAnotherFolderIsCurrentOrTheKeyIsTooLongNothingIsSavedAndTheResultSaysSo) {
  TFTPReadWriter rw;
  Load(rw, AB());
  rw.SelectFolder("ftp.example.org", "/a");
  rw.Files().Add(Rec("only-in-a", 1));
  // The list holds /a's records; writing them as /b's block would mix the
  // folders' states.
  const FtpStateResult other = rw.SaveFolder("ftp.example.org", "/b");
  EXPECT_FALSE(other.ok);
  EXPECT_NE(other.message.find("ftp.example.org@/a"), std::string::npos) << other.message;
  EXPECT_NE(other.message.find("ftp.example.org@/b"), std::string::npos) << other.message;
  EXPECT_TRUE(rw.SaveFolder("ftp.example.org", "").ok);
  EXPECT_EQ(Stored(), Str(AB()));
  EXPECT_EQ(rw.CurrentKey(), "ftp.example.org@/a");
  EXPECT_EQ(rw.Files().Count(), 3);

  TFTPReadWriter closed;
  closed.SelectFolder("ftp.example.org", "/a");
  closed.Files().Add(Rec("x", 1));
  EXPECT_TRUE(closed.SaveFolder("ftp.example.org", "/a").ok);  // no cache file named: nothing
  EXPECT_EQ(Stored(), Str(AB()));

  // A key too long for the file.
  const std::string folder = "/" + std::string(250, 'f');
  rw.SelectFolder("ftp.example.org", folder);
  const FtpStateResult tooLong = rw.SaveFolder("ftp.example.org", folder);
  EXPECT_FALSE(tooLong.ok);
  EXPECT_NE(tooLong.message.find("zu lang"), std::string::npos) << tooLong.message;
  EXPECT_EQ(Stored(), Str(AB()));
}

// Records given for a folder that was never selected are stored, and so
// are the folder's records that the file already held.
TEST_F(FtpStateTest, AFolderNeverSelectedIsAddedWithoutLosingItsStoredRecords) {
  TFTPReadWriter rw;
  Load(rw, AB());
  rw.Files().Add(Rec("n.txt", 7));
  FtpStateResult r = rw.SaveFolder("ftp.example.org", "/new");
  ASSERT_TRUE(r.ok) << r.message;
  const Bytes blockNew = Concat({Folder("ftp.example.org@/new", 1), File("n.txt", 7, kDos1, kDos2)});
  EXPECT_EQ(Stored(), Str(Concat({BlockA(), BlockB(), blockNew})));
  ASSERT_GE(rw.Folders().IndexOf("ftp.example.org", "/new"), 0);
  EXPECT_EQ(rw.Folders().GetItem(rw.Folders().IndexOf("ftp.example.org", "/new")).count, 1);
  EXPECT_EQ(rw.CurrentKey(), "ftp.example.org@/new");

  // A stored folder, in another case: one record given anew, one added; the
  // record the caller did not mention stays.
  TFTPReadWriter again;
  ASSERT_TRUE(again.LoadIndex(cache_).ok);
  again.Files().Add(Rec("TWO.txt", 22, kDos2, kDos2));
  again.Files().Add(Rec("three.txt", 3));
  r = again.SaveFolder("FTP.example.org", "/A");
  ASSERT_TRUE(r.ok) << r.message;
  const Bytes newA = Concat({Folder("ftp.example.org@/a", 3), File("one.txt", 10, kDos1, kDos2),
                             File("TWO.txt", 22, kDos2, kDos2), File("three.txt", 3, kDos1, kDos2)});
  EXPECT_EQ(Stored(), Str(Concat({newA, BlockB(), blockNew})));

  // Nothing given: the stored block stays as it was.
  TFTPReadWriter empty;
  ASSERT_TRUE(empty.LoadIndex(cache_).ok);
  ASSERT_TRUE(empty.SaveFolder("ftp.example.org", "/b").ok);
  EXPECT_EQ(Stored(), Str(Concat({newA, BlockB(), blockNew})));
  EXPECT_FALSE(Has("kvftp.bak") || Has("kvftp.log1"));
}

TEST_F(FtpStateTest, SavingDropsABrokenTailAndALaterBlockWithTheSameKey) {
  Store(Concat({BlockA(), Folder("ftp.example.org@/lost", 5), File("x", 1, 0, 0)}));
  TFTPReadWriter rw;
  EXPECT_FALSE(rw.LoadIndex(cache_).ok);
  rw.SelectFolder("ftp.example.org", "/b");
  rw.Files().Add(Rec("b.bin", -5, kDosHigh, kDos1));
  const FtpStateResult r = rw.SaveFolder("ftp.example.org", "/b");
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_NE(r.message.find("unlesbare Rest ab Byte " + std::to_string(BlockA().size())), std::string::npos)
      << r.message;
  EXPECT_EQ(Stored(), Str(AB()));
  EXPECT_TRUE(rw.LoadIndex(cache_).ok);

  Store(Concat({BlockA(), BlockB(), Folder("FTP.example.org@/A", 1), File("old", 1, 0, 0)}));
  ASSERT_TRUE(rw.LoadIndex(cache_).ok);
  rw.SelectFolder("ftp.example.org", "/a");
  EXPECT_EQ(rw.Files().Count(), 2);  // the first block wins
  ASSERT_TRUE(rw.SaveFolder("ftp.example.org", "/a").ok);
  EXPECT_EQ(Stored(), Str(AB()));
}

// ---- Failures on the way to the new file ------------------------------------------

// Platform file operations with one step made to fail.
struct FailingOps {
  std::string failMoveTo, failMoveFrom;  // a move to / from this path fails
  bool failWrite = false;
  std::vector<std::string> moves;

  FtpStateFileOps Make() {
    const FtpStateFileOps real = FtpStateFileOps::Platform();
    FtpStateFileOps ops;
    ops.move = [this, real](std::string_view from, std::string_view to) {
      moves.push_back(std::string(from) + " -> " + std::string(to));
      if (to != failMoveTo && from != failMoveFrom) return real.move(from, to);
      platform::SetLastError(EIO);
      return false;
    };
    ops.write = [this, real](std::string_view path, const std::vector<uint8_t>& bytes) {
      if (!failWrite) return real.write(path, bytes);
      platform::SetLastError(ENOSPC);
      return false;
    };
    return ops;
  }
};

class FtpStateFailureTest : public FtpStateTest {
 protected:
  // Loads A+B and changes /a, ready to save.
  void Prepare(TFTPReadWriter& rw) {
    Load(rw, AB());
    rw.SelectFolder("ftp.example.org", "/a");
    rw.Files().Add(Rec("new", 1));
  }
  std::string bak() const { return TFTPReadWriter::TempFileName(cache_); }
  std::string log1() const { return TFTPReadWriter::BackupFileName(cache_); }
};

TEST_F(FtpStateFailureTest, AFailedStepNeverCostsTheStoredState) {
  struct Case {
    const char* what;
    std::string failFrom, failTo;
    bool failWrite;
    std::string says;
    bool logStays, bakLeft;  // else the backup holds the state until the next load
  };
  const Case cases[] = {
      {"final move, restored", bak(), "", false, "wiederhergestellt", true, false},
      {"final move and the way back", bak(), cache_, false, log1(), false, false},
      {"cache file cannot go aside", "", log1(), false, "", true, true},
      {"write", "", "", true, platform::SysErrorMessage(ENOSPC), true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(tree_.Posix("FTPLog/ftp.example.org/kvftp.bak").c_str());
    if (c.failWrite) tree_.Write("FTPLog/ftp.example.org/kvftp.bak", "left over");
    FailingOps fail;
    fail.failMoveFrom = c.failFrom;
    fail.failMoveTo = c.failTo;
    fail.failWrite = c.failWrite;
    TFTPReadWriter rw(fail.Make());
    Prepare(rw);
    const FtpStateResult r = rw.SaveFolder("ftp.example.org", "/a");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
    EXPECT_EQ(Has("kvftp.bak"), c.bakLeft);
    if (c.failWrite) {
      EXPECT_TRUE(fail.moves.empty());
    }
    if (c.failFrom == bak() && c.logStays) {
      EXPECT_EQ(fail.moves, (std::vector<std::string>{cache_ + " -> " + log1(), bak() + " -> " + cache_,
                                                      log1() + " -> " + cache_}));
    }
    if (!c.logStays) {
      EXPECT_FALSE(Has("kvftp.log"));
      EXPECT_EQ(tree_.Read("FTPLog/ftp.example.org/kvftp.log1"), Str(AB()));
      TFTPReadWriter next;
      ASSERT_TRUE(next.LoadIndex(cache_).ok);
      EXPECT_EQ(next.Folders().Count(), 2);
    }
    EXPECT_EQ(Stored(), Str(AB()));
    EXPECT_FALSE(Has("kvftp.log1"));
  }
}

TEST_F(FtpStateFailureTest, AnUnreadableCacheFileIsLeftAlone) {
  Store(AB());
  // The child reaches the folder but may not read the file.
  for (const char* rel : {"", "FTPLog", "FTPLog/ftp.example.org"}) ASSERT_EQ(chmod(tree_.Posix(rel).c_str(), 0755), 0);
  ASSERT_EQ(chmod(tree_.Posix("FTPLog/ftp.example.org/kvftp.log").c_str(), 0), 0);
  const std::string cache = cache_;
  const int rc = test::RunUnprivileged([&] {
    TFTPReadWriter rw;
    if (rw.LoadIndex(cache).ok) return 1;
    rw.SelectFolder("ftp.example.org", "/a");
    rw.Files().Add(Rec("x", 1));
    const FtpStateResult r = rw.SaveFolder("ftp.example.org", "/a");
    if (r.ok || r.message.find("konnte nicht gelesen werden") == std::string::npos) return 2;
    // Not selected: the stored records cannot be read to keep them, so
    // nothing is written, and the records given stay in the list.
    TFTPReadWriter unselected;
    unselected.LoadIndex(cache);
    unselected.Files().Add(Rec("y", 2));
    const FtpStateResult u = unselected.SaveFolder("ftp.example.org", "/a");
    if (u.ok || u.message.find("konnte nicht gelesen werden") == std::string::npos) return 3;
    return unselected.Files().Count() == 1 && unselected.CurrentKey().empty() ? 0 : 4;
  });
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(chmod(tree_.Posix("FTPLog/ftp.example.org/kvftp.log").c_str(), 0600), 0);
  EXPECT_EQ(Stored(), Str(AB()));
}

// ---- The round trip with the server -------------------------------------------------

// An FTP start folder that is a local folder.
struct FtpLink {
  bool connected = true, startFolderOk = true;
  bool downloadFails = false;  // writes half of the file, then reports an error
  bool uploadFails = false;
};

class FakeFtp : public IFtpLogTransfer {
 public:
  using Link = FtpLink;
  explicit FakeFtp(const test::TempTree& tree, Link link = {}) : link(link), tree_(tree) {}
  Link link;
  std::vector<std::string> calls;

  bool Connected() override { return link.connected; }
  bool EnterStartFolder() override {
    calls.push_back("cd");
    return link.startFolderOk;
  }
  bool IsListed(std::string_view name) override { return tree_.Exists("server/" + std::string(name)); }
  bool Download(std::string_view remote, std::string_view local) override {
    calls.push_back("get " + std::string(remote));
    if (platform::FileExists(local)) return false;  // would resume onto it
    const std::string data = tree_.Read("server/" + std::string(remote));
    const std::string sent = link.downloadFails ? data.substr(0, data.size() / 2) : data;
    platform::WriteFileAtomic(local, sent.data(), sent.size());
    return !link.downloadFails;
  }
  bool Upload(std::string_view local, std::string_view remote) override {
    calls.push_back("put " + std::string(remote));
    if (link.uploadFails) return false;
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(local, bytes)) return false;
    tree_.Write("server/" + std::string(remote), Str(bytes));
    return true;
  }

 private:
  const test::TempTree& tree_;
};

class FtpLogMirrorTest : public FtpStateTest {
 protected:
  void OnServer(const Bytes& b) { tree_.Write("server/kvftp.log", Str(b)); }
  std::string OnServer() const { return tree_.Read("server/kvftp.log"); }
  FakeFtp ftp_{tree_};
};

TEST(FtpLogMirrorNames, AHostNamesOneFolderBelowTheLogFolder) {
  EXPECT_EQ(FtpLogMirrorFile("C:\\w\\FTPLog\\", "ftp.example.org"), "C:\\w\\FTPLog\\ftp.example.org\\kvftp.log");
  for (const char* host : {"", ".", "..", "..\\..\\x", "a/b", "a\\b", "a\nb"}) {
    EXPECT_EQ(FtpLogMirrorFile("C:\\w\\FTPLog\\", host), "") << host;
  }
}

TEST_F(FtpLogMirrorTest, LoadingTakesTheServersLogOrElseKeepsTheOlderMirror) {
  struct Case {
    const char* what;
    Bytes server;  // empty: not on the server
    FakeFtp::Link link;
    const char* says;
    Bytes stored;
    int32_t folders;
  };
  const Case cases[] = {
      {"the server's log replaces the mirror", AB(), {}, "", AB(), 2},
      {"a broken download", AB(), {.downloadFails = true}, "nicht vom Server geladen", BlockA(), 1},
      {"no log on the server", {}, {}, "", BlockA(), 1},
      {"no start folder", AB(), {.startFolderOk = false}, "", BlockA(), 1},
      {"not connected: nothing indexed, nothing to save to", BlockB(), {.connected = false}, "", BlockA(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Store(BlockA());
    std::remove(tree_.Posix("server/kvftp.log").c_str());
    if (!c.server.empty()) OnServer(c.server);
    if (c.link.downloadFails) tree_.Write("FTPLog/ftp.example.org/kvftp.log.part", "from an earlier run");
    FakeFtp ftp(tree_, c.link);
    TFTPReadWriter rw;
    ASSERT_TRUE(rw.LoadIndex(cache_).ok);
    const FtpStateResult r = LoadFtpLog(ftp, rw, cache_);
    EXPECT_TRUE(r.ok);
    EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
    EXPECT_EQ(Stored(), Str(c.stored));
    EXPECT_EQ(rw.Folders().Count(), c.folders);
    EXPECT_EQ(rw.CacheFile(), c.link.connected ? cache_ : "");
    EXPECT_FALSE(Has("kvftp.log.part") || Has("kvftp.log1"));
    if (!c.link.startFolderOk) {
      EXPECT_EQ(std::count(ftp.calls.begin(), ftp.calls.end(), "get kvftp.log"), 0);
    }
  }
}

// A file where the host's folder should be: the mirror cannot be had, and
// an earlier server's mirror must not take this server's blocks.
TEST_F(FtpLogMirrorTest, NoMirrorFolderLeavesNothingToSave) {
  Store(BlockA());
  OnServer(BlockB());
  TFTPReadWriter rw;
  ASSERT_TRUE(LoadFtpLog(ftp_, rw, cache_).ok);
  tree_.Write("FTPLog/other.host", "not a folder");
  EXPECT_FALSE(LoadFtpLog(ftp_, rw, tree_.Win("FTPLog/other.host/kvftp.log")).ok);
  EXPECT_TRUE(rw.CacheFile().empty());
  rw.SelectFolder("other.host", "/");
  rw.Files().Add(Rec("x", 1));
  EXPECT_TRUE(rw.SaveFolder("other.host", "/").ok);
  EXPECT_EQ(SaveFtpLog(ftp_, rw), FtpLogUpload::Skipped);
  EXPECT_EQ(Stored(), Str(BlockB()));
  EXPECT_EQ(OnServer(), Str(BlockB()));
  EXPECT_FALSE(LoadFtpLog(ftp_, rw, "").ok);
}

TEST_F(FtpLogMirrorTest, SavingSendsTheStateFileBackAndReportsAFailedUpload) {
  OnServer(BlockA());
  TFTPReadWriter rw;
  ASSERT_TRUE(LoadFtpLog(ftp_, rw, cache_).ok);
  rw.SelectFolder("ftp.example.org", "/b");
  rw.Files().Add(Rec("b.bin", -5, kDosHigh, kDos1));
  ASSERT_TRUE(rw.SaveFolder("ftp.example.org", "/b").ok);
  EXPECT_EQ(SaveFtpLog(ftp_, rw), FtpLogUpload::Uploaded);
  EXPECT_EQ(OnServer(), Str(AB()));

  // The old file is still listed, but the transfer failed.
  ftp_.link = {.uploadFails = true};
  EXPECT_EQ(SaveFtpLog(ftp_, rw), FtpLogUpload::NotArrived);
  ftp_.link = {.startFolderOk = false};
  EXPECT_EQ(SaveFtpLog(ftp_, rw), FtpLogUpload::Skipped);
  ftp_.link = {.connected = false};
  EXPECT_EQ(SaveFtpLog(ftp_, rw), FtpLogUpload::Skipped);
}

}  // namespace
}  // namespace kv

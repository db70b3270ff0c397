#include "copyengine/filecopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "copyengine/tests/fake_windows.h"
#include "platform/files.h"
#include "platform/time.h"
#include "testsupport/acl.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::RightsOf;
using test::ScopedFakeCopyWindow;
using test::TempTree;

// Deterministic, non-repeating content so that a block copied to the wrong
// offset shows.
std::string Content(size_t size, unsigned seed = 1) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

class FileCopyTest : public ::testing::Test {
 protected:
  // A job time as the job file carries it.
  static platform::FileTime JobTime() {
    return *platform::FileTimeFromDos(platform::DosFromCivil({2019, 7, 14, 13, 37, 42}));
  }

  CopyFileRequest Request(std::string_view src, std::string_view dst, int64_t size) const {
    CopyFileRequest r;
    r.source = tree.Win(src);
    r.target = tree.Win(dst);
    r.size = size;
    r.lastWrite = JobTime();
    return r;
  }

  CopyFileResult Copy(const CopyFileRequest& request) {
    TtfCopy window;
    return CopyFileWithProgress(request, window);
  }

  test::ScopedRegistry registry;
  test::ScopedEnv tz{"TZ", "Europe/Berlin"};
  TempTree tree;
};

TEST_F(FileCopyTest, CopiesContentAndModeGivesTheJobTimeAndShowsTheFile) {
  // 14.07.2019 13:37:42 in Berlin is 11:37:42 UTC (summer time).
  struct tm utc = {.tm_sec = 42, .tm_min = 37, .tm_hour = 11, .tm_mday = 14, .tm_mon = 6, .tm_year = 119};
  const time_t jobTime = timegm(&utc);
  for (size_t size : {size_t{0}, size_t{1}, size_t{8191}, size_t{8192}, kCopyBlockSize, kCopyBlockSize * 2 + 17}) {
    SCOPED_TRACE(size);
    const std::string content = Content(size, static_cast<unsigned>(size));
    tree.Write("src/f.bin", content);
    ::chmod(tree.Posix("src/f.bin").c_str(), 0640);
    tree.SetMTime("src/f.bin", 1600000001, 123456789);
    const std::string dst = "dst" + std::to_string(size) + "/f.bin";
    tree.Mkdir("dst" + std::to_string(size));

    TtfCopy window;
    const CopyFileResult r = CopyFileWithProgress(Request("src/f.bin", dst, static_cast<int64_t>(size)), window);

    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.message, "Die Datei wurde kopiert.");
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(tree.Read(dst), content);
    struct stat st {};
    ASSERT_EQ(::stat(tree.Posix(dst).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, jobTime);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    EXPECT_TRUE(platform::ListFolder(tree.WinFolder("dst" + std::to_string(size))).temporaries.empty());
    EXPECT_EQ(window.label(CopyLabel::tlSrc).path, tree.Win("src/f.bin"));
    EXPECT_EQ(window.label(CopyLabel::tlDest).path, tree.Win(dst));
    EXPECT_EQ(window.label(CopyLabel::tlFileSize).text, FormatSizeText(static_cast<int64_t>(size)));
    EXPECT_EQ(window.label(CopyLabel::tlFileSize).rightEdge, 8 + 505);
    EXPECT_EQ(window.bar(CopyBar::pgFile).max, static_cast<int32_t>(size));
    EXPECT_EQ(window.bar(CopyBar::pgFile).position, static_cast<int32_t>(size));
  }
}

TEST_F(FileCopyTest, AReadOnlyTargetIsReplacedAndTakesTheSourceAttributes) {
  for (const auto& [sourceMode, readOnlyAfter] : {std::pair{0644, false}, {0444, true}}) {
    tree.Write("new.txt", "new content");
    ::chmod(tree.Posix("new.txt").c_str(), sourceMode);
    tree.Write("old.txt", "old");
    ::chmod(tree.Posix("old.txt").c_str(), 0444);
    const CopyFileResult r = Copy(Request("new.txt", "old.txt", 11));
    EXPECT_EQ(r.status, 1) << r.message;
    EXPECT_EQ(tree.Read("old.txt"), "new content");
    EXPECT_EQ((platform::GetFileAttributes(tree.Win("old.txt")) & platform::kAttrReadOnly) != 0, readOnlyAfter);
    EXPECT_TRUE(platform::ListFolder(tree.WinFolder()).temporaries.empty());
    ::chmod(tree.Posix("old.txt").c_str(), 0644);
    ::chmod(tree.Posix("new.txt").c_str(), 0644);
  }
}

// Every copy, new or replacing, writes under a temporary name of the
// system's own; a user's file named like the old temporary ("t.bin.sync")
// is data like any other.
TEST_F(FileCopyTest, NewContentGoesUnderATemporaryNameWhileTheTargetStays) {
  const std::string content = Content(kCopyBlockSize * 3);
  tree.Write("src.bin", content);
  for (bool targetExists : {true, false}) {
    SCOPED_TRACE(targetExists);
    if (targetExists) tree.Write("t.bin", "previous");
    else ::unlink(tree.Posix("t.bin").c_str());
    tree.Write("t.bin.sync", "the user's own file");
    int midCopyChecks = 0;
    ScopedFakeCopyWindow view([&](const CopyWindowSnapshot& s, const platform::HandlerRef&) {
      const CopyBarState& bar = s.bar(CopyBar::pgFile);
      if (bar.position == 0 || bar.position == bar.max) return;
      ++midCopyChecks;
      EXPECT_EQ(platform::ListFolder(tree.WinFolder()).temporaries.size(), 1u);
      if (targetExists) {
        EXPECT_EQ(tree.Read("t.bin"), "previous");
      } else {
        EXPECT_FALSE(tree.Exists("t.bin"));
      }
    });
    EXPECT_EQ(Copy(Request("src.bin", "t.bin", static_cast<int64_t>(content.size()))).status, 1);
    EXPECT_GT(midCopyChecks, 0);
    EXPECT_EQ(tree.Read("t.bin"), content);
    EXPECT_EQ(tree.Read("t.bin.sync"), "the user's own file");
    EXPECT_TRUE(platform::ListFolder(tree.WinFolder()).temporaries.empty());
  }
}

// Writing into the existing file would have kept its owner, group, mode and
// ACL; a replacement takes them over, unless the source's rights are asked
// for.
TEST_F(FileCopyTest, AReplacedFileKeepsItsOwnRightsUnlessTheSourcesAreAskedFor) {
  if (!test::IsRoot()) GTEST_SKIP() << "giving files other owners needs root";
  tree.Write("src.txt", "new");
  ::chmod(tree.Posix("src.txt").c_str(), 0644);
  for (bool copyRights : {false, true}) {
    SCOPED_TRACE(copyRights);
    tree.Write("t.txt", "old");
    ASSERT_EQ(::chown(tree.Posix("t.txt").c_str(), 1234, 1235), 0);
    ::chmod(tree.Posix("t.txt").c_str(), 0660);
    test::MustRun("setfacl -m u:4321:r " + tree.Posix("t.txt"));
    const std::string acl = test::AclOf(tree.Posix("t.txt"));
    CopyFileRequest request = Request("src.txt", "t.txt", 3);
    request.copyRights = copyRights;
    ASSERT_EQ(Copy(request).status, 1);
    EXPECT_EQ(tree.Read("t.txt"), "new");
    if (copyRights) {
      EXPECT_EQ(RightsOf(tree.Posix("t.txt")), (test::FileRights{0, 0, 0644}));
    } else {
      EXPECT_EQ(RightsOf(tree.Posix("t.txt")), (test::FileRights{1234, 1235, 0660}));
      EXPECT_EQ(test::AclOf(tree.Posix("t.txt")), acl);
    }
  }
}

TEST_F(FileCopyTest, FailuresToOpenNameTheSideAndTheReason) {
  tree.Write("src.txt", "abc");
  tree.Write("old.txt", "old");
  tree.Mkdir("folder");
  struct Case {
    const char* source;
    const char* target;
    const char* message;
  } cases[] = {
      {"missing.txt", "old.txt", "Fehler beim Öffnen der Quelle: No such file or directory"},
      {"folder", "new.txt", "Fehler beim Öffnen der Quelle: Is a directory"},
      {"src.txt", "nofolder/x.txt", "Fehler beim Öffnen des Ziels: No such file or directory"},
      {"src.txt", "folder", "Fehler beim Öffnen des Ziels: Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const CopyFileResult r = Copy(Request(c.source, c.target, 3));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.message, c.message);
  }
  EXPECT_EQ(tree.Read("old.txt"), "old");
  EXPECT_TRUE(platform::ListFolder(tree.WinFolder()).temporaries.empty());
  EXPECT_FALSE(tree.Exists("new.txt"));
}

TEST_F(FileCopyTest, MessagesAreCutToTheCallersCapacityWithoutSplittingACharacter) {
  CopyFileRequest request = Request("missing.txt", "x.txt", 3);
  request.maxMessageLength = 13;  // "Fehler beim " is 12 bytes, "Ö" takes two
  EXPECT_EQ(Copy(request).message, "Fehler beim ");
  request.maxMessageLength = 14;
  EXPECT_EQ(Copy(request).message, "Fehler beim Ö");
}

TEST_F(FileCopyTest, ACancelMidCopyKeepsTheOldTargetAndAnsweredNoLetsTheCopyFinish) {
  const std::string content = Content(kCopyBlockSize * 3 + 5);
  tree.Write("big.bin", content);
  for (const auto& [targetExists, confirmed] : {std::pair{true, true}, {false, true}, {true, false}}) {
    SCOPED_TRACE(testing::Message() << "target " << targetExists << ", confirmed " << confirmed);
    if (targetExists) tree.Write("t.bin", "previous version");
    else ::unlink(tree.Posix("t.bin").c_str());
    int clicks = 0;
    ScopedFakeCopyWindow view(
        [&](const CopyWindowSnapshot& s, const platform::HandlerRef& model) {
          if (clicks == 0 && s.bar(CopyBar::pgFile).position > 0) {
            ++clicks;
            model.Post(kCopyMsgAbortClick);
          }
        },
        confirmed);
    TtfCopy window;
    const CopyFileResult r =
        CopyFileWithProgress(Request("big.bin", "t.bin", static_cast<int64_t>(content.size())), window);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(r.aborted, confirmed);
    EXPECT_EQ(AbortRequested(), confirmed);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(platform::ListFolder(tree.WinFolder()).temporaries.empty());
    if (!confirmed) {
      EXPECT_EQ(tree.Read("t.bin"), content);
      continue;
    }
    EXPECT_LT(window.bar(CopyBar::pgFile).position, window.bar(CopyBar::pgFile).max);
    EXPECT_TRUE(window.label(CopyLabel::tlAbort1).visible);
    EXPECT_TRUE(window.label(CopyLabel::tlabort2).visible);
    EXPECT_EQ(window.label(CopyLabel::tlSrc).text, "");
    EXPECT_EQ(window.label(CopyLabel::Label1).text, "");
    if (targetExists) EXPECT_EQ(tree.Read("t.bin"), "previous version");
    else EXPECT_FALSE(tree.Exists("t.bin"));
  }
}

TEST_F(FileCopyTest, ACancelWhosePartialTargetCannotBeRemovedSaysSo) {
  const std::string content = Content(kCopyBlockSize * 3 + 5);
  tree.Write("src/big.bin", content);
  tree.Mkdir("pub");
  for (const auto& [rel, mode] : {std::pair{"", 0755}, {"src", 0755}, {"src/big.bin", 0644}, {"pub", 0777}})
    ::chmod(tree.Posix(rel).c_str(), mode);
  ::chmod(registry.Directory().c_str(), 0755);
  const CopyFileRequest request = Request("src/big.bin", "pub/out/t.bin", static_cast<int64_t>(content.size()));
  const std::string out = tree.Posix("pub/out");
  const int outcome = test::RunUnprivileged([&] {
    if (::mkdir(out.c_str(), 0755) != 0) return 2;
    bool clicked = false;
    ScopedFakeCopyWindow view(
        [&](const CopyWindowSnapshot& s, const platform::HandlerRef& model) {
          if (clicked || s.bar(CopyBar::pgFile).position == 0) return;
          clicked = true;
          ::chmod(out.c_str(), 0555);  // the partial file can no longer be removed
          model.Post(kCopyMsgAbortClick);
        },
        true);
    TtfCopy window;
    const CopyFileResult r = CopyFileWithProgress(request, window);
    return r.aborted && r.status == 3 && r.message.starts_with("Der Kopiervorgang wurde abgebrochen") ? 0 : 1;
  });
  EXPECT_EQ(outcome, 0);
  EXPECT_FALSE(tree.Exists("pub/out/t.bin"));
  EXPECT_EQ(platform::ListFolder(tree.WinFolder("pub/out")).temporaries.size(), 1u);
}

// Compares the byte ranges that hold data in `a` with the same ranges of `b`.
void ExpectDataRangesEqual(int a, int b, off_t size) {
  std::vector<char> x(1 << 20), y(1 << 20);
  off_t pos = 0;
  while (pos < size) {
    const off_t start = ::lseek(a, pos, SEEK_DATA);
    if (start < 0) break;
    off_t end = ::lseek(a, start, SEEK_HOLE);
    for (off_t at = start; at < end;) {
      const size_t n = static_cast<size_t>(std::min<off_t>(end - at, static_cast<off_t>(x.size())));
      ASSERT_EQ(::pread(a, x.data(), n, at), static_cast<ssize_t>(n));
      ASSERT_EQ(::pread(b, y.data(), n, at), static_cast<ssize_t>(n));
      ASSERT_EQ(std::memcmp(x.data(), y.data(), n), 0) << "at offset " << at;
      at += static_cast<off_t>(n);
    }
    pos = end;
  }
}

TEST_F(FileCopyTest, ASparseFileOfFiveGibibytesIsCopiedExactlyAndStaysSparse) {
  constexpr off_t kSize = off_t{5} << 30;
  const std::string src = tree.Posix("sparse.img");
  {
    int fd = ::open(src.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, kSize), 0);
    const std::string a = Content(64 << 10, 7), b = Content(100 << 10, 8);
    ASSERT_EQ(::pwrite(fd, a.data(), a.size(), 0), static_cast<ssize_t>(a.size()));
    ASSERT_EQ(::pwrite(fd, b.data(), b.size(), (off_t{5} << 29) + 12345), static_cast<ssize_t>(b.size()));
    ASSERT_EQ(::pwrite(fd, "Z", 1, kSize - 1), 1);
    ::close(fd);
  }
  TtfCopy window;
  const CopyFileResult r = CopyFileWithProgress(Request("sparse.img", "copy.img", kSize), window);
  ASSERT_EQ(r.status, 1) << r.message;

  const std::string dst = tree.Posix("copy.img");
  struct stat st {};
  ASSERT_EQ(::stat(dst.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, kSize);
  EXPECT_LT(st.st_blocks * 512, 64 << 20) << "the holes were written out";
  int a = ::open(src.c_str(), O_RDONLY), b = ::open(dst.c_str(), O_RDONLY);
  ExpectDataRangesEqual(a, b, kSize);
  ExpectDataRangesEqual(b, a, kSize);
  ::close(a);
  ::close(b);

  EXPECT_EQ(window.bar(CopyBar::pgFile).max, 536870912);
  EXPECT_EQ(window.bar(CopyBar::pgFile).position, 536870912);
  EXPECT_EQ(window.label(CopyLabel::tlFileSize).text, "5,00 GB");
  std::vector<uint64_t> sizes;
  for (const platform::DirEntry& e : platform::ListFolder(tree.WinFolder()).entries)
    if (e.name == "copy.img") sizes.push_back(GetSearchRecSize(e));
  EXPECT_EQ(sizes, std::vector<uint64_t>{5368709120u});
}

TEST_F(FileCopyTest, AFullDiskIsAWriteErrorAndLeavesTheOldTargetAsItWas) {
  if (!test::IsRoot()) GTEST_SKIP() << "mounting a small tmpfs needs root";
  // A small file system of its own (4 MiB), so that the disk really runs full.
  test::ScopedTmpfs disk(tree.Posix("disk"));
  if (!disk.mounted()) GTEST_SKIP() << "tmpfs cannot be mounted here: " << std::strerror(errno);
  tree.Write("big.bin", Content(6 << 20));
  tree.Write("disk/old.bin", "old target");
  tree.Write("disk/local.bin", Content(1600 << 10, 3));
  tree.Write("disk/fill.bin", Content(2200 << 10, 4));  // leaves less than the local file
  struct Case {
    const char* source;
    const char* target;
    int64_t size;
  } cases[] = {
      {"big.bin", "disk/new.bin", 6 << 20},            // through a buffer: another file system
      {"big.bin", "disk/old.bin", 6 << 20},            // replacing
      {"disk/local.bin", "disk/l2.bin", 1600 << 10},  // within the small disk
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const CopyFileResult r = Copy(Request(c.source, c.target, c.size));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.message, "Schreibfehler: Bitte prüfen Sie den freien Speicherplatz Ihrer Medien!");
    EXPECT_TRUE(platform::ListFolder(tree.WinFolder("disk")).temporaries.empty());
  }
  EXPECT_EQ(tree.Read("disk/old.bin"), "old target");
  EXPECT_FALSE(tree.Exists("disk/new.bin"));
  EXPECT_FALSE(tree.Exists("disk/l2.bin"));
}

TEST_F(FileCopyTest, AFolderThatRefusesWritesFailsWithoutTouchingTheTarget) {
  tree.Write("src/a.txt", "new");
  tree.Write("ro/a.txt", "old");
  for (const auto& [rel, mode] : {std::pair{"", 0755}, {"src", 0755}, {"src/a.txt", 0644}, {"ro/a.txt", 0666}, {"ro", 0555}})
    ::chmod(tree.Posix(rel).c_str(), mode);
  ::chmod(registry.Directory().c_str(), 0755);
  const CopyFileRequest request = Request("src/a.txt", "ro/a.txt", 3);
  const int outcome = test::RunUnprivileged([&] {
    TtfCopy window;
    const CopyFileResult r = CopyFileWithProgress(request, window);
    return r.status == 2 && r.message == "Fehler beim Öffnen des Ziels: Permission denied" ? 0 : 1;
  });
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(tree.Read("ro/a.txt"), "old");
  EXPECT_TRUE(platform::ListFolder(tree.WinFolder("ro")).temporaries.empty());
}

TEST_F(FileCopyTest, RightsAreCopiedOnlyWhenAsked) {
  if (!test::IsRoot()) GTEST_SKIP() << "giving a file another owner needs root";
  tree.Write("src.txt", "x");
  ASSERT_EQ(::chown(tree.Posix("src.txt").c_str(), 1234, 1235), 0);
  ::chmod(tree.Posix("src.txt").c_str(), 0640);
  for (bool copyRights : {false, true}) {
    CopyFileRequest request = Request("src.txt", copyRights ? "with.txt" : "without.txt", 1);
    request.copyRights = copyRights;
    ASSERT_EQ(Copy(request).status, 1);
    EXPECT_EQ(RightsOf(tree.Posix(copyRights ? "with.txt" : "without.txt")),
              (test::FileRights{copyRights ? 1234u : 0u, copyRights ? 1235u : 0u, 0640}));
  }
}

// --- Helpers -----------------------------------------------------------------------------

TEST(FormatSizeTextTest, BytesBelowAKibibyteElseTwoDecimalsWithAComma) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 Byte"},          {-5, "-5 Byte"},          {1023, "1023 Byte"},     {1024, "1,00 KB"},
      {1152, "1,13 KB"} /* 1.125: the half goes up */,  {1408, "1,38 KB"} /* 1.375 */, {1535, "1,50 KB"},
      {1048575, "1024,00 KB"}, {1048576, "1,00 MB"},    {1578107, "1,51 MB"},      {1073741824, "1,00 GB"},
      {1610612736, "1,50 GB"}, {5368709120, "5,00 GB"}, {1099511627776, "1024,00 GB"}, {INT64_MAX, "8589934592,00 GB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatSizeText(bytes), text) << bytes;
}

TEST(ProgressDivisorTest, SmallestPowerOfTenThatFitsTheBar) {
  const std::pair<int64_t, int64_t> cases[] = {{0, 1}, {-1, 1}, {2147483647, 1}, {2147483648, 10}, {5000000000, 10},
                                               {21474836479, 10}, {21474836480, 100}, {INT64_MAX, 10000000000}};
  for (const auto& [size, divisor] : cases) {
    EXPECT_EQ(ProgressDivisor(size), divisor) << size;
    EXPECT_LE(size / divisor, 2147483647);
  }
}

TEST(GetSearchRecSizeTest, HighWordTimesFourGibibytesPlusLowWord) {
  EXPECT_EQ(GetSearchRecSize(1, 0x40000000u), 5368709120u);
  EXPECT_EQ(GetSearchRecSize(0, 0xFFFFFFFFu), 4294967295u);
  EXPECT_EQ(GetSearchRecSize(0xFFFFFFFFu, 0xFFFFFFFFu), UINT64_MAX);
}

TEST(ShortenPathTest, KeepsDriveAndNameAndDropsLeadingFolders) {
  // One unit per character: a text fits when it has fewer characters than the width.
  auto chars = [](std::string_view t) {
    int n = 0;
    for (unsigned char c : t) n += (c & 0xC0) != 0x80;
    return n;
  };
  struct Case {
    const char* path;
    int width;
    const char* shown;
  } cases[] = {
      {"C:\\a\\b.txt", 11, "C:\\a\\b.txt"},
      {"C:\\Daten\\Projekte\\Kunde\\Bericht.doc", 30, "C:\\..\\Kunde\\Bericht.doc"},
      {"C:\\Daten\\Projekte\\Kunde\\Bericht.doc", 12, "C:\\..\\Bericht.doc"},
      {"C:\\Daten\\Projekte\\Kunde\\Bericht.doc", 10, "C:\\..\\..c"},  // the name alone is too wide
      {"\\\\srv\\share\\dir\\sub\\file.txt", 25, "\\\\\\..\\dir\\sub\\file.txt"},
      {"ftp.example.org/pub/linux/iso/debian.iso", 30, "FTP://../linux/iso/debian.iso"},
      {"C:\\x\\abcdefghijklmnopqrstuvwxyz.txt", 20, "C:\\..\\..uvwxyz.txt"},
      {"C:\\x\\äöüäöüäöüäöü.txt", 16, "C:\\..\\..öü.txt"},
      // Exactly as wide as the label does not fit; the result may still not.
      {"C:\\a\\b.txt", 10, "C:\\..\\b.txt"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortenPathText(c.path, c.width, chars), c.shown) << c.path;
}

TEST(ShortenPathTest, TheLabelKeepsTheWholePathForTheWidget) {
  TtfCopy window;
  const std::string longPath = "C:\\" + std::string(200, 'd') + "\\file.txt";
  ShortenPathLabel(window, CopyLabel::tlDest, longPath);
  const CopyLabelState& label = window.label(CopyLabel::tlDest);
  EXPECT_EQ(label.path, longPath);
  EXPECT_EQ(label.text, "C:\\..\\file.txt");
  EXPECT_LT(window.MeasureText(label.text), 500);
}

}  // namespace
}  // namespace kv

#include "platform/filestream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/volumes.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using test::TempTree;

class FileStreamTest : public ::testing::Test {
 protected:
  test::ScopedRegistry registry_;
  TempTree tree_;
};

std::string ReadAllFrom(FileStream& f) {
  std::string s(64, '\0');
  size_t got = 0;
  f.Seek(0);
  EXPECT_TRUE(f.Read(s.data(), s.size(), got));
  s.resize(got);
  return s;
}

TEST_F(FileStreamTest, OpenModesOnMissingAndExistingFiles) {
  struct Case {
    OpenMode mode;
    bool exists;
    int error;             // 0: opens
    const char* contents;  // afterwards; nullptr: no file
  };
  const std::vector<Case> cases = {
      {OpenMode::Read, false, ENOENT, nullptr},        {OpenMode::Read, true, 0, "alt"},
      {OpenMode::ReadWrite, false, ENOENT, nullptr},   {OpenMode::ReadWrite, true, 0, "alt"},
      {OpenMode::OpenOrCreate, false, 0, ""},          {OpenMode::OpenOrCreate, true, 0, "alt"},
      {OpenMode::Create, false, 0, ""},                {OpenMode::Create, true, 0, ""},
      {OpenMode::CreateNew, false, 0, ""},             {OpenMode::CreateNew, true, EEXIST, "alt"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string rel = "f" + std::to_string(n++);
    if (c.exists) tree_.Write(rel, "alt");
    FileStream f;
    const bool opened = f.Open(tree_.Win(rel), c.mode);
    EXPECT_EQ(opened, c.error == 0) << rel;
    if (!opened) {
      EXPECT_EQ(GetLastError(), c.error) << rel;
    }
    EXPECT_TRUE(f.Close());
    ASSERT_EQ(tree_.Exists(rel), c.contents != nullptr) << rel;
    if (c.contents) {
      EXPECT_EQ(tree_.Read(rel), c.contents) << rel;
    }
  }
}

TEST_F(FileStreamTest, ReadsWritesAndSeeksAtItsOwnPosition) {
  FileStream f;
  ASSERT_TRUE(f.Open(tree_.Win("data"), OpenMode::Create));
  ASSERT_TRUE(f.Write("hello world", 11));
  EXPECT_EQ(f.Position(), 11u);

  f.Seek(6);
  char buf[16] = {};
  size_t got = 0;
  ASSERT_TRUE(f.Read(buf, sizeof buf, got));
  EXPECT_EQ(std::string(buf, got), "world") << "a read past the end returns what there is";
  EXPECT_EQ(f.Position(), 11u);

  f.Seek(6);
  EXPECT_FALSE(f.ReadExact(buf, 6));
  EXPECT_EQ(GetLastError(), ENODATA);
  EXPECT_EQ(f.Position(), 6u) << "a short exact read does not move";
  ASSERT_TRUE(f.ReadExact(buf, 5));
  EXPECT_EQ(std::string(buf, 5), "world");

  f.Seek(0);
  ASSERT_TRUE(f.Write("J", 1));
  ASSERT_TRUE(f.SeekToEnd());
  ASSERT_TRUE(f.Write("!", 1));
  uint64_t size = 0;
  ASSERT_TRUE(f.Size(size));
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(ReadAllFrom(f), "Jello world!");

  f.Seek(3);
  ASSERT_TRUE(f.Truncate(5));
  EXPECT_EQ(f.Position(), 3u);
  ASSERT_TRUE(f.Size(size));
  EXPECT_EQ(size, 5u);
  ASSERT_TRUE(f.Sync());
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(tree_.Read("data"), "Jello");
}

TEST_F(FileStreamTest, ClosedAndReadOnlyStreamsRefuseWork) {
  tree_.Write("ro", "abc");
  FileStream f;
  ASSERT_TRUE(f.Open(tree_.Win("ro"), OpenMode::Read));
  EXPECT_FALSE(f.Write("x", 1));
  EXPECT_EQ(GetLastError(), EBADF);
  EXPECT_FALSE(f.Truncate(0));
  EXPECT_EQ(tree_.Read("ro"), "abc");

  FileStream moved(std::move(f));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_TRUE(moved.IsOpen());
  ASSERT_TRUE(moved.Close());
  EXPECT_TRUE(moved.Close()) << "closing twice is harmless";
  char c;
  size_t got;
  EXPECT_FALSE(moved.Read(&c, 1, got));
  EXPECT_EQ(GetLastError(), EBADF);
  uint64_t size;
  EXPECT_FALSE(moved.Size(size));
  EXPECT_FALSE(moved.Sync());
}

TEST_F(FileStreamTest, OnlyRegularFilesAreOpened) {
  tree_.Mkdir("folder");
  ASSERT_EQ(mkfifo(tree_.Posix("fifo").c_str(), 0600), 0);
  struct Case { const char* rel; OpenMode mode; int error; };
  for (const Case& c : std::vector<Case>{{"folder", OpenMode::Read, EISDIR},
                                         {"folder", OpenMode::ReadWrite, EISDIR},
                                         {"fifo", OpenMode::Read, EINVAL},  // must not block
                                         {"fifo", OpenMode::ReadWrite, EINVAL},
                                         {"fifo", OpenMode::Create, EINVAL}}) {
    FileStream f;
    EXPECT_FALSE(f.Open(tree_.Win(c.rel), c.mode)) << c.rel;
    EXPECT_EQ(GetLastError(), c.error) << c.rel;
    EXPECT_FALSE(f.IsOpen());
  }
}

TEST_F(FileStreamTest, RefusedPermissionIsReported) {
  tree_.Write("secret", "x");
  ASSERT_EQ(chmod(tree_.Posix("secret").c_str(), 0), 0);
  const std::string path = tree_.Win("secret");
  const int result = test::RunUnprivileged([&] {
    FileStream f;
    if (f.Open(path, OpenMode::Read)) return 1;
    return GetLastError() == EACCES ? 0 : 2;
  });
  EXPECT_EQ(result, 0);
}

TEST_F(FileStreamTest, DriveThatIsNotMountedIsNotOpened) {
  tree_.Mkdir("unplugged");
  VolumeTable table = VolumeTable::Load();
  table.Set(Volume{"U:", tree_.Posix("unplugged"), std::nullopt, "", /*mustBeMounted=*/true, ""});
  table.Save();
  FileStream f;
  EXPECT_FALSE(f.Open("U:\\neu.ptk", OpenMode::Create));
  EXPECT_EQ(GetLastError(), ENOMEDIUM);
  EXPECT_FALSE(tree_.Exists("unplugged/neu.ptk"));
}

TEST_F(FileStreamTest, WriteThatHitsTheLimitFails) {
  const std::string path = tree_.Win("full");
  const int result = test::RunWithFileSizeLimit(10, [&] {
    FileStream f;
    if (!f.Open(path, OpenMode::Create)) return 1;
    if (!f.Write("12345678", 8)) return 2;
    if (f.Write("abcd", 4)) return 3;
    if (GetLastError() != EFBIG) return 4;
    return f.Close() ? 0 : 5;
  });
  EXPECT_EQ(result, 0);
  // The system wrote what fitted before it refused.
  EXPECT_EQ(tree_.Read("full"), "12345678ab");
}

}  // namespace
}  // namespace kv::platform

#include "platform/files.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/privatefile.h"
#include "platform/volumes.h"
#include "testsupport/acl.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::RightsOf;
using kv::test::RunUnprivileged;
using kv::test::ScopedEnv;
using kv::test::ScopedRegistry;
using kv::test::TempTree;

// 100 ns steps since 1601 for a Unix time, worked out here on its own.
FileTime ExpectedFileTime(time_t seconds, long nanoseconds) {
  return 116444736000000000LL + int64_t{seconds} * 10000000 + nanoseconds / 100;
}

std::map<std::string, DirEntry> ByName(const FolderListing& listing) {
  std::map<std::string, DirEntry> m;
  for (const DirEntry& e : listing.entries) m[e.name] = e;
  return m;
}

std::vector<std::string> NamesIn(const std::string& posixFolder) {
  std::vector<std::string> names;
  for (const DirEntry& e : ListFolder(FromPosixPath(posixFolder)).entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

// A 5 GiB file without data: sizes past 32 bits.
void MakeSparse(const std::string& posix) {
  const int fd = open(posix.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ftruncate(fd, 5LL << 30), 0);
  close(fd);
}

bool DifferentDevices(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev != sb.st_dev;
}

class FilesTest : public ::testing::Test {
 protected:
  ScopedRegistry registry_;  // the default table: C: is /
  TempTree tree_;
};

TEST_F(FilesTest, ListsEveryKindOfEntry) {
  tree_.Write("plain.txt", "hello");
  tree_.Write(".hidden", "x");
  tree_.Write("readonly.txt", "abc");
  ASSERT_EQ(chmod(tree_.Posix("readonly.txt").c_str(), 0444), 0);
  tree_.Mkdir("sub");
  tree_.Write("sub/inner.txt", "123456789");
  tree_.Mkdir(".git");
  MakeSparse(tree_.Posix("sparse.bin"));
  ASSERT_EQ(symlink("plain.txt", tree_.Posix("link-to-file").c_str()), 0);
  ASSERT_EQ(symlink("sub", tree_.Posix("link-to-folder").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", tree_.Posix("dangling").c_str()), 0);
  ASSERT_EQ(symlink("loop", tree_.Posix("loop").c_str()), 0);
  ASSERT_EQ(mkfifo(tree_.Posix("pipe").c_str(), 0644), 0);
  tree_.Write("back\\slash.txt", "x");
  tree_.Write(".kvtmp-A1b2C3d4E5", "left by a killed run");
  tree_.SetMTime("plain.txt", 1700000000, 123456789);
  tree_.SetMTime("sub", 1600000000, 0);

  FolderListing listing = ListFolder(tree_.WinFolder());
  ASSERT_TRUE(listing.ok) << SysErrorMessage(listing.error);
  std::map<std::string, DirEntry> e = ByName(listing);
  EXPECT_EQ(e.size(), 9u);
  EXPECT_EQ(listing.unnamable, std::vector<std::string>{"back\\slash.txt"});
  // Links to nothing and the system's temporaries are listed apart: what a
  // broken link stood for is unknown, a temporary is no user data.
  std::vector<std::string> broken = listing.brokenLinks;
  std::sort(broken.begin(), broken.end());
  EXPECT_EQ(broken, (std::vector<std::string>{"dangling", "loop"}));
  EXPECT_EQ(listing.temporaries, std::vector<std::string>{".kvtmp-A1b2C3d4E5"});
  EXPECT_EQ(e.count("dangling") + e.count("loop") + e.count("back\\slash.txt") + e.count(".kvtmp-A1b2C3d4E5"), 0u);

  const struct { const char* name; bool isFolder; int64_t size; uint32_t attributes; bool isLink; } expected[] = {
      {"plain.txt", false, 5, kAttrArchive, false},
      {".hidden", false, 1, kAttrArchive | kAttrHidden, false},
      {"readonly.txt", false, 3, kAttrArchive | kAttrReadOnly, false},
      {"sub", true, 0, kAttrDirectory, false},
      {".git", true, 0, kAttrDirectory | kAttrHidden, false},
      {"sparse.bin", false, 5368709120LL, kAttrArchive, false},
      {"link-to-file", false, 5, kAttrArchive, false},
      {"link-to-folder", true, 0, kAttrDirectory, true},
      {"pipe", false, 0, kAttrSystem, false},
  };
  for (const auto& x : expected) {
    SCOPED_TRACE(x.name);
    ASSERT_EQ(e.count(x.name), 1u);
    const DirEntry& d = e[x.name];
    EXPECT_EQ(d.isFolder, x.isFolder);
    EXPECT_EQ(d.size, x.size);
    EXPECT_EQ(d.attributes, x.attributes);
    EXPECT_EQ(d.isLink, x.isLink);
  }
  EXPECT_EQ(e["plain.txt"].lastWrite, ExpectedFileTime(1700000000, 123456789));
  EXPECT_EQ(e["link-to-file"].lastWrite, e["plain.txt"].lastWrite);  // the target's time
  EXPECT_EQ(e["sub"].lastWrite, ExpectedFileTime(1600000000, 0));
}

TEST_F(FilesTest, ListingFailuresAreReportedNotEmpty) {
  tree_.Write("file.txt", "x");
  const struct { std::string path; int error; } cases[] = {
      {tree_.Win("missing"), ENOENT}, {tree_.Win("file.txt"), ENOTDIR}, {"Q:\\unmapped\\", ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    FolderListing listing = ListFolder(c.path);
    EXPECT_FALSE(listing.ok);
    EXPECT_EQ(listing.error, c.error);
    EXPECT_EQ(GetLastError(), c.error);
  }
  FolderListing empty = ListFolder(tree_.WinFolder());
  ASSERT_TRUE(empty.ok);
  EXPECT_EQ(empty.entries.size(), 1u);
}

TEST_F(FilesTest, UnreadableFoldersFailTheListing) {
  // The unprivileged child must reach the tree, but not the two folders.
  ASSERT_EQ(chmod(tree_.Posix().c_str(), 0755), 0);
  tree_.Write("closed/a.txt", "a");
  tree_.Write("nosearch/b.txt", "b");
  ASSERT_EQ(chmod(tree_.Posix("closed").c_str(), 0700), 0);
  ASSERT_EQ(chmod(tree_.Posix("nosearch").c_str(), 0744), 0);  // names readable, entries not
  tree_.Mkdir("links");
  ASSERT_EQ(symlink("../closed/a.txt", tree_.Posix("links/to-closed").c_str()), 0);
  if (!kv::test::IsRoot()) {
    ASSERT_EQ(chmod(tree_.Posix("closed").c_str(), 0000), 0);
    ASSERT_EQ(chmod(tree_.Posix("nosearch").c_str(), 0644), 0);
  }
  const std::string closed = tree_.WinFolder("closed");
  const std::string nosearch = tree_.WinFolder("nosearch");
  const std::string links = tree_.WinFolder("links");
  int result = RunUnprivileged([&] {
    FolderListing a = ListFolder(closed);
    FolderListing b = ListFolder(nosearch);
    FolderListing c = ListFolder(links);  // a link to a file we may not reach is not "gone"
    if (a.ok || a.error != EACCES) return 1;
    if (b.ok || b.error != EACCES || !b.entries.empty()) return 2;
    if (c.ok || c.error != EACCES) return 3;
    return 0;
  });
  EXPECT_EQ(result, 0);
}

TEST_F(FilesTest, ExistenceAndAttributesOfFilesAndFolders) {
  tree_.Write("f.txt", "x");
  tree_.Mkdir("d");
  ASSERT_EQ(symlink("f.txt", tree_.Posix("lf").c_str()), 0);
  ASSERT_EQ(symlink("d", tree_.Posix("ld").c_str()), 0);
  ASSERT_EQ(symlink("none", tree_.Posix("dangling").c_str()), 0);
  ASSERT_EQ(mkfifo(tree_.Posix("pipe").c_str(), 0644), 0);
  const struct { std::string path; bool file, folder, folderLink; } cases[] = {
      {tree_.Win("f.txt"), true, false, false}, {tree_.Win("d"), false, true, false},
      {tree_.WinFolder("d"), false, true, false},
      {tree_.WinFolder("d") + "", false, true, false},  // an empty name is not a file
      {tree_.Win("lf"), true, false, false}, {tree_.Win("ld"), false, true, true},
      {tree_.WinFolder("ld"), false, true, true}, {tree_.Win("dangling"), false, false, false},
      {tree_.Win("pipe"), false, false, false}, {tree_.Win("missing"), false, false, false},
      {tree_.Win("f.txt") + "\\", false, false, false}, {"Q:\\f.txt", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileExists(c.path), c.file);
    EXPECT_EQ(DirectoryExists(c.path), c.folder);
    EXPECT_EQ(IsFolderLink(c.path), c.folderLink);
  }
  // Attributes follow mode and name.
  tree_.Write(".dot", "x");
  EXPECT_EQ(GetFileAttributes(tree_.Win("f.txt")), kAttrArchive);
  EXPECT_EQ(GetFileAttributes(tree_.Win(".dot")), kAttrArchive | kAttrHidden);
  EXPECT_EQ(GetFileAttributes(tree_.WinFolder("d")), kAttrDirectory);
  EXPECT_EQ(GetFileAttributes(tree_.Win("pipe")), kAttrSystem);
  EXPECT_EQ(GetFileAttributes(tree_.Win("missing")), kInvalidAttributes);
  EXPECT_EQ(GetLastError(), ENOENT);
}

TEST_F(FilesTest, CreatesAndRemovesFolders) {
  tree_.Write("file", "x");
  ASSERT_EQ(symlink("single", tree_.Posix("link").c_str()), 0);
  // In order; error 0: must succeed, -1: must fail.
  const struct { bool (*op)(std::string_view); std::string path; int error; } steps[] = {
      {ForceDirectories, tree_.WinFolder("a\\b\\c"), 0}, {ForceDirectories, tree_.Win("a\\b"), 0},  // exists already
      {ForceDirectories, tree_.Win("file\\below"), ENOTDIR}, {ForceDirectories, tree_.Win("file"), EEXIST},
      {CreateDir, tree_.Win("single"), 0}, {CreateDir, tree_.Win("single"), EEXIST},
      {CreateDir, tree_.Win("no\\parent"), ENOENT}, {RemoveDir, tree_.Win("a"), ENOTEMPTY},
      {RemoveDir, tree_.WinFolder("a\\b\\c"), 0}, {DeleteFile, tree_.Win("single"), -1},  // a folder is no file
      {DeleteFile, tree_.Win("file"), 0}, {DeleteFile, tree_.Win("file"), ENOENT},
      {DeleteFile, tree_.Win("link"), 0},  // the link goes, not its target
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.path);
    EXPECT_EQ(s.op(s.path), s.error == 0);
    if (s.error > 0) {
      EXPECT_EQ(GetLastError(), s.error);
    }
  }
  EXPECT_TRUE(tree_.Exists("a/b") && !tree_.Exists("a/b/c"));
  EXPECT_TRUE(tree_.Exists("single"));
}

// The move and its fallback for file systems without RENAME_NOREPLACE alike.
TEST_F(FilesTest, MoveNeverReplaces) {
  const struct {
    const char* what;
    bool (*move)(const std::string& from, const std::string& to);
  } movers[] = {
      {"renameat2", [](const std::string& from, const std::string& to) {
         return MoveFileNoReplace(FromPosixPath(from), FromPosixPath(to));
       }},
      {"fallback", detail::MoveNoReplaceFallback},
  };
  for (const auto& m : movers) {
    SCOPED_TRACE(m.what);
    TempTree t;
    t.Write("a.txt", "A");
    t.Write("b.txt", "B");
    t.Write("dir1/x", "1");
    t.Mkdir("emptydir");
    const auto move = [&](const char* from, const char* to) { return m.move(t.Posix(from), t.Posix(to)); };
    EXPECT_FALSE(move("a.txt", "b.txt"));
    EXPECT_EQ(GetLastError(), EEXIST);
    EXPECT_FALSE(move("dir1", "emptydir"));  // rename(2) would put a folder in place of an empty one
    EXPECT_EQ(t.Read("a.txt") + t.Read("b.txt") + t.Read("dir1/x"), "AB1");

    EXPECT_TRUE(move("a.txt", "dir1/moved.txt"));
    EXPECT_FALSE(t.Exists("a.txt"));
    EXPECT_TRUE(move("dir1", "dir2"));
    EXPECT_FALSE(t.Exists("dir1"));
    EXPECT_EQ(t.Read("dir2/moved.txt"), "A");
    EXPECT_FALSE(move("gone", "other"));
    EXPECT_EQ(GetLastError(), ENOENT);
  }
}

TEST_F(FilesTest, MoveAcrossFileSystemsFails) {
  if (!DifferentDevices("/tmp", "/dev/shm")) GTEST_SKIP() << "/tmp and /dev/shm are on one file system here";
  const std::string shmName = "/dev/shm/kvtest-move-" + std::to_string(getpid());
  tree_.Write("a.txt", "A");
  EXPECT_FALSE(MoveFileNoReplace(tree_.Win("a.txt"), FromPosixPath(shmName)));
  EXPECT_EQ(GetLastError(), EXDEV);
  EXPECT_EQ(tree_.Read("a.txt"), "A");
  EXPECT_NE(access(shmName.c_str(), F_OK), 0);

  // A copy across them works.
  EXPECT_TRUE(CopyFile(tree_.Win("a.txt"), FromPosixPath(shmName), true));
  std::vector<uint8_t> data;
  EXPECT_TRUE(ReadWholeFile(FromPosixPath(shmName), data));
  EXPECT_EQ(std::string(data.begin(), data.end()), "A");
  unlink(shmName.c_str());
}

TEST_F(FilesTest, CopyKeepsContentModeAndTime) {
  std::string content(3 * 1024 * 1024 + 17, '\0');
  std::mt19937 rng(42);
  for (char& c : content) c = static_cast<char>(rng());
  tree_.Write("src.bin", content);
  ASSERT_EQ(chmod(tree_.Posix("src.bin").c_str(), 0640), 0);
  tree_.SetMTime("src.bin", 1500000000, 987654321);

  ASSERT_TRUE(CopyFile(tree_.Win("src.bin"), tree_.Win("dst.bin"), true)) << SysErrorMessage(GetLastError());
  EXPECT_EQ(tree_.Read("dst.bin"), content);
  EXPECT_EQ(RightsOf(tree_.Posix("dst.bin")).mode, 0640u);
  EXPECT_EQ(GetLastWriteTime(tree_.Win("dst.bin")), ExpectedFileTime(1500000000, 987654300));
  EXPECT_EQ(NamesIn(tree_.Posix()), (std::vector<std::string>{"dst.bin", "src.bin"}));  // no temporary left

  tree_.Write("empty", "");
  EXPECT_TRUE(CopyFile(tree_.Win("empty"), tree_.Win("empty2"), false));
  EXPECT_EQ(tree_.Read("empty2"), "");
}

TEST_F(FilesTest, CopyReplacesOnlyWhenAskedAndOnlyWhenComplete) {
  tree_.Write("src.txt", "new");
  tree_.Write("dst.txt", "old");
  EXPECT_FALSE(CopyFile(tree_.Win("src.txt"), tree_.Win("dst.txt"), true));
  EXPECT_EQ(GetLastError(), EEXIST);
  EXPECT_EQ(tree_.Read("dst.txt"), "old");

  ASSERT_EQ(chmod(tree_.Posix("dst.txt").c_str(), 0444), 0);
  EXPECT_TRUE(CopyFile(tree_.Win("src.txt"), tree_.Win("dst.txt"), false));
  EXPECT_EQ(tree_.Read("dst.txt"), "new");

  tree_.Mkdir("folder");
  ASSERT_EQ(mkfifo(tree_.Posix("pipe").c_str(), 0644), 0);
  const struct { std::string from, to; int error; } failures[] = {
      {tree_.Win("missing"), tree_.Win("dst.txt"), ENOENT},
      {tree_.Win("folder"), tree_.Win("dst.txt"), EISDIR},
      {tree_.Win("pipe"), tree_.Win("dst.txt"), EINVAL},  // and it does not wait for a writer
      {tree_.Win("src.txt"), tree_.Win("folder"), EISDIR},
      {tree_.Win("src.txt"), tree_.Win("nofolder\\x"), ENOENT},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.from + " -> " + f.to);
    EXPECT_FALSE(CopyFile(f.from, f.to, false));
    EXPECT_EQ(GetLastError(), f.error);
    EXPECT_EQ(tree_.Read("dst.txt"), "new");
  }
}

TEST_F(FilesTest, FailedCopyLeavesTheTargetAlone) {
  // A target that may be written but sits in a folder that may not: the copy
  // cannot make its temporary file and must not truncate the target instead.
  ASSERT_EQ(chmod(tree_.Posix().c_str(), 0755), 0);
  tree_.Write("src.txt", "new content");
  tree_.Write("locked/dst.txt", "old content");
  ASSERT_EQ(chmod(tree_.Posix("locked/dst.txt").c_str(), 0666), 0);
  ASSERT_EQ(chmod(tree_.Posix("src.txt").c_str(), 0644), 0);
  ASSERT_EQ(chmod(tree_.Posix("locked").c_str(), 0555), 0);
  if (!kv::test::IsRoot() && access(tree_.Posix("locked").c_str(), W_OK) == 0)
    GTEST_SKIP() << "cannot take the write permission away here";
  const std::string from = tree_.Win("src.txt"), to = tree_.Win("locked\\dst.txt");
  int result = RunUnprivileged([&] {
    if (CopyFile(from, to, false)) return 1;
    return GetLastError() == EACCES ? 0 : 2;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(tree_.Read("locked/dst.txt"), "old content");
  ASSERT_EQ(chmod(tree_.Posix("locked").c_str(), 0755), 0);
  EXPECT_EQ(NamesIn(tree_.Posix("locked")), std::vector<std::string>{"dst.txt"});
}

TEST_F(FilesTest, SetAttributesChangesTheMode) {
  tree_.Write("f.txt", "x");
  tree_.Mkdir("d");
  ASSERT_EQ(chmod(tree_.Posix("f.txt").c_str(), 0664), 0);
  EXPECT_TRUE(SetFileAttributes(tree_.Win("f.txt"), kAttrReadOnly | kAttrArchive));
  EXPECT_EQ(RightsOf(tree_.Posix("f.txt")).mode, 0444u);
  EXPECT_EQ(GetFileAttributes(tree_.Win("f.txt")), kAttrArchive | kAttrReadOnly);
  EXPECT_TRUE(SetFileAttributes(tree_.Win("f.txt"), 0));  // "clear attributes"
  EXPECT_EQ(RightsOf(tree_.Posix("f.txt")).mode, 0644u);

  ASSERT_EQ(chmod(tree_.Posix("d").c_str(), 0555), 0);
  EXPECT_TRUE(SetFileAttributes(tree_.Win("d"), 0));
  EXPECT_EQ(RightsOf(tree_.Posix("d")).mode, 0755u);
  EXPECT_TRUE(SetFileAttributes(tree_.Win("d"), kAttrReadOnly));  // a folder stays writable
  EXPECT_EQ(RightsOf(tree_.Posix("d")).mode, 0755u);
  EXPECT_FALSE(SetFileAttributes(tree_.Win("missing"), 0));
  EXPECT_EQ(GetLastError(), ENOENT);
}

TEST_F(FilesTest, TimesAndSizes) {
  tree_.Write("f.txt", "12345");
  struct timespec times[2] = {{1400000000, 0}, {1400000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, tree_.Posix("f.txt").c_str(), times, 0), 0);

  const FileTime ft = ExpectedFileTime(1650000000, 500000000);
  EXPECT_TRUE(SetLastWriteTime(tree_.Win("f.txt"), ft));
  EXPECT_EQ(GetLastWriteTime(tree_.Win("f.txt")), ft);
  struct stat st;
  ASSERT_EQ(stat(tree_.Posix("f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1650000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500000000);
  EXPECT_EQ(st.st_atim.tv_sec, 1400000000);  // access time untouched
  EXPECT_FALSE(SetLastWriteTime(tree_.Win("missing"), ft));
  EXPECT_EQ(GetLastWriteTime(tree_.Win("missing")), std::nullopt);

  MakeSparse(tree_.Posix("big"));
  EXPECT_EQ(GetFileSize(tree_.Win("f.txt")), 5);
  EXPECT_EQ(GetFileSize(tree_.Win("big")), 5368709120LL);
  EXPECT_EQ(GetFileSize(tree_.WinFolder()), std::nullopt);
  EXPECT_EQ(GetLastError(), EISDIR);
  EXPECT_EQ(GetFileSize(tree_.Win("missing")), std::nullopt);
  EXPECT_EQ(GetLastError(), ENOENT);
}

bool IsTempFileNameOf(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + 8 || !name.starts_with(prefix) || !name.ends_with(".tmp")) return false;
  return std::all_of(name.begin() + static_cast<ptrdiff_t>(prefix.size()), name.end() - 4,
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

TEST_F(FilesTest, TemporaryFileNames) {
  const std::string folder = tree_.WinFolder();
  std::string first = GetTempFileName(folder, "kv");
  std::string second = GetTempFileName(tree_.Win(""), "kv");  // without the trailing "\"
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  for (const std::string& name : {first, second}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(name.substr(0, folder.size()), folder);
    EXPECT_TRUE(IsTempFileNameOf(name.substr(folder.size()), "kv"));
    EXPECT_TRUE(FileExists(name));
    EXPECT_EQ(GetFileSize(name), 0);
  }
  EXPECT_EQ(GetTempFileName(tree_.WinFolder("missing"), "kv"), "");
  EXPECT_EQ(GetLastError(), ENOENT);
  EXPECT_EQ(GetTempFileName(folder, "..\\x"), "");
  EXPECT_EQ(GetLastError(), EINVAL);
}

// What killed runs left behind goes; what a live run still holds (here or
// in another process) stays, and so does anything else.
TEST_F(FilesTest, LeftoversOfKilledRunsGoButHeldFilesStay) {
  const std::string folder = tree_.WinFolder();
  const std::string held = GetHeldTempFileName(folder, "$");
  ASSERT_FALSE(held.empty());
  tree_.Write("$0A1F.tmp", "job of a killed run");
  tree_.Write(".kvtmp-Zz09Zz09Zz", "copy of a killed run");
  tree_.Write(".kvtmp-Held000000", "copy of a live run elsewhere");
  const int holder = open(tree_.Posix(".kvtmp-Held000000").c_str(), O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  for (const char* other : {"$user.tmp", "$0A1G.tmp", "x$0A1F.tmp", "OS.vrl", ".kvtmp-short"}) tree_.Write(other, "keep");
  ASSERT_EQ(symlink("$0A1F.tmp", tree_.Posix("$0B2C.tmp").c_str()), 0);

  EXPECT_EQ(RemoveLeftoverTempFiles(folder, "$"), 2);
  EXPECT_FALSE(tree_.Exists("$0A1F.tmp") || tree_.Exists(".kvtmp-Zz09Zz09Zz"));
  for (const char* kept : {"$user.tmp", "$0A1G.tmp", "x$0A1F.tmp", "OS.vrl", ".kvtmp-short", ".kvtmp-Held000000", "$0B2C.tmp"})
    EXPECT_TRUE(tree_.Exists(kept)) << kept;
  EXPECT_TRUE(FileExists(held));

  // Once its run deleted it (or let it go), nothing holds it any more.
  close(holder);
  ReleaseHeldFile(held);
  EXPECT_EQ(RemoveLeftoverTempFiles(folder, "$"), 2);
  EXPECT_FALSE(FileExists(held));
}

TEST_F(FilesTest, PrivateTemporaryFolder) {
  ScopedEnv runtime("XDG_RUNTIME_DIR", tree_.Posix().c_str());
  const std::string expected = tree_.WinFolder("kestrovane");
  EXPECT_EQ(GetTempPath(), expected);
  EXPECT_EQ(RightsOf(tree_.Posix("kestrovane")).mode, 0700u);
  ASSERT_EQ(chmod(tree_.Posix("kestrovane").c_str(), 0755), 0);
  EXPECT_EQ(GetTempPath(), expected);  // and narrowed again
  EXPECT_EQ(RightsOf(tree_.Posix("kestrovane")).mode, 0700u);

  // Not ours, or a link planted in its place: the fallback in /tmp is taken.
  const std::string fallback = FromPosixPath("/tmp/kestrovane-" + std::to_string(geteuid())) + "\\";
  ASSERT_EQ(rmdir(tree_.Posix("kestrovane").c_str()), 0);
  tree_.Mkdir("elsewhere");
  ASSERT_EQ(symlink("elsewhere", tree_.Posix("kestrovane").c_str()), 0);
  EXPECT_EQ(GetTempPath(), fallback);
  if (kv::test::IsRoot()) {
    ASSERT_EQ(unlink(tree_.Posix("kestrovane").c_str()), 0);
    tree_.Mkdir("kestrovane");
    ASSERT_EQ(chown(tree_.Posix("kestrovane").c_str(), 65534, 65534), 0);
    EXPECT_EQ(GetTempPath(), fallback);
  }
  ScopedEnv none("XDG_RUNTIME_DIR", nullptr);
  EXPECT_EQ(GetTempPath(), fallback);
}

TEST_F(FilesTest, PrivateTemporaryFilesStayInThePrivateFolder) {
  ScopedEnv runtime("XDG_RUNTIME_DIR", tree_.Posix().c_str());
  const std::string made = CreatePrivateTempFile("kv");
  ASSERT_FALSE(made.empty());
  EXPECT_EQ(made.substr(0, tree_.WinFolder("kestrovane").size()), tree_.WinFolder("kestrovane"));
  EXPECT_EQ(RightsOf(tree_.Posix("kestrovane/" + made.substr(made.rfind('\\') + 1))).mode, 0600u);
  for (const char* prefix : {"../kv", "a/b", "..\\kv"}) {
    SCOPED_TRACE(prefix);
    SetLastError(0);
    EXPECT_EQ(CreatePrivateTempFile(prefix), "");
    EXPECT_EQ(GetLastError(), EINVAL);
  }
  EXPECT_EQ(NamesIn(tree_.Posix()), (std::vector<std::string>{"kestrovane"}));
}

// A child that gave up root must not keep root's supplementary groups, or a
// refusal the test expects may not come.
TEST_F(FilesTest, UnprivilegedChildKeepsNoGroupOfRoot) {
  if (!kv::test::IsRoot()) GTEST_SKIP() << "needs root to give groups away";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const gid_t rootGroup = 0;
    if (setgroups(1, &rootGroup) != 0) _exit(10);
    _exit(RunUnprivileged([] {
      gid_t groups[64];
      const int n = getgroups(64, groups);
      if (n < 0) return 1;
      for (int i = 0; i < n; ++i)
        if (groups[i] == 0) return 2;
      return getegid() == 0 ? 3 : 0;
    }));
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(FilesTest, RefusesATemporaryFolderOfAnotherUser) {
  if (!kv::test::IsRoot()) GTEST_SKIP() << "needs root to prepare another user's folder";
  const std::string taken = "/tmp/kestrovane-65534";
  struct stat st;
  if (lstat(taken.c_str(), &st) == 0) GTEST_SKIP() << taken << " exists already";
  ASSERT_EQ(mkdir(taken.c_str(), 0700), 0);  // owned by root, not by uid 65534
  int result = RunUnprivileged([] {
    ScopedEnv none("XDG_RUNTIME_DIR", nullptr);
    if (!GetTempPath().empty()) return 1;
    return GetLastError() == EACCES ? 0 : 2;
  });
  rmdir(taken.c_str());
  EXPECT_EQ(result, 0);
}

TEST_F(FilesTest, WholeFiles) {
  const std::string bytes("a\0b\r\n\xff", 6);
  ASSERT_TRUE(WriteFileAtomic(tree_.Win("rec.dat"), bytes.data(), bytes.size()));
  std::vector<uint8_t> read;
  ASSERT_TRUE(ReadWholeFile(tree_.Win("rec.dat"), read));
  EXPECT_EQ(std::string(read.begin(), read.end()), bytes);

  ASSERT_EQ(chmod(tree_.Posix("rec.dat").c_str(), 0640), 0);
  ASSERT_TRUE(WriteFileAtomic(tree_.Win("rec.dat"), "xy", 2));
  EXPECT_EQ(tree_.Read("rec.dat"), "xy");
  EXPECT_EQ(RightsOf(tree_.Posix("rec.dat")).mode, 0640u);  // kept when replaced
  ASSERT_TRUE(WriteFileAtomic(tree_.Win("empty"), nullptr, 0));
  EXPECT_TRUE(ReadWholeFile(tree_.Win("empty"), read));
  EXPECT_TRUE(read.empty());
  EXPECT_EQ(NamesIn(tree_.Posix()), (std::vector<std::string>{"empty", "rec.dat"}));

  ASSERT_EQ(mkfifo(tree_.Posix("pipe").c_str(), 0644), 0);
  tree_.Mkdir("d");
  const struct { std::string path; int error; } failures[] = {
      {tree_.Win("missing"), ENOENT}, {tree_.Win("pipe"), EINVAL}, {tree_.Win("d"), EISDIR},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.path);
    read.assign(3, 1);
    EXPECT_FALSE(ReadWholeFile(f.path, read));
    EXPECT_EQ(GetLastError(), f.error);
    EXPECT_TRUE(read.empty());
  }
  EXPECT_FALSE(WriteFileAtomic(tree_.Win("nofolder\\x"), "x", 1));
  EXPECT_EQ(GetLastError(), ENOENT);
}

}  // namespace
}  // namespace kv::platform

// The listing cache: its file names and format, files that are not whole,
// expiry by the date digits, and writers that race.
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "ftp/ftpcache.h"
#include "platform/files.h"
#include "platform/volumes.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using platform::CivilTime;

class ListingCache : public ::testing::Test {
 protected:
  ~ListingCache() override { SetCacheClock(nullptr); }

  std::string Posix(const std::string& winPath) const { return *platform::ToPosixPath(winPath); }

  test::TempTree tree_;
  test::ScopedEnv cache_{"XDG_CACHE_HOME", tree_.Posix("cache").c_str()};
  test::ScopedEnv tz_{"TZ", "Europe/Berlin"};
};

TMFtpFileInfoList Listing(int entries, const std::string& tag) {
  TMFtpFileInfoList list;
  for (int i = 0; i < entries; ++i)
    list.Add(tag + std::to_string(i), "-rw-r--r--", "15/01/2001 12:00", std::to_string(i * 1000), "", "user",
             "group", "");
  return list;
}

bool SameEntries(const TMFtpFileInfoList& a, const TMFtpFileInfoList& b) {
  if (a.Count() != b.Count()) return false;
  for (int32_t i = 0; i < a.Count(); ++i)
    if (!(a.Item(i) == b.Item(i))) return false;
  return true;
}

TEST_F(ListingCache, NamesAFileForEachListOfAFolder) {
  const std::string folder = tree_.Posix("cache") + "/kestrovane/ftpcache/";
  EXPECT_EQ(Posix(GetCacheFileName("srv", "joe", "/pub/x", 21, true)), folder + "srv[21]-(joe)--pub-x.cached");
  EXPECT_EQ(Posix(GetCacheFileName("srv", "joe", "/pub/x", 21, false)), folder + "srv[21]-(joe)--pub-x.cachef");
  EXPECT_EQ(Posix(GetCacheFileName("srv", "Anonymous", "/pub/x", 21, true)), folder + "srv[21]--pub-x.cached");
  EXPECT_EQ(Posix(GetCacheFileName("srv", "FTP", "/", 2121, false)), folder + "srv[2121]--.cachef");
  EXPECT_EQ(Posix(GetCacheFileName("srv", "ftpuser", "/a:b?c\"d*e<f>g|h\\i", 21, true)),
            folder + "srv[21]-(ftpuser)--a~b~c~d~e<f>g|h-i.cached");
}

TEST_F(ListingCache, KeepsAListingToTheByteAndReadsItBack) {
  TMFtpFileInfoList list;
  list.Add("my file.txt", "-rw-r--r--", "05/03/???? 09:30", "1024", "", "user", "group", "");
  list.Add("\xC3\x9C" "ber", "drwxr-xr-x", "", "0", "-> /usr/lib", "", "", "Ein Ordner");
  const std::string path = GetCacheFileName("srv", "joe", "/pub", 21, false);
  ASSERT_TRUE(SaveCacheFile(path, list));
  EXPECT_EQ(tree_.Read("cache/kestrovane/ftpcache/srv[21]-(joe)--pub.cachef"),
            "2\r\n"
            "my file.txt\r\n-rw-r--r--\r\n05/03/???? 09:30\r\n1024\r\n\r\nuser\r\ngroup\r\n\r\n"
            "\xC3\x9C" "ber\r\ndrwxr-xr-x\r\n\r\n0\r\n-> /usr/lib\r\n\r\n\r\nEin Ordner\r\n");
  TMFtpFileInfoList loaded;
  ASSERT_TRUE(LoadCacheFile(path, loaded, 7));
  EXPECT_TRUE(SameEntries(loaded, list));

  // An empty listing is cached too.
  ASSERT_TRUE(SaveCacheFile(path, TMFtpFileInfoList()));
  EXPECT_TRUE(LoadCacheFile(path, loaded, 7));
  EXPECT_EQ(loaded.Count(), 0);

  // A name holding a line break would inject entries: not stored.
  list.Add("evil\r\n0", "", "", "", "", "", "", "");
  EXPECT_FALSE(SaveCacheFile(path, list));
  EXPECT_TRUE(LoadCacheFile(path, loaded, 7));
  EXPECT_EQ(loaded.Count(), 0);
}

TEST_F(ListingCache, WritesOnlyIntoAPrivateFolderOfItsOwn) {
  tree_.Mkdir("cache/kestrovane/ftpcache");
  std::filesystem::permissions(tree_.Posix("cache/kestrovane/ftpcache"), std::filesystem::perms(0755));
  const std::string path = GetCacheFileName("srv", "joe", "/p", 21, true);
  ASSERT_TRUE(SaveCacheFile(path, Listing(1, "x")));
  struct stat st {};
  ASSERT_EQ(stat(tree_.Posix("cache/kestrovane/ftpcache").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  std::filesystem::remove_all(tree_.Posix("cache/kestrovane/ftpcache"));
  tree_.Mkdir("elsewhere");
  std::filesystem::create_directory_symlink(tree_.Posix("elsewhere"), tree_.Posix("cache/kestrovane/ftpcache"));
  EXPECT_FALSE(SaveCacheFile(path, Listing(1, "x")));
  EXPECT_TRUE(std::filesystem::is_empty(tree_.Posix("elsewhere")));
}

TEST_F(ListingCache, ReadsOnlyWholeFiles) {
  const std::string path = GetCacheFileName("srv", "joe", "/cut", 21, true);
  ASSERT_TRUE(SaveCacheFile(path, Listing(3, "entry")));
  const std::string whole = tree_.Read("cache/kestrovane/ftpcache/srv[21]-(joe)--cut.cached");
  TMFtpFileInfoList loaded;
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    test::WriteFileText(Posix(path), whole.substr(0, cut));
    ASSERT_FALSE(LoadCacheFile(path, loaded, 0)) << "cut at byte " << cut;
    ASSERT_EQ(loaded.Count(), 0);
  }
  const std::vector<std::string> notWhole = {
      whole + "extra\r\n", "2147483647\r\na\r\nb\r\n", "-1\r\n", "+0\r\n", " 0\r\n", "0x1\r\n", "\r\n",
      "99999999999\r\n", "0\n", "1\r\na\rb\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"};
  for (const std::string& bad : notWhole) {
    test::WriteFileText(Posix(path), bad);
    EXPECT_FALSE(LoadCacheFile(path, loaded, 0)) << bad.substr(0, 40);
  }
  test::WriteFileText(Posix(path), whole);
  EXPECT_TRUE(LoadCacheFile(path, loaded, 0));
  EXPECT_EQ(loaded.Count(), 3);
  EXPECT_FALSE(LoadCacheFile(GetCacheFileName("srv", "joe", "/none", 21, true), loaded, 0));
}

CivilTime g_today;
platform::DateTime TestToday() { return platform::DateTimeFromCivil(g_today); }

struct ExpiryCase {
  CivilTime written;
  CivilTime today;
  int expireDays;
  bool fresh;
};

// One process, one clock moving on: "today" is taken at each load.
TEST_F(ListingCache, GoesStaleByTheDigitsOfItsDate) {
  SetCacheClock(TestToday);
  const std::string path = GetCacheFileName("srv", "joe", "/old", 21, true);
  const ExpiryCase cases[] = {
      {{2000, 3, 10, 12}, {2000, 3, 16}, 7, true},   {{2000, 3, 10, 12}, {2000, 3, 17}, 7, false},
      {{2000, 1, 28, 23}, {2000, 1, 31}, 7, true},   {{2000, 1, 28, 23}, {2000, 2, 1}, 7, false},
      {{2000, 12, 29, 0}, {2000, 12, 31}, 7, true},  {{2000, 12, 29, 0}, {2001, 1, 1}, 7, false},
      {{2000, 3, 10, 12}, {2030, 1, 1}, 0, true},    {{2000, 3, 10, 12}, {2030, 1, 1}, -1, true},
      {{2000, 3, 10, 12}, {2000, 3, 10}, 1, true},   {{2000, 3, 10, 12}, {2000, 3, 11}, 1, false},
      {{2000, 3, 10, 12}, {2000, 3, 9}, 2147483647, true},
  };
  for (const ExpiryCase& c : cases) {
    ASSERT_TRUE(SaveCacheFile(path, Listing(1, "e")));
    ASSERT_TRUE(platform::SetLastWriteTime(path, platform::FileTimeFromDateTime(platform::DateTimeFromCivil(c.written))));
    g_today = c.today;
    TMFtpFileInfoList loaded;
    EXPECT_EQ(LoadCacheFile(path, loaded, c.expireDays), c.fresh)
        << c.written.day << "." << c.written.month << ". + " << c.expireDays << " on " << c.today.day << "."
        << c.today.month << "." << c.today.year;
  }
}

TEST_F(ListingCache, RacingWritersNeverLeaveAFileThatCannotBeRead) {
  const std::string path = GetCacheFileName("srv", "joe", "/race", 21, false);
  const TMFtpFileInfoList lists[] = {Listing(40, "first"), Listing(25, "second")};
  ASSERT_TRUE(SaveCacheFile(path, lists[0]));
  std::atomic<int> writersLeft{2};
  std::atomic<int> failedSaves{0};
  auto writer = [&](const TMFtpFileInfoList& list) {
    for (int i = 0; i < 1000; ++i)
      if (!SaveCacheFile(path, list)) ++failedSaves;
    --writersLeft;
  };
  std::thread a(writer, std::cref(lists[0])), b(writer, std::cref(lists[1]));
  int loads = 0, torn = 0;
  while (writersLeft > 0 || loads == 0) {
    TMFtpFileInfoList loaded;
    ++loads;
    if (!LoadCacheFile(path, loaded, 7) || !(SameEntries(loaded, lists[0]) || SameEntries(loaded, lists[1]))) ++torn;
  }
  a.join();
  b.join();
  EXPECT_EQ(failedSaves, 0);
  EXPECT_EQ(torn, 0) << "of " << loads << " loads";
  TMFtpFileInfoList last;
  EXPECT_TRUE(LoadCacheFile(path, last, 7));
  const auto files = std::filesystem::directory_iterator(tree_.Posix("cache/kestrovane/ftpcache"));
  EXPECT_EQ(std::distance(begin(files), end(files)), 1) << "temporary files left behind";
}

}  // namespace
}  // namespace kv

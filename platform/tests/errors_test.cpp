#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

namespace kv::platform {
namespace {

TEST(ErrorsTest, LastErrorBelongsToTheThread) {
  SetLastError(ENOENT);
  int seenByOther = -1;
  std::thread other([&] {
    seenByOther = GetLastError();
    SetLastError(EACCES);
  });
  other.join();
  EXPECT_EQ(seenByOther, 0);
  EXPECT_EQ(GetLastError(), ENOENT);
  SetLastError(0);
}

TEST(ErrorsTest, MessagesAreTheEnglishTextsOfTheCLibrary) {
  EXPECT_EQ(SysErrorMessage(ENOENT), "No such file or directory");
  EXPECT_EQ(SysErrorMessage(EACCES), "Permission denied");
  EXPECT_EQ(SysErrorMessage(ENOSPC), "No space left on device");
  EXPECT_EQ(SysErrorMessage(EXDEV), "Invalid cross-device link");
  EXPECT_EQ(SysErrorMessage(123456), "Unknown error 123456");
  EXPECT_EQ(SysErrorMessage(-3), "Unknown error -3");
}

TEST(ErrorsTest, MessagesAreSafeFromManyThreads) {
  const int codes[] = {ENOENT, EACCES, 123456, EEXIST, ENOTDIR};
  std::vector<std::string> expected;
  for (int code : codes) expected.push_back(SysErrorMessage(code));
  std::vector<int> mismatches(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const size_t k = (i + t) % std::size(codes);
        if (SysErrorMessage(codes[k]) != expected[k]) ++mismatches[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(8, 0));
}

}  // namespace
}  // namespace kv::platform

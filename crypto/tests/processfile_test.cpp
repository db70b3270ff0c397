// Coding runs over real files: in place, into a separate file, and which
// file is which.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "crypto/md4family.h"
#include "crypto/stream.h"
#include "crypto/tests/cryptotest.h"
#include "testsupport/temptree.h"

namespace kv::crypto::test {
namespace {

namespace fs = std::filesystem;

class ProcessFileTest : public ::testing::Test {
 protected:
  // Long enough for several chunks, so the chunking shows in the result.
  const std::string data_ = [] {
    std::mt19937 random(8);
    return RandomBytes(random, 10000);
  }();
  kv::test::TempTree tree_;

  // The result of coding data in a memory stream, chunk for chunk as a file run.
  static std::string Coded(const std::string& data, TCodingAction action) {
    TMemoryStream stream(data);
    THash_RipeMD160().ProcessStream(&stream, nullptr, -1, action);
    return stream.Bytes();
  }
  void CodeFile(const std::string& source, const std::string& destination, TCodingAction action) {
    THash_RipeMD160().ProcessFile(tree_.Win(source), destination, action);
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(tree_.Posix())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// The file is coded in place when no destination is given or the
// destination is the source under any spelling, a hard link included (never
// emptied before it is read); names that differ in case are two files here.
TEST_F(ProcessFileTest, OneFileByIdentityNotByName) {
  tree_.Write("a.bin", data_);
  fs::create_hard_link(tree_.Posix("a.bin"), tree_.Posix("link.bin"));
  CodeFile("a.bin", tree_.Win("a.bin"), caEncode);
  EXPECT_EQ(tree_.Read("a.bin"), Coded(data_, caEncode));
  CodeFile("a.bin", " ", caDecode);
  EXPECT_EQ(tree_.Read("a.bin"), data_);
  CodeFile("a.bin", tree_.WinFolder("x") + "..\\a.bin", caEncode);
  EXPECT_EQ(tree_.Read("a.bin"), Coded(data_, caEncode));
  CodeFile("a.bin", tree_.Win("link.bin"), caDecode);
  EXPECT_EQ(tree_.Read("link.bin"), data_);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.bin", "link.bin"}));

  tree_.Write("A.bin", "the other file");
  CodeFile("a.bin", tree_.Win("A.bin"), caEncode);
  EXPECT_EQ(tree_.Read("a.bin"), data_);
  EXPECT_EQ(tree_.Read("A.bin"), Coded(data_, caEncode));
}

// A replaced file keeps its mode, a new one gets the usual one, and nothing
// is left beside them.
TEST_F(ProcessFileTest, SeparateDestinationKeepsTheReplacedFilesModeAndANewFileGetsTheUsualOne) {
  tree_.Write("source", data_);
  tree_.Write("target", "old");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(tree_.Posix("target"), mode);
  CodeFile("source", tree_.Win("target"), caScramble);
  EXPECT_EQ(tree_.Read("target"), Coded(data_, caScramble));
  EXPECT_EQ(fs::status(tree_.Posix("target")).permissions() & fs::perms::all, mode);
  CodeFile("source", tree_.Win("new"), caEncode);
  EXPECT_EQ(tree_.Read("new"), Coded(data_, caEncode));
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(static_cast<mode_t>(fs::status(tree_.Posix("new")).permissions() & fs::perms::all), 0666 & ~mask);
  EXPECT_EQ(Names(), (std::vector<std::string>{"new", "source", "target"}));
}

// A run that fails half-way (here the disk is full) leaves the destination
// as it was and nothing beside it; a missing source is reported by name and
// makes no destination.
TEST_F(ProcessFileTest, FailedRunLeavesTheDestinationAsItWas) {
  tree_.Write("source", std::string(1 << 20, 's'));
  tree_.Write("target", "old content");
  const int result = kv::test::RunWithFileSizeLimit(64 << 10, [&] {
    try {
      CodeFile("source", tree_.Win("target"), caEncode);
      return 1;
    } catch (const EStreamError&) {
      return 0;
    }
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(tree_.Read("target"), "old content");
  try {
    CodeFile("missing.bin", tree_.Win("out.bin"), caEncode);
    ADD_FAILURE() << "no error";
  } catch (const EStreamError& e) {
    EXPECT_NE(std::string(e.what()).find(tree_.Win("missing.bin")), std::string::npos) << e.what();
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"source", "target"}));
}

// Calculating only reads: a read-only file is digested under its own name,
// also by a user who could not open it for writing.
TEST_F(ProcessFileTest, CalculateOpensReadOnlyAndWritesNothing) {
  tree_.Write("ro.bin", data_);
  fs::permissions(tree_.Posix("ro.bin"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(tree_.Posix(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
  const std::string expected = DigestOf(THash_RipeMD160::Class(), data_);
  const int result = kv::test::RunUnprivileged([&] {
    THash_RipeMD160 hash;
    try {
      hash.ProcessFile(tree_.Win("ro.bin"), tree_.Win("ro.bin"), caCalculate);
    } catch (const Exception&) {
      return 2;
    }
    return Digest(hash) == expected ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  CodeFile("ro.bin", tree_.Win("never.bin"), caCalculate);
  EXPECT_EQ(Names(), std::vector<std::string>{"ro.bin"});
}

}  // namespace
}  // namespace kv::crypto::test

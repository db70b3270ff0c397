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

  // The result of coding data_ in a memory stream, chunk for chunk as a file run.
  std::string Coded(const std::string& data, TCodingAction action) {
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

TEST_F(ProcessFileTest, SameNameOrNoDestinationCodesInPlace) {
  tree_.Write("a.bin", data_);
  CodeFile("a.bin", tree_.Win("a.bin"), caEncode);
  EXPECT_EQ(tree_.Read("a.bin"), Coded(data_, caEncode));
  CodeFile("a.bin", " ", caDecode);
  EXPECT_EQ(tree_.Read("a.bin"), data_);
  EXPECT_EQ(Names(), std::vector<std::string>{"a.bin"});
}

// Another spelling or a hard link is the same file: coded in place, never
// emptied before it is read.
TEST_F(ProcessFileTest, OtherSpellingsOfTheSourceCodeItInPlace) {
  tree_.Write("a.bin", data_);
  fs::create_hard_link(tree_.Posix("a.bin"), tree_.Posix("link.bin"));
  CodeFile("a.bin", tree_.WinFolder("x") + "..\\a.bin", caEncode);
  EXPECT_EQ(tree_.Read("a.bin"), Coded(data_, caEncode));
  CodeFile("a.bin", tree_.Win("link.bin"), caDecode);
  EXPECT_EQ(tree_.Read("link.bin"), data_);
  EXPECT_EQ(tree_.Read("a.bin"), data_);
}

// Names that differ in case are two files here.
TEST_F(ProcessFileTest, NamesDifferingInCaseAreTwoFiles) {
  tree_.Write("A.bin", data_);
  tree_.Write("a.bin", "the other file");
  CodeFile("A.bin", tree_.Win("a.bin"), caEncode);
  EXPECT_EQ(tree_.Read("A.bin"), data_);
  EXPECT_EQ(tree_.Read("a.bin"), Coded(data_, caEncode));
}

TEST_F(ProcessFileTest, SeparateDestinationKeepsTheReplacedFilesMode) {
  tree_.Write("source", data_);
  tree_.Write("target", "old");
  fs::permissions(tree_.Posix("target"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  CodeFile("source", tree_.Win("target"), caScramble);
  EXPECT_EQ(tree_.Read("target"), Coded(data_, caScramble));
  EXPECT_EQ(fs::status(tree_.Posix("target")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  CodeFile("source", tree_.Win("new"), caEncode);
  EXPECT_EQ(tree_.Read("new"), Coded(data_, caEncode));
  EXPECT_EQ(Names(), (std::vector<std::string>{"new", "source", "target"}));
}

// A run that fails half-way (here the disk is full) leaves the destination
// as it was and nothing beside it.
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
    return std::string(reinterpret_cast<char*>(hash.DigestBytes()), 20) == expected ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  CodeFile("ro.bin", tree_.Win("never.bin"), caCalculate);
  EXPECT_EQ(Names(), std::vector<std::string>{"ro.bin"});
}

TEST_F(ProcessFileTest, MissingSourceIsReportedByName) {
  try {
    CodeFile("missing.bin", tree_.Win("out.bin"), caEncode);
    ADD_FAILURE() << "no error";
  } catch (const EStreamError& e) {
    EXPECT_NE(std::string(e.what()).find(tree_.Win("missing.bin")), std::string::npos) << e.what();
  }
  EXPECT_FALSE(tree_.Exists("out.bin"));
}

}  // namespace
}  // namespace kv::crypto::test

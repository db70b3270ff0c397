// Index files of every layout, written here line by line.
#include <cstdio>

#include <gtest/gtest.h>

#include "ftp/ftpindex.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

class IndexFile : public ::testing::Test {
 protected:
  IndexFile() {
    for (const char* name : {"readme.txt", "my file.txt", "both.txt", "README", "DATA.TXT", "AB", ""})
      files_.Add(name, "", "", "0", "", "", "", "");
    for (const char* name : {"pub", "both.txt"}) dirs_.Add(name, "", "", "0", "", "", "", "");
  }

  bool Read(const std::vector<std::string>& lines, const char* lineEnd = "\r\n") {
    std::string text;
    for (const std::string& line : lines) text += line + lineEnd;
    tree_.Write("index.txt", text);
    return ParseIndexFile(tree_.Win("index.txt"), dirs_, files_);
  }

  std::string File(const char* name) const { return files_.Item(files_.IndexOf(name)).description; }
  std::string Dir(const char* name) const { return dirs_.Item(dirs_.IndexOf(name)).description; }

  test::TempTree tree_;
  TMFtpFileInfoList dirs_, files_;
};

template <typename... Texts>
std::string Columns(const char* format, Texts... texts) {
  char line[200];
  std::snprintf(line, sizeof line, format, texts...);
  return line;
}

TEST_F(IndexFile, PlainLinesNameAnEntryThenDescribeIt) {
  ASSERT_TRUE(Read({"readme.txt  Read this first", "\"my file.txt\"  A text file", "\"unclosed  quote",
                    "nospace", "\tpub\tPublic\tfiles", "", "both.txt On both sides", "\"\"  matches nothing"},
                   "\n"));
  EXPECT_EQ(File("readme.txt"), "Read this first");
  EXPECT_EQ(File("my file.txt"), "A text file");
  EXPECT_EQ(Dir("pub"), "Public files");
  EXPECT_EQ(File("both.txt"), "On both sides");
  EXPECT_EQ(Dir("both.txt"), "On both sides");
  EXPECT_EQ(files_.Item(6).description, "");

  // A second file starts from empty descriptions.
  ASSERT_TRUE(Read({"AB second"}));
  EXPECT_EQ(File("AB"), "second");
  EXPECT_EQ(File("readme.txt"), "");
  EXPECT_EQ(Dir("pub"), "");

  EXPECT_FALSE(ParseIndexFile(tree_.Win("missing.txt"), dirs_, files_));
  EXPECT_EQ(File("AB"), "");
}

TEST_F(IndexFile, KeeperLinesDescribeFoldersAndFilesApart) {
  ASSERT_TRUE(Read({"This file is made by the archive Keeper - do not edit by hand!", "both.txt before the rule",
                    std::string(78, '-'), "pub/ Public files", "readme.txt   Read me ", "both.txt  only the file",
                    "lonely"}));
  EXPECT_EQ(Dir("pub"), "Public files");
  EXPECT_EQ(File("readme.txt"), "Read me");
  EXPECT_EQ(File("both.txt"), "only the file");
  EXPECT_EQ(Dir("both.txt"), "");
}

TEST_F(IndexFile, DatedArchiveColumns) {
  std::vector<std::string> lines = {"Files of 01-Jan-2001",
                                    "Some files may have been added or deleted since that date.  See"};
  lines.resize(9, "header");
  lines.push_back(Columns("%-13s%-20s", "readme.txt", "12345  01-Jan-2001") + "Dated description");
  lines.push_back(Columns("%-13s%-20s", "both.txt", "12345  01-Jan-2001") + "On both");
  lines.push_back("AB");  // cut short: no description
  ASSERT_TRUE(Read(lines));
  EXPECT_EQ(File("readme.txt"), "Dated description");
  EXPECT_EQ(Dir("both.txt"), "On both");
  EXPECT_EQ(File("AB"), "");
}

TEST_F(IndexFile, WinSitePairsOfLines) {
  std::vector<std::string> lines = {"", "** WinSite (tm):  The Planet's Largest Software Archive for Windows"};
  lines.resize(22, "banner");
  lines.insert(lines.end(), {"readme.txt   12345  date", "  Read me, on the next line", "pub", "Public files",
                             std::string(77, '*'), "x", std::string(78, '*'), "both.txt", "after the rule"});
  ASSERT_TRUE(Read(lines));
  EXPECT_EQ(File("readme.txt"), "Read me, on the next line");
  EXPECT_EQ(Dir("pub"), "Public files");
  EXPECT_EQ(File("both.txt"), "");
}

TEST_F(IndexFile, NameAndExtensionColumns) {
  ASSERT_TRUE(Read({"Index", "", "File     Ext     Size   Date     Time   Description", "----",
                    Columns("%-8s %-3s %-27s%s", "DATA", "TXT", "1234 01-01-01 12:00", "Data file"),
                    Columns("%-8s %-3s %-27s%s", "README", "", "99 01-01-01 12:00", "Read me first"), "AB"}));
  EXPECT_EQ(File("DATA.TXT"), "Data file");
  EXPECT_EQ(File("README"), "Read me first");
  EXPECT_EQ(File("AB"), "");
}

}  // namespace
}  // namespace kv

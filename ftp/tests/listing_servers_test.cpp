// Real listings: a tree made here, served by each FTP server fixture and
// fetched with Python's ftplib ("LIST -aL"), parsed, and every entry held
// against what os.stat says of the tree.
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "ftp/ftpparse.h"
#include "testsupport/commands.h"
#include "testsupport/ftpserver.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::FtpServerKind;

struct StatFacts {
  bool isDirectory = false;
  std::string size;
  std::string date;  // DD/MM/YYYY hh:mm, UTC
};

struct OracleEntry {
  StatFacts followed;  // os.stat
  StatFacts itself;    // os.lstat
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

std::map<std::string, OracleEntry> StatOracle(const std::string& folder) {
  int status = -1;
  const std::string out =
      test::RunCommand("/usr/bin/python3 " KV_SOURCE_DIR "/ftp/tests/stat_oracle.py " + test::ShellQuote(folder), &status);
  EXPECT_EQ(status, 0) << out;
  std::map<std::string, OracleEntry> entries;
  for (const std::string& line : Split(out, '\n')) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() != 7) {
      ADD_FAILURE() << "oracle line: " << line;
      continue;
    }
    entries[f[0]] = {{f[1] == "1", f[2], f[3]}, {f[4] == "1", f[5], f[6]}};
  }
  return entries;
}

void BuildTree(const test::TempTree& tree) {
  tree.Write("srv/notes.txt", "some notes\n");
  tree.Write("srv/with blank.txt", "x");
  tree.Write("srv/two  blanks", "yy");
  tree.Write("srv/a -> b", "an arrow in a name");
  tree.Write("srv/\xC3\x9Cmlaut \xC3\x9F.txt", "u");
  tree.Write("srv/.hidden", "h");
  tree.Write("srv/sub/inner.txt", "i");
  fs::create_symlink("notes.txt", tree.Posix("srv/link-to-file"));
  fs::create_symlink("sub", tree.Posix("srv/link-to-folder"));
  tree.Write("srv/big.bin", "");
  fs::resize_file(tree.Posix("srv/big.bin"), 5ull << 30);  // sparse
  tree.Write("srv/old.txt", "from 2019");
  tree.SetMTime("srv/old.txt", 1560594000);  // 15.06.2019 10:20 UTC
  tree.Write("srv/today.txt", "written now");
}

// A listing shows the year of an old entry and the time of a young one.
void ExpectSameDate(const std::string& parsed, const std::string& oracle) {
  ASSERT_EQ(parsed.size(), 16u) << parsed;
  if (parsed.substr(6, 4) == "????") {
    EXPECT_EQ(parsed.substr(0, 6), oracle.substr(0, 6));
    EXPECT_EQ(parsed.substr(10), oracle.substr(10));
  } else {
    EXPECT_EQ(parsed.substr(0, 10), oracle.substr(0, 10));
    EXPECT_EQ(parsed.substr(10), " 12:00");
  }
}

class ServerListing : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  test::TempTree tree_;
};

TEST_P(ServerListing, EveryEntryAgreesWithTheFileSystem) {
  BuildTree(tree_);
  KV_START_FTP_SERVER(server, GetParam(), {.root = tree_.Posix("srv")});
  int status = -1;
  const std::string listingText = test::RunFtpClient(server, {"list", server.RemotePath("")}, &status);
  ASSERT_EQ(status, 0) << listingText;
  const std::map<std::string, OracleEntry> oracle = StatOracle(tree_.Posix("srv"));

  std::map<std::string, std::string> dates;
  FtpListingState listing;
  for (const std::string& line : Split(listingText, '\n')) {
    SCOPED_TRACE(line);
    FtpListEntry e;
    if (!ParseListLine(ftpstAutoDetect, line, e, listing)) {
      EXPECT_EQ(line.rfind("total ", 0), 0u) << "an entry was not read";
      continue;
    }
    if (e.name == "." || e.name == "..") continue;
    const auto it = oracle.find(e.name);
    ASSERT_NE(it, oracle.end()) << "no such entry: " << e.name;
    const StatFacts& shown = e.link.empty() ? it->second.followed : it->second.itself;
    EXPECT_EQ(e.isDirectory, it->second.followed.isDirectory);
    EXPECT_EQ(e.size, shown.size);
    ExpectSameDate(e.date, shown.date);
    dates[e.name] = e.date;
  }
  std::set<std::string> listed, present;
  for (const auto& [name, date] : dates) listed.insert(name);
  for (const auto& [name, facts] : oracle) present.insert(name);
  EXPECT_EQ(listed, present);
  EXPECT_EQ(dates["old.txt"], "15/06/2019 12:00");
  EXPECT_EQ(dates["today.txt"].substr(6, 4), "????");
}

INSTANTIATE_TEST_SUITE_P(Kinds, ServerListing, ::testing::ValuesIn(test::kFtpServerKinds),
                         [](const auto& info) { return std::string(test::FtpServerKindName(info.param)); });

}  // namespace
}  // namespace kv

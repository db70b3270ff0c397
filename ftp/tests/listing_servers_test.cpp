// Real listings: a tree made here, served by each FTP server fixture and
// fetched with Python's ftplib ("LIST -aL"), parsed, and every entry held
// against what os.stat says of the tree.
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "ftp/ftpparse.h"
#include "ftp/tests/servertree.h"
#include "testsupport/ftpserver.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::FtpServerKind;

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

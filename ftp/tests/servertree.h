#pragma once
// The tree the listing tests serve, and what os.stat says of it.
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/commands.h"
#include "testsupport/temptree.h"

namespace kv {

struct StatFacts {
  bool isDirectory = false;
  std::string size;
  std::string date;  // DD/MM/YYYY hh:mm, UTC
};

struct OracleEntry {
  StatFacts followed;  // os.stat
  StatFacts itself;    // os.lstat
};

inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

inline std::map<std::string, OracleEntry> StatOracle(const std::string& folder) {
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

inline void BuildTree(const test::TempTree& tree) {
  tree.Write("srv/notes.txt", "some notes\n");
  tree.Write("srv/with blank.txt", "x");
  tree.Write("srv/two  blanks", "yy");
  tree.Write("srv/a -> b", "an arrow in a name");
  tree.Write("srv/\xC3\x9Cmlaut \xC3\x9F.txt", "u");
  tree.Write("srv/.hidden", "h");
  tree.Write("srv/sub/inner.txt", "i");
  std::filesystem::create_symlink("notes.txt", tree.Posix("srv/link-to-file"));
  std::filesystem::create_symlink("sub", tree.Posix("srv/link-to-folder"));
  tree.Write("srv/big.bin", "");
  std::filesystem::resize_file(tree.Posix("srv/big.bin"), 5ull << 30);  // sparse
  tree.Write("srv/old.txt", "from 2019");
  tree.SetMTime("srv/old.txt", 1560594000);  // 15.06.2019 10:20 UTC
  tree.Write("srv/today.txt", "written now");
}

// A listing shows the year of an old entry and the time of a young one.
inline void ExpectSameDate(const std::string& parsed, const std::string& oracle) {
  ASSERT_EQ(parsed.size(), 16u) << parsed;
  if (parsed.substr(6, 4) == "????") {
    EXPECT_EQ(parsed.substr(0, 6), oracle.substr(0, 6));
    EXPECT_EQ(parsed.substr(10), oracle.substr(10));
  } else {
    EXPECT_EQ(parsed.substr(0, 10), oracle.substr(0, 10));
    EXPECT_EQ(parsed.substr(10), " 12:00");
  }
}

}  // namespace kv

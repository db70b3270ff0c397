#include "platform/inifile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "platform/errors.h"
#include "platform/volumes.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::TempTree;

struct StatInfo { ino_t inode = 0; int64_t mtimeNs = 0; mode_t mode = 0; };

StatInfo StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return {st.st_ino, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec, st.st_mode & 07777};
}

// Days since 30.12.1899 computed by the calendar library, not by the code under test.
double DaysSince1899(int y, unsigned m, unsigned d) {
  using namespace std::chrono;
  return static_cast<double>((sys_days{year{y} / month{m} / day{d}} - sys_days{year{1899} / December / 30}).count());
}

double TimeOfDay(int h, int n, int s) { return (h * 3600 + n * 60 + s) / 86400.0; }

class IniFileTest : public ::testing::Test {
 protected:
  kv::test::ScopedRegistry registry_;  // default volume table: "C:" is "/"
  TempTree tree_;
  std::string Win(const std::string& rel) const { return tree_.Win(rel); }
};

TEST_F(IniFileTest, ReadsValuesSectionsAndKeysAsProfileFilesDo) {
  tree_.Write("r.ini",
              "; leading comment\r\nOrphan=before any section\r\n[Main]\r\nPlain=hello\r\n"
              "Spaced =   padded value   \r\nDQ=\"  quoted  \"\r\nSQ='single'\r\nMixed=\"half'\r\nOnlyQuote=\"\r\n"
              "TwoPairs=\"\"x\"\"\r\nEmpty=\r\nDup=first\r\ndup=second\r\nNoEquals line\r\n; Comment=ignored\r\n"
              "   Indented = yes\r\nÄpfel=obst\r\nInline=a ; not a comment\r\n[ Other ]\r\nPlain=other\r\n"
              "[main]\r\nLate=from second occurrence\r\nDup=third\r\n[Empty]\r\n\r\n[CommentsOnly]\r\n; x=1\r\n");
  IniFile ini(Win("r.ini"));
  struct Case { const char* section; const char* key; const char* expected; } cases[] = {
      {"Main", "Plain", "hello"}, {"MAIN", "plain", "hello"}, {"Main", "Spaced", "padded value"},
      {"Main", "DQ", "  quoted  "}, {"Main", "SQ", "single"}, {"Main", "Mixed", "\"half'"},
      {"Main", "OnlyQuote", "\""}, {"Main", "TwoPairs", "\"x\""}, {"Main", "Empty", ""}, {"Main", "Dup", "first"},
      {"Main", "DUP", "first"}, {"Main", "NoEquals line", "<def>"}, {"Main", "; Comment", "<def>"},
      {"Main", "Indented", "yes"}, {"main", "äPFEL", "obst"}, {"Main", "Inline", "a ; not a comment"},
      {"Main", "Late", "from second occurrence"}, {" Main ", " Plain ", "hello"}, {"Other", "Plain", "other"},
      {"Other", "Late", "<def>"}, {"Missing", "Plain", "<def>"}, {"", "Orphan", "<def>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ini.ReadString(c.section, c.key, "<def>"), c.expected) << c.section << "/" << c.key;

  // Sections and keys in file order, each once.
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Main", "Other", "Empty", "CommentsOnly"}));
  EXPECT_EQ(ini.ReadSection("main"),
            (std::vector<std::string>{"Plain", "Spaced", "DQ", "SQ", "Mixed", "OnlyQuote", "TwoPairs", "Empty", "Dup",
                                      "Indented", "Äpfel", "Inline", "Late"}));
  EXPECT_EQ(ini.ReadSectionValues("Other"), (std::vector<std::string>{"Plain=other"}));
  std::vector<std::string> values = ini.ReadSectionValues("Main");
  ASSERT_EQ(values.size(), 13u);
  EXPECT_EQ(values[2], "DQ=  quoted  ");
  EXPECT_EQ(values[8], "Dup=first");
  EXPECT_TRUE(ini.ValueExists("Main", "Empty"));
  EXPECT_FALSE(ini.ValueExists("Main", "NoEquals line"));
  // A section counts only with a key in it.
  EXPECT_TRUE(ini.SectionExists("other"));
  EXPECT_FALSE(ini.SectionExists("Empty") || ini.SectionExists("CommentsOnly") || ini.SectionExists("Nowhere"));
}

TEST_F(IniFileTest, ReadsNumbersAndBooleansWithDefaults) {
  // Number syntax itself is StrToIntDef's (see its test); here what the
  // file adds: blanks, quotes, booleans as non-zero integers.
  struct Case {
    const char* text;
    int32_t integer;  // with default 7
    bool boolean;     // with default true
  } cases[] = {
      {"42", 42, true},   {" -13 ", -13, true}, {"$1F", 31, true},  {"0X1f", 31, true}, {"0", 0, false},
      {"$0", 0, false},   {"\"5\"", 5, true},  {"12abc", 7, true}, {"", 7, true},      {"true", 7, true},
      {"-1", -1, true},
  };
  std::string content = "[N]\n";
  for (size_t i = 0; i < std::size(cases); ++i) content += "k" + std::to_string(i) + "=" + cases[i].text + "\n";
  tree_.Write("n.ini", content);
  IniFile ini(Win("n.ini"));
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string key = "k" + std::to_string(i);
    EXPECT_EQ(ini.ReadInteger("N", key, 7), cases[i].integer) << cases[i].text;
    EXPECT_EQ(ini.ReadBool("N", key, true), cases[i].boolean) << cases[i].text;
  }
  EXPECT_FALSE(ini.ReadBool("N", "k4", false));  // "0"
  EXPECT_FALSE(ini.ReadBool("N", "k9", false));  // "true" is no number: the default
  EXPECT_EQ(ini.ReadInteger("N", "absent", -9), -9);
}

TEST_F(IniFileTest, ReadsDatesAndTimesWithDefaults) {
  tree_.Write("d.ini",
              "[D]\nFull=07.12.26 14:30:15\nLong=07.12.2026 14:30:15\nDateOnly=07.12.26\n"
              "TimeOnly=08:15\nTimeSec=08:15:30\nBadDay=31.02.26\nJunk=morgen\nBadHour=25:00\n");
  IniFile ini(Win("d.ini"));
  const double day = DaysSince1899(2026, 12, 7);
  const double def = -1;
  EXPECT_NEAR(ini.ReadDateTime("D", "Full", def), day + TimeOfDay(14, 30, 15), 1e-8);
  EXPECT_NEAR(ini.ReadDateTime("D", "Long", def), day + TimeOfDay(14, 30, 15), 1e-8);
  EXPECT_NEAR(ini.ReadDateTime("D", "DateOnly", def), day, 1e-8);
  EXPECT_NEAR(ini.ReadDateTime("D", "TimeOnly", def), TimeOfDay(8, 15, 0), 1e-8);
  EXPECT_NEAR(ini.ReadTime("D", "TimeSec", def), TimeOfDay(8, 15, 30), 1e-8);
  EXPECT_NEAR(ini.ReadDate("D", "DateOnly", def), day, 1e-8);
  const char* bad[][2] = {{"DateTime", "BadDay"}, {"DateTime", "Junk"}, {"DateTime", "Missing"},
                          {"Time", "BadHour"},    {"Time", "Full"},    {"Date", "Full"},
                          {"Date", "TimeOnly"}};
  for (auto& [kind, key] : bad) {
    std::string k = kind;
    double v = k == "Time" ? ini.ReadTime("D", key, def) : k == "Date" ? ini.ReadDate("D", key, def)
                                                                     : ini.ReadDateTime("D", key, def);
    EXPECT_EQ(v, def) << kind << " " << key;
  }
}

TEST_F(IniFileTest, WritesDatesInTheFixedFormats) {
  IniFile ini(Win("w.ini"));
  const double day = DaysSince1899(2026, 12, 7);
  ASSERT_TRUE(ini.WriteDateTime("D", "Full", day + TimeOfDay(14, 30, 15)));
  ASSERT_TRUE(ini.WriteDateTime("D", "Midnight", day));
  ASSERT_TRUE(ini.WriteDate("D", "Date", day + TimeOfDay(14, 30, 15)));
  ASSERT_TRUE(ini.WriteTime("D", "Time", day + TimeOfDay(9, 5, 7)));
  EXPECT_EQ(tree_.Read("w.ini"),
            "[D]\r\nFull=07.12.26 14:30:15\r\nMidnight=07.12.26\r\nDate=07.12.26\r\nTime=09:05:07\r\n");
}

// Edits against exact bytes: where a key lands, what stays untouched.
TEST_F(IniFileTest, EditsKeepTheRestOfTheFile) {
  const std::string crlf = "; settings\r\n[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n";
  struct Case {
    const char* name;
    std::string before;
    std::function<bool(IniFile&)> edit;
    std::string after;
  } cases[] = {
      {"replace keeps key spelling", crlf, [](IniFile& f) { return f.WriteString("a", "X", "9"); },
       "; settings\r\n[A]\r\nx=9\r\ny=2\r\n\r\n[B]\r\nz=3\r\n"},
      {"append before blank lines", crlf, [](IniFile& f) { return f.WriteString("A", "new", "v"); },
       "; settings\r\n[A]\r\nx=1\r\ny=2\r\nnew=v\r\n\r\n[B]\r\nz=3\r\n"},
      {"new section at the end", crlf, [](IniFile& f) { return f.WriteString("C", "k", "v"); },
       crlf + "\r\n[C]\r\nk=v\r\n"},
      {"erase middle section", crlf, [](IniFile& f) { return f.EraseSection("a"); }, "; settings\r\n[B]\r\nz=3\r\n"},
      {"erase last section", crlf, [](IniFile& f) { return f.EraseSection("B"); },
       "; settings\r\n[A]\r\nx=1\r\ny=2\r\n"},
      {"delete key", crlf, [](IniFile& f) { return f.DeleteKey("A", "Y"); },
       "; settings\r\n[A]\r\nx=1\r\n\r\n[B]\r\nz=3\r\n"},
      {"LF file stays LF", "[A]\nx=1\n", [](IniFile& f) { return f.WriteString("A", "y", "2"); }, "[A]\nx=1\ny=2\n"},
      {"no final line end", "[A]\nx=1", [](IniFile& f) { return f.WriteString("A", "y", "2"); }, "[A]\nx=1\ny=2\n"},
      {"byte order mark kept", "\xEF\xBB\xBF[A]\r\nx=1\r\n", [](IniFile& f) { return f.WriteString("A", "x", "2"); },
       "\xEF\xBB\xBF[A]\r\nx=2\r\n"},
      {"duplicate sections erased together", "[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n",
       [](IniFile& f) { return f.EraseSection("A"); }, "[B]\ny=2\n"},
      {"duplicate keys deleted together", "[A]\nx=1\nX=2\n[a]\nx=3\nk=4\n",
       [](IniFile& f) { return f.DeleteKey("A", "x"); }, "[A]\n[a]\nk=4\n"},
      {"new key goes to the first occurrence", "[A]\nx=1\n[B]\n[A]\ny=2\n",
       [](IniFile& f) { return f.WriteString("A", "n", "3"); }, "[A]\nx=1\nn=3\n[B]\n[A]\ny=2\n"},
      {"key found in a later occurrence is replaced there", "[A]\nx=1\n[B]\n[A]\ny=2\n",
       [](IniFile& f) { return f.WriteString("A", "Y", "5"); }, "[A]\nx=1\n[B]\n[A]\ny=5\n"},
      {"append after last entry, not after a trailing comment", "[A]\nx=1\n; about B\n[B]\n",
       [](IniFile& f) { return f.WriteString("A", "y", "2"); }, "[A]\nx=1\ny=2\n; about B\n[B]\n"},
      {"booleans and integers", "",
       [](IniFile& f) { return f.WriteBool("S", "on", true) && f.WriteBool("S", "off", false) && f.WriteInteger("S", "n", -5); },
       "[S]\r\non=1\r\noff=0\r\nn=-5\r\n"},
      {"section name with brackets", "",
       [](IniFile& f) { return f.WriteString("FldrC:\\a]b\\D:\\x\\", "C:\\a]b\\skip\\", ""); },
       "[FldrC:\\a]b\\D:\\x\\]\r\nC:\\a]b\\skip\\=\r\n"},
  };
  for (const Case& c : cases) {
    tree_.Write("e.ini", c.before);
    IniFile ini(Win("e.ini"));
    EXPECT_TRUE(c.edit(ini)) << c.name;
    EXPECT_EQ(tree_.Read("e.ini"), c.after) << c.name;
  }
  IniFile brackets(Win("e.ini"));
  EXPECT_EQ(brackets.ReadSection("fldrc:\\A]B\\d:\\X\\"), (std::vector<std::string>{"C:\\a]b\\skip\\"}));
}

TEST_F(IniFileTest, UnchangedContentIsNotRewritten) {
  tree_.Write("u.ini", "[A]\nx = \"1\"\nempty=\n");
  const std::string path = tree_.Posix("u.ini");
  IniFile ini(Win("u.ini"));
  StatInfo before = StatOf(path);
  EXPECT_TRUE(ini.WriteString("a", "X", "1"));       // reads back the same
  EXPECT_TRUE(ini.WriteInteger("A", "x", 1));
  EXPECT_TRUE(ini.WriteString("A", "empty", ""));
  EXPECT_TRUE(ini.EraseSection("Missing"));
  EXPECT_TRUE(ini.DeleteKey("A", "missing"));
  EXPECT_TRUE(ini.DeleteKey("Missing", "x"));
  StatInfo after = StatOf(path);
  EXPECT_EQ(after.inode, before.inode);
  EXPECT_EQ(after.mtimeNs, before.mtimeNs);
  EXPECT_EQ(tree_.Read("u.ini"), "[A]\nx = \"1\"\nempty=\n");

  // A real change replaces the file (new inode) and keeps its permissions.
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  EXPECT_TRUE(ini.WriteString("A", "x", "2"));
  StatInfo changed = StatOf(path);
  EXPECT_NE(changed.inode, before.inode);
  EXPECT_EQ(changed.mode, 0640u);

  // Deleting from a missing file creates nothing.
  IniFile none(Win("none.ini"));
  EXPECT_TRUE(none.EraseSection("A"));
  EXPECT_TRUE(none.DeleteKey("A", "x"));
  EXPECT_FALSE(tree_.Exists("none.ini"));
}

TEST_F(IniFileTest, MissingFileReadsDefaultsAndWriteCreatesIt) {
  IniFile ini(Win("new.ini"));
  EXPECT_EQ(ini.ReadString("A", "x", "d"), "d");
  EXPECT_EQ(ini.ReadInteger("A", "x", 3), 3);
  EXPECT_TRUE(ini.ReadSections().empty());
  EXPECT_FALSE(ini.SectionExists("A"));
  ASSERT_TRUE(ini.WriteString("Options", "ShowProcess", "1"));
  EXPECT_EQ(tree_.Read("new.ini"), "[Options]\r\nShowProcess=1\r\n");

  IniFile noFolder(Win("missing-folder/x.ini"));
  EXPECT_FALSE(noFolder.WriteString("A", "x", "1"));
  EXPECT_EQ(GetLastError(), ENOENT);
  EXPECT_FALSE(tree_.Exists("missing-folder"));

  // A folder where the file should be: reads give defaults, writes fail.
  tree_.Mkdir("dir.ini");
  IniFile dir(Win("dir.ini"));
  EXPECT_EQ(dir.ReadString("A", "x", "d"), "d");
  EXPECT_FALSE(dir.WriteString("A", "x", "1"));
  EXPECT_EQ(GetLastError(), EISDIR);
}

// An unplugged disk leaves its empty mount folder behind: nothing may be
// read from or written into it as if it were the disk.
TEST_F(IniFileTest, DriveThatIsNotMountedIsNeitherReadNorWritten) {
  tree_.Write("unplugged/Timer.ini", "[A]\nx=underneath\n");
  VolumeTable table = VolumeTable::Load();
  table.Set(Volume{"U:", tree_.Posix("unplugged"), std::nullopt, "", /*mustBeMounted=*/true, ""});
  table.Save();
  IniFile ini("U:\\Timer.ini");
  EXPECT_EQ(ini.ReadString("A", "x", "d"), "d");
  EXPECT_FALSE(ini.WriteString("A", "x", "1"));
  EXPECT_EQ(GetLastError(), ENOMEDIUM);
  EXPECT_FALSE(ini.EraseSection("A"));
  EXPECT_EQ(tree_.Read("unplugged/Timer.ini"), "[A]\nx=underneath\n");
}

TEST_F(IniFileTest, RefusesWhatCouldNotBeReadBack) {
  tree_.Write("v.ini", "[A]\nx=1\n");
  IniFile ini(Win("v.ini"));
  struct Case { const char* section; const char* key; const char* value; } cases[] = {
      {"A", "", "v"},     {"A", "  ", "v"},    {"A", "a=b", "v"}, {"A", ";k", "v"},   {"A", "[k", "v"},
      {"A", "a\nb", "v"}, {"A\nB", "k", "v"},  {"", "k", "v"},    {"A", "k", "1\n2"}, {"A", "k", "1\r2"},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(ini.WriteString(c.section, c.key, c.value)) << c.key;
    EXPECT_EQ(GetLastError(), EINVAL) << c.key;
  }
  EXPECT_EQ(tree_.Read("v.ini"), "[A]\nx=1\n");
}

TEST_F(IniFileTest, EveryReadSeesTheFileAsItIsNow) {
  IniFile reader(Win("live.ini"));
  IniFile writer(tree_.Posix("live.ini"));  // the same file named as a POSIX path
  for (int i = 0; i < 50; ++i) {
    // Same length every time: only the stamp can tell the versions apart.
    std::string v = "v" + std::to_string(10 + i);
    ASSERT_TRUE(writer.WriteString("S", "k", v));
    ASSERT_EQ(reader.ReadString("S", "k", ""), v);
  }
  tree_.Write("live.ini", "[S]\nk=changed by someone else\n");
  EXPECT_EQ(reader.ReadString("S", "k", ""), "changed by someone else");
  ASSERT_EQ(unlink(tree_.Posix("live.ini").c_str()), 0);
  EXPECT_EQ(reader.ReadString("S", "k", "gone"), "gone");
}

TEST_F(IniFileTest, ConcurrentWritersKeepEveryKey) {
  tree_.Mkdir("sub");
  ASSERT_EQ(symlink(tree_.Posix("sub").c_str(), tree_.Posix("link").c_str()), 0);
  // Three spellings of one file: they must share one writer lock.
  const std::string names[] = {Win("sub/c.ini"), tree_.Posix("sub/c.ini"), tree_.Posix("link/c.ini")};
  constexpr int kThreads = 6, kKeys = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      IniFile ini(names[t % 3]);
      for (int k = 0; k < kKeys; ++k)
        ini.WriteString("S" + std::to_string(k % 3), "t" + std::to_string(t) + "k" + std::to_string(k),
                        std::to_string(t * 1000 + k));
    });
  }
  for (auto& th : threads) th.join();
  IniFile ini(Win("sub/c.ini"));
  int found = 0;
  for (int t = 0; t < kThreads; ++t)
    for (int k = 0; k < kKeys; ++k)
      found += ini.ReadInteger("S" + std::to_string(k % 3), "t" + std::to_string(t) + "k" + std::to_string(k), -1) ==
               t * 1000 + k;
  EXPECT_EQ(found, kThreads * kKeys);
  struct stat st {};
  ASSERT_EQ(lstat(tree_.Posix("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(IniFileTest, UnreadableFileIsNeverReplaced) {
  if (!kv::test::IsRoot()) GTEST_SKIP() << "needs root to hand the folder to another user";
  ASSERT_EQ(chmod(tree_.Posix().c_str(), 0777), 0);
  tree_.Write("secret.ini", "[A]\nx=1\n");
  ASSERT_EQ(chmod(tree_.Posix("secret.ini").c_str(), 0600), 0);
  const std::string path = tree_.Posix("secret.ini");
  int rc = kv::test::RunUnprivileged([&] {
    IniFile ini(path);
    if (ini.ReadString("A", "x", "d") != "d") return 1;
    if (ini.WriteString("A", "y", "2")) return 2;
    return GetLastError() == EACCES ? 0 : 3;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(tree_.Read("secret.ini"), "[A]\nx=1\n");
}

}  // namespace
}  // namespace kv::platform

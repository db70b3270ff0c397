// The external log from protocols written byte by byte from the record
// layout, its text spelt out here from the log's rules, and its trace read
// back as an INI file.
#include "copyengine/externallog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/inifile.h"
#include "testsupport/fixtures.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSection = "Protokoll des externen Logfiles";
constexpr const char* kHeader = "[07.03.2025 09:05]\r\n";
constexpr const char* kNotSaved = "Die StringListe des Ext. Ptk´s konnte nicht gespeichert werden. Fehler: ";

struct Rec {
  std::string first, second;  // texts at 0 and 256
  uint8_t stateCode, direction, status;
};

class ExternalLogTest : public ::testing::Test {
 protected:
  test::TempTree tree;
  ExternalLogSettings settings{.set = true, .path = tree.Win("logs/deep/ext.log")};

  // The records, then a trailer.
  void Protocol(const std::vector<Rec>& records) const {
    std::vector<uint8_t> all;
    for (const Rec& r : records) {
      const std::vector<uint8_t> one = test::GoldenRecord(test::kProtocolRecordSize)
                                           .Text(0, r.first).Text(256, r.second).Byte(549, 1).Byte(550, r.stateCode)
                                           .Byte(551, r.direction).Byte(600, r.status).Text(601, "Meldung").bytes();
      all.insert(all.end(), one.begin(), one.end());
    }
    const std::vector<uint8_t> trailer = test::GoldenRecord(test::kProtocolRecordSize).Byte(600, 255).bytes();
    all.insert(all.end(), trailer.begin(), trailer.end());
    test::WriteBytes(tree.Posix("p.ptk"), all);
  }
  // Writes the log at 7 March 2025, 09:05:59 and returns it.
  std::string Log(const std::string& traceRel = "ExtPtk.log") const {
    WriteExtLog(tree.Win("p.ptk"), settings, tree.Win(traceRel), platform::DateTimeFromCivil({2025, 3, 7, 9, 5, 59, 0}));
    return tree.Exists("logs/deep/ext.log") ? tree.Read("logs/deep/ext.log") : "";
  }
  // The trace's values; its keys must count 1..n.
  std::vector<std::string> Trace() const {
    const platform::IniFile ini(tree.Win("ExtPtk.log"));
    std::vector<std::string> values;
    for (const std::string& key : ini.ReadSection(kSection)) {
      EXPECT_EQ(key, std::to_string(values.size() + 1));
      values.push_back(ini.ReadString(kSection, key, ""));
    }
    return values;
  }
};

TEST_F(ExternalLogTest, LinesFollowStatusOptionsAndSeparator) {
  Protocol({
      {"vorher.txt", "vorher.txt", 2, 1, 1},      // before any folder: no folder columns
      {"C:\\Q\\", "Laufwerk fehlt", 10, 0, 2},    // a scheduler record: a folder line
      {"C:\\Q\\", "D:\\Z\\", 10, 0, 0},           // a folder that needed nothing
      {"a.txt", "a-ziel.txt", 3, 1, 1},           // done: each side's own name
      {"b.txt", "b-ziel.txt", 4, 2, 2},           // failed copy from side 2: side 2's name twice
      {"c.txt", "c-ziel.txt", 2, 1, 2},           // failed copy from side 1: side 1's name twice
      {"d.txt", "d.txt", 2, 1, 3},                // partial target: no line
      {"e.txt", "e.txt", 2, 1, 0},                // nothing done: no line
      {"C:\\Q\\neu\\", "D:\\Z\\neu\\", 8, 2, 1},  // a folder made: no line, but the new folder
      {"f.txt", "f.txt", 1, 2, 1},
      {"C:\\Q\\alt\\", "D:\\Z\\alt\\", 9, 1, 2},  // a folder that could not go
  });
  const struct {
    bool errors, done;
    const char* separator;
    std::string lines;
  } cases[] = {
      {true, true, "\t",
       "1\tvorher.txt\tvorher.txt\t1\t\r\n2\tC:\\Q\\\tLaufwerk fehlt\t0\t\r\n1\tC:\\Q\\a.txt\tD:\\Z\\a-ziel.txt\t1\t\r\n"
       "2\tC:\\Q\\b-ziel.txt\tD:\\Z\\b-ziel.txt\t2\t\r\n2\tC:\\Q\\c.txt\tD:\\Z\\c.txt\t1\t\r\n"
       "1\tC:\\Q\\neu\\f.txt\tD:\\Z\\neu\\f.txt\t2\t\r\n2\tC:\\Q\\alt\\\tD:\\Z\\alt\\\t1\t\r\n"},
      {true, false, " ; ",
       "2 ; C:\\Q\\ ; Laufwerk fehlt ; 0 ; \r\n2 ; C:\\Q\\b-ziel.txt ; D:\\Z\\b-ziel.txt ; 2 ; \r\n"
       "2 ; C:\\Q\\c.txt ; D:\\Z\\c.txt ; 1 ; \r\n2 ; C:\\Q\\alt\\ ; D:\\Z\\alt\\ ; 1 ; \r\n"},
      {false, true, ";",
       "1;vorher.txt;vorher.txt;1;\r\n1;C:\\Q\\a.txt;D:\\Z\\a-ziel.txt;1;\r\n1;C:\\Q\\neu\\f.txt;D:\\Z\\neu\\f.txt;2;\r\n"},
  };
  settings.append = false;
  for (const auto& c : cases) {
    settings.errors = c.errors, settings.done = c.done, settings.separator = c.separator;
    EXPECT_EQ(Log(), kHeader + c.lines) << c.separator;
  }
}

// The trace is left out here (its folder is missing): nothing else changes.
TEST_F(ExternalLogTest, AppendKeepsTheOldLinesAndOverwriteReplacesThem) {
  Protocol({{"x.txt", "x.txt", 2, 1, 1}});
  const std::string line = "1\tx.txt\tx.txt\t1\t\r\n";
  const struct {
    const char* old;  // nullptr: no log yet, nor its folders
    bool append;
    std::string expected;
  } cases[] = {{"alt\r\nohne Ende", true, "alt\r\nohne Ende\r\n" + (kHeader + line)},
               {nullptr, true, kHeader + line},
               {"alt 1\r\n", false, kHeader + line}};
  for (const auto& c : cases) {
    fs::remove_all(tree.Posix("logs"));
    if (c.old) tree.Write("logs/deep/ext.log", c.old);
    settings.append = c.append;
    EXPECT_EQ(Log("missing/ExtPtk.log"), c.expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(tree.Posix("logs/deep")), fs::directory_iterator()), 1);
  }
  EXPECT_FALSE(tree.Exists("missing"));
}

// The trace is the file an INI writer makes for the same lines, one key
// per step.
TEST_F(ExternalLogTest, TraceIsTheIniFileOfEveryStep) {
  Protocol({{"C:\\Q\\", "D:\\Z\\", 10, 0, 0}, {"a.txt", "a.txt", 2, 1, 1}, {"b.txt", "b.txt", 2, 1, 2}});
  tree.Write("logs/deep/ext.log", "alt\r\n");
  Log();
  const std::vector<std::string> trace = Trace();
  ASSERT_EQ(trace.size(), 15u);
  EXPECT_EQ(trace[3], "PARAMETER FeldTrenner: \"\t\"");
  EXPECT_EQ(trace[5], "PARAMETER LogFile überschreiben: NEIN");
  EXPECT_EQ(std::vector<std::string>(trace.begin() + 9, trace.begin() + 13),
            (std::vector<std::string>{"Alte Einträge wurden gelesen.", "Header geschrieben", "Ok geschrieben",
                                      "Fehler geschrieben"}));
  EXPECT_EQ(trace.back(), "Das Ext. Ptk wurde erfolgreich gespeichert und somit geschrieben");
  platform::IniFile oracle(tree.Win("oracle.ini"));
  for (size_t i = 0; i < trace.size(); ++i) ASSERT_TRUE(oracle.WriteString(kSection, std::to_string(i + 1), trace[i]));
  EXPECT_EQ(tree.Read("ExtPtk.log"), tree.Read("oracle.ini"));
}

// Each failure ends the work with its trace line and keeps the old log
// byte for byte, with nothing left beside it; a full disk among them.
TEST_F(ExternalLogTest, FailuresAreTracedAndKeepTheOldLog) {
  std::string big;
  for (int i = 0; i < 4000; ++i) big += "alte Zeile " + std::to_string(i) + "\r\n";
  const std::string log = settings.path;
  const struct {
    std::function<void()> prepare;
    std::string lastTrace;  // its start
    rlim_t sizeLimit = RLIM_INFINITY;
  } cases[] = {
      {[this] { tree.Write("p.ptk", std::string(1000, 'x')); }, "Protokolldatei konnte NICHT geöffnet werden: "},
      {[this] { tree.Mkdir("logs/folder.log"), settings.path = tree.Win("logs/folder.log"); },
       "Alte Einträge wurden NICHT gelesen."},
      {[this] { settings.path = tree.Win("logs/deep/ext.log/sub/ext.log"); }, kNotSaved},
      // Room for the trace, not for the old and the new lines together.
      {[&] {
         tree.Write("logs/deep/ext.log", big);
         Protocol(std::vector<Rec>(2000, {"eine-recht-lange-datei.txt", "eine-recht-lange-datei.txt", 2, 1, 1}));
       },
       kNotSaved + std::string("File too large"), big.size() + 20000},
  };
  for (const auto& c : cases) {
    tree.Write("logs/deep/ext.log", "alt\r\n");
    Protocol({{"a.txt", "a.txt", 2, 1, 1}});
    settings.path = log;
    c.prepare();
    const std::string old = tree.Read("logs/deep/ext.log");
    ASSERT_EQ(test::RunWithFileSizeLimit(c.sizeLimit, [&] { return Log(), 0; }), 0);
    EXPECT_EQ(tree.Read("logs/deep/ext.log"), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(tree.Posix("logs/deep")), fs::directory_iterator()), 1);
    EXPECT_EQ(Trace().back().rfind(c.lastTrace, 0), 0u) << Trace().back();
  }
}

}  // namespace
}  // namespace kv

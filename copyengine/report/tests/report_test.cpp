// The error report's text, built here line by line from the report's rules
// (box of 74 columns counted in characters, rows wrapped at 72, blocks at 73),
// and its message summary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "copyengine/protocol.h"
#include "copyengine/report/errorreport.h"
#include "copyengine/report/ptksummary.h"
#include "platform/text.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using platform::Utf8Length;

std::string Rep(std::string_view unit, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += unit;
  return out;
}

// A head line: padded to 73 characters, closed by "*".
std::string Boxed(const std::string& text) { return text + std::string(73 - Utf8Length(text), ' ') + "*"; }

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

TPtkItem FileRecord(std::string name, uint8_t status, std::string message) {
  TSyncItem item;
  item.source = name;
  item.destination = std::move(name);
  return TPtkItem(std::move(item), status, std::move(message));
}

TPtkItem FolderRecord(std::string source, std::string destination, uint8_t status, std::string message = "") {
  TSyncItem item;
  item.source = std::move(source);
  item.destination = std::move(destination);
  item.rowKind = 2;
  return TPtkItem(std::move(item), status, std::move(message));
}

class ReportTest : public ::testing::Test {
 protected:
  test::TempTree tree;

  // The report of a protocol of these records and a trailer, "" when none.
  std::string ReportOf(const std::vector<TPtkItem>& records) {
    const std::string path = tree.Win("p.ptk");
    ProtocolStream writer = ProtocolStream::Create(path);
    for (const TPtkItem& record : records) writer.Append(record);
    TPtkTrailer trailer;
    trailer.elapsedText = "00:00:05";
    trailer.sizeText = "1,50 KB";
    writer.AppendTrailer(trailer);
    writer.Close();
    ProtocolStream reader = ProtocolStream::OpenForReading(path);
    TReportText out;
    return WriteErrorReport(reader, "Profil Ä", out) ? out.text() : "";
  }
};

TEST_F(ReportTest, HeadCountsMergedMessagesAndBlocksFollowTheirFolders) {
  const std::string row71 = Rep("a", 58);                       // "* 1        | " + 58 = 71 characters
  const std::string row72 = Rep("b", 50) + " " + Rep("c", 8);   // 72 characters: wrapped at its blank
  const std::string unbroken = Rep("ü", 120);                   // no blank at all: cut at the width
  const std::string report = ReportOf({
      FileRecord("vorher.txt", 2, row71),  // before any folder record: no folder block
      FolderRecord("C:\\Q\\", "D:\\Z\\", 0),
      FileRecord("a.txt", 2, "Fehler beim Kopieren\r\n"),
      FileRecord("b.txt", 3, "FEHLER BEIM KOPIEREN\r\n"),  // same message but for the case
      FileRecord("c.txt", 2, "Fehler beim Kopieren"),      // without the line break: another row
      FileRecord("d.txt", 1, "Die Datei wurde kopiert."),
      FileRecord("e.txt", 0, ""),
      FolderRecord("C:\\Q\\Ö\\", "D:\\Z\\Ö\\", 2, "Ordner fehlt\r\nwirklich"),
      FileRecord("f.txt", 2, row72),
      FileRecord("g.txt", 2, unbroken),
  });
  const std::string stars(74, '*');
  const std::string rule(98, '-');
  const std::string fileRule = "     " + std::string(93, '-');
  const std::vector<std::string> expected = {
      stars,
      Boxed("* Fehlerprotokoll für das Profil Profil Ä"),
      Boxed("* Dauer: 00:00:05 Kopiermenge: 1,50 KB"),
      Boxed("* Anzahl   | Fehlemeldung"),
      Boxed("* 1        | " + row71),
      Boxed("* 2        | Fehler beim Kopieren "),
      Boxed("* 1        | Fehler beim Kopieren"),
      Boxed("* 1        | Ordner fehlt wirklich"),
      Boxed("* 1        | " + Rep("b", 50)),
      Boxed("*          | " + Rep("c", 8)),
      "* 1        | " + Rep("ü", 59) + " *",
      "*          | " + Rep("ü", 59) + " *",
      Boxed("*          | " + Rep("ü", 2)),
      stars,
      "",
      "Folgende Fehler sind während des Ableichs aufgetreten:",
      "         Q || vorher.txt",
      "         Z || vorher.txt",
      "     ERROR || " + row71,
      fileRule,
      rule,
      "Quelle || C:\\Q\\",
      "Ziel   || D:\\Z\\",
      "OK     || ",
      rule,
      "         Q || a.txt",
      "         Z || a.txt",
      "     ERROR || Fehler beim Kopieren ",
      fileRule,
      "         Q || b.txt",
      "         Z || b.txt",
      "     ERROR || FEHLER BEIM KOPIEREN ",
      fileRule,
      "         Q || c.txt",
      "         Z || c.txt",
      "     ERROR || Fehler beim Kopieren",
      fileRule,
      rule,
      "Quelle || C:\\Q\\Ö\\",
      "Ziel   || D:\\Z\\Ö\\",
      "ERROR  || Ordner fehltwirklich",  // a CR goes with the character after it
      rule,
      "         Q || f.txt",
      "         Z || f.txt",
      "     ERROR || " + Rep("b", 50) + " ",  // 73 characters: a block wraps them
      "           || " + Rep("c", 8),
      fileRule,
      "         Q || g.txt",
      "         Z || g.txt",
      "     ERROR || " + Rep("ü", 59),
      "           || " + Rep("ü", 59),
      "           || " + Rep("ü", 2),
      fileRule,
      stars,
      "",
      "Folgende Aktionen wurden erfolgreich durchgeführt:",
      rule,
      "Quelle || C:\\Q\\",
      "Ziel   || D:\\Z\\",
      "OK     || ",
      rule,
      "         Q || d.txt",
      "         Z || d.txt",
      "     OK    || Die Datei wurde kopiert.",
      fileRule,
  };
  EXPECT_EQ(report, Joined(expected));
}

TEST_F(ReportTest, AProtocolWithoutFailuresGivesNoReport) {
  EXPECT_EQ(ReportOf({FolderRecord("C:\\Q\\", "D:\\Z\\", 0), FileRecord("a", 1, "ok"), FileRecord("b", 0, "")}), "");
}

// A 300-character message without a blank breaks at the width, so the block
// ends.
TEST(ReportBlocks, LongMessagesBreakWithinTheWidth) {
  TReportText out;
  WritePtkBlock(out, FolderRecord("C:\\Q\\", "D:\\Z\\", 2, Rep("x", 300)), "ERROR", TBlockStyle::Folder);
  const std::string rule(98, '-');
  EXPECT_EQ(out.text(), Joined({
                            rule,
                            "Quelle || C:\\Q\\",
                            "Ziel   || D:\\Z\\",
                            "ERROR  || " + Rep("x", 63),
                            "       || " + Rep("x", 63),
                            "       || " + Rep("x", 63),
                            "       || " + Rep("x", 63),
                            "       || " + Rep("x", 48),
                            rule,
                        }));
}

// Case and line breaks, as the report's rows above show them merged or apart.
TEST(PtkSummary, FindsMessagesWithoutRegardToCase) {
  TPtkSummary summary;
  for (const char* text : {"Größe falsch", "GRÖSSE FALSCH", "Größe falsch\r\n"}) summary.Add(text);
  EXPECT_EQ(summary.IndexOf("GRÖßE FALSCH"), 0);
  EXPECT_EQ(summary.IndexOf("größe falsch "), 2);  // "ß" has no simple upper case: "SS" is another text
  EXPECT_EQ(summary.IndexOf("x"), -1);
}

}  // namespace
}  // namespace kv

#include "shared/oldstamp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/record.h"
#include "platform/volumes.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;
using test::GoldenOldStamps;

constexpr uint64_t kT1 = 0x01D9A1B2C3D4E5F6ULL;
constexpr uint64_t kT2 = 133000000000000000ULL;
constexpr uint64_t kT3 = 133100000000000000ULL;

TEST(OldStampRecordTest, EncodesAndDecodesAtTheFixedOffsets) {
  TOldStampHeader header{"C:\\Quelle\\", "\\\\srv\\share\\Ziel\\", 70000};
  EXPECT_EQ(header.Encode(), GoldenOldStamps().Block(header.sourceFolder, header.destFolder, 70000).bytes());
  TOldStampEntry entry{"Bericht März.txt", static_cast<FileTime>(kT1)};
  EXPECT_EQ(entry.Encode(), GoldenOldStamps().Entry("Bericht März.txt", kT1).bytes());

  Bytes hb = GoldenOldStamps().Block("C:\\A\\", "D:\\B\\", 70000).bytes();
  hb[100] = 0xEE;  // behind the source text: not read
  TOldStampHeader h = TOldStampHeader::Decode(hb);
  EXPECT_EQ(h.sourceFolder + "|" + h.destFolder, "C:\\A\\|D:\\B\\");
  EXPECT_EQ(h.count, 70000);
  TOldStampEntry e = TOldStampEntry::Decode(GoldenOldStamps().Entry("x.doc", kT1).bytes());
  EXPECT_EQ(e.fileName, "x.doc");
  EXPECT_EQ(static_cast<uint64_t>(e.lastWrite), kT1);

  EXPECT_THROW(TOldStampHeader::Decode(Bytes(515, 0)), std::invalid_argument);
  EXPECT_THROW(TOldStampEntry::Decode(Bytes(263, 0)), std::invalid_argument);
}

TEST(OldStampRecordTest, ATextLongerThanItsFieldIsRefusedNotCut) {
  const std::string name255(255, 'n');
  EXPECT_EQ((TOldStampEntry{name255, 1}.Encode()), GoldenOldStamps().Entry(name255, 1).bytes());
  EXPECT_THROW(TOldStampEntry({name255 + "x", 1}).Encode(), platform::FieldTooLong);
  EXPECT_THROW(TOldStampHeader({std::string(256, 'a'), "b", 0}).Encode(), platform::FieldTooLong);
  EXPECT_THROW(TOldStampHeader({"a", std::string(256, 'b'), 0}).Encode(), platform::FieldTooLong);
}

TEST(OldStampReaderTest, ReadsBlocksInFileOrder) {
  const Bytes file = GoldenOldStamps()
                         .Block("C:\\X\\", "D:\\X\\", 2).Entry("a.txt", kT1).Entry("b.txt", kT2)
                         .Block("C:\\Y\\", "D:\\Y\\", 0)
                         .Block("C:\\X\\", "D:\\X\\", 1).Entry("a.txt", kT3)
                         .bytes();
  std::vector<TOldStampBlock> blocks = DecodeOldStampBlocks(file, "OS.vrl");
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].header.sourceFolder, "C:\\X\\");
  ASSERT_EQ(blocks[0].entries.size(), 2u);
  EXPECT_EQ(blocks[0].entries[1].fileName, "b.txt");
  EXPECT_EQ(static_cast<uint64_t>(blocks[0].entries[1].lastWrite), kT2);
  EXPECT_TRUE(blocks[1].entries.empty());
  EXPECT_EQ(static_cast<uint64_t>(blocks[2].entries[0].lastWrite), kT3);

  EXPECT_EQ(EncodeOldStampBlocks(blocks), file);
  EXPECT_TRUE(DecodeOldStampBlocks({}, "OS.vrl").empty());
}

TEST(OldStampReaderTest, AShortOrMalformedTailIsAnErrorNamingTheFile) {
  const GoldenOldStamps good = GoldenOldStamps().Block("C:\\X\\", "D:\\X\\", 1).Entry("a.txt", kT1);
  struct Case {
    const char* what;
    GoldenOldStamps bytes;
    size_t goodBlocks;  // whole blocks before the fault
  };
  const Case cases[] = {
      {"header cut", GoldenOldStamps().Raw(Bytes(100, 7)), 0},
      {"second header cut", GoldenOldStamps(good).Raw(Bytes(10, 0)), 1},
      {"fewer entries than counted", GoldenOldStamps().Block("C:\\X\\", "D:\\X\\", 2).Entry("a.txt", kT1), 0},
      {"negative count", GoldenOldStamps(good).Block("C:\\Z\\", "D:\\Z\\", -1), 1},
      {"entry cut", GoldenOldStamps(good).Raw(Bytes(good.bytes().begin(), good.bytes().begin() + 300)), 1},
      {"absurd count", GoldenOldStamps().Block("C:\\X\\", "D:\\X\\", 0x7FFFFFFF), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TOldStampReader reader(c.bytes.bytes(), "/profile/OS.vrl");
    TOldStampBlock block;
    size_t read = 0;
    try {
      while (reader.Next(block)) ++read;
      ADD_FAILURE() << "no error";
    } catch (const EOldStampFile& e) {
      EXPECT_EQ(e.fileName(), "/profile/OS.vrl");
      EXPECT_NE(std::string(e.what()).find("\"/profile/OS.vrl\""), std::string::npos) << e.what();
    }
    EXPECT_EQ(read, c.goodBlocks);
    EXPECT_THROW(DecodeOldStampBlocks(c.bytes.bytes(), "OS.vrl"), EOldStampFile);
  }
}

class OldStampFileTest : public ::testing::Test {
 protected:
  test::ScopedRegistry registry_;
  test::TempTree tree_;
};

TEST_F(OldStampFileTest, ReadsARealFileAndNamesAMissingOrGarbledOne) {
  const GoldenOldStamps file = GoldenOldStamps().Block("C:\\X\\", "D:\\X\\", 1).Entry("a.txt", kT1);
  tree_.Write("OS.vrl", file.text());
  std::vector<TOldStampBlock> blocks = ReadOldStampFile(tree_.Win("OS.vrl"));
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].entries[0].fileName, "a.txt");

  const std::string missing = tree_.Win("nope.vrl");
  try {
    ReadOldStampFile(missing);
    ADD_FAILURE() << "no error for a missing file";
  } catch (const EOldStampFile& e) {
    EXPECT_EQ(e.fileName(), missing);
  }
  EXPECT_EQ(TOldStampIndex::Load(missing).pairCount(), 0u);  // no stamps yet

  tree_.Write("bad.vrl", file.text() + "garbage");
  EXPECT_THROW(ReadOldStampFile(tree_.Win("bad.vrl")), EOldStampFile);
  // For the comparison a cut-off tail loses only itself: the whole block
  // before it counts, and the tail is named.
  std::vector<std::string> tails;
  const TOldStampIndex index = TOldStampIndex::Load(tree_.Win("bad.vrl"), &tails);
  EXPECT_EQ(index.Lookup("C:\\X\\", "D:\\X\\", "a.txt"), kT1);
  ASSERT_EQ(tails.size(), 1u);
  EXPECT_NE(tails[0].find("bad.vrl"), std::string::npos) << tails[0];
}

// The stamps of earlier runs that still wait beside the file (a run was
// killed, or its merge failed) are history too; the file's own win.
TEST_F(OldStampFileTest, TheIndexAlsoReadsTheEarlierStampsWaitingBesideTheFile) {
  tree_.Write("OS.vrl1", GoldenOldStamps().Block("C:\\X\\", "D:\\X\\", 2).Entry("a.txt", kT1).Entry("b.txt", kT1).text());
  tree_.Write("OS.vrl", GoldenOldStamps().Block("C:\\X\\", "D:\\X\\", 1).Entry("a.txt", kT2).text());
  const TOldStampIndex index = TOldStampIndex::Load(tree_.Win("OS.vrl"));
  EXPECT_EQ(index.Lookup("C:\\X\\", "D:\\X\\", "a.txt"), kT2);
  EXPECT_EQ(index.Lookup("C:\\X\\", "D:\\X\\", "b.txt"), kT1);
}

// The stamps of a pair are looked up by source AND destination over all its
// blocks wherever they stand; folder keys fold case beyond ASCII and a drive
// letter is the same key as its UNC form; names fold ASCII only.
TEST_F(OldStampFileTest, IndexAnswersByPairAcrossAllItsBlocks) {
  platform::VolumeTable table = platform::VolumeTable::Load();
  table.Set(platform::Volume{"N:", tree_.Posix(), std::nullopt, "\\\\srv\\share", false, ""});
  table.Save();

  // A pair with X's source but another destination first: a lookup by
  // source alone would take it.
  GoldenOldStamps()
      .Block("C:\\X\\", "E:\\Andere\\", 1).Entry("a.txt", kT2)
      .Block("C:\\X\\", "D:\\X\\", 2).Entry("a.txt", kT1).Entry("b.txt", kT1)
      .Block("C:\\Y\\", "D:\\Y\\", 1).Entry("c.txt", kT2)
      .Block("C:\\X\\", "D:\\X\\", 1).Entry("A.TXT", kT3)
      .Block("C:\\Bücher\\ÄRGER\\", "D:\\Ziel\\", 2).Entry("Readme.TXT", kT1).Entry("Öl.txt", kT2)
      .Block("\\\\SRV\\Share\\Daten\\", "C:\\Ziel\\", 1).Entry("u.txt", kT1)
      .Block("N:\\Daten\\", "C:\\Ziel\\", 1).Entry("n.txt", kT2)
      .WriteTo(tree_.Posix("OS.vrl"));

  TOldStampIndex index = TOldStampIndex::Load(tree_.Win("OS.vrl"));
  EXPECT_EQ(index.pairCount(), 5u);
  struct Case {
    const char* src;
    const char* dst;
    const char* name;
    std::optional<uint64_t> want;
  };
  const Case cases[] = {
      {"C:\\X\\", "D:\\X\\", "a.txt", kT3},  // the later block wins
      {"C:\\X\\", "D:\\X\\", "b.txt", kT1},  // from the first X block
      {"C:\\X\\", "E:\\Andere\\", "a.txt", kT2},
      {"C:\\Y\\", "D:\\Y\\", "c.txt", kT2},
      {"C:\\X\\", "D:\\X\\", "c.txt", std::nullopt},
      {"C:\\Y\\", "D:\\X\\", "c.txt", std::nullopt},
      {"c:\\x", "d:\\x\\", "B.Txt", kT1},  // case and trailing "\" of keys
      {"c:\\BÜCHER\\ärger\\", "d:\\ziel\\", "readme.txt", kT1},
      {"C:\\Bücher\\ÄRGER\\", "D:\\Ziel\\", "Öl.txt", kT2},
      {"C:\\Bücher\\ÄRGER\\", "D:\\Ziel\\", "öl.txt", std::nullopt},
      {"N:\\Daten\\", "C:\\Ziel\\", "u.txt", kT1},
      {"\\\\srv\\share\\daten\\", "c:\\ziel\\", "n.txt", kT2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.src) + " " + c.dst + " " + c.name);
    const std::optional<FileTime> got = index.Lookup(c.src, c.dst, c.name);
    EXPECT_EQ(got ? std::optional<uint64_t>(static_cast<uint64_t>(*got)) : std::nullopt, c.want);
  }
  const TOldStampTable* x = index.FindPair("C:\\X\\", "D:\\X\\");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->size(), 2u);
}

}  // namespace
}  // namespace kv

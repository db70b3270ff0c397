#include "shared/oldstamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/record.h"
#include "platform/volumes.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;

// Golden records, laid out by hand from the offset table: SS[255] = length
// byte + 255 bytes at 0 and 256, Int32 count at 512 / Int64 time at 256,
// little-endian.
void PutText(Bytes& b, size_t at, std::string_view s) {
  b[at] = static_cast<uint8_t>(s.size());
  std::memcpy(b.data() + at + 1, s.data(), s.size());
}
void PutLE(Bytes& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
Bytes GoldenHeader(std::string_view src, std::string_view dst, int32_t count) {
  Bytes b(516, 0);
  PutText(b, 0, src);
  PutText(b, 256, dst);
  PutLE(b, 512, static_cast<uint32_t>(count), 4);
  return b;
}
Bytes GoldenEntry(std::string_view name, uint64_t filetime) {
  Bytes b(264, 0);
  PutText(b, 0, name);
  PutLE(b, 256, filetime, 8);
  return b;
}
void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }
std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

constexpr uint64_t kT1 = 0x01D9A1B2C3D4E5F6ULL;
constexpr uint64_t kT2 = 133000000000000000ULL;
constexpr uint64_t kT3 = 133100000000000000ULL;

TEST(OldStampRecordTest, EncodesAndDecodesAtTheFixedOffsets) {
  TOldStampHeader header{"C:\\Quelle\\", "\\\\srv\\share\\Ziel\\", 3};
  EXPECT_EQ(header.Encode(), GoldenHeader("C:\\Quelle\\", "\\\\srv\\share\\Ziel\\", 3));
  TOldStampEntry entry{"Bericht März.txt", static_cast<FileTime>(kT1)};
  EXPECT_EQ(entry.Encode(), GoldenEntry("Bericht März.txt", kT1));

  Bytes hb = GoldenHeader("C:\\A\\", "D:\\B\\", 70000);
  hb[100] = 0xEE;  // behind the source text: not read
  TOldStampHeader h = TOldStampHeader::Decode(hb);
  EXPECT_EQ(h.sourceFolder, "C:\\A\\");
  EXPECT_EQ(h.destFolder, "D:\\B\\");
  EXPECT_EQ(h.count, 70000);

  TOldStampEntry e = TOldStampEntry::Decode(GoldenEntry("x.doc", kT1));
  EXPECT_EQ(e.fileName, "x.doc");
  EXPECT_EQ(static_cast<uint64_t>(e.lastWrite), kT1);

  EXPECT_THROW(TOldStampHeader::Decode(Bytes(515, 0)), std::invalid_argument);
  EXPECT_THROW(TOldStampEntry::Decode(Bytes(263, 0)), std::invalid_argument);
}

TEST(OldStampRecordTest, ATextLongerThanItsFieldIsRefusedNotCut) {
  std::string name255(255, 'n');
  EXPECT_EQ((TOldStampEntry{name255, 1}.Encode()), GoldenEntry(name255, 1));
  EXPECT_THROW(TOldStampEntry({name255 + "x", 1}).Encode(), platform::FieldTooLong);
  EXPECT_THROW(TOldStampHeader({std::string(256, 'a'), "b", 0}).Encode(), platform::FieldTooLong);
  EXPECT_THROW(TOldStampHeader({"a", std::string(256, 'b'), 0}).Encode(), platform::FieldTooLong);
}

TEST(OldStampReaderTest, ReadsBlocksInFileOrder) {
  Bytes file = GoldenHeader("C:\\X\\", "D:\\X\\", 2);
  Append(file, GoldenEntry("a.txt", kT1));
  Append(file, GoldenEntry("b.txt", kT2));
  Append(file, GoldenHeader("C:\\Y\\", "D:\\Y\\", 0));
  Append(file, GoldenHeader("C:\\X\\", "D:\\X\\", 1));
  Append(file, GoldenEntry("a.txt", kT3));

  std::vector<TOldStampBlock> blocks = DecodeOldStampBlocks(file, "OS.vrl");
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].header.sourceFolder, "C:\\X\\");
  ASSERT_EQ(blocks[0].entries.size(), 2u);
  EXPECT_EQ(blocks[0].entries[1].fileName, "b.txt");
  EXPECT_EQ(static_cast<uint64_t>(blocks[0].entries[1].lastWrite), kT2);
  EXPECT_TRUE(blocks[1].entries.empty());
  EXPECT_EQ(static_cast<uint64_t>(blocks[2].entries[0].lastWrite), kT3);

  // Encoding the blocks again gives the same bytes.
  EXPECT_EQ(EncodeOldStampBlocks(blocks), file);
  EXPECT_TRUE(DecodeOldStampBlocks({}, "OS.vrl").empty());
}

TEST(OldStampReaderTest, AShortOrMalformedTailIsAnErrorNamingTheFile) {
  const Bytes good = [] {
    Bytes b = GoldenHeader("C:\\X\\", "D:\\X\\", 1);
    Append(b, GoldenEntry("a.txt", kT1));
    return b;
  }();
  struct Case {
    const char* what;
    Bytes bytes;
    size_t goodBlocks;  // whole blocks before the fault
  };
  std::vector<Case> cases;
  cases.push_back({"header cut", Bytes(100, 7), 0});
  {
    Bytes b = good;
    Append(b, Bytes(10, 0));
    cases.push_back({"second header cut", b, 1});
  }
  {
    Bytes b = GoldenHeader("C:\\X\\", "D:\\X\\", 2);
    Append(b, GoldenEntry("a.txt", kT1));
    cases.push_back({"fewer entries than counted", b, 0});
  }
  {
    Bytes b = good;
    Append(b, GoldenHeader("C:\\Z\\", "D:\\Z\\", -1));
    cases.push_back({"negative count", b, 1});
  }
  {
    Bytes b = good;
    Append(b, Bytes(good.begin(), good.begin() + 300));
    cases.push_back({"entry cut", b, 1});
  }
  {
    Bytes b = GoldenHeader("C:\\X\\", "D:\\X\\", 0x7FFFFFFF);
    cases.push_back({"absurd count", b, 0});
  }

  for (const Case& c : cases) {
    TOldStampReader reader(c.bytes, "/profile/OS.vrl");
    TOldStampBlock block;
    size_t read = 0;
    try {
      while (reader.Next(block)) ++read;
      ADD_FAILURE() << c.what << ": no error";
    } catch (const EOldStampFile& e) {
      EXPECT_EQ(e.fileName(), "/profile/OS.vrl") << c.what;
      EXPECT_NE(std::string(e.what()).find("\"/profile/OS.vrl\""), std::string::npos) << c.what << ": " << e.what();
    }
    EXPECT_EQ(read, c.goodBlocks) << c.what;
    EXPECT_THROW(DecodeOldStampBlocks(c.bytes, "OS.vrl"), EOldStampFile) << c.what;
  }
}

class OldStampFileTest : public ::testing::Test {
 protected:
  test::ScopedRegistry registry_;
  test::TempTree tree_;
};

TEST_F(OldStampFileTest, ReadsARealFileAndNamesAMissingOrGarbledOne) {
  Bytes file = GoldenHeader("C:\\X\\", "D:\\X\\", 1);
  Append(file, GoldenEntry("a.txt", kT1));
  tree_.Write("OS.vrl", AsText(file));
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

  tree_.Write("bad.vrl", AsText(file) + "garbage");
  EXPECT_THROW(ReadOldStampFile(tree_.Win("bad.vrl")), EOldStampFile);
  EXPECT_THROW(TOldStampIndex::Load(tree_.Win("bad.vrl")), EOldStampFile);
  EXPECT_EQ(TOldStampIndex::Load(missing).pairCount(), 0u);
}

TEST_F(OldStampFileTest, IndexAnswersByPairAcrossAllItsBlocks) {
  // Pairs X, Y, X; and a pair with X's source but another destination first,
  // which a lookup by source alone would take.
  Bytes file = GoldenHeader("C:\\X\\", "E:\\Andere\\", 1);
  Append(file, GoldenEntry("a.txt", kT2));
  Append(file, GoldenHeader("C:\\X\\", "D:\\X\\", 2));
  Append(file, GoldenEntry("a.txt", kT1));
  Append(file, GoldenEntry("b.txt", kT1));
  Append(file, GoldenHeader("C:\\Y\\", "D:\\Y\\", 1));
  Append(file, GoldenEntry("c.txt", kT2));
  Append(file, GoldenHeader("C:\\X\\", "D:\\X\\", 1));
  Append(file, GoldenEntry("A.TXT", kT3));
  tree_.Write("OS.vrl", AsText(file));

  TOldStampIndex index = TOldStampIndex::Load(tree_.Win("OS.vrl"));
  EXPECT_EQ(index.pairCount(), 3u);
  struct Case {
    const char* src;
    const char* dst;
    const char* name;
    std::optional<uint64_t> want;
  };
  const Case cases[] = {
      {"C:\\X\\", "D:\\X\\", "a.txt", kT3},      // the later block wins
      {"C:\\X\\", "D:\\X\\", "b.txt", kT1},      // from the first X block
      {"C:\\X\\", "E:\\Andere\\", "a.txt", kT2},
      {"C:\\Y\\", "D:\\Y\\", "c.txt", kT2},
      {"C:\\X\\", "D:\\X\\", "c.txt", std::nullopt},
      {"C:\\Y\\", "D:\\X\\", "c.txt", std::nullopt},
      {"c:\\x", "d:\\x\\", "B.Txt", kT1},        // case and trailing "\" of keys
  };
  for (const Case& c : cases) {
    std::optional<FileTime> got = index.Lookup(c.src, c.dst, c.name);
    if (c.want) {
      ASSERT_TRUE(got.has_value()) << c.src << " " << c.dst << " " << c.name;
      EXPECT_EQ(static_cast<uint64_t>(*got), *c.want) << c.src << " " << c.dst << " " << c.name;
    } else {
      EXPECT_FALSE(got.has_value()) << c.src << " " << c.dst << " " << c.name;
    }
  }
  const TOldStampTable* x = index.FindPair("C:\\X\\", "D:\\X\\");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->size(), 2u);
}

TEST_F(OldStampFileTest, FolderKeysFoldCaseBeyondAsciiNamesOnlyAscii) {
  Bytes file = GoldenHeader("C:\\Bücher\\ÄRGER\\", "D:\\Ziel\\", 2);
  Append(file, GoldenEntry("Readme.TXT", kT1));
  Append(file, GoldenEntry("Öl.txt", kT2));
  TOldStampIndex index = TOldStampIndex::FromBlocks(DecodeOldStampBlocks(file, "OS.vrl"));
  EXPECT_TRUE(index.Lookup("c:\\BÜCHER\\ärger\\", "d:\\ziel\\", "readme.txt").has_value());
  EXPECT_TRUE(index.Lookup("C:\\Bücher\\ÄRGER\\", "D:\\Ziel\\", "Öl.txt").has_value());
  EXPECT_FALSE(index.Lookup("C:\\Bücher\\ÄRGER\\", "D:\\Ziel\\", "öl.txt").has_value());
}

TEST_F(OldStampFileTest, ADriveLetterAndItsUncFormAreOneKey) {
  platform::VolumeTable table = platform::VolumeTable::Load();
  platform::Volume share;
  share.root = "N:";
  share.folder = tree_.Posix();
  share.remoteName = "\\\\srv\\share";
  share.mustBeMounted = false;
  table.Set(share);
  table.Save();

  Bytes file = GoldenHeader("\\\\SRV\\Share\\Daten\\", "C:\\Ziel\\", 1);
  Append(file, GoldenEntry("a.txt", kT1));
  Append(file, GoldenHeader("N:\\Daten\\", "C:\\Ziel\\", 1));
  Append(file, GoldenEntry("b.txt", kT2));
  TOldStampIndex index = TOldStampIndex::FromBlocks(DecodeOldStampBlocks(file, "OS.vrl"));
  EXPECT_EQ(index.pairCount(), 1u);
  EXPECT_TRUE(index.Lookup("N:\\Daten\\", "C:\\Ziel\\", "a.txt").has_value());
  EXPECT_TRUE(index.Lookup("\\\\srv\\share\\daten\\", "c:\\ziel\\", "b.txt").has_value());
}

}  // namespace
}  // namespace kv

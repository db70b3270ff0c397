#include "shared/folderpair.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/record.h"
#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::FolderPairBytes;
using test::FolderPairSpec;
using test::TempTree;
using test::WriteSrcDest;

// A local pair on a network share, with credentials in the site blocks.
FolderPairSpec NetworkPair() {
  FolderPairSpec p;
  p.source = "C:\\Daten\\";
  p.destination = "N:\\Sicherung\\Daten\\";
  p.active = 1;
  p.subfolders = 1;
  p.filterMode = 1;
  p.Strategy(8, 0, 1).Strategy(7, 0, 2).Strategy(1, 0, 1).Strategy(0, 0, 2);
  p.Strategy(2, 1, 1).Strategy(3, 2, 1).Strategy(4, 1, 1).Strategy(5, 2, 0).Strategy(6, 7, 0);
  p.destinationSite.host = "\\\\nas\\sicherung";
  p.destinationSite.user = "anna";
  p.destinationSite.password = "geheim";
  return p;
}

FolderPairSpec FtpDestinationPair() {
  FolderPairSpec p;
  p.source = "C:\\Web\\";
  p.destination = "ftp://ftp.example.org/htdocs/";
  p.active = 0;
  p.subfolders = 0;
  p.pairKind = 2;
  p.destinationSite = {.host = "ftp.example.org",
                       .port = 0x10015,  // only the low 16 bits count: 21
                       .user = "web",
                       .proxyHost = "proxy.lan",
                       .proxyPort = 8021,
                       .proxyOn = 1,
                       .password = "pw",
                       .account = "acct"};
  return p;
}

TFolderPair Decoded(const FolderPairSpec& spec) { return TFolderPair::Decode(FolderPairBytes(spec)); }

TEST(FolderPair, DecodesEveryFieldAtItsOffset) {
  TFolderPair pair = Decoded(NetworkPair());
  EXPECT_EQ(pair.sourceRoot, "C:\\Daten\\");
  EXPECT_EQ(pair.destinationRoot, "N:\\Sicherung\\Daten\\");
  EXPECT_TRUE(pair.IsActive());
  EXPECT_TRUE(pair.ScansSubfolders());
  EXPECT_TRUE(pair.ExcludesMatchingFiles());
  EXPECT_FALSE(pair.HasFtpSide());
  EXPECT_EQ(pair.FtpSite(), nullptr);
  EXPECT_EQ(pair.destinationSite.host, "\\\\nas\\sicherung");
  EXPECT_EQ(pair.destinationSite.user, "anna");
  EXPECT_EQ(pair.destinationSite.password, "geheim");
  EXPECT_EQ(pair.sourceSite.host, "");

  TFolderPair ftp = Decoded(FtpDestinationPair());
  EXPECT_FALSE(ftp.IsActive());
  EXPECT_FALSE(ftp.ScansSubfolders());
  EXPECT_FALSE(ftp.ExcludesMatchingFiles());
  ASSERT_EQ(ftp.FtpSite(), &ftp.destinationSite);
  const TFtpSite& site = *ftp.FtpSite();
  EXPECT_EQ(site.host, "ftp.example.org");
  EXPECT_EQ(site.port, 0x10015);
  EXPECT_EQ(site.PortNumber(), 21);
  EXPECT_EQ(site.user, "web");
  EXPECT_EQ(site.proxyHost, "proxy.lan");
  EXPECT_EQ(site.proxyPort, 8021);
  EXPECT_TRUE(site.UsesProxy());
  EXPECT_EQ(site.password, "pw");
  EXPECT_EQ(site.account, "acct");
}

TEST(FolderPair, EncodeMatchesTheIndependentWriterByteForByte) {
  for (const FolderPairSpec& spec : {NetworkPair(), FtpDestinationPair(), FolderPairSpec{}}) {
    const std::vector<uint8_t> expected = FolderPairBytes(spec);
    EXPECT_EQ(TFolderPair::Decode(expected).Encode(), expected) << spec.source;
  }
}

TEST(FolderPair, PairKindSelectsTheFtpSideAndFilterModeOneAloneExcludes) {
  for (int value : {0, 1, 2, 3, 255}) {
    FolderPairSpec spec;
    spec.pairKind = static_cast<uint8_t>(value);
    spec.filterMode = static_cast<uint8_t>(value);
    TFolderPair pair = Decoded(spec);
    const TFtpSite* expected = value == 1 ? &pair.sourceSite : value == 2 ? &pair.destinationSite : nullptr;
    EXPECT_EQ(pair.FtpSite(), expected) << value;
    EXPECT_EQ(pair.HasFtpSide(), expected != nullptr) << value;
    EXPECT_EQ(pair.ExcludesMatchingFiles(), value == 1) << value;
  }
}

TEST(SyncStrategy, ActionsComeFromThePairOfEachState) {
  const TSyncStrategy strategy = Decoded(NetworkPair()).strategy;
  struct Case {
    int state;
    std::optional<uint8_t> action;
  };
  const Case cases[] = {{8, 1}, {7, 2}, {1, 1}, {0, 2}, {2, 1}, {3, 1}, {4, 1},
                        {5, 0}, {6, 0}, {10, std::nullopt}, {14, std::nullopt}, {9, std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(strategy.ActionForState(c.state), c.action) << "state " << c.state;
}

TEST(SyncStrategy, DirectionByteTwoAloneTurnsTheCopyAround) {
  // States 2..6 read their pair's direction; every byte but 2 is source to destination.
  for (int directionByte : {0, 1, 2, 3, 7, 255}) {
    FolderPairSpec spec;
    for (int state : {2, 3, 4, 5, 6}) spec.Strategy(state, static_cast<uint8_t>(directionByte), 1);
    const TSyncStrategy strategy = Decoded(spec).strategy;
    const int expected = directionByte == 2 ? 0 : 1;
    for (int state : {2, 3, 4, 5, 6}) {
      EXPECT_EQ(strategy.FlagForState(state), expected) << "byte " << directionByte << " state " << state;
    }
  }
}

TEST(SyncStrategy, OneSidedStatesKeepTheScansDirection) {
  FolderPairSpec spec;
  for (int state : {8, 7, 1, 0}) spec.Strategy(state, 2, 1);
  const TSyncStrategy strategy = Decoded(spec).strategy;
  for (int state : {0, 1, 7, 8, 10, 14}) EXPECT_FALSE(strategy.FlagForState(state).has_value()) << state;
}

TEST(SyncStrategy, BytesRoundTripInPairOrder) {
  std::array<uint8_t, 20> raw{};
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 13 + 1);
  const TSyncStrategy strategy = TSyncStrategy::FromBytes(raw);
  EXPECT_EQ(strategy.pairs[0].direction, 1);
  EXPECT_EQ(strategy.pairs[9].action, 19 * 13 + 1);
  EXPECT_EQ(strategy.Bytes(), raw);
  std::vector<uint8_t> shortStrategy(19, 0);
  EXPECT_THROW(TSyncStrategy::FromBytes(shortStrategy), std::invalid_argument);
}

TEST(FolderPair, RefusesTextsLongerThanTheirFieldNamingTheField) {
  struct Case {
    const char* field;
    void (*set)(TFolderPair&, const std::string&);
  };
  const Case cases[] = {
      {"source root", [](TFolderPair& p, const std::string& s) { p.sourceRoot = s; }},
      {"destination root", [](TFolderPair& p, const std::string& s) { p.destinationRoot = s; }},
      {"destination site password", [](TFolderPair& p, const std::string& s) { p.destinationSite.password = s; }},
      {"source site account", [](TFolderPair& p, const std::string& s) { p.sourceSite.account = s; }},
  };
  for (const Case& c : cases) {
    TFolderPair fits;
    c.set(fits, std::string(255, 'p'));
    EXPECT_EQ(TFolderPair::Decode(fits.Encode()).Encode(), fits.Encode()) << c.field;

    TFolderPair tooLong;
    // 254 bytes + a two-byte character: one byte too many, and no cut may split it.
    const std::string value = std::string(254, 'p') + "\xC3\xBC";
    c.set(tooLong, value);
    try {
      (void)tooLong.Encode();
      ADD_FAILURE() << c.field << ": a text one byte too long was accepted";
    } catch (const platform::FieldTooLong& e) {
      EXPECT_EQ(e.field(), c.field);
      EXPECT_EQ(e.value(), value);
    }
  }
}

TEST(FolderPair, Utf8RootsRoundTrip) {
  FolderPairSpec spec;
  spec.source = "C:\\Büro\\Ärger – 日本\\";
  spec.destination = "\\\\server\\freigabe\\Ordner é\\";
  TFolderPair pair = Decoded(spec);
  EXPECT_EQ(pair.sourceRoot, spec.source);
  EXPECT_EQ(pair.destinationRoot, spec.destination);
  EXPECT_EQ(pair.Encode(), FolderPairBytes(spec));
}

TEST(FolderPair, ClampsLengthBytesOfAForeignRecord) {
  std::vector<uint8_t> bytes(TFolderPair::kSize, 'z');
  bytes[0] = 255;
  bytes[564 + 81] = 255;
  TFolderPair pair = TFolderPair::Decode(bytes);
  EXPECT_EQ(pair.sourceRoot, std::string(255, 'z'));
  EXPECT_EQ(pair.sourceSite.host, std::string(255, 'z'));
  std::vector<uint8_t> shortRecord(TFolderPair::kSize - 1, 0);
  EXPECT_THROW(TFolderPair::Decode(shortRecord), std::invalid_argument);
}

TEST(SrcDestFile, ReadsEveryRecordInFileOrder) {
  TempTree tree;
  WriteSrcDest(tree.Posix("profil/SrcDest.kst"), {NetworkPair(), FtpDestinationPair(), NetworkPair()});
  FolderPairFile file = ReadFolderPairs(tree.Win("profil/SrcDest.kst"));
  ASSERT_TRUE(file.ok) << file.error;
  ASSERT_EQ(file.pairs.size(), 3u);
  EXPECT_EQ(file.pairs[0].destinationRoot, "N:\\Sicherung\\Daten\\");
  EXPECT_EQ(file.pairs[1].pairKind, 2);
  EXPECT_EQ(file.pairs[2].Encode(), FolderPairBytes(NetworkPair()));
  EXPECT_EQ(file.ignoredTailBytes, 0u);
  EXPECT_EQ(file.note, "");
}

TEST(SrcDestFile, AShortLastRecordIsIgnoredWithANote) {
  struct Case {
    size_t wholeRecords;
    size_t tail;
  };
  const Case cases[] = {{2, 1}, {2, 1000}, {1, TFolderPair::kSize - 1}, {0, 560}};
  for (const Case& c : cases) {
    TempTree tree;
    WriteSrcDest(tree.Posix("SrcDest.kst"), std::vector<FolderPairSpec>(c.wholeRecords, NetworkPair()), c.tail);
    FolderPairFile file = ReadFolderPairs(tree.Win("SrcDest.kst"));
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.pairs.size(), c.wholeRecords);
    EXPECT_EQ(file.ignoredTailBytes, c.tail);
    EXPECT_NE(file.note.find(tree.Win("SrcDest.kst")), std::string::npos) << file.note;
    EXPECT_NE(file.note.find(std::to_string(c.tail)), std::string::npos) << file.note;
  }
}

TEST(SrcDestFile, EmptyFileHasNoPairsAndAnUnreadableOneIsAnErrorNamingIt) {
  TempTree tree;
  WriteSrcDest(tree.Posix("SrcDest.kst"), {});
  FolderPairFile empty = ReadFolderPairs(tree.Win("SrcDest.kst"));
  EXPECT_TRUE(empty.ok);
  EXPECT_TRUE(empty.pairs.empty());
  EXPECT_EQ(empty.note, "");

  tree.Mkdir("folder/SrcDest.kst");
  for (const std::string& path : {tree.Win("fehlt/SrcDest.kst"), tree.Win("folder/SrcDest.kst")}) {
    FolderPairFile file = ReadFolderPairs(path);
    EXPECT_FALSE(file.ok) << path;
    EXPECT_TRUE(file.pairs.empty());
    EXPECT_NE(file.error.find(path), std::string::npos) << file.error;
  }
}

}  // namespace
}  // namespace kv

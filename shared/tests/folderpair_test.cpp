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

// A local pair on a network share with credentials in the site block; every
// state's pair has its own action (10 + state) so that a mix-up shows.
FolderPairSpec NetworkPair() {
  FolderPairSpec p;
  p.source = "C:\\Büro\\Ärger – 日本\\";
  p.destination = "N:\\Sicherung\\Daten\\";
  p.filterMode = 1;
  for (int state : {8, 7, 1, 0, 2, 3, 4, 5, 6}) p.Strategy(state, 0, static_cast<uint8_t>(10 + state));
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
  p.destinationSite = {.host = "ftp.example.org", .port = 0x10015,  // only the low 16 bits count: 21
                       .user = "web", .proxyHost = "proxy.lan", .proxyPort = 8021, .proxyOn = 1,
                       .password = "pw", .account = "acct"};
  return p;
}

TFolderPair Decoded(const FolderPairSpec& spec) { return TFolderPair::Decode(FolderPairBytes(spec)); }

void ExpectSite(const TFtpSite& site, const test::SiteSpec& spec) {
  EXPECT_EQ(site.host + "|" + site.user + "|" + site.proxyHost + "|" + site.password + "|" + site.account,
            spec.host + "|" + spec.user + "|" + spec.proxyHost + "|" + spec.password + "|" + spec.account);
  EXPECT_EQ(site.port, spec.port);
  EXPECT_EQ(site.proxyPort, spec.proxyPort);
  EXPECT_EQ(site.proxyOn, spec.proxyOn);
}

TEST(FolderPair, DecodesEveryFieldAtItsOffsetAndEncodesTheSameBytes) {
  for (const FolderPairSpec& spec : {NetworkPair(), FtpDestinationPair(), FolderPairSpec{}}) {
    SCOPED_TRACE(spec.source);
    const TFolderPair pair = Decoded(spec);
    EXPECT_EQ(pair.sourceRoot, spec.source);
    EXPECT_EQ(pair.destinationRoot, spec.destination);
    EXPECT_EQ(pair.active, spec.active);
    EXPECT_EQ(pair.subfolders, spec.subfolders);
    EXPECT_EQ(pair.filterMode, spec.filterMode);
    EXPECT_EQ(pair.pairKind, spec.pairKind);
    for (size_t k = 0; k < spec.strategy.size(); ++k) {
      EXPECT_EQ(pair.strategy.pairs[k].direction, spec.strategy[k].direction) << "pair " << k;
      EXPECT_EQ(pair.strategy.pairs[k].action, spec.strategy[k].action) << "pair " << k;
    }
    ExpectSite(pair.sourceSite, spec.sourceSite);
    ExpectSite(pair.destinationSite, spec.destinationSite);
    EXPECT_EQ(pair.Encode(), FolderPairBytes(spec));
  }
  EXPECT_EQ(Decoded(FtpDestinationPair()).destinationSite.PortNumber(), 21);
}

TEST(FolderPair, PairKindSelectsTheFtpSideAndFilterModeOneAloneExcludes) {
  for (int value : {0, 1, 2, 3, 255}) {
    FolderPairSpec spec;
    spec.pairKind = spec.filterMode = static_cast<uint8_t>(value);
    TFolderPair pair = Decoded(spec);
    const TFtpSite* expected = value == 1 ? &pair.sourceSite : value == 2 ? &pair.destinationSite : nullptr;
    EXPECT_EQ(pair.FtpSite(), expected) << value;
    EXPECT_EQ(pair.HasFtpSide(), expected != nullptr) << value;
    EXPECT_EQ(pair.ExcludesMatchingFiles(), value == 1) << value;
  }
}

TEST(SyncStrategy, EachStateTakesItsPairAndOnlyByteTwoTurnsTheCopyAround) {
  const TSyncStrategy strategy = Decoded(NetworkPair()).strategy;
  for (int state : {8, 7, 1, 0, 2, 3, 4, 5, 6}) EXPECT_EQ(strategy.ActionForState(state), 10 + state) << state;
  for (int state : {9, 10, 14}) EXPECT_EQ(strategy.ActionForState(state), std::nullopt) << state;

  // States 2..6 read their pair's direction; one-sided states keep the scan's.
  for (int directionByte : {0, 1, 2, 3, 7, 255}) {
    FolderPairSpec spec;
    for (int state : {0, 1, 2, 3, 4, 5, 6, 7, 8}) spec.Strategy(state, static_cast<uint8_t>(directionByte), 1);
    const TSyncStrategy s = Decoded(spec).strategy;
    for (int state : {2, 3, 4, 5, 6}) EXPECT_EQ(s.FlagForState(state), directionByte == 2 ? 0 : 1) << state;
    for (int state : {0, 1, 7, 8, 10, 14}) EXPECT_FALSE(s.FlagForState(state).has_value()) << state;
  }
  EXPECT_THROW(TSyncStrategy::FromBytes(std::vector<uint8_t>(19, 0)), std::invalid_argument);
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
    SCOPED_TRACE(c.field);
    TFolderPair fits;
    c.set(fits, std::string(255, 'p'));
    EXPECT_EQ(TFolderPair::Decode(fits.Encode()).Encode(), fits.Encode());

    TFolderPair tooLong;
    // 254 bytes + a two-byte character: one byte too many, and no cut may split it.
    const std::string value = std::string(254, 'p') + "ü";
    c.set(tooLong, value);
    try {
      (void)tooLong.Encode();
      ADD_FAILURE() << "a text one byte too long was accepted";
    } catch (const platform::FieldTooLong& e) {
      EXPECT_EQ(e.field(), c.field);
      EXPECT_EQ(e.value(), value);
    }
  }
}

TEST(FolderPair, ClampsLengthBytesOfAForeignRecord) {
  std::vector<uint8_t> bytes(TFolderPair::kSize, 'z');
  bytes[0] = 255;
  bytes[564 + 81] = 255;
  TFolderPair pair = TFolderPair::Decode(bytes);
  EXPECT_EQ(pair.sourceRoot, std::string(255, 'z'));
  EXPECT_EQ(pair.sourceSite.host, std::string(255, 'z'));
  bytes.pop_back();
  EXPECT_THROW(TFolderPair::Decode(bytes), std::invalid_argument);
}

// Records in file order; a last record shorter than a whole one is left out
// with a note naming the file and the bytes.
TEST(SrcDestFile, ReadsWholeRecordsAndNotesACutOffTail) {
  const std::vector<FolderPairSpec> specs = {NetworkPair(), FtpDestinationPair(), NetworkPair()};
  const std::pair<size_t, size_t> cases[] = {{3, 0}, {0, 0}, {2, 1}, {2, 1000}, {1, TFolderPair::kSize - 1}, {0, 560}};
  for (const auto& [records, tail] : cases) {
    SCOPED_TRACE(std::to_string(records) + " records, tail " + std::to_string(tail));
    TempTree tree;
    test::WriteSrcDest(tree.Posix("profil/SrcDest.kst"), std::vector(specs.begin(), specs.begin() + records), tail);
    FolderPairFile file = ReadFolderPairs(tree.Win("profil/SrcDest.kst"));
    ASSERT_TRUE(file.ok) << file.error;
    ASSERT_EQ(file.pairs.size(), records);
    for (size_t i = 0; i < records; ++i) EXPECT_EQ(file.pairs[i].Encode(), FolderPairBytes(specs[i])) << i;
    EXPECT_EQ(file.ignoredTailBytes, tail);
    if (tail == 0) {
      EXPECT_EQ(file.note, "");
    } else {
      EXPECT_NE(file.note.find(tree.Win("profil/SrcDest.kst")), std::string::npos) << file.note;
      EXPECT_NE(file.note.find(std::to_string(tail)), std::string::npos) << file.note;
    }
  }
}

TEST(SrcDestFile, AnUnreadableFileIsAnErrorNamingIt) {
  TempTree tree;
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

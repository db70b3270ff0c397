// The cipher frame: the eight modes against Cryptodome and loops over its
// Blowfish, the vector and key rules, the coding runs, wiping, and the
// registry with its counted start-up.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/ciphers.h"
#include "crypto/cryptconst.h"
#include "crypto/digests.h"
#include "crypto/md4family.h"
#include "crypto/tests/cryptotest.h"
#include "platform/modules.h"
#include "platform/volumes.h"

namespace kv::crypto::test {
namespace {

struct ModeName {
  CipherMode mode;
  const char* name;
};
const ModeName kModes[] = {{CipherMode::XorChain, "XorChain"}, {CipherMode::CBC, "CBC"},
                           {CipherMode::CFB8, "CFB8"},         {CipherMode::OFB8, "OFB8"},
                           {CipherMode::ECB, "ECB"},           {CipherMode::XorChainMAC, "XorChainMAC"},
                           {CipherMode::CBCMAC, "CBCMAC"},     {CipherMode::CFB8MAC, "CFB8MAC"}};

bool IsMac(CipherMode mode) { return mode >= CipherMode::XorChainMAC; }
bool IsByteMode(CipherMode mode) { return mode == CipherMode::CFB8 || mode == CipherMode::OFB8; }

std::string Bytes(const uint8_t* p, int32_t n) { return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)); }

// Codes data in calls whose lengths are whole blocks (any length in the byte
// modes), the last one taking the rest; the MAC modes give the MAC.
std::string CodeInPieces(TCipher& cipher, std::string data, bool decode, std::mt19937& random) {
  const int32_t unit = IsByteMode(cipher.ChainMode()) ? 1 : cipher.BlockBytes();
  for (size_t at = 0; at < data.size();) {
    size_t piece = unit * (random() % 5);
    if (piece == 0 || at + piece > data.size()) piece = data.size() - at;
    const auto n = static_cast<int32_t>(piece);
    decode ? cipher.DecodeData(data.data() + at, data.data() + at, n) : cipher.EncodeData(data.data() + at, data.data() + at, n);
    at += piece;
  }
  return IsMac(cipher.ChainMode()) ? Bytes(cipher.FeedbackBlock(), cipher.BlockBytes()) : data;
}

std::shared_ptr<TCipher_Blowfish> Keyed(const std::string& key, CipherMode mode, const std::string& vector = "") {
  auto cipher = std::make_shared<TCipher_Blowfish>();
  cipher->Init(key.data(), static_cast<int32_t>(key.size()), vector.empty() ? nullptr : vector.data(),
               static_cast<int32_t>(vector.size()));
  cipher->SetChainMode(mode);
  return cipher;
}

// Every length from 0 to 300, with and without a vector; decoding the
// oracle's output gives the data back (in ECB too, whose tail is xored with
// E(F) both ways). The oracle's MAC modes leave the tail bytes out, as
// stored MACs need.
TEST(CipherModes, AgreeWithCryptodomeAndLoopsOverItsBlowfish) {
  std::mt19937 random(31);
  struct Sample {
    const ModeName* mode;
    std::string key, vector, data;
  };
  std::vector<Sample> samples;
  std::vector<std::string> lines;
  for (const ModeName& mode : kModes) {
    for (size_t length = 0; length <= 300; ++length) {
      Sample s{&mode, RandomBytes(random, 16), length % 2 ? RandomBytes(random, 8) : "", RandomBytes(random, length)};
      const auto field = [](const std::string& bytes) { return bytes.empty() ? "-" : Hex(bytes); };
      lines.push_back(std::string(mode.name) + " " + Hex(s.key) + " " + field(s.vector) + " " + field(s.data));
      samples.push_back(std::move(s));
    }
  }
  const std::vector<std::string> expected = OracleLines(PythonOracle("modes {}"), lines);
  for (size_t i = 0; i < samples.size(); ++i) {
    const Sample& s = samples[i];
    const std::string coded = CodeInPieces(*Keyed(s.key, s.mode->mode, s.vector), s.data, false, random);
    ASSERT_EQ(Hex(coded), expected[i]) << s.mode->name << " over " << s.data.size() << " bytes";
    const std::string decoded =
        CodeInPieces(*Keyed(s.key, s.mode->mode, s.vector), IsMac(s.mode->mode) ? s.data : coded, true, random);
    ASSERT_EQ(Hex(decoded), Hex(IsMac(s.mode->mode) ? coded : s.data)) << s.mode->name << " back, " << s.data.size();
  }
}

TEST(CipherModes, VectorsShorterThanABlockAreRefused) {
  TCipher_Blowfish cipher;
  try {
    cipher.Init("key", 3, "1234567", 7);
    ADD_FAILURE() << "short vector accepted";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.FailureCode(), kFailureVectorLength);
    EXPECT_EQ(e.what(), FormatText(sVectorTooShort, {"TCipher_Blowfish", "8"}));
  }
  EXPECT_FALSE(cipher.Initialized());
  EXPECT_THROW(cipher.InitKey("text", "", 0), ECipherException);
  // Only the first block's bytes of a longer vector count.
  cipher.Init("key", 3, "12345678 and more", 17);
  EXPECT_EQ(Bytes(cipher.StartVector(), 8), "12345678");
  EXPECT_EQ(Bytes(cipher.FeedbackBlock(), 8), "12345678");
  // Without one, the vector is E(FF..FF), the same for every object.
  auto other = Keyed("key", CipherMode::ECB);
  std::string ff(8, '\xFF');
  other->EncodeBlock(ff.data());
  EXPECT_EQ(Bytes(other->StartVector(), 8), ff);
}

TEST(CipherModes, UseBeforeInitOrAfterWipeIsRefused) {
  const auto expectNotInitialized = [](const std::function<void()>& use) {
    try {
      use();
      ADD_FAILURE() << "used uninitialised";
    } catch (const ECipherException& e) {
      EXPECT_EQ(e.FailureCode(), kFailureNotInitialized);
      EXPECT_EQ(e.what(), FormatText(sNotInitialized, {"TCipher_Twofish"}));
    }
  };
  TCipher_Twofish cipher;
  std::string data(16, 'd');
  for (int round = 0; round < 2; ++round) {
    const std::string before = data;
    expectNotInitialized([&] { cipher.EncodeData(data.data(), data.data(), 16); });
    expectNotInitialized([&] { cipher.DecodeData(data.data(), data.data(), 0); });
    expectNotInitialized([&] { cipher.ProcessBuffer(data.data(), 16, caEncode); });
    EXPECT_EQ(data, before) << "nothing is coded while refused";
    cipher.Init("key", 3);
    cipher.EncodeData(data.data(), data.data(), 16);
    cipher.WipeState();
  }
}

// Sees the schedule.
class ExposedBlowfish : public TCipher_Blowfish {
 public:
  using TCipher::KeySchedule;
};

TEST(CipherModes, WipeLeavesTheRestingValues) {
  ExposedBlowfish cipher;
  cipher.Init("key", 3);
  std::string data(20, 'd');
  cipher.EncodeData(data.data(), data.data(), 20);
  cipher.WipeState();
  EXPECT_EQ(Bytes(cipher.StartVector(), 8), std::string(8, '\xFF'));
  EXPECT_EQ(Bytes(cipher.FeedbackBlock(), 8), std::string(8, '\xFF'));
  EXPECT_EQ(Bytes(cipher.WorkBlock(), 8), std::string(8, '\0'));
  EXPECT_EQ(Bytes(cipher.KeySchedule(), static_cast<int32_t>(cipher.ScheduleBytes())),
            std::string(cipher.ScheduleBytes(), '\0'));
  EXPECT_EQ(cipher.StateFlags(), 0u);
}

// The digest of the text under the key-hash class, cut to the key limit like
// any key; a negative length is none.
TEST(CipherKeys, TextKeysAndKeyLengths) {
  const std::string digest = DigestOf(THash_RipeMD256::Class(), "pass phrase");
  TCipher_IDEA byText;
  byText.InitKey("pass phrase");
  TCipher_IDEA byBytes;
  byBytes.Init(digest.data(), 32);
  TCipher_IDEA byFirst16;
  byFirst16.Init(digest.data(), 16);
  EXPECT_EQ(Bytes(byText.StartVector(), 8), Bytes(byBytes.StartVector(), 8));
  EXPECT_EQ(Bytes(byText.StartVector(), 8), Bytes(byFirst16.StartVector(), 8));
  ASSERT_NE(byText.KeyHash(), nullptr);
  EXPECT_EQ(byText.KeyHash()->ClassType(), THash_RipeMD256::Class());
  EXPECT_EQ(Bytes(byText.KeyHash()->DigestBytes(), 32), std::string(32, '\0')) << "the key digest is wiped";

  TCipher_IDEA bySha1(nullptr, THash_SHA1::Class());
  bySha1.InitKey("pass phrase");
  const std::string sha1 = DigestOf(THash_SHA1::Class(), "pass phrase");
  TCipher_IDEA bySha1Bytes;
  bySha1Bytes.Init(sha1.data(), 20);
  EXPECT_EQ(Bytes(bySha1.StartVector(), 8), Bytes(bySha1Bytes.StartVector(), 8));
  // HAVAL-128 folds 32 bytes of chaining words into its first 16: the other
  // 16 must not keep what came of the text either.
  TCipher_IDEA byHaval(nullptr, THash_Haval128::Class());
  byHaval.InitKey("pass phrase");
  THash_Haval128 fresh;
  fresh.Init();
  EXPECT_EQ(Hex(byHaval.KeyHash()->DigestBytes() + 16, 16), Hex(fresh.DigestBytes() + 16, 16));

  TCipher_Gost negative, zero;
  negative.Init("key", -5);
  zero.Init(std::string(32, '\0').data(), 32);
  EXPECT_EQ(Bytes(negative.StartVector(), 8), Bytes(zero.StartVector(), 8));

  CheckCipherKeyLength = true;
  try {
    byText.InitKey("pass phrase");
    ADD_FAILURE() << "over-long key accepted";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.FailureCode(), kFailureKeyLength);
    EXPECT_EQ(e.what(), FormatText(sInvalidKeySize, {"TCipher_IDEA", "0", "16"}));
  }
  CheckCipherKeyLength = false;
  EXPECT_FALSE(byText.Initialized());
}

std::string RunOver(TProtection& protection, std::string data, TCodingAction action) {
  protection.ProcessBuffer(data.data(), static_cast<int32_t>(data.size()), action);
  return data;
}

// Each run starts from the vector; at its end the feedback is the vector
// again and the work block holds where the run got to.
TEST(CipherRuns, EachRunStartsFromTheVector) {
  const std::string data(40, 'r');
  const auto keyed = Keyed("key", CipherMode::CBC);
  TCipher_Blowfish& cipher = *keyed;
  const std::string first = RunOver(cipher, data, caEncode);
  EXPECT_EQ(RunOver(cipher, data, caEncode), first);
  EXPECT_EQ(Bytes(cipher.FeedbackBlock(), 8), Bytes(cipher.StartVector(), 8));
  EXPECT_EQ(Bytes(cipher.WorkBlock(), 8), first.substr(32, 8));
  EXPECT_EQ(RunOver(cipher, first, caDecode), data);

  // The MAC survives a run only under caCalculate.
  auto mac = Keyed("key", CipherMode::CBCMAC);
  std::mt19937 random(33);
  const std::string expected = CodeInPieces(*Keyed("key", CipherMode::CBCMAC), data, false, random);
  EXPECT_EQ(RunOver(*mac, data, caCalculate), data);
  EXPECT_EQ(Bytes(mac->FeedbackBlock(), 8), expected);
  RunOver(*mac, data, caEncode);
  EXPECT_EQ(Bytes(mac->FeedbackBlock(), 8), Bytes(mac->StartVector(), 8));

  // Wiping codes with a random feedback: not the encoding.
  EXPECT_NE(RunOver(cipher, data, caWipe), first);

  // SCOP restarts its keystream with every run.
  TCipher_SCOP scop;
  scop.Init("key", 3);
  const std::string long_data(300, 's');
  const std::string scopFirst = RunOver(scop, long_data, caEncode);
  EXPECT_EQ(RunOver(scop, long_data, caEncode), scopFirst);
  EXPECT_EQ(RunOver(scop, scopFirst, caDecode), long_data);
}

// A chain encodes after the object it hangs from has passed the data on, and
// decodes the other way round; a hash chained to a cipher has its digest
// encoded.
TEST(CipherRuns, ChainsDecodeInReverseOrder) {
  const std::string data(64, 'c');
  const auto make = [] {
    auto inner = std::make_shared<TCipher_Twofish>();
    inner->Init("inner", 5);
    auto outer = std::make_shared<TCipher_Blowfish>(inner);
    outer->Init("outer", 5);
    return outer;
  };
  const std::string coded = RunOver(*make(), data, caEncode);
  TCipher_Twofish inner;
  inner.Init("inner", 5);
  TCipher_Blowfish outer;
  outer.Init("outer", 5);
  EXPECT_EQ(coded, RunOver(outer, RunOver(inner, data, caEncode), caEncode));
  EXPECT_EQ(RunOver(*make(), coded, caDecode), data);

  auto cipher = std::make_shared<TCipher_Square>();
  cipher->Init("key", 3);
  THash_MD5 hash(cipher);
  hash.Init();
  hash.Update("abc", 3);
  hash.Finish();
  TCipher_Square plain;
  plain.Init("key", 3);
  EXPECT_EQ(Bytes(hash.DigestBytes(), 16), RunOver(plain, DigestOf(THash_MD5::Class(), "abc"), caScramble));
}

std::vector<std::string> CipherLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < CipherClassList().Count(); ++i) lines.push_back(CipherClassList().Strings(i));
  return lines;
}

const std::vector<std::string> kRegistry = {
    "3Way=",          "Blowfish=",       "Gost=",          "IDEA=free for non-commercial",
    "Q128=",          "SAFER-K40=",      "SAFER-SK40=Keyscheduling",
    "SAFER-K64=",     "SAFER-SK64=Keyscheduling",          "SAFER-K128=",
    "SAFER-SK128=Keyscheduling",         "SCOP=",          "Shark=",
    "Square=",        "TEA=",            "TEA extended=",  "Twofish="};

TEST(CipherRegistry, HoldsTheSeventeenClassesInOrder) {
  ASSERT_EQ(CipherLines(), kRegistry);
  EXPECT_EQ(CipherClassList().Objects(0), TCipher_3Way::Class());
  EXPECT_EQ(CipherClassList().Objects(15), TCipher_TEAN::Class());
  EXPECT_EQ(CipherClassList().IndexOfObject(TCipher_SAFER::Class()), -1);
  EXPECT_TRUE(TCipher_SAFER_SK128::Class()->InheritsFrom(TCipher_SAFER::Class()));

  EXPECT_TRUE(AddCipherClass(TCipher_Gost::Class(), " \x01", "again"));
  EXPECT_TRUE(AddCipherClass(TCipher_Gost::Class(), "Gost 28147", "renamed"));
  EXPECT_FALSE(AddCipherClass(nullptr, "none", ""));
  std::vector<std::string> expected = kRegistry;
  expected[2] = "Gost 28147=renamed";
  EXPECT_EQ(CipherLines(), expected);
  AddCipherClass(TCipher_Gost::Class(), "", "");
  EXPECT_EQ(CipherLines(), kRegistry);
}

TEST(CipherRegistry, ClassesLeaveWithTheLibraryThatDefinesThem) {
  std::string error;
  const platform::ModuleHandle plugin = platform::LoadModule(platform::FromPosixPath(KV_CRYPTO_TESTPLUGIN), &error);
  ASSERT_NE(plugin, nullptr) << error;
  ASSERT_EQ(CipherClassList().Count(), 18);
  EXPECT_EQ(CipherClassList().Strings(17), "PluginXor=plug-in");
  TCipherRef cipher = CipherClassList().Objects(17)->Create();
  cipher->Init("\x0F", 1, "\x00", 1);
  cipher->SetChainMode(CipherMode::ECB);
  std::string data = "\x01\x02";
  cipher->EncodeData(data.data(), data.data(), 2);
  EXPECT_EQ(data, "\x0E\x0D");
  cipher.reset();
  EXPECT_TRUE(platform::UnloadModule(plugin));
  EXPECT_EQ(CipherLines(), kRegistry);
}

// Only the last end of the unit frees the registry; a new start fills it again.
TEST(CipherRegistry, StartAndEndAreCounted) {
  CipherStartup();
  CipherShutdown();
  EXPECT_EQ(CipherLines(), kRegistry);
  EXPECT_EQ(HashClassList().Count(), 28);
  CipherShutdown();
  EXPECT_EQ(CipherClassList().Count(), 0);
  CipherStartup();
  EXPECT_EQ(CipherLines(), kRegistry);
  EXPECT_EQ(HashClassList().Count(), 28);
}

}  // namespace
}  // namespace kv::crypto::test

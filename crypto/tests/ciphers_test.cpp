// The block ciphers and their frame. The ciphers against independent
// implementations: libcrypto++ for the published ciphers, openssl for
// Blowfish, transcriptions in the test script for Q128 and SCOP; the eight
// modes against Cryptodome and loops over its Blowfish; then what the
// classes settle themselves, the keys and vectors they refuse, the coding
// runs and wiping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "crypto/ciphers.h"
#include "crypto/cryptconst.h"
#include "crypto/digests.h"
#include "crypto/md4family.h"
#include "crypto/tests/cryptotest.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"
#include "tools/q128table/q128generator.h"

namespace kv::crypto::test {
namespace {

// Data through a new object of the class keyed without a vector, in ECB;
// rounds, when not 0, set SAFER's rounds or TEA's cycles first.
std::string Code(TCipherClassRef cipherClass, const std::string& key, std::string data, bool decode = false,
                 int32_t rounds = 0) {
  TCipherRef cipher = cipherClass->Create();
  if (auto* safer = dynamic_cast<TCipher_SAFER*>(cipher.get()); safer && rounds) safer->SetSaferRounds(rounds);
  if (auto* tea = dynamic_cast<TCipher_TEA*>(cipher.get()); tea && rounds) tea->SetTeaCycles(rounds);
  cipher->Init(key.data(), static_cast<int32_t>(key.size()));
  cipher->SetChainMode(CipherMode::ECB);
  const auto size = static_cast<int32_t>(data.size());
  decode ? cipher->DecodeData(data.data(), data.data(), size) : cipher->EncodeData(data.data(), data.data(), size);
  return data;
}

struct OracleCase {
  TCipherClassRef (*cipherClass)();
  const char* oracleName;
  size_t keyBytes;
  int32_t rounds;  // 0: the class's and the oracle's own
  // 3-Way, TEA and XTEA read little-endian words where the oracle reads
  // big-endian ones: each word of key, block and result is byte-swapped.
  bool swapWords;
};

const OracleCase kOracleCases[] = {
    {TCipher_Blowfish::Class, "blowfish", 4, 0, false},  {TCipher_Blowfish::Class, "blowfish", 56, 0, false},
    {TCipher_Gost::Class, "gost", 32, 0, false},         {TCipher_IDEA::Class, "idea", 16, 0, false},
    {TCipher_Square::Class, "square", 16, 0, false},     {TCipher_Twofish::Class, "twofish", 16, 0, false},
    {TCipher_Twofish::Class, "twofish", 24, 0, false},   {TCipher_Twofish::Class, "twofish", 32, 0, false},
    {TCipher_Shark::Class, "shark", 16, 0, false},       {TCipher_3Way::Class, "3way", 12, 0, true},
    {TCipher_TEA::Class, "tea", 16, 16, true},           {TCipher_TEA::Class, "tea", 16, 32, true},
    {TCipher_TEAN::Class, "xtea", 16, 16, true},         {TCipher_TEAN::Class, "xtea", 16, 32, true},
    {TCipher_SAFER_K64::Class, "safer-k", 8, 6, false},  {TCipher_SAFER_K64::Class, "safer-k", 8, 13, false},
    {TCipher_SAFER_SK64::Class, "safer-sk", 8, 8, false}, {TCipher_SAFER_K128::Class, "safer-k", 16, 10, false},
    {TCipher_SAFER_SK128::Class, "safer-sk", 16, 4, false}, {TCipher_SAFER_SK128::Class, "safer-sk", 16, 10, false},
    // No implementation knows the 40-bit variants: their 5-byte key extends
    // to an 8-byte one (below), so they must equal the 64-bit cipher.
    {TCipher_SAFER_K40::Class, "safer-k", 5, 5, false},  {TCipher_SAFER_SK40::Class, "safer-sk", 5, 9, false},
};

// A 5-byte key whose bytes xor to 0xFF; the 40-bit schedule extends it to
// k0..k4 A5 A6 A7, whose parity byte is then the schedule's A8.
std::string Safer40Key(std::mt19937& random, std::string* as64) {
  std::string key = RandomBytes(random, 5);
  key[4] = static_cast<char>(0xFF ^ key[0] ^ key[1] ^ key[2] ^ key[3]);
  const auto a = [&](int i) { return static_cast<uint8_t>(key[static_cast<size_t>(i)]); };
  *as64 = key + std::string{static_cast<char>(a(0) ^ a(2) ^ 0x81), static_cast<char>(a(0) ^ a(3) ^ a(4) ^ 0x42),
                            static_cast<char>(a(1) ^ a(2) ^ a(4) ^ 0x24)};
  return key;
}

TEST(Ciphers, AgreeWithLibcryptoxxBothWays) {
  std::mt19937 random(21);
  struct Sample {
    const OracleCase* c;
    std::string key, block;
  };
  std::vector<Sample> samples;
  std::vector<std::string> lines;
  for (const OracleCase& c : kOracleCases) {
    for (int i = 0; i < 12; ++i) {
      std::string oracleKey;
      Sample s{&c, c.keyBytes == 5 ? Safer40Key(random, &oracleKey) : RandomBytes(random, c.keyBytes),
               RandomBytes(random, static_cast<size_t>(c.cipherClass()->BlockBytes()))};
      if (c.keyBytes != 5) oracleKey = s.key;
      const auto order = [&](const std::string& bytes) { return c.swapWords ? SwapWordBytes(bytes) : bytes; };
      lines.push_back(std::string(c.oracleName) + " " + std::to_string(c.rounds) + " " + Hex(order(oracleKey)) + " " +
                      Hex(order(s.block)));
      samples.push_back(std::move(s));
    }
  }
  const std::vector<std::string> expected = OracleLines(KV_CRYPTOPP_ORACLE " {}", lines);
  for (size_t i = 0; i < samples.size(); ++i) {
    const Sample& s = samples[i];
    const auto order = [&](const std::string& bytes) { return s.c->swapWords ? SwapWordBytes(bytes) : bytes; };
    const std::string encoded = Code(s.c->cipherClass(), s.key, s.block, false, s.c->rounds);
    const std::string decoded = Code(s.c->cipherClass(), s.key, s.block, true, s.c->rounds);
    ASSERT_EQ(Hex(order(encoded)) + " " + Hex(order(decoded)), expected[i])
        << s.c->cipherClass()->ClassName() << ": " << lines[i];
  }
}

// Both forms of the block routines against openssl, whose command takes
// 16-byte keys only (the modes test compares 4 to 56 bytes with Cryptodome).
TEST(Ciphers, BlowfishAgreesWithOpensslInBothForms) {
  std::mt19937 random(22);
  kv::test::TempTree tree;
  for (int i = 0; i < 2; ++i) {
    const std::string key = RandomBytes(random, 16), data = RandomBytes(random, 40);
    tree.Write("plain", data);
    const std::string openssl = "openssl enc -bf-ecb -provider legacy -provider default -nopad -K " + Hex(key);
    kv::test::MustRun(openssl + " -in " + tree.Posix("plain") + " -out " + tree.Posix("coded"));
    kv::test::MustRun(openssl + " -d -in " + tree.Posix("plain") + " -out " + tree.Posix("decoded"));
    for (int cpuType : {3, 4}) {
      SelectBlowfishRoutines(cpuType);
      EXPECT_EQ(Hex(Code(TCipher_Blowfish::Class(), key, data)), Hex(tree.Read("coded"))) << "CPU type " << cpuType;
      EXPECT_EQ(Hex(Code(TCipher_Blowfish::Class(), key, data, true)), Hex(tree.Read("decoded")));
    }
  }
  SelectBlowfishRoutines(CPUType());
}

// Q128's table is public: the committed one is what the generator makes from
// our Blowfish, and what the transcription makes from Cryptodome's.
TEST(Ciphers, Q128TableIsTheDesignersAndQ128AndScopAgreeWithTranscriptions) {
  const std::string table(reinterpret_cast<const char*>(TCipher_Q128::Table()), 4096);
  const tools::Q128Table generated = tools::MakeQ128Table();
  EXPECT_EQ(Hex(table), Hex(reinterpret_cast<const uint8_t*>(generated.data()), 4096));
  const std::string python = kv::test::RunCommand(PythonOracle("q128table"));
  EXPECT_EQ(python, "a06484e7e2e837819ba7eb977b7cf1bed56958975b55e4e2a8d42fef04d64bcc\n" + Hex(table) + "\n");
  EXPECT_EQ(Hex(Code(TCipher_Q128::Class(), std::string(16, '\0'), std::string(16, '\0'))),
            "062b7499f141d7880fb43ea4d36f4156");  // the words 99742b06 88d741f1 a43eb40f 56416fd3

  std::mt19937 random(23);
  struct Sample {
    TCipherClassRef cipherClass;
    std::string key, data;
  };
  std::vector<Sample> samples;
  std::vector<std::string> lines;
  for (const auto& [cipherClass, name] : {std::pair{TCipher_Q128::Class(), "q128"}, {TCipher_SCOP::Class(), "scop"}}) {
    // From one byte on: SCOP extends a one-byte key from a zero.
    for (int32_t length = 1; length <= cipherClass->KeyLimit(); length += 3) {
      samples.push_back({cipherClass, RandomBytes(random, static_cast<size_t>(length)),
                         RandomBytes(random, 3 * static_cast<size_t>(cipherClass->BlockBytes()))});
      lines.push_back(std::string(name) + " " + Hex(samples.back().key) + " " + Hex(samples.back().data));
    }
  }
  const std::vector<std::string> expected = OracleLines(PythonOracle("cipher {}"), lines);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto& [cipherClass, key, data] = samples[i];
    EXPECT_EQ(Hex(Code(cipherClass, key, data)), expected[i]) << lines[i];
    EXPECT_EQ(Code(cipherClass, key, Code(cipherClass, key, data), true), data) << lines[i];
  }
}

// Each class's stored vector: a new object keyed with the first bytes of
// CommonTestBlock (up to its key limit) and no vector codes CommonTestBlock
// in CBC to these 32 bytes.
TEST(Ciphers, StoredTestVectorsFollowTheRule) {
  std::vector<TCipherClassRef> classes = {TCipher_SAFER::Class()};
  for (int i = 0; i < CipherClassList().Count(); ++i) classes.push_back(CipherClassList().Objects(i));
  for (int cpuType : {3, 4}) {
    SelectBlowfishRoutines(cpuType);
    for (TCipherClassRef cipherClass : classes) {
      TCipherRef cipher = cipherClass->Create();
      ASSERT_EQ(cipher->ChainMode(), CipherMode::CBC);
      cipher->Init(CommonTestBlock, std::min(32, cipherClass->KeyLimit()));
      uint8_t out[32];
      cipher->EncodeData(CommonTestBlock, out, 32);
      EXPECT_EQ(Hex(out, 32), Hex(cipherClass->StoredTestVector(), 32)) << cipherClass->ClassName();
    }
  }
  SelectBlowfishRoutines(CPUType());
}

// Blowfish cycles through its key and SCOP extends it from the byte after
// it: neither has anything to work with in an empty key.
TEST(Ciphers, EmptyKeysAreRefusedWhereTheScheduleNeedsAByte) {
  for (const auto& [cipherClass, limit] :
       {std::pair{TCipher_Blowfish::Class(), "56"}, std::pair{TCipher_SCOP::Class(), "48"}}) {
    TCipherRef cipher = cipherClass->Create();
    cipher->Init("key", 3);
    EXPECT_EQ(Failure<ECipherException>([&] { cipher->Init("", 0); }),
              "2 " + FormatText(sInvalidKeySize, {cipherClass->ClassName(), "1", limit}));
    EXPECT_FALSE(cipher->Initialized());
    EXPECT_THROW(cipher->Init("key", -4), ECipherException);
  }
  // The others take an empty key (also none at all) as all zeros.
  EXPECT_EQ(Code(TCipher_Gost::Class(), "", "8 bytes."), Code(TCipher_Gost::Class(), std::string(32, '\0'), "8 bytes."));
  for (int i = 0; i < CipherClassList().Count(); ++i) {
    TCipherRef cipher = CipherClassList().Objects(i)->Create();
    if (cipher->ClassType() == TCipher_Blowfish::Class() || cipher->ClassType() == TCipher_SCOP::Class()) {
      EXPECT_THROW(cipher->Init(nullptr, 8), ECipherException);
    } else {
      cipher->Init(nullptr, 8);
      EXPECT_TRUE(cipher->Initialized()) << cipher->ClassType()->ClassName();
    }
  }
}

// SAFER settles its variant by the key where the class leaves it open, and
// its rounds by the key's width when they are out of range; TEA its cycles.
// Both keep what Init settled.
TEST(Ciphers, SaferAndTeaSettleTheirParameters) {
  struct Case {
    TCipherClassRef (*cipherClass)();
    size_t keyBytes;
    int32_t roundsSet, rounds;
    uint8_t variant;
  };
  for (const Case& c : {Case{TCipher_SAFER::Class, 5, 0, 5, 5}, Case{TCipher_SAFER::Class, 16, 0, 10, 7},
                        Case{TCipher_SAFER::Class, 8, 3, 6, 6}, Case{TCipher_SAFER::Class, 6, 14, 6, 6},
                        Case{TCipher_SAFER::Class, 9, 13, 13, 7}, Case{TCipher_SAFER_K64::Class, 3, 0, 6, 2},
                        Case{TCipher_SAFER_SK64::Class, 8, 0, 6, 6}, Case{TCipher_SAFER_K40::Class, 5, 4, 4, 1},
                        Case{TCipher_SAFER_K128::Class, 16, 0, 10, 3}}) {
    TCipherRef cipher = c.cipherClass()->Create();
    auto& safer = dynamic_cast<TCipher_SAFER&>(*cipher);
    safer.SetSaferRounds(c.roundsSet);
    cipher->Init(std::string(c.keyBytes, 'k').data(), static_cast<int32_t>(c.keyBytes));
    EXPECT_EQ(safer.SaferVariant(), c.variant) << c.cipherClass()->ClassName() << " " << c.keyBytes;
    EXPECT_EQ(safer.SaferRounds(), c.rounds) << c.cipherClass()->ClassName() << " " << c.keyBytes;
  }
  // A 16-byte key settles 10 rounds; a 5-byte key then runs SK-40 with them.
  TCipher_SAFER safer;
  safer.Init(std::string(16, 'k').data(), 16);
  safer.Init("fives", 5);
  EXPECT_EQ(safer.SaferRounds(), 10);
  EXPECT_EQ(Code(TCipher_SAFER::Class(), "fives", "8 bytes.", false, 10),
            Code(TCipher_SAFER_SK40::Class(), "fives", "8 bytes.", false, 10));

  for (const auto& [set, settled] : {std::pair{-3, 16}, {20, 20}, {40, 32}}) {
    TCipher_TEAN tea;
    tea.SetTeaCycles(set);
    tea.Init("key", 3);
    EXPECT_EQ(tea.TeaCycles(), settled);
    EXPECT_EQ(Code(TCipher_TEAN::Class(), "key", "8 bytes.", false, set),
              Code(TCipher_TEAN::Class(), "key", "8 bytes.", false, settled));
  }
  // Changed after Init, the count waits for the next Init.
  TCipher_TEA tea;
  tea.Init("key", 3);
  tea.SetTeaCycles(32);
  tea.SetChainMode(CipherMode::ECB);
  std::string block = "8 bytes.";
  tea.EncodeData(block.data(), block.data(), 8);
  EXPECT_EQ(block, Code(TCipher_TEA::Class(), "key", "8 bytes.", false, 16));
}

TEST(Ciphers, TwofishPadsKeysToTheNextSize) {
  const std::string key(17, 'k'), block(16, 'b');
  EXPECT_EQ(Code(TCipher_Twofish::Class(), key, block), Code(TCipher_Twofish::Class(), key + std::string(7, '\0'), block));
  EXPECT_NE(Code(TCipher_Twofish::Class(), key, block), Code(TCipher_Twofish::Class(), key + std::string(15, '\0'), block));
}

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

// Every length from 0 to 300 with keys of 4 to 56 bytes, with and without a
// vector, through both forms of Blowfish's block routines; decoding the
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
      Sample s{&mode, RandomBytes(random, 4 + 4 * (length % 14)), length % 2 ? RandomBytes(random, 8) : "",
               RandomBytes(random, length)};
      const auto field = [](const std::string& bytes) { return bytes.empty() ? "-" : Hex(bytes); };
      lines.push_back(std::string(mode.name) + " " + Hex(s.key) + " " + field(s.vector) + " " + field(s.data));
      samples.push_back(std::move(s));
    }
  }
  const std::vector<std::string> expected = OracleLines(PythonOracle("modes {}"), lines);
  for (int cpuType : {3, 4}) {
    SelectBlowfishRoutines(cpuType);
    for (size_t i = 0; i < samples.size(); ++i) {
      const Sample& s = samples[i];
      const std::string coded = CodeInPieces(*Keyed(s.key, s.mode->mode, s.vector), s.data, false, random);
      ASSERT_EQ(Hex(coded), expected[i]) << lines[i] << ", CPU type " << cpuType;
      const std::string decoded =
          CodeInPieces(*Keyed(s.key, s.mode->mode, s.vector), IsMac(s.mode->mode) ? s.data : coded, true, random);
      ASSERT_EQ(Hex(decoded), Hex(IsMac(s.mode->mode) ? coded : s.data)) << lines[i] << " back";
    }
  }
  SelectBlowfishRoutines(CPUType());
}

TEST(CipherModes, VectorsShorterThanABlockAreRefused) {
  TCipher_Blowfish cipher;
  EXPECT_EQ(Failure<ECipherException>([&] { cipher.Init("key", 3, "1234567", 7); }),
            "4 " + FormatText(sVectorTooShort, {"TCipher_Blowfish", "8"}));
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

// Sees the schedule.
class ExposedBlowfish : public TCipher_Blowfish {
 public:
  using TCipher::KeySchedule;
};

// Nothing is coded before Init or after a wipe, which leaves every area at
// its resting value.
TEST(CipherModes, WipeLeavesTheRestingValuesAndUseIsRefused) {
  ExposedBlowfish cipher;
  std::string data(20, 'd');
  for (int round = 0; round < 2; ++round) {
    const std::string before = data;
    for (const auto& use : std::initializer_list<std::function<void()>>{
             [&] { cipher.EncodeData(data.data(), data.data(), 16); },
             [&] { cipher.DecodeData(data.data(), data.data(), 0); },
             [&] { cipher.ProcessBuffer(data.data(), 16, caEncode); }}) {
      EXPECT_EQ(Failure<ECipherException>(use), "3 " + FormatText(sNotInitialized, {"TCipher_Blowfish"}));
    }
    EXPECT_EQ(data, before) << "nothing is coded while refused";
    cipher.Init("key", 3);
    cipher.EncodeData(data.data(), data.data(), 20);
    cipher.WipeState();
  }
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
  EXPECT_EQ(Failure<ECipherException>([&] { byText.InitKey("pass phrase"); }),
            "2 " + FormatText(sInvalidKeySize, {"TCipher_IDEA", "0", "16"}));
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

}  // namespace
}  // namespace kv::crypto::test

// The block ciphers against independent implementations: libcrypto++ for the
// published ciphers, openssl and Python's Cryptodome for Blowfish, and
// transcriptions in the test script for Q128 and SCOP; then what the classes
// settle themselves (variants, rounds, cycles, padding) and the keys they
// refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "crypto/ciphers.h"
#include "crypto/cryptconst.h"
#include "crypto/tests/cryptotest.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"
#include "tools/q128table/q128generator.h"

namespace kv::crypto::test {
namespace {

// What a comparison does to key, block and result before the oracle sees
// them: nothing, or each 32-bit word's bytes swapped (3-Way, TEA and XTEA
// read little-endian words where the oracle reads big-endian ones).
enum class Order { Same, WordsSwapped };

std::string Reorder(std::string bytes, Order order) {
  if (order == Order::WordsSwapped) {
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) std::reverse(bytes.begin() + i, bytes.begin() + i + 4);
  }
  return bytes;
}

using Configure = std::function<void(TCipher&)>;

Configure Rounds(int32_t rounds) {
  return [rounds](TCipher& c) {
    if (auto* safer = dynamic_cast<TCipher_SAFER*>(&c)) safer->SetSaferRounds(rounds);
    if (auto* tea = dynamic_cast<TCipher_TEA*>(&c)) tea->SetTeaCycles(rounds);
  };
}

// Data through a new object of the class keyed without a vector, in ECB.
std::string Code(TCipherClassRef cipherClass, const std::string& key, std::string data, bool decode = false,
                 const Configure& configure = nullptr) {
  TCipherRef cipher = cipherClass->Create();
  if (configure) configure(*cipher);
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
  Order order;
};

const OracleCase kOracleCases[] = {
    {TCipher_Blowfish::Class, "blowfish", 4, 0, Order::Same},
    {TCipher_Blowfish::Class, "blowfish", 16, 0, Order::Same},
    {TCipher_Blowfish::Class, "blowfish", 56, 0, Order::Same},
    {TCipher_Gost::Class, "gost", 32, 0, Order::Same},
    {TCipher_IDEA::Class, "idea", 16, 0, Order::Same},
    {TCipher_Square::Class, "square", 16, 0, Order::Same},
    {TCipher_Twofish::Class, "twofish", 16, 0, Order::Same},
    {TCipher_Twofish::Class, "twofish", 24, 0, Order::Same},
    {TCipher_Twofish::Class, "twofish", 32, 0, Order::Same},
    {TCipher_Shark::Class, "shark", 16, 0, Order::Same},
    {TCipher_3Way::Class, "3way", 12, 0, Order::WordsSwapped},
    {TCipher_TEA::Class, "tea", 16, 16, Order::WordsSwapped},
    {TCipher_TEA::Class, "tea", 16, 32, Order::WordsSwapped},
    {TCipher_TEAN::Class, "xtea", 16, 16, Order::WordsSwapped},
    {TCipher_TEAN::Class, "xtea", 16, 32, Order::WordsSwapped},
    {TCipher_SAFER_K64::Class, "safer-k", 8, 6, Order::Same},
    {TCipher_SAFER_K64::Class, "safer-k", 8, 13, Order::Same},
    {TCipher_SAFER_SK64::Class, "safer-sk", 8, 8, Order::Same},
    {TCipher_SAFER_K128::Class, "safer-k", 16, 10, Order::Same},
    {TCipher_SAFER_SK128::Class, "safer-sk", 16, 4, Order::Same},
    {TCipher_SAFER_SK128::Class, "safer-sk", 16, 10, Order::Same},
    // No implementation knows the 40-bit variants: their 5-byte key extends
    // to an 8-byte one (below), so they must equal the 64-bit cipher.
    {TCipher_SAFER_K40::Class, "safer-k", 5, 5, Order::Same},
    {TCipher_SAFER_SK40::Class, "safer-sk", 5, 5, Order::Same},
    {TCipher_SAFER_SK40::Class, "safer-sk", 5, 9, Order::Same},
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
      lines.push_back(std::string(c.oracleName) + " " + std::to_string(c.rounds) + " " +
                      Hex(Reorder(oracleKey, c.order)) + " " + Hex(Reorder(s.block, c.order)));
      samples.push_back(std::move(s));
    }
  }
  const std::vector<std::string> expected = OracleLines(KV_CRYPTOPP_ORACLE " {}", lines);
  for (size_t i = 0; i < samples.size(); ++i) {
    const Sample& s = samples[i];
    const Configure rounds = Rounds(s.c->rounds);
    const std::string encoded = Code(s.c->cipherClass(), s.key, s.block, false, rounds);
    const std::string decoded = Code(s.c->cipherClass(), s.key, s.block, true, rounds);
    ASSERT_EQ(Hex(Reorder(encoded, s.c->order)) + " " + Hex(Reorder(decoded, s.c->order)), expected[i])
        << s.c->cipherClass()->ClassName() << " rounds " << s.c->rounds << " key " << Hex(s.key) << " block "
        << Hex(s.block);
  }
}

// Both forms of the block routines, against openssl (16-byte keys, the
// only length its command takes) and Cryptodome (4 to 56 bytes).
TEST(Ciphers, BlowfishAgreesWithOpensslAndCryptodomeInBothForms) {
  std::mt19937 random(22);
  kv::test::TempTree tree;
  std::vector<std::pair<std::string, std::string>> samples;  // key, data
  std::vector<std::string> cryptodome;
  for (size_t length = 4; length <= 56; length += 4) {
    samples.emplace_back(RandomBytes(random, length), RandomBytes(random, 64));
    cryptodome.push_back("ECB " + Hex(samples.back().first) + " - " + Hex(samples.back().second));
  }
  const std::vector<std::string> expected = OracleLines(PythonOracle("modes {}"), cryptodome);
  for (int cpuType : {3, 4}) {
    SelectBlowfishRoutines(cpuType);
    for (size_t i = 0; i < samples.size(); ++i) {
      const auto& [key, data] = samples[i];
      EXPECT_EQ(Hex(Code(TCipher_Blowfish::Class(), key, data)), expected[i]) << "CPU type " << cpuType;
      EXPECT_EQ(Code(TCipher_Blowfish::Class(), key, Code(TCipher_Blowfish::Class(), key, data), true), data);
    }
    for (int i = 0; i < 4; ++i) {
      const std::string key = RandomBytes(random, 16), data = RandomBytes(random, 40);
      tree.Write("plain", data);
      const std::string openssl = "openssl enc -bf-ecb -provider legacy -provider default -nopad -K " + Hex(key);
      kv::test::MustRun(openssl + " -in " + tree.Posix("plain") + " -out " + tree.Posix("coded"));
      EXPECT_EQ(Hex(tree.Read("coded")), Hex(Code(TCipher_Blowfish::Class(), key, data))) << "CPU type " << cpuType;
      kv::test::MustRun(openssl + " -d -in " + tree.Posix("plain") + " -out " + tree.Posix("decoded"));
      EXPECT_EQ(Hex(tree.Read("decoded")), Hex(Code(TCipher_Blowfish::Class(), key, data, true)));
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
  for (const auto& [cipherClass, name] : {std::pair{TCipher_Q128::Class(), "q128"}, {TCipher_SCOP::Class(), "scop"}}) {
    std::vector<std::pair<std::string, std::string>> samples;
    std::vector<std::string> lines;
    const auto block = static_cast<size_t>(cipherClass->BlockBytes());
    // From one byte on: SCOP extends a one-byte key from a zero.
    for (int32_t length = 1; length <= cipherClass->KeyLimit(); length += 3) {
      samples.emplace_back(RandomBytes(random, static_cast<size_t>(length)), RandomBytes(random, 3 * block));
      lines.push_back(Hex(samples.back().first) + " " + Hex(samples.back().second));
    }
    const std::vector<std::string> expected = OracleLines(PythonOracle(std::string("cipher ") + name + " {}"), lines);
    for (size_t i = 0; i < samples.size(); ++i) {
      const auto& [key, data] = samples[i];
      EXPECT_EQ(Hex(Code(cipherClass, key, data)), expected[i]) << name << " key " << Hex(key);
      EXPECT_EQ(Code(cipherClass, key, Code(cipherClass, key, data), true), data) << name;
    }
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
    try {
      cipher->Init("", 0);
      ADD_FAILURE() << "empty key accepted";
    } catch (const ECipherException& e) {
      EXPECT_EQ(e.FailureCode(), kFailureKeyLength);
      EXPECT_EQ(e.what(), FormatText(sInvalidKeySize, {cipherClass->ClassName(), "1", limit}));
    }
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

TEST(Ciphers, SaferSettlesVariantAndRoundsByKeyAndKeepsThem) {
  struct Case {
    TCipherClassRef (*cipherClass)();
    size_t keyBytes;
    int32_t roundsSet;
    uint8_t variant;
    int32_t rounds;
  };
  const Case cases[] = {
      {TCipher_SAFER::Class, 5, 0, 5, 5},       {TCipher_SAFER::Class, 16, 0, 7, 10},
      {TCipher_SAFER::Class, 8, 3, 6, 6},       {TCipher_SAFER::Class, 6, 14, 6, 6},
      {TCipher_SAFER::Class, 9, 13, 7, 13},     {TCipher_SAFER_K64::Class, 3, 0, 2, 6},
      {TCipher_SAFER_SK64::Class, 8, 0, 6, 6},  {TCipher_SAFER_K40::Class, 5, 4, 1, 4},
      {TCipher_SAFER_K128::Class, 16, 0, 3, 10},
  };
  for (const Case& c : cases) {
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
  EXPECT_EQ(Code(TCipher_SAFER::Class(), "fives", "8 bytes.", false, Rounds(10)),
            Code(TCipher_SAFER_SK40::Class(), "fives", "8 bytes.", false, Rounds(10)));
}

TEST(Ciphers, TeaSettlesItsCycles) {
  for (const auto& [set, settled] : {std::pair{0, 16}, {-3, 16}, {20, 20}, {40, 32}}) {
    TCipher_TEAN tea;
    tea.SetTeaCycles(set);
    tea.Init("key", 3);
    EXPECT_EQ(tea.TeaCycles(), settled);
    EXPECT_EQ(Code(TCipher_TEAN::Class(), "key", "8 bytes.", false, Rounds(set)),
              Code(TCipher_TEAN::Class(), "key", "8 bytes.", false, Rounds(settled)));
  }
  // Changed after Init, the count waits for the next Init.
  TCipher_TEA tea;
  tea.Init("key", 3);
  tea.SetTeaCycles(32);
  tea.SetChainMode(CipherMode::ECB);
  std::string block = "8 bytes.";
  tea.EncodeData(block.data(), block.data(), 8);
  EXPECT_EQ(block, Code(TCipher_TEA::Class(), "key", "8 bytes.", false, Rounds(16)));
}

TEST(Ciphers, TwofishPadsKeysToTheNextSize) {
  const std::string key(17, 'k'), block(16, 'b');
  EXPECT_EQ(Code(TCipher_Twofish::Class(), key, block), Code(TCipher_Twofish::Class(), key + std::string(7, '\0'), block));
  EXPECT_NE(Code(TCipher_Twofish::Class(), key, block), Code(TCipher_Twofish::Class(), key + std::string(15, '\0'), block));
}

}  // namespace
}  // namespace kv::crypto::test

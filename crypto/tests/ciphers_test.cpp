// The block ciphers against independent implementations: libcrypto++ for the
// published ciphers, openssl and Python's Cryptodome for Blowfish, and
// transcriptions in the test script for Q128 and SCOP.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "crypto/ciphers.h"
#include "crypto/cryptconst.h"
#include "crypto/tests/cryptotest.h"
#include "testsupport/commands.h"

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

// One block through a new object of the class, in ECB.
std::string CodeBlock(TCipherClassRef cipherClass, const std::string& key, std::string block, bool decode,
                      const Configure& configure = nullptr) {
  TCipherRef cipher = cipherClass->Create();
  if (configure) configure(*cipher);
  cipher->Init(key.data(), static_cast<int32_t>(key.size()));
  cipher->SetChainMode(CipherMode::ECB);
  decode ? cipher->DecodeData(block.data(), block.data(), static_cast<int32_t>(block.size()))
         : cipher->EncodeData(block.data(), block.data(), static_cast<int32_t>(block.size()));
  return block;
}

Configure Rounds(int32_t rounds) {
  return [rounds](TCipher& c) {
    if (auto* safer = dynamic_cast<TCipher_SAFER*>(&c)) safer->SetSaferRounds(rounds);
    if (auto* tea = dynamic_cast<TCipher_TEA*>(&c)) tea->SetTeaCycles(rounds);
  };
}

struct OracleCase {
  TCipherClassRef (*cipherClass)();
  const char* oracleName;
  size_t keyBytes;
  int32_t rounds;  // 0: the class's and the oracle's own
  Order order;
};

const OracleCase kOracleCases[] = {
    {TCipher_Blowfish::Class, "blowfish", 16, 0, Order::Same},
    {TCipher_Blowfish::Class, "blowfish", 56, 0, Order::Same},
    {TCipher_Blowfish::Class, "blowfish", 5, 0, Order::Same},
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
};

TEST(Ciphers, AgreeWithLibcryptoxx) {
  std::mt19937 random(21);
  struct Sample {
    const OracleCase* c;
    std::string key, block;
  };
  std::vector<Sample> samples;
  std::vector<std::string> lines;
  for (const OracleCase& c : kOracleCases) {
    for (int i = 0; i < 12; ++i) {
      Sample s{&c, RandomBytes(random, c.keyBytes), RandomBytes(random, static_cast<size_t>(c.cipherClass()->BlockBytes()))};
      lines.push_back(std::string(c.oracleName) + " " + std::to_string(c.rounds) + " " + Hex(Reorder(s.key, c.order)) +
                      " " + Hex(Reorder(s.block, c.order)));
      samples.push_back(std::move(s));
    }
  }
  const std::vector<std::string> expected = OracleLines(KV_CRYPTOPP_ORACLE " {}", lines);
  for (size_t i = 0; i < samples.size(); ++i) {
    const Sample& s = samples[i];
    const Configure rounds = Rounds(s.c->rounds);
    const std::string encoded = Reorder(CodeBlock(s.c->cipherClass(), s.key, s.block, false, rounds), s.c->order);
    const std::string decoded = Reorder(CodeBlock(s.c->cipherClass(), s.key, s.block, true, rounds), s.c->order);
    EXPECT_EQ(Hex(encoded) + " " + Hex(decoded), expected[i])
        << s.c->cipherClass()->ClassName() << " rounds " << s.c->rounds << " key " << Hex(s.key) << " block "
        << Hex(s.block);
  }
}

}  // namespace
}  // namespace kv::crypto::test

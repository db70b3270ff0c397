// HAVAL, Tiger, Snefru, Sapphire and the Square digest against PHP, rhash
// and the transcriptions of the test script; their framing and their length
// fields beyond 4 GiB.
#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/checksums.h"
#include "crypto/digests.h"
#include "crypto/md4family.h"
#include "crypto/tests/cryptotest.h"
#include "testsupport/commands.h"
#include "testsupport/goldenbytes.h"
#include "testsupport/temptree.h"

namespace kv::crypto::test {
namespace {

HashSetup HavalPasses(int32_t passes) {
  return [passes](THash& h) { dynamic_cast<THash_Haval256&>(h).SetHavalPasses(passes); };
}
HashSetup TigerPasses(int32_t passes) {
  return [passes](THash& h) { dynamic_cast<THash_Tiger&>(h).SetTigerPasses(passes); };
}

TEST(FurtherDigests, HavalAndTigerAgreeWithPhp) {
  const std::vector<std::string> messages = OracleMessages();
  const std::pair<THashClassRef, int> havals[] = {{THash_Haval128::Class(), 128}, {THash_Haval160::Class(), 160},
                                                  {THash_Haval192::Class(), 192}, {THash_Haval224::Class(), 224},
                                                  {THash_Haval256::Class(), 256}};
  for (const auto& [hashClass, bits] : havals) {
    for (int passes = 3; passes <= 5; ++passes) {
      ExpectOracle(hashClass, PhpHash("haval" + std::to_string(bits) + "," + std::to_string(passes)), messages,
                   HavalPasses(passes));
    }
  }
  for (int passes : {3, 4}) {
    ExpectOracle(THash_Tiger::Class(), PhpHash("tiger192," + std::to_string(passes)), messages, TigerPasses(passes));
  }
}

TEST(FurtherDigests, SapphireAndSquareAgreeWithTheTranscriptions) {
  const std::vector<std::string> messages = OracleMessages(true);
  const THashClassRef sapphires[] = {THash_Sapphire128::Class(), THash_Sapphire160::Class(),
                                     THash_Sapphire192::Class(), THash_Sapphire224::Class(),
                                     THash_Sapphire256::Class(), THash_Sapphire288::Class(),
                                     THash_Sapphire320::Class()};
  for (THashClassRef hashClass : sapphires) {
    ExpectOracle(hashClass, PythonOracle("digest sapphire" + std::to_string(hashClass->DigestSize()) + " {}"),
                 messages);
  }
  ExpectOracle(THash_Square::Class(), PythonOracle("digest square {}"), messages);
  // The digest size enters the finishing: the small digest is not the
  // beginning of the large one.
  EXPECT_NE(DigestOf(THash_Sapphire128::Class(), "abc"), DigestOf(THash_Sapphire320::Class(), "abc").substr(0, 16));
}

// Data fed byte by byte gives what data in one piece gives.
TEST(FurtherDigests, PiecesDoNotMatter) {
  std::mt19937 random(41);
  const std::string data = RandomBytes(random, 333);
  for (THashClassRef hashClass : AllHashClasses()) {
    if (hashClass == THash_XOR32::Class()) continue;  // treats each call from its first byte
    EXPECT_EQ(Hex(DigestByteByByte(hashClass, data)), Hex(DigestOf(hashClass, data))) << hashClass->ClassName();
  }
}

// Standard Snefru-256 (big-endian words, zero padding, a final block with the
// length) built on the class's compression.
std::string SwapWords(std::string bytes) {
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) std::reverse(bytes.begin() + i, bytes.begin() + i + 4);
  return bytes;
}

std::string StandardSnefru(const std::string& data) {
  SeamHash<THash_Snefru> snefru;
  snefru.Init();
  std::string message = data + std::string((32 - data.size() % 32) % 32, '\0');
  kv::test::GoldenBytes last(32);
  for (int i = 0; i < 8; ++i) last.U8(31 - i, static_cast<uint8_t>((data.size() * 8) >> (8 * i)));
  const std::vector<uint8_t> length = last.take();
  message.append(length.begin(), length.end());
  for (size_t at = 0; at < message.size(); at += 32) {
    const std::string block = SwapWords(message.substr(at, 32));
    snefru.Compress(reinterpret_cast<const uint8_t*>(block.data()));
  }
  return SwapWords(Digest(snefru));
}

TEST(FurtherDigests, TigerAndSnefruAgreeWithRhash) {
  std::mt19937 random(42);
  std::vector<std::string> files;
  for (size_t length : {0u, 1u, 31u, 32u, 55u, 56u, 64u, 100u, 12345u}) files.push_back(RandomBytes(random, length));
  const auto expected = RhashFields("%{tiger} %{snefru256}", files);
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(Hex(DigestOf(THash_Tiger::Class(), files[i])), expected[i].at(0)) << files[i].size();
    EXPECT_EQ(Hex(StandardSnefru(files[i])), expected[i].at(1)) << files[i].size();
  }
  // The class's own framing and byte order meet the standard one only in the
  // empty message, and there up to the order of each word's bytes.
  EXPECT_EQ(DigestOf(THash_Snefru::Class(), ""), SwapWords(StandardSnefru("")));
  EXPECT_NE(DigestOf(THash_Snefru::Class(), files[1]), SwapWords(StandardSnefru(files[1])));
}

// Little-endian words, zeros after the data, the 64-bit bit count in bytes 24
// to 31 of the last block, or of a block of its own when 24 or more data
// bytes are left.
TEST(FurtherDigests, SnefruFramingFromGoldenBlocks) {
  for (size_t length : {0u, 5u, 23u, 24u, 31u, 32u, 33u, 88u}) {
    const std::string data(length, 'x');
    SeamHash<THash_Snefru> snefru;
    snefru.Init();
    snefru.Update(data.data(), static_cast<int32_t>(length));
    snefru.Finish();
    std::vector<std::string> expected;
    for (size_t at = 0; at + 32 <= length; at += 32) expected.push_back(data.substr(at, 32));
    std::string tail = data.substr(length - length % 32);
    if (tail.size() >= 24) {
      expected.push_back(tail + std::string(32 - tail.size(), '\0'));
      tail.clear();
    }
    kv::test::GoldenBytes last(32);
    for (size_t i = 0; i < tail.size(); ++i) last.U8(i, static_cast<uint8_t>(tail[i]));
    last.Int(24, length * 8, 8);
    const std::vector<uint8_t> bytes = last.take();
    expected.emplace_back(bytes.begin(), bytes.end());
    EXPECT_EQ(snefru.blocks, expected) << length;
  }
}

// Half a gibibyte and one byte: past the point where a 32-bit bit count
// wraps. rhash reads the same zeros from a sparse file.
TEST(FurtherDigests, TigerOfHalfAGibibyteAndOneByte) {
  constexpr size_t kLength = (size_t{512} << 20) + 1;
  kv::test::TempTree tree;
  const std::string path = tree.Posix("zeros");
  kv::test::MustRun("truncate -s " + std::to_string(kLength) + " " + path);
  int status = -1;
  const std::string rhash = kv::test::RunCommand("rhash --printf '%{tiger}' " + path, &status);
  ASSERT_EQ(status, 0) << "rhash is missing";
  const std::string zeros(1 << 20, '\0');
  THash_Tiger tiger;
  tiger.Init();
  for (size_t done = 0; done < kLength; done += zeros.size())
    tiger.Update(zeros.data(), static_cast<int32_t>(std::min(zeros.size(), kLength - done)));
  tiger.Finish();
  EXPECT_EQ(Hex(Digest(tiger)), rhash);
}

// The last block of a message of 4 GiB and 3 bytes holds its full bit count.
TEST(FurtherDigests, LengthFieldsPastFourGibibytes) {
  constexpr uint64_t kCount = (uint64_t{1} << 32) + 3;
  const auto lastBlock = [](auto& hash) {
    hash.Init();
    hash.PresetByteCount(kCount);
    hash.Finish();
    return Hex(hash.blocks.back());
  };
  SeamHash<THash_Haval256> haval;
  kv::test::GoldenBytes havalBlock(128);
  havalBlock.U8(3, 0x01);
  havalBlock.U8(118, 1 | 5 << 3);
  havalBlock.U8(119, 256 >> 2);
  havalBlock.Int(120, kCount * 8, 8);
  const std::vector<uint8_t> havalBytes = havalBlock.take();
  EXPECT_EQ(lastBlock(haval), Hex(havalBytes.data(), havalBytes.size()));

  SeamHash<THash_Snefru> snefru;
  EXPECT_EQ(lastBlock(snefru).substr(48), "1800000008000000");
  SeamHash<THash_Square> square;
  EXPECT_EQ(lastBlock(square), "0000008000000000" "1800000008000000");

  // Sapphire has no blocks: counts 2^29 bytes apart would give one 32-bit bit
  // count, and counts 2^32 apart one 32-bit byte count.
  const auto sapphire = [](uint64_t count) {
    CountSeam<THash_Sapphire128> hash;
    hash.Init();
    hash.PresetByteCount(count);
    hash.Finish();
    return Digest(hash);
  };
  EXPECT_NE(sapphire(5), sapphire(5 + (uint64_t{1} << 29)));
  EXPECT_NE(sapphire(5), sapphire(5 + (uint64_t{1} << 32)));
}

TEST(FurtherDigests, PassCountsOutsideTheirRangeGiveTheDefault) {
  const std::string data = "passes";
  const std::string haval3 = DigestOf(THash_Haval160::Class(), data, nullptr, HavalPasses(3));
  EXPECT_EQ(DigestOf(THash_Haval160::Class(), data, nullptr, HavalPasses(6)), haval3);
  EXPECT_EQ(DigestOf(THash_Haval160::Class(), data), haval3);
  EXPECT_NE(DigestOf(THash_Haval160::Class(), data, nullptr, HavalPasses(5)), haval3);
  THash_Haval224 settled;
  settled.Init();
  EXPECT_EQ(settled.HavalPasses(), 4);

  const std::string tiger3 = DigestOf(THash_Tiger::Class(), data);
  EXPECT_EQ(DigestOf(THash_Tiger::Class(), data, nullptr, TigerPasses(2)), tiger3);
  EXPECT_EQ(DigestOf(THash_Tiger::Class(), data, nullptr, TigerPasses(33)), tiger3);
  EXPECT_NE(DigestOf(THash_Tiger::Class(), data, nullptr, TigerPasses(32)), tiger3);

  // Snefru has S-boxes for eight passes: a count beyond them runs eight.
  const auto snefru = [&](int32_t passes) {
    THash_Snefru hash;
    hash.Init();
    hash.SetSnefruPasses(passes);
    hash.Update(data.data(), static_cast<int32_t>(data.size()));
    hash.Finish();
    return Digest(hash);
  };
  EXPECT_EQ(snefru(9), snefru(8));
  EXPECT_EQ(snefru(-1), snefru(8));
  EXPECT_NE(snefru(2), snefru(8));
}

}  // namespace
}  // namespace kv::crypto::test

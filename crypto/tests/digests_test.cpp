// The digests and checksums against published values and independent
// implementations (PHP, Python's modules and the script's transcriptions,
// rhash), fed in pieces of every size the frames treat specially; their
// framing, their length fields beyond 4 GiB and their pass counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "crypto/checksums.h"
#include "crypto/digests.h"
#include "crypto/md4family.h"
#include "crypto/tests/cryptotest.h"
#include "testsupport/commands.h"
#include "testsupport/goldenbytes.h"
#include "testsupport/temptree.h"

namespace kv::crypto::test {
namespace {

const std::string kMillionA(1000000, 'a');
const std::string k448Bits = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

struct Published {
  THashClassRef (*hashClass)();
  std::string message;
  std::string digest;  // hex; a checksum's as its value
};

// RFC 1320 and 1321 test suites (excerpts), FIPS PUB 180 (1993) and 180-1,
// the RIPEMD-160 paper's table and the values published with RIPEMD-128,
// -256 and -320; the checksums' values over "123456789".
const Published kPublished[] = {
    {THash_MD4::Class, "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
    {THash_MD4::Class, "message digest", "d9130a8164549fe818874806e1c7014b"},
    {THash_MD5::Class, "", "d41d8cd98f00b204e9800998ecf8427e"},
    {THash_MD5::Class, "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {THash_SHA::Class, "abc", "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880"},
    {THash_SHA::Class, k448Bits, "d2516ee1acfa5baf33dfc1c471e438449ef134c8"},
    {THash_SHA::Class, kMillionA, "3232affa48628a26653b5aaa44541fd90d690603"},
    {THash_SHA1::Class, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {THash_SHA1::Class, k448Bits, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {THash_SHA1::Class, kMillionA, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {THash_RipeMD128::Class, "abc", "c14a12199c66e4ba84636b0f69144c77"},
    {THash_RipeMD160::Class, "message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
    {THash_RipeMD160::Class, kMillionA, "52783243c1697bdbe16d37f97f68f08325dc1528"},
    {THash_RipeMD256::Class, "abc", "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65"},
    {THash_RipeMD320::Class, "abc", "de4c01b3054f8930a79d09ae738e92301e5a17085beffdc1b8d116713e74f82fa942d64cdbc4682d"},
    {THash_XOR16::Class, "123456789", "40ee"},
    {THash_XOR32::Class, "123456789", "1a5b0ff8"},
    {THash_XOR32::Class, "abcd", "000c2843"},
    {THash_CRC32::Class, "123456789", "cbf43926"},
    {THash_CRC16_CCITT::Class, "123456789", "a69d"},
    {Thash_CRC16_Standard::Class, "123456789", "bb3d"},
    {THash_CRC16_CCITT::Class, "", "ffff"},
};

// A digest in hex as the others print it: a checksum's (whose bytes are its
// value low byte first) as its value.
std::string Printed(THashClassRef hashClass, std::string digest) {
  if (hashClass->InheritsFrom(TChecksum::Class())) std::reverse(digest.begin(), digest.end());
  return Hex(digest);
}

TEST(Digests, PublishedValues) {
  std::mt19937 random(1);
  for (const Published& p : kPublished) {
    EXPECT_EQ(Printed(p.hashClass(), DigestOf(p.hashClass(), p.message, &random)), p.digest)
        << p.hashClass()->ClassName();
  }
}

HashSetup Passes(int32_t passes) {
  return [passes](THash& h) {
    if (auto* haval = dynamic_cast<THash_Haval256*>(&h)) haval->SetHavalPasses(passes);
    if (auto* tiger = dynamic_cast<THash_Tiger*>(&h)) tiger->SetTigerPasses(passes);
  };
}

struct OracleCase {
  THashClassRef hashClass;
  bool php;          // else the Python script, over the shorter messages
  std::string name;  // the oracle's name of the algorithm
  int32_t passes;    // set before Init; 0 leaves the class's own
};

std::vector<OracleCase> OracleCases() {
  std::vector<OracleCase> cases = {
      {THash_MD4::Class(), true, "md4", 0},
      {THash_MD5::Class(), true, "md5", 0},
      {THash_SHA1::Class(), true, "sha1", 0},
      {THash_RipeMD128::Class(), true, "ripemd128", 0},
      {THash_RipeMD160::Class(), true, "ripemd160", 0},
      {THash_RipeMD256::Class(), true, "ripemd256", 0},
      {THash_RipeMD320::Class(), true, "ripemd320", 0},
      {THash_Tiger::Class(), true, "tiger192,3", 3},
      {THash_Tiger::Class(), true, "tiger192,4", 4},
      {THash_MD5::Class(), false, "md5", 0},
      {THash_SHA1::Class(), false, "sha1", 0},
      {THash_SHA::Class(), false, "sha0", 0},  // the script's transcription
      {THash_CRC32::Class(), false, "crc32", 0},
      {Thash_CRC16_Standard::Class(), false, "crc16", 0},
      {THash_CRC16_CCITT::Class(), false, "ccitt", 0},
      {THash_Square::Class(), false, "square", 0},
  };
  for (THashClassRef hashClass : AllHashClasses()) {
    const std::string bits = std::to_string(8 * hashClass->DigestSize());
    if (hashClass->InheritsFrom(THash_Haval256::Class())) {
      for (int32_t passes = 3; passes <= 5; ++passes)
        cases.push_back({hashClass, true, "haval" + bits + "," + std::to_string(passes), passes});
    }
    if (hashClass->InheritsFrom(THash_Sapphire320::Class()))
      cases.push_back({hashClass, false, "sapphire" + std::to_string(hashClass->DigestSize()), 0});
  }
  return cases;
}

// One PHP and one Python run over every case's messages.
TEST(Digests, AgreeWithPhpAndPython) {
  const std::vector<OracleCase> cases = OracleCases();
  const std::vector<std::string> messages = OracleMessages(), shortMessages = OracleMessages(true);
  std::vector<std::string> lines[2];
  for (const OracleCase& c : cases) {
    for (const std::string& m : c.php ? messages : shortMessages) lines[c.php].push_back(c.name + " " + Hex(m));
  }
  const std::vector<std::string> expected[2] = {
      OracleLines(PythonOracle("digest {}"), lines[0]),
      OracleLines("php -r 'foreach (file($argv[1]) as $l) { [$a, $h] = explode(\" \", rtrim($l, \"\\n\"));"
                  " echo hash($a, hex2bin($h)), \"\\n\"; }' {}",
                  lines[1])};
  std::mt19937 random(11);
  size_t next[2] = {0, 0};
  for (const OracleCase& c : cases) {
    for (const std::string& m : c.php ? messages : shortMessages) {
      ASSERT_EQ(Printed(c.hashClass, DigestOf(c.hashClass, m, &random, c.passes ? Passes(c.passes) : nullptr)),
                expected[c.php][next[c.php]++])
          << c.hashClass->ClassName() << " against " << c.name << ", message of " << m.size() << " bytes";
    }
  }
}

// Standard Snefru-256 (big-endian words, zero padding, a final block with the
// length) built on the class's compression.

std::string StandardSnefru(const std::string& data) {
  SeamHash<THash_Snefru> snefru;
  snefru.Init();
  std::string message = data + std::string((32 - data.size() % 32) % 32, '\0');
  kv::test::GoldenBytes last(32);
  for (int i = 0; i < 8; ++i) last.U8(31 - i, static_cast<uint8_t>((data.size() * 8) >> (8 * i)));
  const std::vector<uint8_t> length = last.take();
  message.append(length.begin(), length.end());
  for (size_t at = 0; at < message.size(); at += 32) {
    const std::string block = SwapWordBytes(message.substr(at, 32));
    snefru.Compress(reinterpret_cast<const uint8_t*>(block.data()));
  }
  return SwapWordBytes(Digest(snefru));
}

TEST(Digests, AgreeWithRhashOnFiles) {
  std::mt19937 random(3);
  std::vector<std::string> files;
  for (size_t length : {0u, 1u, 31u, 32u, 55u, 56u, 64u, 119u, 120u, 12345u})
    files.push_back(RandomBytes(random, length));
  const auto expected = RhashFields("%{md4} %{md5} %{sha1} %{ripemd160} %{tiger} %{snefru256}", files);
  const THashClassRef classes[] = {THash_MD4::Class(), THash_MD5::Class(), THash_SHA1::Class(),
                                   THash_RipeMD160::Class(), THash_Tiger::Class()};
  for (size_t i = 0; i < files.size(); ++i) {
    for (size_t c = 0; c < std::size(classes); ++c)
      EXPECT_EQ(Hex(DigestOf(classes[c], files[i])), expected[i].at(c)) << classes[c]->ClassName();
    EXPECT_EQ(Hex(StandardSnefru(files[i])), expected[i].at(5)) << files[i].size();
  }
  // The class's own framing and byte order meet the standard one only in the
  // empty message, and there up to the order of each word's bytes.
  EXPECT_EQ(DigestOf(THash_Snefru::Class(), ""), SwapWordBytes(StandardSnefru("")));
  EXPECT_NE(DigestOf(THash_Snefru::Class(), files[1]), SwapWordBytes(StandardSnefru(files[1])));
}

// Half a gibibyte and one byte: past the point where a 32-bit bit count
// wraps. rhash reads the same zeros from a sparse file.
TEST(Digests, TigerOfHalfAGibibyteAndOneByte) {
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

// Every class's stored vector is its digest of the constant test block, with
// both forms of the byte-order routines and of the SHA schedule.
TEST(Digests, StoredTestVectorsAndBothRoutineForms) {
  const std::string block(reinterpret_cast<const char*>(CommonTestBlock), sizeof CommonTestBlock);
  for (int cpuType : {3, 4}) {
    SelectByteOrderRoutines(cpuType);
    ExpandSHABlock = cpuType > 3 ? ExpandSHABlock486 : ExpandSHABlock386;
    for (THashClassRef hashClass : AllHashClasses()) {
      EXPECT_EQ(Hex(DigestOf(hashClass, block)), Hex(hashClass->StoredTestVector(), hashClass->DigestSize()))
          << hashClass->ClassName() << ", CPU type " << cpuType;
    }
    EXPECT_EQ(Hex(DigestOf(THash_SHA::Class(), kMillionA)), "3232affa48628a26653b5aaa44541fd90d690603");
    EXPECT_EQ(Hex(DigestOf(THash_SHA1::Class(), kMillionA)), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  }
  SelectByteOrderRoutines(CPUType());
  ExpandSHABlock = CPUType() > 3 ? ExpandSHABlock486 : ExpandSHABlock386;

  const auto* bytes = reinterpret_cast<const uint8_t*>(kMillionA.data());
  for (bool rotate : {false, true}) {
    uint32_t first[80], second[80];
    ExpandSHABlock386(first, bytes, rotate);
    ExpandSHABlock486(second, bytes, rotate);
    EXPECT_EQ(std::vector<uint32_t>(first, first + 80), std::vector<uint32_t>(second, second + 80));
    EXPECT_EQ(first[0], 0x61616161u);
  }
}

// Pieces do not matter (XOR-32 alone treats each call from its first byte),
// sizes of zero or less change nothing, and Init forgets what came before it.
TEST(Digests, PiecesEmptyUpdatesAndDataBeforeInit) {
  std::mt19937 random(41);
  const std::string data = RandomBytes(random, 333);
  for (THashClassRef hashClass : AllHashClasses()) {
    const std::string whole = DigestOf(hashClass, data);
    THashRef hash = hashClass->Create();
    hash->Update(data.data(), 300);  // whole blocks before the pass count is settled
    hash->Init();
    for (const char& c : data) {
      hash->Update(&c, 1);
      hash->Update(&c, 0);
      hash->Update(&c, -5);
    }
    hash->Finish();
    if (hashClass == THash_XOR32::Class()) {
      EXPECT_NE(Digest(*hash), whole);
    } else {
      EXPECT_EQ(Hex(Digest(*hash)), Hex(whole)) << hashClass->ClassName();
    }
  }
}

// Finish keeps the count and leaves the block zero: a further Update goes on
// from the finished words, with the bit count of everything since Init. The
// same digest comes from a fresh object that starts at those words and that
// count.
template <typename T>
void ExpectContinuation() {
  const std::string first(64, 'x'), more = "twenty bytes further";
  T hash;
  hash.Init();
  hash.Update(first.data(), 64);
  hash.Finish();
  const std::string finished(reinterpret_cast<char*>(hash.DigestBytes()), 40);
  hash.Update(more.data(), 20);
  hash.Finish();
  const std::string continued = Digest(hash);

  SeamHash<T> fresh;
  fresh.Init();
  std::memcpy(fresh.DigestBytes(), finished.data(), finished.size());
  fresh.PresetByteCount(first.size());
  fresh.Update(more.data(), 20);
  fresh.Finish();
  EXPECT_EQ(Hex(continued), Hex(Digest(fresh))) << T::Class()->ClassName();
  EXPECT_NE(continued, DigestOf(T::Class(), more));
  EXPECT_NE(continued, DigestOf(T::Class(), first + more));
}

TEST(Digests, UpdateAfterFinishContinuesFromTheFinishedWords) {
  ExpectContinuation<THash_MD5>();
  ExpectContinuation<THash_SHA1>();
  ExpectContinuation<THash_RipeMD320>();
}

// The last block of a message of 4 GiB and 3 bytes holds its full bit count,
// as the standards say.
template <typename T>
std::string LastBlockOfLongMessage() {
  SeamHash<T> hash;
  hash.Init();
  hash.PresetByteCount((uint64_t{1} << 32) + 3);
  hash.Finish();
  return Hex(hash.blocks.back());
}

TEST(Digests, LengthFieldsPastFourGibibytes) {
  EXPECT_EQ(LastBlockOfLongMessage<THash_MD5>(), "00000080" + std::string(104, '0') + "1800000008000000");
  EXPECT_EQ(LastBlockOfLongMessage<THash_SHA1>().substr(112), "0000000800000018");
  // HAVAL: version 1, 5 passes and 256 bits before the count.
  EXPECT_EQ(LastBlockOfLongMessage<THash_Haval256>(), "00000001" + std::string(228, '0') + "29401800000008000000");
  EXPECT_EQ(LastBlockOfLongMessage<THash_Snefru>().substr(48), "1800000008000000");
  EXPECT_EQ(LastBlockOfLongMessage<THash_Square>(), "00000080000000001800000008000000");

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

// Little-endian words, zeros after the data, the 64-bit bit count in bytes 24
// to 31 of the last block, or of a block of its own when 24 or more data
// bytes are left.
TEST(Digests, SnefruFramingFromGoldenBlocks) {
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

TEST(Digests, PassCountsOutsideTheirRangeGiveTheDefault) {
  const std::string data = "passes";
  const auto digest = [&](THashClassRef hashClass, int32_t passes) {
    return DigestOf(hashClass, data, nullptr, passes ? Passes(passes) : nullptr);
  };
  const std::string haval3 = digest(THash_Haval160::Class(), 3);
  EXPECT_EQ(digest(THash_Haval160::Class(), 6), haval3);
  EXPECT_EQ(digest(THash_Haval160::Class(), 0), haval3);
  EXPECT_NE(digest(THash_Haval160::Class(), 5), haval3);
  THash_Haval224 settled;
  settled.Init();
  EXPECT_EQ(settled.HavalPasses(), 4);

  const std::string tiger3 = digest(THash_Tiger::Class(), 0);
  EXPECT_EQ(digest(THash_Tiger::Class(), 2), tiger3);
  EXPECT_EQ(digest(THash_Tiger::Class(), 33), tiger3);
  EXPECT_NE(digest(THash_Tiger::Class(), 32), tiger3);

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

  // The digest size enters Sapphire's finishing: the small digest is not the
  // beginning of the large one.
  EXPECT_NE(DigestOf(THash_Sapphire128::Class(), data), DigestOf(THash_Sapphire320::Class(), data).substr(0, 16));
}

}  // namespace
}  // namespace kv::crypto::test

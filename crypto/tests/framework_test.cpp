// The frame of the class library: the registries and their counted start,
// classes that come and go with a library, the shared routines, and the
// coding runs of the hash classes (keystreams, TMAC, chains, key material,
// the failures of a run, progress).
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "crypto/checksums.h"
#include "crypto/ciphers.h"
#include "crypto/cryptconst.h"
#include "crypto/md4family.h"
#include "crypto/stream.h"
#include "crypto/tests/cryptotest.h"
#include "platform/modules.h"
#include "platform/volumes.h"

namespace kv::crypto::test {
namespace {

template <typename List>
std::vector<std::string> Lines(const List& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
  return lines;
}

const std::vector<std::string> kHashLines = {
    "Message Digest 4=Hash",        "Message Digest 5=Hash",        "Secure Hash Algorithm=Hash",
    "Secure Hash Algorithm 1=Hash", "Ripe Message Digest 128=Hash", "Ripe Message Digest 160=Hash",
    "Ripe Message Digest 256=Hash", "Ripe Message Digest 320=Hash", "Haval-128=Hash",
    "Haval-160=Hash",               "Haval-192=Hash",               "Haval-224=Hash",
    "Haval-256=Hash",               "Sapphire II-128=Hash",         "Sapphire II-160=Hash",
    "Sapphire II-192=Hash",         "Sapphire II-224=Hash",         "Sapphire II-256=Hash",
    "Sapphire II-288=Hash",         "Sapphire II-320=Hash",         "Snefru-256=Hash",
    "Square=Hash",                  "Tiger=Hash",                   "XOR-16=Checksum",
    "XOR-32=Checksum",              "CRC-16 CCITT=Checksum",        "CRC-16 Standard=Checksum",
    "CRC-32=Checksum"};

const std::vector<std::string> kCipherLines = {
    "3Way=",      "Blowfish=",  "Gost=",          "IDEA=free for non-commercial",
    "Q128=",      "SAFER-K40=", "SAFER-SK40=Keyscheduling",
    "SAFER-K64=", "SAFER-SK64=Keyscheduling",     "SAFER-K128=",
    "SAFER-SK128=Keyscheduling",                  "SCOP=",
    "Shark=",     "Square=",    "TEA=",           "TEA extended=",
    "Twofish="};

// Registering a class again gives it its new line in place; a blank name
// becomes the class name without "T" and up to its first "_".
TEST(Registries, HoldTheClassesInOrderAndReplaceLinesInPlace) {
  ASSERT_EQ(Lines(HashClassList()), kHashLines);
  const std::vector<THashClassRef> classes = AllHashClasses();
  for (int i = 0; i < HashClassList().Count(); ++i) EXPECT_EQ(HashClassList().Objects(i), classes[i]);
  EXPECT_EQ(HashClassList().Names(27), "CRC-32");
  EXPECT_EQ(HashClassList().ValueFromIndex(27), "Checksum");
  EXPECT_TRUE(Thash_CRC16_Standard::Class()->InheritsFrom(TChecksum::Class()));
  ASSERT_EQ(Lines(CipherClassList()), kCipherLines);
  EXPECT_EQ(CipherClassList().Objects(15), TCipher_TEAN::Class());
  EXPECT_EQ(CipherClassList().IndexOfObject(TCipher_SAFER::Class()), -1);
  EXPECT_TRUE(TCipher_SAFER_SK128::Class()->InheritsFrom(TCipher_SAFER::Class()));

  EXPECT_TRUE(AddHashClass(THash_MD4::Class(), " \t", "Hash"));
  EXPECT_TRUE(AddHashClass(Thash_CRC16_Standard::Class(), "", "Check sum "));
  EXPECT_FALSE(AddHashClass(nullptr, "nothing", "Hash"));
  std::vector<std::string> hashLines = kHashLines;
  hashLines[0] = "MD4=Hash";
  hashLines[26] = "CRC16_Standard=Check sum ";
  EXPECT_EQ(Lines(HashClassList()), hashLines);
  EXPECT_TRUE(AddCipherClass(TCipher_Gost::Class(), " \x01", "again"));
  EXPECT_TRUE(AddCipherClass(TCipher_Gost::Class(), "Gost 28147", "renamed"));
  EXPECT_FALSE(AddCipherClass(nullptr, "none", ""));
  std::vector<std::string> cipherLines = kCipherLines;
  cipherLines[2] = "Gost 28147=renamed";
  EXPECT_EQ(Lines(CipherClassList()), cipherLines);

  AddHashClass(THash_MD4::Class(), "Message Digest 4", "Hash");
  AddHashClass(Thash_CRC16_Standard::Class(), "CRC-16 Standard", "Checksum");
  AddCipherClass(TCipher_Gost::Class(), "", "");
  EXPECT_EQ(Lines(HashClassList()), kHashLines);
  EXPECT_EQ(Lines(CipherClassList()), kCipherLines);
}

// A library of further classes registers a digest, a cipher and a string
// format when it is loaded; unloading it through the platform runs the
// hooks, which take exactly its classes out.
TEST(Registries, ClassesLeaveWithTheLibraryThatDefinesThem) {
  std::string error;
  const platform::ModuleHandle plugin = platform::LoadModule(platform::FromPosixPath(KV_CRYPTO_TESTPLUGIN), &error);
  ASSERT_NE(plugin, nullptr) << error;
  ASSERT_EQ(HashClassList().Count(), 29);
  EXPECT_EQ(HashClassList().Strings(28), "Plug-in sum=Checksum");
  THashClassRef sum = HashClassList().Objects(28);
  EXPECT_EQ(sum->Module(), plugin);
  EXPECT_NE(THash_MD5::Class()->Module(), plugin);
  EXPECT_EQ(TextDigest(sum, "\x01\x02", nullptr, kFormatHEX), "03");
  ASSERT_EQ(CipherClassList().Count(), 18);
  EXPECT_EQ(CipherClassList().Strings(17), "PluginXor=plug-in");
  TCipherRef cipher = CipherClassList().Objects(17)->Create();
  cipher->Init("\x0F", 1, "\x00", 1);
  cipher->SetChainMode(CipherMode::ECB);
  std::string data = "\x01\x02";
  cipher->EncodeData(data.data(), data.data(), 2);
  EXPECT_EQ(data, "\x0E\x0D");
  cipher.reset();
  ASSERT_NE(FindStringFormat(4711), nullptr);
  EXPECT_EQ(FindStringFormat(4711)->FormatName(), "PluginCopy");

  EXPECT_TRUE(platform::UnloadModule(plugin));
  EXPECT_EQ(Lines(HashClassList()), kHashLines);
  EXPECT_EQ(Lines(CipherClassList()), kCipherLines);
  EXPECT_EQ(FindStringFormat(4711), nullptr);
  EXPECT_NE(FindStringFormat(kFormatHEX), nullptr);
  EXPECT_FALSE(platform::UnloadModule(plugin));
}

// Only the last end of a unit frees its registry; a new start fills it again.
TEST(Registries, StartAndEndAreCounted) {
  CipherStartup();
  CipherShutdown();
  EXPECT_EQ(Lines(CipherClassList()), kCipherLines);
  CipherShutdown();
  EXPECT_EQ(CipherClassList().Count(), 0);
  EXPECT_EQ(HashClassList().Count(), 0);
  EXPECT_EQ(FindStringFormat(kFormatHEX), nullptr);
  CipherStartup();
  EXPECT_EQ(Lines(CipherClassList()), kCipherLines);
  EXPECT_EQ(Lines(HashClassList()), kHashLines);
  EXPECT_NE(FindStringFormat(kFormatHEX), nullptr);
}

TEST(SharedRoutines, KnownValuesInBothForms) {
  for (int cpuType : {3, 4}) {
    SelectByteOrderRoutines(cpuType);
    EXPECT_EQ(SwapBytes(0x12345678), 0x78563412u);
    EXPECT_EQ(ReverseBits(0x12345678), 0x1E6A2C48u);
    uint32_t words[2] = {0x11223344, 0xAABBCCDD};
    SwapBytesBuffer(words, words, 2);
    EXPECT_EQ(words[0], 0x44332211u);
    EXPECT_EQ(words[1], 0xDDCCBBAAu);
  }
  SelectByteOrderRoutines(CPUType());
  EXPECT_EQ(RotateLeft(0x80000001, 33), 0x00000003u);
  EXPECT_EQ(CompareBytes("ab\xFF", "ab\x01", 3), 0xFE);
  EXPECT_EQ(CompareBytes("abc", "abd", 2), 0);
  std::string bytes = "abcdef";
  EXPECT_EQ(MixRandomBytes(0x12345678, bytes.data(), 6), 0x6697D49Du);
  EXPECT_EQ(Hex(bytes), "d0952426a366");
}

std::string CodeBuffer(THashClassRef hashClass, TProtectionRef chain, std::string data, TCodingAction action) {
  THashRef hash = hashClass->Create(std::move(chain));
  hash->ProcessBuffer(data.data(), static_cast<int32_t>(data.size()), action);
  return action == caCalculate ? Digest(*hash) : data;
}

// A calculating run gives the plain digest; encoding and decoding make one
// key stream that does not depend on the data, also through a chain (passed
// the other way round when decoding).
TEST(HashCoding, CalculateAndKeystreamRuns) {
  std::mt19937 random(4);
  const std::string data = RandomBytes(random, 333);
  const std::string zeros(data.size(), '\0');
  for (THashClassRef hashClass : AllHashClasses()) {
    EXPECT_EQ(CodeBuffer(hashClass, nullptr, data, caCalculate), DigestOf(hashClass, data)) << hashClass->ClassName();
    const std::string encoded = CodeBuffer(hashClass, nullptr, data, caEncode);
    // A checksum whose state stays 0 on zeros has a key stream of zeros.
    if (!hashClass->InheritsFrom(TChecksum::Class())) {
      EXPECT_NE(encoded, data) << hashClass->ClassName();
    }
    EXPECT_EQ(CodeBuffer(hashClass, nullptr, encoded, caDecode), data) << hashClass->ClassName();
    std::string keystream = CodeBuffer(hashClass, nullptr, zeros, caEncode);
    XorBuffers(keystream.data(), data.data(), static_cast<int32_t>(data.size()), keystream.data());
    EXPECT_EQ(keystream, encoded) << hashClass->ClassName();
  }
  const std::string chained = CodeBuffer(THash_SHA1::Class(), THash_MD5::Class()->Create(), data, caEncode);
  EXPECT_NE(chained, CodeBuffer(THash_SHA1::Class(), nullptr, data, caEncode));
  EXPECT_EQ(CodeBuffer(THash_SHA1::Class(), THash_MD5::Class()->Create(), chained, caDecode), data);

  // An action the object is not enabled for leaves the data to the chain.
  THash_MD5 disabled;
  disabled.SetEnabledActions(kAllCodingActions & ~ActionSet(caEncode));
  std::string unchanged = data;
  disabled.ProcessBuffer(unchanged.data(), static_cast<int32_t>(unchanged.size()), caEncode);
  EXPECT_EQ(unchanged, data);
}

// Each chunk starts a new piece: a stream run in chunks of 4096 bytes and one
// chunk of 8192 agree only on the first chunk. With a 20-byte digest the
// fourth piece completes a block after 4 bytes: those come from the digest
// before that block is compressed, the other 16 from the words the
// compression left.
TEST(HashCoding, KeystreamPiecesAndChunks) {
  const std::string data(8192, 'k');
  TMemoryStream stream(data);
  THash_SHA1().ProcessStream(&stream, nullptr, -1, caEncode);
  const std::string whole = CodeBuffer(THash_SHA1::Class(), nullptr, data, caEncode);
  EXPECT_EQ(stream.Bytes().substr(0, 4096), whole.substr(0, 4096));
  EXPECT_NE(stream.Bytes()[4096], whole[4096]);

  THash_SHA1 model;
  model.Init();
  std::string keystream;
  for (int piece = 0; piece < 4; ++piece) {
    std::string before = Digest(model);
    if (piece < 3) {
      model.Update(before.data(), 20);
    } else {
      model.Update(before.data(), 4);
      model.Update(model.DigestBytes() + 4, 16);
    }
    model.Finish();
    keystream += Digest(model);
  }
  EXPECT_EQ(Hex(CodeBuffer(THash_SHA1::Class(), nullptr, std::string(80, '\0'), caEncode)), Hex(keystream));
}

TEST(HashCoding, MacKeysTheHash) {
  const std::string data = "keyed data";
  auto keyed = [&](std::string password, TProtectionRef macChain) {
    return CodeBuffer(THash_MD5::Class(), std::make_shared<TMAC>(std::move(password), std::move(macChain)), data,
                      caCalculate);
  };
  EXPECT_EQ(keyed("", nullptr), DigestOf(THash_MD5::Class(), data));

  // The password's digest xored into the initial chaining values.
  THash_MD5 expected;
  expected.Init();
  const std::string key = DigestOf(THash_MD5::Class(), "secret");
  XorBuffers(expected.DigestBytes(), key.data(), 16, expected.DigestBytes());
  expected.Update(data.data(), static_cast<int32_t>(data.size()));
  expected.Finish();
  EXPECT_EQ(keyed("secret", nullptr), Digest(expected));
  // A chain behind the MAC changes both the key and the finished digest.
  EXPECT_NE(keyed("secret", THash_SHA1::Class()->Create()), keyed("secret", nullptr));
}

TEST(HashCoding, CircularChainsAreRefused) {
  auto a = THash_MD5::Class()->Create();
  auto b = THash_SHA1::Class()->Create(a);
  auto c = std::make_shared<TMAC>("pw", b);
  for (const TProtectionRef& closing : {TProtectionRef(c), TProtectionRef(b), TProtectionRef(a)}) {
    EXPECT_EQ(Failure<EProtection>([&] { a->SetChainedProtection(closing); }), sProtectionCircular);
    EXPECT_EQ(a->ChainedProtection(), nullptr);
  }
}

// Key material does not outlive its object.
template <typename T>
void ExpectDigestZeroAfterDestruction() {
  alignas(T) unsigned char storage[sizeof(T)];
  T* hash = new (storage) T();
  hash->Init();
  hash->Update("abc", 3);
  hash->Finish();
  const size_t offset = static_cast<size_t>(hash->DigestBytes() - storage);
  const auto size = static_cast<size_t>(hash->DigestSize());
  ASSERT_NE(std::string(reinterpret_cast<char*>(storage) + offset, size), std::string(size, '\0'));
  hash->~T();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(storage) + offset, size), std::string(size, '\0'))
      << T::Class()->ClassName();
}

TEST(HashCoding, DigestIsZeroAfterDestruction) {
  ExpectDigestZeroAfterDestruction<THash_MD5>();
  ExpectDigestZeroAfterDestruction<THash_RipeMD320>();
  ExpectDigestZeroAfterDestruction<THash_CRC32>();
  ExpectDigestZeroAfterDestruction<THash_XOR16>();
}

// Without digest bytes the pieces would never get through the data.
TEST(HashCoding, PiecewiseActionsNeedDigestBytes) {
  for (THashClassRef hashClass : {THash::Class(), TChecksum::Class()}) {
    for (TCodingAction action : {caEncode, caDecode, caScramble, caWipe}) {
      EXPECT_THROW(CodeBuffer(hashClass, nullptr, "data", action), EProtection) << hashClass->ClassName();
    }
    EXPECT_EQ(CodeBuffer(hashClass, nullptr, "data", caCalculate), "");
  }
}

// Counts the begin and end steps of its runs.
class CountingHash : public THash_MD5 {
 public:
  void BeginAction(TCodingAction action) override {
    ++begins;
    THash_MD5::BeginAction(action);
  }
  void EndAction(TCodingAction action) override {
    ++ends;
    THash_MD5::EndAction(action);
  }
  int begins = 0, ends = 0;
};

// Fails its read of the given number (from 1) or, given 0, every write.
class FailingStream : public TMemoryStream {
 public:
  FailingStream(std::string bytes, int failingRead) : TMemoryStream(std::move(bytes)), failingRead_(failingRead) {}
  size_t Read(void* buffer, size_t count) override {
    if (++reads_ == failingRead_) throw EStreamError("injected read error");
    return TMemoryStream::Read(buffer, count);
  }
  void Write(const void* data, size_t count) override {
    if (failingRead_ == 0) throw EStreamError("injected short write");
    TMemoryStream::Write(data, count);
  }

 private:
  int reads_ = 0;
  int failingRead_;
};

// A failing read or write is no end of the data: the run raises, after its
// end steps.
TEST(HashCoding, StreamFailuresRaiseAfterTheEndSteps) {
  for (const auto& [failingRead, action] : {std::pair{2, caCalculate}, {3, caEncode}, {0, caScramble}}) {
    CountingHash hash;
    FailingStream stream(std::string(200000, 'd'), failingRead);
    EXPECT_THROW(hash.ProcessStream(&stream, nullptr, -1, action), EStreamError);
    EXPECT_EQ(hash.begins, 1);
    EXPECT_EQ(hash.ends, 1);
  }
}

int g_progressCalls = 0;
int64_t g_lastMaximum = -1;
void CountProgress(void*, TProtection&, int64_t, int64_t maximum) {
  ++g_progressCalls;
  g_lastMaximum = maximum;
}

TEST(HashCoding, ProgressOwnerIsHeldWeakly) {
  auto owner = std::make_shared<int>(0);
  SetProgress(CountProgress, owner);
  THash_MD5 hash;
  hash.ProcessText(std::string(10000, 'p'), caCalculate, kFormatNone);
  EXPECT_EQ(g_progressCalls, 1 + 3 + 1);  // start, one per chunk, end
  EXPECT_EQ(g_lastMaximum, 0);
  owner.reset();
  hash.ProcessText("more", caCalculate, kFormatNone);
  EXPECT_EQ(g_progressCalls, 5);
  SetProgress(nullptr);
}

}  // namespace
}  // namespace kv::crypto::test

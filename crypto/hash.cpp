#include "crypto/hash.h"

#include <algorithm>
#include <memory>

#include "crypto/checksums.h"
#include "crypto/cryptconst.h"
#include "crypto/digests.h"
#include "crypto/md4family.h"

namespace kv::crypto {

namespace {

const THashClass kHashClass{"THash", nullptr, 0, CommonTestBlock, MakeHashObject<THash>};
const THashClass kChecksumClass{"TChecksum", THash::Class, 0, CommonTestBlock, MakeHashObject<TChecksum>};

// Pieces of k = min(n, bytes left) bytes, each after one Update and Finish;
// combine gets the piece and the first k digest bytes.
template <typename Combine>
void CodePieces(THash& hash, uint8_t* data, int32_t size, bool feedDigest, Combine combine) {
  const int32_t n = hash.DigestSize();
  for (int32_t at = 0; at < size; at += n) {
    const int32_t k = std::min(n, size - at);
    if (feedDigest)
      hash.Update(hash.DigestBytes(), n);
    else
      hash.Update(data + at, k);
    hash.Finish();
    combine(data + at, hash.DigestBytes(), k);
  }
}

// The object that makes the digest of data for TextDigest and the MAC.
THashRef DigestOf(THashClassRef hashClass, std::string_view data, TProtectionRef protection) {
  THashRef hash = hashClass->Create(std::move(protection));
  hash->Init();
  hash->Update(data.data(), static_cast<int32_t>(data.size()));
  hash->Finish();
  return hash;
}

std::unique_ptr<THashClassList> g_hashClasses;
UnitStarts g_starts;

}  // namespace

// --- THash ---------------------------------------------------------------------------

THashClassRef THash::Class() { return &kHashClass; }
THashClassRef TChecksum::Class() { return &kChecksumClass; }

void THash::BeginAction(TCodingAction action) {
  Init();
  if (action == caWipe) MixRandomBytes(ClockSeed(), DigestBytes(), DigestSize());
  TProtection::BeginAction(action);
}

void THash::EndAction(TCodingAction action) {
  TProtection::EndAction(action);
  // Any other run discards its state.
  if (action == caCalculate)
    Finish();
  else
    Init();
}

void THash::ProcessChunk(void* buffer, int32_t size, TCodingAction action) {
  if (action != caDecode) TProtection::ProcessChunk(buffer, size, action);
  if (IsEnabled(action)) {
    if (!buffer) return;
    auto* data = static_cast<uint8_t*>(buffer);
    if (action == caCalculate) {
      Update(data, size);
    } else if (size > 0 && DigestSize() <= 0) {
      // Pieces of no bytes would never get through the data.
      throw EProtection(FormatText(sNoDigestToCode, {ClassType()->ClassName()}));
    } else if (action == caScramble || action == caWipe) {
      CodePieces(*this, data, size, false,
                 [](uint8_t* piece, const uint8_t* digest, int32_t k) { std::copy(digest, digest + k, piece); });
    } else {
      CodePieces(*this, data, size, true,
                 [](uint8_t* piece, const uint8_t* digest, int32_t k) { XorBuffers(piece, digest, k, piece); });
    }
  }
  if (action == caDecode) TProtection::ProcessChunk(buffer, size, action);
}

void THash::Init() { ApplyProtection(true); }
void THash::Update(const void*, int32_t) {}
void THash::Finish() { ApplyProtection(false); }
// Nothing is ever written here: the size is 0.
uint8_t* THash::DigestBytes() { return const_cast<uint8_t*>(CommonTestBlock); }

void THash::ApplyProtection(bool starting) {
  const TProtectionRef& p = ChainedProtection();
  if (!p) return;
  if (auto* mac = dynamic_cast<TMAC*>(p.get())) {
    if (starting)
      mac->StartKeyedHash(*this);
    else
      mac->FinishKeyedHash(*this);
    return;
  }
  if (!starting) p->ProcessBuffer(DigestBytes(), DigestSize(), caScramble);
}

std::string TextDigest(THashClassRef hashClass, std::string_view text, TProtectionRef protection, int32_t format) {
  THashRef hash = DigestOf(hashClass, text, std::move(protection));
  return BytesToFormat(hash->DigestBytes(), hash->DigestSize(), format);
}

// --- TMAC ----------------------------------------------------------------------------

TMAC::~TMAC() { WipeKeyMaterial(password_.data(), password_.size()); }

void TMAC::StartKeyedHash(THash& hash) {
  if (password_.empty()) return;
  THashRef keyDigest = DigestOf(hash.ClassType(), password_, ChainedProtection());
  const int32_t size = hash.DigestSize();
  XorBuffers(hash.DigestBytes(), keyDigest->DigestBytes(), size, hash.DigestBytes());
  WipeKeyMaterial(keyDigest->DigestBytes(), static_cast<size_t>(size));
}

void TMAC::FinishKeyedHash(THash& hash) {
  if (const TProtectionRef& p = ChainedProtection())
    p->ProcessBuffer(hash.DigestBytes(), hash.DigestSize(), caScramble);
}

// --- Registry ------------------------------------------------------------------------

THashClassList& HashClassList() {
  if (!g_hashClasses) g_hashClasses = std::make_unique<THashClassList>();
  return *g_hashClasses;
}

bool AddHashClass(THashClassRef hashClass, std::string_view description, std::string_view group) {
  if (!hashClass) return false;
  HashClassList().Register(hashClass, description, group);
  return true;
}

void DropModuleHashes(platform::ModuleHandle module) {
  if (g_hashClasses) g_hashClasses->DropModule(module);
}

namespace {

// The unit's set-up: the SHA schedule's form, the unload hook, the classes.
void SetUpHashUnit() {
  ExpandSHABlock = CPUType() > 3 ? ExpandSHABlock486 : ExpandSHABlock386;
  platform::AddModuleUnloadHook(DropModuleHashes);
  struct Registration {
    THashClassRef hashClass;
    const char* description;
    const char* group;
  };
  const Registration registrations[] = {
      {THash_MD4::Class(), "Message Digest 4", "Hash"},
      {THash_MD5::Class(), "Message Digest 5", "Hash"},
      {THash_SHA::Class(), "Secure Hash Algorithm", "Hash"},
      {THash_SHA1::Class(), "Secure Hash Algorithm 1", "Hash"},
      {THash_RipeMD128::Class(), "Ripe Message Digest 128", "Hash"},
      {THash_RipeMD160::Class(), "Ripe Message Digest 160", "Hash"},
      {THash_RipeMD256::Class(), "Ripe Message Digest 256", "Hash"},
      {THash_RipeMD320::Class(), "Ripe Message Digest 320", "Hash"},
      {THash_Haval128::Class(), "Haval-128", "Hash"},
      {THash_Haval160::Class(), "Haval-160", "Hash"},
      {THash_Haval192::Class(), "Haval-192", "Hash"},
      {THash_Haval224::Class(), "Haval-224", "Hash"},
      {THash_Haval256::Class(), "Haval-256", "Hash"},
      {THash_Sapphire128::Class(), "Sapphire II-128", "Hash"},
      {THash_Sapphire160::Class(), "Sapphire II-160", "Hash"},
      {THash_Sapphire192::Class(), "Sapphire II-192", "Hash"},
      {THash_Sapphire224::Class(), "Sapphire II-224", "Hash"},
      {THash_Sapphire256::Class(), "Sapphire II-256", "Hash"},
      {THash_Sapphire288::Class(), "Sapphire II-288", "Hash"},
      {THash_Sapphire320::Class(), "Sapphire II-320", "Hash"},
      {THash_Snefru::Class(), "Snefru-256", "Hash"},
      {THash_Square::Class(), "Square", "Hash"},
      {THash_Tiger::Class(), "Tiger", "Hash"},
      {THash_XOR16::Class(), "XOR-16", "Checksum"},
      {THash_XOR32::Class(), "XOR-32", "Checksum"},
      {THash_CRC16_CCITT::Class(), "CRC-16 CCITT", "Checksum"},
      {Thash_CRC16_Standard::Class(), "CRC-16 Standard", "Checksum"},
      {THash_CRC32::Class(), "CRC-32", "Checksum"},
  };
  for (const Registration& r : registrations) AddHashClass(r.hashClass, r.description, r.group);
}

}  // namespace

void HashStartup() {
  CryptUtilStartup();
  g_starts.Start(SetUpHashUnit);
}

void HashShutdown() {
  const bool started = g_starts.End([] {
    platform::RemoveModuleUnloadHook(DropModuleHashes);
    g_hashClasses.reset();
  });
  if (started) CryptUtilShutdown();
}

}  // namespace kv::crypto

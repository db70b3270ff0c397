#include "crypto/cipher.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "crypto/ciphers.h"
#include "crypto/cryptconst.h"
#include "crypto/md4family.h"

namespace kv::crypto {

bool CheckCipherKeyLength = false;

namespace {

constexpr std::align_val_t kAreaAlignment{64};

const TCipherClass kCipherClass{"TCipher", nullptr, 0, 0, 0, CommonTestBlock, MakeCipherObject<TCipher>};

size_t RoundUp(size_t size, size_t unit) { return (size + unit - 1) / unit * unit; }

// Moves the register one byte toward the front and puts entering last.
void ShiftIn(uint8_t* reg, int32_t n, uint8_t entering) {
  std::memmove(reg, reg + 1, static_cast<size_t>(n - 1));
  reg[n - 1] = entering;
}

std::unique_ptr<TCipherClassList> g_cipherClasses;
UnitStarts g_starts;

}  // namespace

THashClassRef DefaultKeyHashClass() { return THash_RipeMD256::Class(); }

// --- TCipher: set-up ------------------------------------------------------------------

TCipherClassRef TCipher::Class() { return &kCipherClass; }

void TCipher::AlignedDelete::operator()(uint8_t* p) const { ::operator delete[](p, kAreaAlignment); }

TCipher::TCipher(TCipherClassRef cipherClass, TProtectionRef chain, THashClassRef keyHashClass)
    : TProtection(std::move(chain)), keyHashClass_(keyHashClass) {
  cipherClass->GetSizes(blockBytes_, keyLimit_, scheduleBytes_);
  // The schedule first, so that the ciphers' word tables start aligned; one
  // allocation for the four areas.
  const size_t block = RoundUp(static_cast<size_t>(std::max(blockBytes_, 1)), 16);
  const size_t schedule = RoundUp(scheduleBytes_, 64);
  areas_.reset(static_cast<uint8_t*>(::operator new[](schedule + 3 * block, kAreaAlignment)));
  schedule_ = areas_.get();
  work_ = schedule_ + schedule;
  vector_ = work_ + block;
  feedback_ = vector_ + block;
  std::memset(schedule_, 0, schedule + 3 * block);
  WipeState();
}

TCipher::~TCipher() { TCipher::WipeState(); }

void TCipher::ChangeFlag(int bit, bool on) {
  const uint32_t mask = 1u << (bit & 31);
  flags_ = on ? flags_ | mask : flags_ & ~mask;
}

void TCipher::WipeState() {
  ChangeFlag(kInitializedFlag, false);
  const auto n = static_cast<size_t>(blockBytes_);
  for (uint8_t* area : {vector_, feedback_, work_}) WipeKeyMaterial(area, n);
  WipeKeyMaterial(schedule_, scheduleBytes_);
  std::memset(vector_, 0xFF, n);
  std::memset(feedback_, 0xFF, n);
}

void TCipher::BeginInit(int32_t& length) {
  WipeState();
  length = std::max(length, 0);
  if (length > keyLimit_) {
    if (CheckCipherKeyLength) RefuseKeyLength(0);
    length = keyLimit_;
  }
}

void TCipher::RefuseKeyLength(int32_t lowest) {
  WipeState();
  throw ECipherException(FormatText(sInvalidKeySize, {ClassType()->ClassName(), std::to_string(lowest),
                                                      std::to_string(keyLimit_)}),
                         kFailureKeyLength);
}

void TCipher::FinishInit(const void* vector, int32_t vectorLength) {
  const auto n = static_cast<size_t>(blockBytes_);
  if (vector) {
    if (vectorLength < blockBytes_) {
      WipeState();
      throw ECipherException(
          FormatText(sVectorTooShort, {ClassType()->ClassName(), std::to_string(blockBytes_)}),
          kFailureVectorLength);
    }
    std::memcpy(vector_, vector, n);
  } else {
    EncodeBlock(vector_);
  }
  std::memcpy(feedback_, vector_, n);
  ChangeFlag(kInitializedFlag, true);
}

void TCipher::EncodeBlock(void*) {}
void TCipher::DecodeBlock(void*) {}

void TCipher::Init(const void* key, int32_t length, const void* vector, int32_t vectorLength) {
  static constexpr uint8_t kNoKey = 0;
  if (!key) {
    key = &kNoKey;
    length = 0;
  }
  BeginInit(length);
  MakeKeySchedule(static_cast<const uint8_t*>(key), length);
  FinishInit(vector, vectorLength);
}

void TCipher::InitKey(std::string_view text, const void* vector, int32_t vectorLength) {
  const THashClassRef hashClass = KeyHashClass();
  if (!keyHash_ || keyHash_->ClassType() != hashClass) keyHash_ = hashClass->Create();
  THash& hash = *keyHash_;
  hash.Init();
  hash.Update(text.data(), static_cast<int32_t>(text.size()));
  hash.Finish();
  // The object goes back to its initial state first: a folded digest
  // (HAVAL) or a stream state (Sapphire) keeps what came of the text beside
  // the digest bytes.
  const auto wipe = [&hash] {
    hash.Init();
    ZeroKeyMaterial(hash.DigestBytes(), static_cast<size_t>(hash.DigestSize()));
  };
  try {
    Init(hash.DigestBytes(), hash.DigestSize(), vector, vectorLength);
  } catch (...) {
    wipe();
    throw;
  }
  wipe();
}

void TCipher::ResetFeedback() {
  const auto n = static_cast<size_t>(blockBytes_);
  if (std::memcmp(feedback_, vector_, n) == 0) return;
  std::memcpy(work_, feedback_, n);
  std::memcpy(feedback_, vector_, n);
}

void TCipher::CheckInitialized() const {
  if (!Initialized())
    throw ECipherException(FormatText(sNotInitialized, {ClassType()->ClassName()}), kFailureNotInitialized);
}

// --- Coding runs ----------------------------------------------------------------------

void TCipher::ActionStep(TCodingAction action) {
  if (action == caCalculate) return;
  if (action == caWipe)
    MixRandomBytes(ClockSeed(), feedback_, blockBytes_);
  else
    ResetFeedback();
}

void TCipher::BeginAction(TCodingAction action) {
  CheckInitialized();
  ActionStep(action);
  TProtection::BeginAction(action);
}

void TCipher::EndAction(TCodingAction action) {
  TProtection::EndAction(action);
  ActionStep(action);
}

void TCipher::ProcessChunk(void* buffer, int32_t size, TCodingAction action) {
  if (action == caDecode) {
    if (IsEnabled(action)) DecodeData(buffer, buffer, size);
    TProtection::ProcessChunk(buffer, size, action);
    return;
  }
  TProtection::ProcessChunk(buffer, size, action);
  if (IsEnabled(action)) EncodeData(buffer, buffer, size);
}

// --- Modes ----------------------------------------------------------------------------

// The tail of r bytes after the whole blocks: xored with E(F). In the
// chaining modes F takes E(F) in (so the next call goes on from it); ECB
// leaves F alone, so its tail decodes as it encodes.
void TCipher::EncodeTail(const uint8_t* in, uint8_t* out, int32_t r, bool chained) {
  const int32_t n = blockBytes_;
  std::memcpy(work_, feedback_, static_cast<size_t>(n));
  EncodeBlock(work_);
  XorBuffers(in, work_, r, out);
  if (chained) XorBuffers(work_, feedback_, n, feedback_);
}

// The block MAC modes: nothing is written; the tail bytes do not enter.
void TCipher::MacBlocks(const uint8_t* in, int32_t length) {
  const int32_t n = blockBytes_;
  for (; length >= n; in += n, length -= n) {
    XorBuffers(in, feedback_, n, work_);
    EncodeBlock(work_);
    if (mode_ == CipherMode::CBCMAC)
      std::memcpy(feedback_, work_, static_cast<size_t>(n));
    else
      XorBuffers(work_, feedback_, n, feedback_);
  }
  if (length > 0) {
    std::memcpy(work_, feedback_, static_cast<size_t>(n));
    EncodeBlock(work_);
    XorBuffers(work_, feedback_, n, feedback_);
  }
}

// The byte modes: one block encoding per byte, whichever direction.
void TCipher::EncodeByteModes(const uint8_t* in, uint8_t* out, int32_t length, bool decoding) {
  const int32_t n = blockBytes_;
  for (int32_t i = 0; i < length; ++i) {
    std::memcpy(work_, feedback_, static_cast<size_t>(n));
    EncodeBlock(work_);
    const uint8_t p = in[i];
    const uint8_t c = p ^ work_[0];
    switch (mode_) {
      case CipherMode::CFB8:
        ShiftIn(feedback_, n, decoding ? p : c);
        out[i] = c;
        break;
      case CipherMode::OFB8:
        ShiftIn(feedback_, n, work_[0]);
        out[i] = c;
        break;
      default:  // CFB8MAC
        ShiftIn(feedback_, n, c);
        break;
    }
  }
}

// The chaining modes, whole blocks from in to out, then the tail.
void TCipher::EncodeChained(const uint8_t* in, uint8_t* out, int32_t length) {
  const int32_t n = blockBytes_;
  for (; length >= n; in += n, out += n, length -= n) {
    XorBuffers(in, feedback_, n, out);
    EncodeBlock(out);
    if (mode_ == CipherMode::CBC)
      std::memcpy(feedback_, out, static_cast<size_t>(n));
    else
      XorBuffers(out, feedback_, n, feedback_);
  }
  if (length > 0) EncodeTail(in, out, length, true);
}

// In place: the data was copied to where it is decoded.
void TCipher::DecodeChained(uint8_t* data, int32_t length) {
  const int32_t n = blockBytes_;
  for (; length >= n; data += n, length -= n) {
    std::memcpy(work_, data, static_cast<size_t>(n));
    DecodeBlock(data);
    XorBuffers(data, feedback_, n, data);
    if (mode_ == CipherMode::CBC)
      std::memcpy(feedback_, work_, static_cast<size_t>(n));
    else
      XorBuffers(work_, feedback_, n, feedback_);
  }
  if (length > 0) EncodeTail(data, data, length, true);
}

void TCipher::EncodeData(const void* source, void* destination, int32_t length) {
  CodeData(source, destination, length, false);
}

void TCipher::DecodeData(const void* source, void* destination, int32_t length) {
  CodeData(source, destination, length, true);
}

void TCipher::CodeData(const void* source, void* destination, int32_t length, bool decoding) {
  CheckInitialized();
  const int32_t n = blockBytes_;
  if (length <= 0 || n <= 0) return;
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(destination);
  // Decoding and ECB work in place on a copy.
  const auto copy = [&] {
    if (in != out) std::memmove(out, in, static_cast<size_t>(length));
  };
  switch (mode_) {
    case CipherMode::CFB8:
    case CipherMode::OFB8:
    case CipherMode::CFB8MAC:
      EncodeByteModes(in, out, length, decoding);
      return;
    case CipherMode::XorChainMAC:
    case CipherMode::CBCMAC:
      MacBlocks(in, length);
      return;
    case CipherMode::XorChain:
    case CipherMode::CBC:
      if (decoding) {
        copy();
        DecodeChained(out, length);
      } else {
        EncodeChained(in, out, length);
      }
      return;
    case CipherMode::ECB:
      copy();
      for (; length >= n; out += n, length -= n) decoding ? DecodeBlock(out) : EncodeBlock(out);
      if (length > 0) EncodeTail(out, out, length, false);
      return;
  }
}

// --- Registry -------------------------------------------------------------------------

TCipherClassList& CipherClassList() {
  if (!g_cipherClasses) g_cipherClasses = std::make_unique<TCipherClassList>();
  return *g_cipherClasses;
}

bool AddCipherClass(TCipherClassRef cipherClass, std::string_view name, std::string_view comment) {
  if (!cipherClass) return false;
  CipherClassList().Register(cipherClass, name, comment);
  return true;
}

void DropModuleCiphers(platform::ModuleHandle module) {
  if (g_cipherClasses) g_cipherClasses->DropModule(module);
}

namespace {

// The unit's set-up: Blowfish's routine form, the unload hook, the classes.
void SetUpCipherUnit() {
  SelectBlowfishRoutines(CPUType());
  platform::AddModuleUnloadHook(DropModuleCiphers);
  struct Registration {
    TCipherClassRef cipherClass;
    const char* name;
    const char* comment;
  };
  const Registration registrations[] = {
      {TCipher_3Way::Class(), "", ""},
      {TCipher_Blowfish::Class(), "", ""},
      {TCipher_Gost::Class(), "", ""},
      {TCipher_IDEA::Class(), "", "free for non-commercial"},
      {TCipher_Q128::Class(), "", ""},
      {TCipher_SAFER_K40::Class(), "SAFER-K40", ""},
      {TCipher_SAFER_SK40::Class(), "SAFER-SK40", "Keyscheduling"},
      {TCipher_SAFER_K64::Class(), "SAFER-K64", ""},
      {TCipher_SAFER_SK64::Class(), "SAFER-SK64", "Keyscheduling"},
      {TCipher_SAFER_K128::Class(), "SAFER-K128", ""},
      {TCipher_SAFER_SK128::Class(), "SAFER-SK128", "Keyscheduling"},
      {TCipher_SCOP::Class(), "", ""},
      {TCipher_Shark::Class(), "", ""},
      {TCipher_Square::Class(), "", ""},
      {TCipher_TEA::Class(), "TEA", ""},
      {TCipher_TEAN::Class(), "TEA extended", ""},
      {TCipher_Twofish::Class(), "", ""},
  };
  for (const Registration& r : registrations) AddCipherClass(r.cipherClass, r.name, r.comment);
}

}  // namespace

void CipherStartup() {
  HashStartup();
  g_starts.Start(SetUpCipherUnit);
}

void CipherShutdown() {
  const bool started = g_starts.End([] {
    platform::RemoveModuleUnloadHook(DropModuleCiphers);
    g_cipherClasses.reset();
  });
  if (started) HashShutdown();
}

}  // namespace kv::crypto

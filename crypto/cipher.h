#pragma once
// The Cipher unit's frame: TCipher, the base of every block cipher, with the
// key set-up, the block buffers, the eight chaining modes, its part in the
// coding runs of TProtection, and the process-wide registry of cipher
// classes. A concrete cipher supplies only its sizes, its stored test vector,
// its key schedule and its block encoder and decoder (ciphers.h).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "crypto/classlist.h"
#include "crypto/hash.h"
#include "crypto/protection.h"

namespace kv::crypto {

// A failure of a cipher, with a code the caller can tell apart.
class ECipherException : public Exception {
 public:
  ECipherException(const std::string& message, int32_t failureCode) : Exception(message), code_(failureCode) {}
  int32_t FailureCode() const { return code_; }

 private:
  int32_t code_;
};

// The failure codes.
inline constexpr int32_t kFailureKeyLength = 2;    // a key the cipher cannot take
inline constexpr int32_t kFailureNotInitialized = 3;
inline constexpr int32_t kFailureVectorLength = 4;  // a vector shorter than a block

// The numbers are part of the interface.
enum class CipherMode : uint8_t {
  XorChain = 0,     // block chaining with the xor of all previous feedback
  CBC = 1,          // cipher block chaining
  CFB8 = 2,         // 8-bit cipher feedback
  OFB8 = 3,         // 8-bit output feedback
  ECB = 4,          // electronic code book
  XorChainMAC = 5,  // the MAC modes write nothing; the MAC is the feedback
  CBCMAC = 6,
  CFB8MAC = 7,
};

class TCipher;
using TCipherRef = std::shared_ptr<TCipher>;
class TCipherClass;
using TCipherClassRef = const TCipherClass*;

// A class derived from TCipher, as a value: its sizes, its stored test
// vector, and how to make objects of it. Each class has exactly one.
class TCipherClass : public TMetaClass<TCipherClass> {
 public:
  using Factory = TCipherRef (*)(TProtectionRef chain, THashClassRef keyHashClass);
  constexpr TCipherClass(std::string_view name, ParentOf parent, int32_t blockBytes, int32_t keyLimit,
                         uint32_t scheduleBytes, const uint8_t* testVector, Factory factory)
      : TMetaClass(name, parent),
        blockBytes_(blockBytes),
        keyLimit_(keyLimit),
        scheduleBytes_(scheduleBytes),
        testVector_(testVector),
        factory_(factory) {}

  void GetSizes(int32_t& blockBytes, int32_t& keyLimit, uint32_t& scheduleBytes) const {
    blockBytes = blockBytes_;
    keyLimit = keyLimit_;
    scheduleBytes = scheduleBytes_;
  }
  int32_t BlockBytes() const { return blockBytes_; }
  int32_t KeyLimit() const { return keyLimit_; }
  uint32_t ScheduleBytes() const { return scheduleBytes_; }
  // 32 bytes: what the class gives for CommonTestBlock (the rule is in
  // docs/platform.md, a test checks it).
  const uint8_t* StoredTestVector() const { return testVector_; }
  // A new object with a chained protection and the digest class InitKey
  // uses (nullptr: the default).
  TCipherRef Create(TProtectionRef chain = nullptr, THashClassRef keyHashClass = nullptr) const {
    return factory_(std::move(chain), keyHashClass);
  }

 private:
  int32_t blockBytes_;
  int32_t keyLimit_;
  uint32_t scheduleBytes_;
  const uint8_t* testVector_;
  Factory factory_;
};

template <typename T>
TCipherRef MakeCipherObject(TProtectionRef chain, THashClassRef keyHashClass) {
  return std::make_shared<T>(std::move(chain), keyHashClass);
}

// The digest class InitKey uses when the constructor was given none.
THashClassRef DefaultKeyHashClass();

// When set, a key longer than the cipher takes is refused instead of cut.
// Process-wide, off unless a program switches it on.
extern bool CheckCipherKeyLength;

class TCipher : public TProtection {
 public:
  static TCipherClassRef Class();
  explicit TCipher(TProtectionRef chain = nullptr, THashClassRef keyHashClass = nullptr)
      : TCipher(Class(), std::move(chain), keyHashClass) {}
  // Wipes the key material before the memory goes.
  ~TCipher() override;

  virtual TCipherClassRef ClassType() const { return Class(); }

  // New objects start in CBC.
  CipherMode ChainMode() const { return mode_; }
  void SetChainMode(CipherMode mode) { mode_ = mode; }
  // The digest object InitKey made (empty before), and the class it uses.
  const THashRef& KeyHash() const { return keyHash_; }
  THashClassRef KeyHashClass() const { return keyHashClass_ ? keyHashClass_ : DefaultKeyHashClass(); }
  int32_t KeyLimit() const { return keyLimit_; }
  int32_t BlockBytes() const { return blockBytes_; }
  uint32_t ScheduleBytes() const { return scheduleBytes_; }
  // The block areas, BlockBytes each: scratch (after ResetFeedback the
  // feedback a run reached), the vector, and the feedback, which is the MAC
  // in the MAC modes.
  const uint8_t* WorkBlock() const { return work_; }
  const uint8_t* StartVector() const { return vector_; }
  const uint8_t* FeedbackBlock() const { return feedback_; }
  uint32_t StateFlags() const { return flags_; }
  bool TestFlag(int bit) const { return (flags_ >> bit & 1) != 0; }
  static constexpr int kInitializedFlag = 1;
  bool Initialized() const { return TestFlag(kInitializedFlag); }

  // A run needs the cipher initialised (code 3). Every action but
  // caCalculate and caWipe starts and ends with ResetFeedback; caWipe fills
  // the feedback with clock-seeded random bytes instead.
  void BeginAction(TCodingAction action) override;
  void EndAction(TCodingAction action) override;
  // Decodes before the chained protection decodes; every other action
  // encodes after the chained protection has had the data.
  void ProcessChunk(void* buffer, int32_t size, TCodingAction action) override;

  virtual void ChangeFlag(int bit, bool on);
  // The last step of every Init: the vector's first BlockBytes bytes become
  // the start vector, or with no vector E(FF..FF) does; then the feedback
  // starts from it and the cipher is initialised. A vector shorter than a
  // block is refused (code 4) and the cipher stays wiped.
  virtual void FinishInit(const void* vector, int32_t vectorLength);
  // One block, in place.
  virtual void EncodeBlock(void* block);
  virtual void DecodeBlock(void* block);
  // Keys the cipher with the first length bytes of key (cut to KeyLimit) and
  // an optional vector of vectorLength bytes.
  virtual void Init(const void* key, int32_t length, const void* vector = nullptr, int32_t vectorLength = 0);
  // When the feedback has moved from the start vector: keeps it in the work
  // block and starts the feedback afresh.
  virtual void ResetFeedback();
  // Overwrites every area (0xAA, 0x55, then the resting values: vector and
  // feedback 0xFF, work block and schedule 0) and leaves the cipher
  // uninitialised.
  virtual void WipeState();

  // Keys the cipher with KeyHashClass's digest of the text, cut to KeyLimit
  // like any key; the digest is wiped afterwards.
  void InitKey(std::string_view text, const void* vector = nullptr, int32_t vectorLength = 0);
  // The first step of every Init: uninitialised and wiped; a negative length
  // becomes 0, a length beyond KeyLimit KeyLimit (or code 2 when
  // CheckCipherKeyLength is on).
  void BeginInit(int32_t& length);

  // Codes length bytes in ChainMode (code 3 when not initialised). Source and
  // destination may be the same area. Whole blocks first, then a shorter
  // tail; the feedback carries over to the next call, so calls of whole
  // blocks (any length in the byte modes) code like one call.
  void EncodeData(const void* source, void* destination, int32_t length);
  void DecodeData(const void* source, void* destination, int32_t length);

 protected:
  TCipher(TCipherClassRef cipherClass, TProtectionRef chain, THashClassRef keyHashClass);
  // Step 2 of Init: builds the key schedule from length key bytes (length is
  // within 0..KeyLimit; the schedule is all zero before).
  virtual void MakeKeySchedule(const uint8_t* key, int32_t length) {}
  uint8_t* KeySchedule() { return schedule_; }
  template <typename T>
  T* ScheduleAs() {
    return reinterpret_cast<T*>(schedule_);
  }
  // Refuses a key length outside lowest..KeyLimit with code 2; the cipher
  // stays wiped.
  [[noreturn]] void RefuseKeyLength(int32_t lowest);

 private:
  void CheckInitialized() const;
  void ActionStep(TCodingAction action);
  void EncodeTail(const uint8_t* in, uint8_t* out, int32_t r, bool chained);
  void MacBlocks(const uint8_t* in, int32_t length);
  void EncodeByteModes(const uint8_t* in, uint8_t* out, int32_t length, bool decoding);
  void EncodeChained(const uint8_t* in, uint8_t* out, int32_t length);
  void DecodeChained(uint8_t* data, int32_t length);
  void CodeData(const void* source, void* destination, int32_t length, bool decoding);

  struct AlignedDelete {
    void operator()(uint8_t* p) const;
  };

  CipherMode mode_ = CipherMode::CBC;
  THashRef keyHash_;
  THashClassRef keyHashClass_;
  int32_t keyLimit_ = 0;
  int32_t blockBytes_ = 0;
  uint32_t scheduleBytes_ = 0;
  std::unique_ptr<uint8_t[], AlignedDelete> areas_;
  uint8_t* schedule_ = nullptr;
  uint8_t* work_ = nullptr;
  uint8_t* vector_ = nullptr;
  uint8_t* feedback_ = nullptr;
  uint32_t flags_ = 0;
};

// The registry: one line "name=comment" per class, the class as the line's
// object, in registration order.
using TCipherClassList = TClassList<TCipherClassRef>;

// The registry, created when first asked for.
TCipherClassList& CipherClassList();
// Registers a class, or gives a registered one its new line in place. A
// blank name becomes the class name without "T" and up to the first "_".
// False for no class.
bool AddCipherClass(TCipherClassRef cipherClass, std::string_view name, std::string_view comment);
// The module-unload hook: forgets the classes the module defines.
void DropModuleCiphers(platform::ModuleHandle module);

// Unit start and end, counted like the Hash unit's (which they start and end
// too): the start picks Blowfish's block routines by CPUType, installs
// DropModuleCiphers and registers the seventeen cipher classes.
void CipherStartup();
void CipherShutdown();

}  // namespace kv::crypto

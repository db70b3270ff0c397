#pragma once
// The Hash unit's frame: the digest base THash, the keyed companion TMAC,
// the checksum base TChecksum, and the process-wide registry of digest and
// checksum classes.
//
// A hash object is a TProtection: with caCalculate a run leaves the digest of
// the data at DigestBytes; caEncode and caDecode xor the data with a key
// stream made of digests; caScramble and caWipe overwrite it one way with
// digests. A hash passes its data and its finished digest on to its chained
// protection (a cipher, another hash, or a TMAC that keys it).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "crypto/classlist.h"
#include "crypto/cryptutil.h"
#include "crypto/protection.h"
#include "crypto/stringformat.h"

namespace kv::crypto {

class THash;
using THashRef = std::shared_ptr<THash>;
class THashClass;
using THashClassRef = const THashClass*;

// A class derived from THash, as a value: what the class-level operations
// give for it, and how to make objects of it. Each class has exactly one.
class THashClass : public TMetaClass<THashClass> {
 public:
  using Factory = THashRef (*)(TProtectionRef chain);
  constexpr THashClass(std::string_view name, ParentOf parent, int32_t digestSize, const uint8_t* testVector,
                       Factory factory)
      : TMetaClass(name, parent), digestSize_(digestSize), testVector_(testVector), factory_(factory) {}

  int32_t DigestSize() const { return digestSize_; }
  // The class's digest of CommonTestBlock, DigestSize bytes.
  const uint8_t* StoredTestVector() const { return testVector_; }
  // A new object whose chained protection is chain.
  THashRef Create(TProtectionRef chain = nullptr) const { return factory_(std::move(chain)); }

 private:
  int32_t digestSize_;
  const uint8_t* testVector_;
  Factory factory_;
};

template <typename T>
THashRef MakeHashObject(TProtectionRef chain) {
  return std::make_shared<T>(std::move(chain));
}

class THash : public TProtection {
 public:
  static THashClassRef Class();
  explicit THash(TProtectionRef chain = nullptr) : TProtection(std::move(chain)) {}

  virtual THashClassRef ClassType() const { return Class(); }
  int32_t DigestSize() const { return ClassType()->DigestSize(); }

  void BeginAction(TCodingAction action) override;
  void EndAction(TCodingAction action) override;
  void ProcessChunk(void* buffer, int32_t size, TCodingAction action) override;

  // Init, any number of Update, Finish, then DigestSize bytes at DigestBytes.
  // Update with a size of 0 or less does nothing.
  virtual void Init();
  virtual void Update(const void* data, int32_t size);
  virtual void Finish();
  virtual uint8_t* DigestBytes();

 protected:
  // The chained protection's part in Init (starting) and Finish: a TMAC keys
  // the hash and finishes it; any other protection scrambles the finished
  // digest in place.
  void ApplyProtection(bool starting);
};

// The digest of text as text in a string format (1 copies the bytes, 0 gives
// nothing, -1 is the default), made by a new object of the class whose
// chained protection is protection.
std::string TextDigest(THashClassRef hashClass, std::string_view text, TProtectionRef protection, int32_t format);

// Keys the hash it is chained to: the digest of Password (made by a new
// object of the hash's class, chained to the MAC's own chained protection)
// is xored into the hash's initial chaining values; at the end the finished
// digest goes through the MAC's chained protection. Does nothing to data
// passed through it directly.
class TMAC : public TProtection {
 public:
  explicit TMAC(std::string password, TProtectionRef chain = nullptr)
      : TProtection(std::move(chain)), password_(std::move(password)) {}
  ~TMAC() override;
  const std::string& Password() const { return password_; }

  virtual void StartKeyedHash(THash& hash);
  virtual void FinishKeyedHash(THash& hash);

 private:
  std::string password_;
};

// The common base of the checksums; tells them apart from the digests.
class TChecksum : public THash {
 public:
  static THashClassRef Class();
  using THash::THash;
  THashClassRef ClassType() const override { return Class(); }
};

// The registry: one line "description=group" per class, the class as the
// line's object, in registration order.
using THashClassList = TClassList<THashClassRef>;

// The registry, created when first asked for.
THashClassList& HashClassList();
// Registers a class, or gives a registered one its new line in place. A
// blank description becomes the class name without "T" and up to the first
// "_". False for no class.
bool AddHashClass(THashClassRef hashClass, std::string_view description, std::string_view group);
// The module-unload hook: forgets the classes the module defines.
void DropModuleHashes(platform::ModuleHandle module);

// Unit start and end, counted like CryptUtil's (which they start and end
// too): the start picks ExpandSHABlock, installs DropModuleHashes and
// registers the digest and checksum classes.
void HashStartup();
void HashShutdown();

}  // namespace kv::crypto

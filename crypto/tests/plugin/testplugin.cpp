// A plug-in for the registry tests. When loaded it registers a digest, a
// cipher and a string format of its own into the loading program's
// registries, as a library of further classes would; unloading it must take
// them out again.
#include "crypto/cipher.h"
#include "crypto/hash.h"
#include "crypto/stringformat.h"

namespace {

using namespace kv::crypto;

// A one-byte sum, enough to be a digest class of its own.
class THash_PluginSum : public THash {
 public:
  static THashClassRef Class();
  using THash::THash;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override {
    sum_ = 0;
    ApplyProtection(true);
  }
  void Update(const void* data, int32_t size) override {
    for (int32_t i = 0; i < size; ++i) sum_ = static_cast<uint8_t>(sum_ + static_cast<const uint8_t*>(data)[i]);
  }
  uint8_t* DigestBytes() override { return &sum_; }

 private:
  uint8_t sum_ = 0;
};

constexpr uint8_t kSumOfCommonTestBlock[1] = {0x7A};
const THashClass kPluginSumClass{"THash_PluginSum", THash::Class, 1, kSumOfCommonTestBlock,
                                 MakeHashObject<THash_PluginSum>};
THashClassRef THash_PluginSum::Class() { return &kPluginSumClass; }

// Copies like the base class and is named after its class.
class TStringFormat_PluginCopy : public TStringFormat {
 public:
  static TStringFormatClass Class() {
    static const TStringFormat_PluginCopy format;
    return &format;
  }
  int32_t FormatNumber() const override { return 4711; }
  std::string_view ClassName() const override { return "TStringFormat_PluginCopy"; }
};

// A one-byte block that the key's first byte is xored into.
class TCipher_PluginXor : public TCipher {
 public:
  static TCipherClassRef Class();
  explicit TCipher_PluginXor(TProtectionRef chain = nullptr, THashClassRef keyHashClass = nullptr)
      : TCipher(Class(), std::move(chain), keyHashClass) {}
  TCipherClassRef ClassType() const override { return Class(); }
  void EncodeBlock(void* block) override { *static_cast<uint8_t*>(block) ^= *KeySchedule(); }
  void DecodeBlock(void* block) override { EncodeBlock(block); }

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override { *KeySchedule() = length > 0 ? key[0] : 0; }
};

const TCipherClass kPluginXorClass{"TCipher_PluginXor", TCipher::Class, 1, 1, 1, CommonTestBlock,
                                   MakeCipherObject<TCipher_PluginXor>};
TCipherClassRef TCipher_PluginXor::Class() { return &kPluginXorClass; }

struct Registration {
  Registration() {
    AddHashClass(THash_PluginSum::Class(), "Plug-in sum", "Checksum");
    AddCipherClass(TCipher_PluginXor::Class(), "", "plug-in");
    RegisterStringFormats({TStringFormat_PluginCopy::Class()});
  }
} registration;

}  // namespace

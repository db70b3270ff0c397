#pragma once
// Helpers of the crypto tests: the units started once for the program, the
// independent oracles run over many inputs at once, and digests computed
// through the public operations.
#include <cstdint>
#include <functional>
#include <type_traits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/hash.h"

namespace kv::crypto::test {

// Lowercase hexadecimal of bytes.
std::string Hex(std::string_view bytes);
std::string Hex(const uint8_t* bytes, size_t size);
std::string RandomBytes(std::mt19937& random, size_t size);
// The bytes of each 32-bit word in the other order.
std::string SwapWordBytes(std::string bytes);

// What use raises as E: its message, for a cipher's failure after its code
// and a blank; "" when it raises nothing.
template <typename E>
std::string Failure(const std::function<void()>& use) {
  try {
    use();
  } catch (const E& e) {
    if constexpr (std::is_same_v<E, ECipherException>) return std::to_string(e.FailureCode()) + " " + e.what();
    return e.what();
  }
  return "";
}

// Runs command, where "{}" stands for a file of the given lines, and returns
// its output lines, one per input line. A missing or failing oracle fails
// the test: CI installs every one of them.
std::vector<std::string> OracleLines(const std::string& command, const std::vector<std::string>& lines);
// The Python oracle script with Debian's interpreter, followed by arguments.
std::string PythonOracle(const std::string& arguments);
// rhash over each message, written to a file of its own: the printf fields
// (blank-separated, as "%{md5} %{tiger}") per message.
std::vector<std::vector<std::string>> RhashFields(const std::string& fields, const std::vector<std::string>& messages);

// The digest of data fed to a new object of the class (set up by configure)
// in pieces whose sizes are drawn from those the frames treat specially (0,
// 1, 55, 56, 63, 64, 65, 4096); no random generator feeds it in one piece.
using HashSetup = std::function<void(THash&)>;
std::string DigestOf(THashClassRef hashClass, std::string_view data, std::mt19937* random = nullptr,
                     const HashSetup& configure = nullptr);
// The DigestSize bytes at DigestBytes.
std::string Digest(THash& hash);

// Messages of every length up to 200 (around the one- and two-final-block
// limits many times), a few long ones up to 100000 bytes (only one of 1000
// when shortOnly), and the constant test block last.
std::vector<std::string> OracleMessages(bool shortOnly = false);

// A digest that can start from any byte count.
template <typename Base>
class CountSeam : public Base {
 public:
  void PresetByteCount(uint64_t count) { this->byteCount_ = count; }
};

// A block digest that shows every block it compresses, and compresses blocks
// given to it.
template <typename Base>
class SeamHash : public CountSeam<Base> {
 public:
  void Compress(const uint8_t* block) { Base::Transform(block); }
  std::vector<std::string> blocks;

 protected:
  void Transform(const uint8_t* block) override {
    blocks.emplace_back(reinterpret_cast<const char*>(block), sizeof this->block_);
    Base::Transform(block);
  }
};

// The 28 digest and checksum classes in registry order.
std::vector<THashClassRef> AllHashClasses();

}  // namespace kv::crypto::test

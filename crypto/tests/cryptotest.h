#pragma once
// Helpers of the crypto tests: the units started once for the program, the
// independent oracles (Python, PHP, rhash) run over many inputs at once, and
// digests computed through the public operations.
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/hash.h"

namespace kv::crypto::test {

// Lowercase hexadecimal of bytes.
std::string Hex(std::string_view bytes);
std::string Hex(const uint8_t* bytes, size_t size);
std::string FromHex(std::string_view hex);
std::string RandomBytes(std::mt19937& random, size_t size);

// Runs command (where "{}" stands for a file holding the inputs, one hex line
// each) and returns its output lines, one per input. A missing or failing
// oracle fails the test: CI installs every one of them.
std::vector<std::string> Oracle(const std::string& command, const std::vector<std::string>& inputs);
// The same with the lines of the file given as they are.
std::vector<std::string> OracleLines(const std::string& command, const std::vector<std::string>& lines);
// rhash over each message, written to a file of its own: the printf fields
// (blank-separated, as "%{md5} %{tiger}") per message.
std::vector<std::vector<std::string>> RhashFields(const std::string& fields, const std::vector<std::string>& messages);
// The Python oracle script with Debian's interpreter, followed by arguments.
std::string PythonOracle(const std::string& arguments);

// The digest of data fed to a new object of the class (set up by configure)
// in pieces whose sizes are drawn from those the frames treat specially (0,
// 1, 55, 56, 63, 64, 65, 4096); no random generator feeds it in one piece.
using HashSetup = std::function<void(THash&)>;
// The DigestSize bytes at DigestBytes.
std::string Digest(THash& hash);
std::string DigestOf(THashClassRef hashClass, std::string_view data, std::mt19937* random = nullptr,
                     const HashSetup& configure = nullptr);
std::string DigestByteByByte(THashClassRef hashClass, std::string_view data);

// Messages of every length up to 200 (around the one- and two-final-block
// limits many times), the constant test block, and unless shortOnly a few
// long ones up to 100000 bytes.
std::vector<std::string> OracleMessages(bool shortOnly = false);
// The command that prints PHP's hash(algorithm) of each input.
std::string PhpHash(const std::string& algorithm);
// Compares the class's digest of each message, fed in random pieces, with the
// oracle's line.
void ExpectOracle(THashClassRef hashClass, const std::string& command, const std::vector<std::string>& messages,
                  const HashSetup& configure = nullptr);

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

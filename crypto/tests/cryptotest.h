#pragma once
// Helpers of the crypto tests: the units started once for the program, the
// independent oracles (Python, PHP, rhash) run over many inputs at once, and
// digests computed through the public operations.
#include <cstdint>
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
// The Python oracle script with Debian's interpreter, followed by arguments.
std::string PythonOracle(const std::string& arguments);

// The digest of data fed to a new object of the class in pieces whose sizes
// are drawn from those the frame treats specially (0, 1, 55, 56, 63, 64, 65,
// 4096); no random generator feeds it in one piece.
std::string DigestOf(THashClassRef hashClass, std::string_view data, std::mt19937* random = nullptr);

// The 28 digest and checksum classes in registry order.
std::vector<THashClassRef> AllHashClasses();

}  // namespace kv::crypto::test

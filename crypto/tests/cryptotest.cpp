#include "crypto/tests/cryptotest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "crypto/checksums.h"
#include "crypto/cipher.h"
#include "crypto/digests.h"
#include "crypto/md4family.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"

namespace kv::crypto::test {

namespace {

// The units start once for the whole program, as the program does at start.
class CryptoUnits : public ::testing::Environment {
 public:
  void SetUp() override { CipherStartup(); }
  void TearDown() override { CipherShutdown(); }
};
[[maybe_unused]] ::testing::Environment* const kUnits = ::testing::AddGlobalTestEnvironment(new CryptoUnits);

}  // namespace

std::string Hex(const uint8_t* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) out += {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15]};
  return out;
}

std::string Hex(std::string_view bytes) { return Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); }

std::string RandomBytes(std::mt19937& random, size_t size) {
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random() & 0xFF);
  return out;
}

std::string SwapWordBytes(std::string bytes) {
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) std::reverse(bytes.begin() + i, bytes.begin() + i + 4);
  return bytes;
}

std::vector<std::string> OracleLines(const std::string& command, const std::vector<std::string>& lines) {
  kv::test::TempTree tree;
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  tree.Write("inputs.txt", text);
  std::string line = command;
  line.replace(line.find("{}"), 2, tree.Posix("inputs.txt"));
  int status = -1;
  const std::string output = kv::test::RunCommand(line + " 2>&1", &status);
  std::vector<std::string> results;
  std::istringstream in(output);
  for (std::string l; std::getline(in, l);) results.push_back(l);
  if (status != 0 || results.size() != lines.size()) {
    ADD_FAILURE() << "oracle failed (status " << status << "): " << line << "\n" << output.substr(0, 2000);
    results.assign(lines.size(), "(oracle failed)");
  }
  return results;
}

std::string PythonOracle(const std::string& arguments) {
  return "/usr/bin/python3 " KV_SOURCE_DIR "/crypto/tests/oracle.py " + arguments;
}

std::vector<std::vector<std::string>> RhashFields(const std::string& fields, const std::vector<std::string>& messages) {
  kv::test::TempTree tree;
  std::string command = "rhash --printf '" + fields + "\\n'";
  for (size_t i = 0; i < messages.size(); ++i) {
    tree.Write("m" + std::to_string(i), messages[i]);
    command += " " + tree.Posix("m" + std::to_string(i));
  }
  int status = -1;
  std::istringstream out(kv::test::RunCommand(command, &status));
  EXPECT_EQ(status, 0) << "rhash failed or is missing: " << command;
  std::vector<std::vector<std::string>> lines(messages.size());
  for (auto& line : lines) {
    std::string text;
    std::getline(out, text);
    std::istringstream words(text);
    for (std::string w; words >> w;) line.push_back(w);
  }
  return lines;
}

std::string Digest(THash& hash) {
  return std::string(reinterpret_cast<char*>(hash.DigestBytes()), static_cast<size_t>(hash.DigestSize()));
}

std::string DigestOf(THashClassRef hashClass, std::string_view data, std::mt19937* random, const HashSetup& configure) {
  static constexpr int32_t kPieces[] = {0, 1, 55, 56, 63, 64, 65, 4096};
  THashRef hash = hashClass->Create();
  if (configure) configure(*hash);
  hash->Init();
  size_t at = 0;
  do {
    const auto left = static_cast<int32_t>(data.size() - at);
    const int32_t piece = random ? std::min(left, kPieces[(*random)() % std::size(kPieces)]) : left;
    hash->Update(data.data() + at, piece);
    at += static_cast<size_t>(piece);
  } while (at < data.size());
  hash->Finish();
  return Digest(*hash);
}

std::vector<std::string> OracleMessages(bool shortOnly) {
  std::mt19937 random(7);
  std::vector<std::string> messages;
  for (size_t length = 0; length <= 200; ++length) messages.push_back(RandomBytes(random, length));
  for (size_t length : {1000u, 4095u, 4096u, 4097u, 100000u}) {
    const std::string message = RandomBytes(random, length);
    if (!shortOnly || length <= 1000) messages.push_back(message);
  }
  messages.emplace_back(reinterpret_cast<const char*>(CommonTestBlock), sizeof CommonTestBlock);
  return messages;
}

std::vector<THashClassRef> AllHashClasses() {
  return {THash_MD4::Class(),         THash_MD5::Class(),         THash_SHA::Class(),
          THash_SHA1::Class(),        THash_RipeMD128::Class(),   THash_RipeMD160::Class(),
          THash_RipeMD256::Class(),   THash_RipeMD320::Class(),   THash_Haval128::Class(),
          THash_Haval160::Class(),    THash_Haval192::Class(),    THash_Haval224::Class(),
          THash_Haval256::Class(),    THash_Sapphire128::Class(), THash_Sapphire160::Class(),
          THash_Sapphire192::Class(), THash_Sapphire224::Class(), THash_Sapphire256::Class(),
          THash_Sapphire288::Class(), THash_Sapphire320::Class(), THash_Snefru::Class(),
          THash_Square::Class(),      THash_Tiger::Class(),       THash_XOR16::Class(),
          THash_XOR32::Class(),       THash_CRC16_CCITT::Class(), Thash_CRC16_Standard::Class(),
          THash_CRC32::Class()};
}

}  // namespace kv::crypto::test

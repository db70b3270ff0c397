// The block ciphers of libcrypto++ as an oracle for the cipher tests.
//
//   cryptopp_oracle FILE
//
// Each line of FILE is "CIPHER ROUNDS KEY BLOCK" (ROUNDS 0: the cipher's
// own; KEY and BLOCK in hexadecimal). Each output line is the block
// encrypted, a blank, and the block decrypted, in hexadecimal.
#include <crypto++/3way.h>
#include <crypto++/blowfish.h>
#include <crypto++/gost.h>
#include <crypto++/idea.h>
#include <crypto++/safer.h>
#include <crypto++/shark.h>
#include <crypto++/square.h>
#include <crypto++/tea.h>
#include <crypto++/twofish.h>

#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

namespace {

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

const CryptoPP::byte* Bytes(const std::string& s) { return reinterpret_cast<const CryptoPP::byte*>(s.data()); }

template <class T>
void Key(T& cipher, const std::string& key, int rounds) {
  if (rounds > 0)
    cipher.SetKeyWithRounds(Bytes(key), key.size(), rounds);
  else
    cipher.SetKey(Bytes(key), key.size());
}

template <class Cipher>
std::string Run(const std::string& key, const std::string& block, int rounds) {
  typename Cipher::Encryption e;
  typename Cipher::Decryption d;
  Key(e, key, rounds);
  Key(d, key, rounds);
  std::string encrypted(block.size(), '\0'), decrypted(block.size(), '\0');
  e.ProcessBlock(Bytes(block), reinterpret_cast<CryptoPP::byte*>(encrypted.data()));
  d.ProcessBlock(Bytes(block), reinterpret_cast<CryptoPP::byte*>(decrypted.data()));
  return Hex(encrypted) + " " + Hex(decrypted);
}

using Runner = std::string (*)(const std::string&, const std::string&, int);
const std::map<std::string, Runner> kCiphers = {
    {"3way", Run<CryptoPP::ThreeWay>}, {"blowfish", Run<CryptoPP::Blowfish>}, {"gost", Run<CryptoPP::GOST>},
    {"idea", Run<CryptoPP::IDEA>},     {"safer-k", Run<CryptoPP::SAFER_K>},   {"safer-sk", Run<CryptoPP::SAFER_SK>},
    {"shark", Run<CryptoPP::SHARK>},   {"square", Run<CryptoPP::Square>},     {"tea", Run<CryptoPP::TEA>},
    {"xtea", Run<CryptoPP::XTEA>},     {"twofish", Run<CryptoPP::Twofish>},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: cryptopp_oracle FILE\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, key, block;
    int rounds = 0;
    fields >> name >> rounds >> key >> block;
    const auto cipher = kCiphers.find(name);
    if (cipher == kCiphers.end()) {
      std::cerr << "unknown cipher " << name << "\n";
      return 2;
    }
    try {
      std::cout << cipher->second(FromHex(key), FromHex(block), rounds) << "\n";
    } catch (const std::exception& e) {
      std::cerr << name << ": " << e.what() << "\n";
      return 1;
    }
  }
  return 0;
}

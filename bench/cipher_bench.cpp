// Coding a buffer in memory with the cipher classes beside the reference
// implementations, every run in a child process of its own, the runners
// alternating round by round; the median throughput and the peak memory of
// each are reported.
//
//  - Blowfish in CBC (TCipher_Blowfish) beside `openssl speed -evp bf-cbc`,
//    which codes its own 16 KiB buffers; goal: at least 0.8 of its
//    throughput. That our CBC is openssl's is checked first on 1 MiB with
//    `openssl enc -bf-cbc`.
//  - Twofish and Square in CBC beside libcrypto++'s on the same data; both
//    must end in the same last block. Reported only.
//
//   cipher_bench [--mib=N] [--rounds=N] [--dir=FOLDER]
#include <crypto++/modes.h>
#include <crypto++/square.h>
#include <crypto++/twofish.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/childrun.h"
#include "bench/options.h"
#include "crypto/ciphers.h"

namespace {

using Clock = std::chrono::steady_clock;
using kv::crypto::TCipherClassRef;

struct Options {
  int64_t mib = 256;
  int rounds = 5;
  std::string dir = "/dev/shm";
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  kv::bench::ReadOptions(argc, argv, {{"--mib=", &o.mib}, {"--rounds=", &o.rounds}, {"--dir=", &o.dir}});
  if (o.mib <= 0 || o.rounds <= 0) throw std::runtime_error("sizes and rounds must be positive");
  return o;
}

const std::string kKey = "0123456789abcdef";  // 16 bytes for every cipher
const std::string kVector = "vector: 16 bytes";

// Incompressible content, the same in every child.
std::vector<uint8_t> MakeData(int64_t bytes) {
  std::vector<uint8_t> data(static_cast<size_t>(bytes));
  uint64_t state = 0x243F6A8885A308D3ull;
  kv::bench::FillIncompressible(data.data(), data.size(), state);
  return data;
}

std::string Hex(const uint8_t* p, size_t n) {
  return kv::crypto::BytesToFormat(p, static_cast<int32_t>(n), kv::crypto::kFormatHEXL);
}

using kv::bench::Measured;
using kv::bench::Runner;

// What a child reports: the seconds of the coding alone and the last block.
Measured Parse(const kv::bench::ChildRun& run) {
  Measured m;
  std::istringstream in(run.output);
  in >> m.seconds >> m.result;
  m.peakKiB = run.peakKiB;
  return m;
}

// Codes the data in CBC with a class of ours, in calls of 64 MiB (whole
// blocks, so the same as one call).
std::vector<uint8_t> CodeWithClass(TCipherClassRef cipherClass, std::vector<uint8_t> data, double* seconds) {
  kv::crypto::TCipherRef cipher = cipherClass->Create();
  cipher->Init(kKey.data(), 16, kVector.data(), 16);
  const Clock::time_point begin = Clock::now();
  constexpr size_t kCall = size_t{64} << 20;
  for (size_t at = 0; at < data.size(); at += kCall) {
    const auto n = static_cast<int32_t>(std::min(kCall, data.size() - at));
    cipher->EncodeData(data.data() + at, data.data() + at, n);
  }
  if (seconds) *seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  return data;
}

Measured RunClass(TCipherClassRef cipherClass, int64_t bytes) {
  return Parse(kv::bench::RunChild([&](int out) {
    double seconds = 0;
    const std::vector<uint8_t> coded = CodeWithClass(cipherClass, MakeData(bytes), &seconds);
    const size_t block = static_cast<size_t>(cipherClass->BlockBytes());
    kv::bench::WriteAll(out, std::to_string(seconds) + " " + Hex(coded.data() + coded.size() - block, block) + "\n");
  }));
}

template <typename Cipher>
Measured RunCryptopp(int64_t bytes) {
  return Parse(kv::bench::RunChild([&](int out) {
    std::vector<uint8_t> data = MakeData(bytes);
    typename CryptoPP::CBC_Mode<Cipher>::Encryption cbc(reinterpret_cast<const CryptoPP::byte*>(kKey.data()), 16,
                                                        reinterpret_cast<const CryptoPP::byte*>(kVector.data()));
    const Clock::time_point begin = Clock::now();
    cbc.ProcessData(data.data(), data.data(), data.size());
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    kv::bench::WriteAll(out, std::to_string(seconds) + " " + Hex(data.data() + data.size() - 16, 16) + "\n");
  }));
}

// openssl's own throughput on 16 KiB buffers, from its machine-readable
// "+F:n:name:bytes-per-second" line, as the seconds our amount would take.
Measured RunOpensslSpeed(int64_t bytes) {
  const kv::bench::ChildRun run = kv::bench::RunTool({"openssl", "speed", "-evp", "bf-cbc", "-provider", "legacy",
                                                      "-provider", "default", "-bytes", "16384", "-seconds", "3",
                                                      "-mr"});
  const size_t at = run.output.find("+F:");
  if (at == std::string::npos) throw std::runtime_error("openssl speed gave no result: " + run.output);
  const double perSecond = std::atof(run.output.c_str() + run.output.rfind(':', run.output.find('\n', at)) + 1);
  if (perSecond <= 0) throw std::runtime_error("openssl speed gave no throughput");
  return {static_cast<double>(bytes) / perSecond, run.peakKiB, ""};
}

// Our Blowfish CBC over 1 MiB against `openssl enc -bf-cbc` on the same bytes.
void CheckBlowfishAgainstOpenssl(const std::string& dir) {
  const std::vector<uint8_t> data = MakeData(1 << 20);
  const std::string plain = dir + "/kv-cipher-bench-" + std::to_string(::getpid());
  std::ofstream(plain, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
  std::string vector8 = kVector.substr(0, 8);
  kv::crypto::TCipher_Blowfish cipher;
  cipher.Init(kKey.data(), 16, vector8.data(), 8);
  std::vector<uint8_t> ours = data;
  cipher.EncodeData(ours.data(), ours.data(), static_cast<int32_t>(ours.size()));
  const kv::bench::ChildRun run =
      kv::bench::RunTool({"openssl", "enc", "-bf-cbc", "-provider", "legacy", "-provider", "default", "-nopad", "-K",
                          Hex(reinterpret_cast<const uint8_t*>(kKey.data()), 16), "-iv",
                          Hex(reinterpret_cast<const uint8_t*>(vector8.data()), 8), "-in", plain});
  std::remove(plain.c_str());
  if (run.output != std::string(ours.begin(), ours.end()))
    throw std::runtime_error("Blowfish CBC differs from openssl enc -bf-cbc");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    kv::crypto::CipherStartup();
    CheckBlowfishAgainstOpenssl(options.dir);
    const int64_t bytes = options.mib << 20;
    using namespace kv::crypto;
    std::vector<Runner> runners = {
        {"TCipher_Blowfish CBC", "", [&] { return RunClass(TCipher_Blowfish::Class(), bytes); }, {}},
        {"openssl speed bf-cbc", "", [&] { return RunOpensslSpeed(bytes); }, {}},
        {"TCipher_Twofish CBC", "twofish", [&] { return RunClass(TCipher_Twofish::Class(), bytes); }, {}},
        {"libcrypto++ Twofish CBC", "twofish", [&] { return RunCryptopp<CryptoPP::Twofish>(bytes); }, {}},
        {"TCipher_Square CBC", "square", [&] { return RunClass(TCipher_Square::Class(), bytes); }, {}},
        {"libcrypto++ Square CBC", "square", [&] { return RunCryptopp<CryptoPP::Square>(bytes); }, {}},
    };
    kv::bench::RunRounds(runners, options.rounds);
    kv::bench::CheckAgreement(runners);  // runners of one group end in the same block

    std::printf("%lld MiB in memory, %d rounds, each run in a child process (median, peak RSS)\n",
                static_cast<long long>(options.mib), options.rounds);
    kv::bench::Report report(static_cast<double>(options.mib));
    for (const Runner& r : runners) report.Line(r.name, r.results);
    std::printf("throughput ratios:\n");
    report.Ratio("TCipher_Blowfish CBC", "openssl speed bf-cbc", 0.8);
    report.Ratio("TCipher_Twofish CBC", "libcrypto++ Twofish CBC", 0);
    report.Ratio("TCipher_Square CBC", "libcrypto++ Square CBC", 0);
    kv::crypto::CipherShutdown();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cipher_bench: %s\n", e.what());
    return 1;
  }
}

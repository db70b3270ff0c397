// Digesting one large file through the hash classes' file run against the
// system's tools on the same file in the same run: MD5 beside `openssl dgst
// -md5` and `md5sum`, SHA-1 beside `sha1sum` (and `openssl dgst -sha1`, whose
// SHA-1 may use the processor's SHA instructions: reported only). Every run
// is a child process of its own, the tools alternate their order round by
// round, every result is compared, and the median time and the peak memory
// of each are reported. Then a sparse file beyond 4 GiB must give the tools'
// digests.
//
//   hash_bench [--dir=FOLDER] [--mib=N] [--rounds=N] [--sparse-gib=N]
//
// Goals: MD5 at least 80% of openssl's throughput and 90% of md5sum's, SHA-1
// at least 90% of sha1sum's.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/childrun.h"
#include "bench/options.h"
#include "crypto/md4family.h"
#include "platform/volumes.h"

namespace {

using kv::crypto::THashClassRef;

struct Options {
  std::string dir = "/dev/shm";
  int64_t mib = 1024;
  int rounds = 5;
  int64_t sparseGib = 5;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  kv::bench::ReadOptions(
      argc, argv, {{"--dir=", &o.dir}, {"--mib=", &o.mib}, {"--rounds=", &o.rounds}, {"--sparse-gib=", &o.sparseGib}});
  if (o.mib <= 0 || o.rounds <= 0 || o.sparseGib < 0) throw std::runtime_error("sizes and rounds must be positive");
  return o;
}

// Incompressible content, written in 4 MiB pieces.
void WriteRandomFile(const std::string& path, int64_t bytes) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  std::vector<uint8_t> piece(4 << 20);
  uint64_t state = 0x243F6A8885A308D3ull;
  for (int64_t done = 0; done < bytes;) {
    kv::bench::FillIncompressible(piece.data(), piece.size(), state);
    const auto n = static_cast<size_t>(std::min<int64_t>(bytes - done, static_cast<int64_t>(piece.size())));
    if (::write(fd, piece.data(), n) != static_cast<ssize_t>(n)) throw std::runtime_error("cannot write " + path);
    done += static_cast<int64_t>(n);
  }
  ::close(fd);
}

void MakeSparseFile(const std::string& path, int64_t bytes) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0 || ::ftruncate(fd, bytes) != 0 || ::pwrite(fd, "end", 3, bytes - 3) != 3) {
    throw std::runtime_error("cannot make sparse file " + path);
  }
  ::close(fd);
}

using kv::bench::Measured;
using kv::bench::Runner;

// The first run of hex digits in the output (after a "=" when there is one)
// is the digest.
Measured Digest(const kv::bench::ChildRun& run) {
  const std::string& output = run.output;
  const size_t at =
      output.find_first_of("0123456789abcdef", output.rfind('=') == std::string::npos ? 0 : output.rfind('='));
  return {run.seconds, run.peakKiB, output.substr(at, output.find_first_not_of("0123456789abcdef", at) - at)};
}

Measured RunTool(std::vector<std::string> args) { return Digest(kv::bench::RunTool(std::move(args))); }

Measured RunHashClass(THashClassRef hashClass, const std::string& path) {
  return Digest(kv::bench::RunChild([&](int out) {
    kv::crypto::THashRef hash = hashClass->Create();
    hash->ProcessFile(kv::platform::FromPosixPath(path), "", kv::crypto::caCalculate);
    kv::bench::WriteAll(
        out, kv::crypto::BytesToFormat(hash->DigestBytes(), hash->DigestSize(), kv::crypto::kFormatHEXL) + "\n");
  }));
}

// Our classes and the system's tools over one file, MD5 and SHA-1 each a
// group whose runs must agree.
std::vector<Runner> DigestRunners(const std::string& path, bool withOpenssl) {
  using kv::crypto::THash_MD5;
  using kv::crypto::THash_SHA1;
  std::vector<Runner> runners;
  for (const auto& [hashClass, name] : {std::pair{THash_MD5::Class(), "md5"}, {THash_SHA1::Class(), "sha1"}}) {
    const std::string group = name;
    runners.push_back({std::string(hashClass->ClassName()) + " ProcessFile", group,
                       [=, hashClass = hashClass] { return RunHashClass(hashClass, path); }, {}});
    runners.push_back({group + "sum", group, [=] { return RunTool({group + "sum", path}); }, {}});
    if (withOpenssl) {
      runners.push_back({"openssl dgst -" + group, group,
                         [=] { return RunTool({"openssl", "dgst", "-" + group, path}); }, {}});
    }
  }
  return runners;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    kv::crypto::HashStartup();
    const std::string file = options.dir + "/kv-hash-bench-" + std::to_string(::getpid()) + ".bin";
    WriteRandomFile(file, options.mib << 20);

    std::vector<Runner> runners = DigestRunners(file, true);
    kv::bench::RunRounds(runners, options.rounds);
    std::remove(file.c_str());
    kv::bench::CheckAgreement(runners);

    std::printf("file: %lld MiB in %s, %d rounds, each tool in a child process (median, peak RSS)\n",
                static_cast<long long>(options.mib), options.dir.c_str(), options.rounds);
    kv::bench::Report report(static_cast<double>(options.mib));
    for (const Runner& r : runners) report.Line(r.name, r.results, r.results[0].result);
    std::printf("throughput ratios:\n");
    report.Ratio("THash_MD5 ProcessFile", "openssl dgst -md5", 0.8);
    report.Ratio("THash_MD5 ProcessFile", "md5sum", 0.9);
    report.Ratio("THash_SHA1 ProcessFile", "sha1sum", 0.9);
    report.Ratio("THash_SHA1 ProcessFile", "openssl dgst -sha1", 0);

    if (options.sparseGib > 0) {
      const std::string sparse = options.dir + "/kv-hash-bench-sparse-" + std::to_string(::getpid()) + ".bin";
      MakeSparseFile(sparse, options.sparseGib << 30);
      std::vector<Runner> large = DigestRunners(sparse, false);
      kv::bench::RunRounds(large, 1);
      std::remove(sparse.c_str());
      kv::bench::CheckAgreement(large);
      std::printf("sparse file of %lld GiB: digests agree with md5sum and sha1sum\n",
                  static_cast<long long>(options.sparseGib));
      for (const Runner& r : large) {
        std::printf("  %-24s %7.3f s  %s\n", r.name.c_str(), r.results[0].seconds, r.results[0].result.c_str());
      }
    }
    kv::crypto::HashShutdown();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hash_bench: %s\n", e.what());
    return 1;
  }
}

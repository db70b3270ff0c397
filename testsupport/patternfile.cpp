#include "testsupport/patternfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "testsupport/commands.h"

namespace kv::test {
namespace {

constexpr int64_t kStretch = int64_t{1} << 20;
constexpr int64_t kFourGiB = int64_t{1} << 32;

uint64_t ValueAt(uint64_t offset) { return (offset / 8 + 1) * 0x9E3779B97F4A7C15ull; }

class Writer {
 public:
  explicit Writer(const std::string& path) : fd_(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
    if (fd_ < 0) throw std::runtime_error("cannot create " + path);
  }
  ~Writer() { close(fd_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Pattern bytes [from, to).
  void Pattern(int64_t from, int64_t to) {
    std::vector<unsigned char> block;
    for (int64_t at = from; at < to;) {
      const int64_t end = std::min(to, at + kStretch);
      block.resize(static_cast<size_t>(end - at));
      for (int64_t i = at; i < end; ++i)
        block[static_cast<size_t>(i - at)] = static_cast<unsigned char>(ValueAt(static_cast<uint64_t>(i)) >> (8 * (i % 8)));
      if (pwrite(fd_, block.data(), block.size(), at) != static_cast<ssize_t>(block.size()))
        throw std::runtime_error("cannot write a pattern file");
      at = end;
    }
  }
  void Size(int64_t size) {
    if (ftruncate(fd_, size) != 0) throw std::runtime_error("cannot size a pattern file");
  }

 private:
  int fd_;
};

}  // namespace

void WritePatternFile(const std::string& posixPath, int64_t size) {
  Writer writer(posixPath);
  writer.Pattern(0, size);
}

void WriteSparsePatternFile(const std::string& posixPath, int64_t size) {
  Writer writer(posixPath);
  writer.Size(size);
  writer.Pattern(0, std::min(size, kStretch));
  if (size > kFourGiB + kStretch) writer.Pattern(kFourGiB - kStretch / 2, kFourGiB + kStretch / 2);
  writer.Pattern(std::max<int64_t>(0, size - kStretch), size);
}

void ResizeFile(const std::string& posixPath, int64_t size) {
  if (truncate(posixPath.c_str(), size) != 0) throw std::runtime_error("cannot resize " + posixPath);
}

std::string Sha256OfFile(const std::string& posixPath) {
  int status = -1;
  const std::string out = RunCommand("openssl dgst -sha256 -r " + ShellQuote(posixPath) + " 2>&1", &status);
  if (status != 0) return "openssl dgst failed: " + out;
  return out.substr(0, out.find(' '));
}

}  // namespace kv::test

#pragma once
// The trees of the benchmarks that sync folders: the small files every one
// of them copies (folders "Projekt P/Ordner_D", files of 0 to 4095 bytes
// with one modification time), and the check that a tool's copy matches
// its source.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/volumes.h"

namespace kv::bench {

inline constexpr time_t kTreeMTime = 1718452800;

// A folder of this machine as the profiles name it, ending in "\".
inline std::string WinFolder(const std::string& posix) {
  std::string win = platform::FromPosixPath(posix);
  if (win.empty() || win.back() != '\\') win += '\\';
  return win;
}

inline void WriteFile(const std::string& path, const std::string& content, time_t mtime) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  if (::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    ::close(fd);
    throw std::runtime_error("cannot write " + path);
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
  ::futimens(fd, times);
  ::close(fd);
}

// Small file f: 100 to a folder, 20 folders to a project.
inline std::string SmallFilePath(const std::string& src, int f) {
  const int d = f / 100;
  return src + "/Projekt " + std::to_string(d / 20) + "/Ordner_" + std::to_string(d) + "/Dokument-" +
         std::to_string(f) + ".txt";
}

inline std::string SmallFileContent(int f) { return std::string(static_cast<size_t>(f % 4096), 'k'); }

inline void MakeSmallFiles(const std::string& src, int files) {
  for (int f = 0; f < files; ++f) {
    const std::string path = SmallFilePath(src, f);
    if (f % 100 == 0) std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, SmallFileContent(f), kTreeMTime);
  }
}

// What a tree holds, in constant memory: the number of files and folders and
// an order-independent digest of every file's relative path, content and
// last-write time, so that the benchmark process itself stays small (a
// spawned tool is measured with what it shares of its parent).
struct TreeDigest {
  int64_t files = 0, folders = 0;
  uint64_t sum = 0;
  bool operator==(const TreeDigest&) const = default;
};

inline uint64_t Fnv(uint64_t h, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

inline TreeDigest Digest(const std::string& root) {
  TreeDigest d;
  std::vector<char> buffer(1 << 16);
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string rel = e.path().string().substr(root.size());
    uint64_t h = Fnv(0xCBF29CE484222325ull, rel.data(), rel.size());
    if (e.is_directory()) {
      ++d.folders;
      d.sum += h * 3;
      continue;
    }
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    h = Fnv(h, &st.st_mtim.tv_sec, sizeof st.st_mtim.tv_sec);
    std::ifstream in(e.path(), std::ios::binary);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
      h = Fnv(h, buffer.data(), static_cast<size_t>(in.gcount()));
    }
    ++d.files;
    d.sum += h;
  }
  return d;
}

inline void ExpectSameTree(const TreeDigest& source, const std::string& copy, const std::string& tool) {
  const TreeDigest got = Digest(copy);
  if (got == source) return;
  throw std::runtime_error(tool + ": " + copy + " differs from the source (" + std::to_string(got.files) +
                           " files, " + std::to_string(got.folders) + " folders; the source " +
                           std::to_string(source.files) + ", " + std::to_string(source.folders) + ")");
}

}  // namespace kv::bench

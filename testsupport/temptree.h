#pragma once
// Real temporary trees and process state for tests.
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>

namespace kv::test {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // POSIX path of the root (no trailing "/") or of a path below it.
  std::string Posix(std::string_view rel = "") const;
  // Windows path through the current volume table; folders end in "\".
  std::string Win(std::string_view rel = "") const;
  std::string WinFolder(std::string_view rel = "") const;

  // rel uses "/" separators; parents are created.
  void Write(std::string_view rel, std::string_view content) const;
  void Mkdir(std::string_view rel) const;
  void SetMTime(std::string_view rel, time_t seconds, long nanoseconds = 0) const;
  std::string Read(std::string_view rel) const;
  bool Exists(std::string_view rel) const;

 private:
  std::string root_;
};

// Sets an environment variable for the scope; TZ changes call tzset().
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Points the platform registry at a fresh temporary folder for the scope.
class ScopedRegistry {
 public:
  ScopedRegistry();
  std::string Directory() const { return tree_.Posix(); }

 private:
  TempTree tree_;
  ScopedEnv env_;
};

// Whole files named by their POSIX path.
std::string ReadFileText(const std::string& posixPath);
void WriteFileText(const std::string& posixPath, std::string_view content);

// A tmpfs (4 MiB unless size says otherwise, mode 0755) mounted on a
// folder, created when missing, for the scope. Only root may mount: check
// mounted() and skip otherwise.
class ScopedTmpfs {
 public:
  explicit ScopedTmpfs(std::string folder, const std::string& size = "4m");
  ~ScopedTmpfs() { Unmount(); }
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
  bool mounted() const { return mounted_; }
  void Unmount();
  bool RemountReadOnly();

 private:
  std::string folder_;
  bool mounted_ = false;
};

// Runs fn in a forked child whose files may not grow beyond limit bytes (a
// full disk, as far as a writer can tell; SIGXFSZ is ignored, so the write
// fails with EFBIG) and returns its result (0..255), or -1.
int RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& fn);

// Runs fn in a forked child that dropped root privileges (uid/gid 65534) and
// returns its result (0..255), or -1 when the child crashed. When the test
// does not run as root, fn simply runs in a child without the change.
int RunUnprivileged(const std::function<int()>& fn);
bool IsRoot();

}  // namespace kv::test

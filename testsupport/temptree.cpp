#include "testsupport/temptree.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/volumes.h"

namespace fs = std::filesystem;

namespace kv::test {

TempTree::TempTree() {
  std::string tmpl = (fs::temp_directory_path() / "kvtest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
}

TempTree::~TempTree() {
  std::error_code ec;
  // Make everything removable again (tests take write bits away).
  for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(root_, ec);
}

std::string TempTree::Posix(std::string_view rel) const {
  if (rel.empty()) return root_;
  return root_ + "/" + std::string(rel);
}

std::string TempTree::Win(std::string_view rel) const {
  return platform::FromPosixPath(Posix(rel));
}

std::string TempTree::WinFolder(std::string_view rel) const {
  std::string w = Win(rel);
  if (w.empty() || w.back() != '\\') w += '\\';
  return w;
}

void TempTree::Write(std::string_view rel, std::string_view content) const {
  fs::path p = Posix(rel);
  fs::create_directories(p.parent_path());
  WriteFileText(p.string(), content);
}

void TempTree::Mkdir(std::string_view rel) const { fs::create_directories(Posix(rel)); }

void TempTree::SetMTime(std::string_view rel, time_t seconds, long nanoseconds) const {
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_sec = seconds;
  ts[1].tv_nsec = nanoseconds;
  if (utimensat(AT_FDCWD, Posix(rel).c_str(), ts, AT_SYMLINK_NOFOLLOW) != 0)
    throw std::runtime_error("utimensat failed for " + Posix(rel));
}

std::string TempTree::Read(std::string_view rel) const { return ReadFileText(Posix(rel)); }

std::string ReadFileText(const std::string& posixPath) {
  std::ifstream f(posixPath, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFileText(const std::string& posixPath, std::string_view content) {
  std::ofstream f(posixPath, std::ios::binary | std::ios::trunc);
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!f) throw std::runtime_error("cannot write " + posixPath);
}

bool TempTree::Exists(std::string_view rel) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(Posix(rel), ec));
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* old = getenv(name_.c_str())) old_ = old;
  if (value) setenv(name_.c_str(), value, 1);
  else unsetenv(name_.c_str());
  if (name_ == "TZ") tzset();
}

ScopedEnv::~ScopedEnv() {
  if (old_) setenv(name_.c_str(), old_->c_str(), 1);
  else unsetenv(name_.c_str());
  if (name_ == "TZ") tzset();
}

ScopedRegistry::ScopedRegistry() : env_("KESTROVANE_REGISTRY_DIR", tree_.Posix().c_str()) {}

ScopedTmpfs::ScopedTmpfs(std::string folder, const std::string& size) : folder_(std::move(folder)) {
  mkdir(folder_.c_str(), 0755);
  const std::string options = "size=" + size + ",mode=0755";
  mounted_ = mount("kvtest", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

void ScopedTmpfs::Unmount() {
  if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  mounted_ = false;
}

bool ScopedTmpfs::RemountReadOnly() {
  return mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

int RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& fn) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(254);
    _exit(fn() & 0xFF);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsRoot() { return geteuid() == 0; }

int RunUnprivileged(const std::function<int()>& fn) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (geteuid() == 0) {
      // Root's supplementary groups would otherwise stay with the child.
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(254);
    }
    _exit(fn() & 0xFF);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kv::test

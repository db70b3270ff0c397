#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "platform/errors.h"
#include "platform/hivetext.h"
#include "platform/stampedfile.h"
#include "platform/userfolders.h"

namespace kv::platform {

namespace {

enum class Outcome { Unchanged, Changed, Missing, Refused };

const char* HiveName(Hive hive) {
  switch (hive) {
    case Hive::CurrentUser:
      return "HKEY_CURRENT_USER";
    case Hive::LocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case Hive::ClassesRoot:
      return "HKEY_CLASSES_ROOT";
  }
  return "HKEY_UNKNOWN";
}

ParsedFileCache<HiveData>& Cache() {
  static ParsedFileCache<HiveData> cache(16);
  return cache;
}

std::string WithoutTrailingSlashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// mkdir -p, private to the user.
bool MakeFolders(const std::string& folder) {
  for (size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos != folder.size() && folder[pos] != '/') continue;
    std::string part = folder.substr(0, pos);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      SetLastError(errno);
      return false;
    }
  }
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(ENOTDIR);
    return false;
  }
  return true;
}

// Holds the hive's lock file under flock: other processes and other threads of
// this one (each call opens its own descriptor) take turns.
class HiveLock {
 public:
  explicit HiveLock(const std::string& lockPath) {
    fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd_);
      fd_ = -1;
      errno = err;
      return;
    }
  }
  ~HiveLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

std::shared_ptr<const HiveData> CurrentHive(Hive hive) { return Cache().LoadOrEmpty(Registry::FilePath(hive)); }

// Read the hive as it is now, under its lock, edit, and replace the file when
// the edit changed anything.
bool ModifyHive(Hive hive, const std::function<Outcome(HiveData&)>& edit) {
  if (!MakeFolders(Registry::Directory())) return false;
  const std::string path = Registry::FilePath(hive);
  HiveLock lock(path + ".lock");
  if (!lock.ok()) {
    SetLastError(errno);
    return false;
  }
  ParsedFile<HiveData> current;
  if (!Cache().Load(path, current)) return false;
  HiveData data = *current.value;
  switch (edit(data)) {
    case Outcome::Unchanged:
      return true;
    case Outcome::Missing:
      SetLastError(ENOENT);
      return false;
    case Outcome::Refused:
      SetLastError(EINVAL);
      return false;
    case Outcome::Changed:
      break;
  }
  return ReplaceFile(path, data.Serialize(HiveName(hive)), current.stamp ? &*current.stamp : nullptr, 0600);
}

Outcome ChangedIf(bool changed) { return changed ? Outcome::Changed : Outcome::Unchanged; }

}  // namespace

std::string Registry::Directory() {
  if (const char* dir = getenv("KESTROVANE_REGISTRY_DIR"); dir && *dir) return WithoutTrailingSlashes(dir);
  std::string config = XdgBaseFolder("XDG_CONFIG_HOME", ".config");
  if (config.empty()) config = "/tmp/.config";
  return config + "/kestrovane/registry";
}

std::string Registry::FilePath(Hive hive) { return Directory() + "/" + HiveName(hive) + ".txt"; }

uint64_t Registry::ChangeStamp(Hive hive) {
  std::optional<FileStamp> stamp = StatFile(FilePath(hive));
  return stamp ? stamp->Hash() : 0;
}

bool Registry::KeyExists(std::string_view key) const { return CurrentHive(hive_)->KeyExists(key); }

bool Registry::CreateKey(std::string_view key) {
  return ModifyHive(hive_, [&](HiveData& d) { return ChangedIf(d.CreateKey(key)); });
}

bool Registry::DeleteKey(std::string_view key) {
  return ModifyHive(hive_, [&](HiveData& d) {
    if (HiveData::NormalizePath(key).empty()) return Outcome::Refused;
    return d.DeleteKey(key) ? Outcome::Changed : Outcome::Missing;
  });
}

std::vector<std::string> Registry::GetKeyNames(std::string_view key) const {
  return CurrentHive(hive_)->SubkeyNames(key);
}

std::vector<std::string> Registry::GetValueNames(std::string_view key) const {
  return CurrentHive(hive_)->ValueNames(key);
}

std::optional<std::string> Registry::ReadString(std::string_view key, std::string_view name) const {
  auto hive = CurrentHive(hive_);
  const HiveData::Value* v = hive->FindValue(key, name);
  if (!v || v->isDword) return std::nullopt;
  return v->text;
}

std::optional<uint32_t> Registry::ReadDword(std::string_view key, std::string_view name) const {
  auto hive = CurrentHive(hive_);
  const HiveData::Value* v = hive->FindValue(key, name);
  if (!v || !v->isDword) return std::nullopt;
  return v->dword;
}

bool Registry::WriteString(std::string_view key, std::string_view name, std::string_view value) {
  HiveData::Value v;
  v.name = name;
  v.text = value;
  return ModifyHive(hive_, [&](HiveData& d) { return ChangedIf(d.SetValue(key, v)); });
}

bool Registry::WriteDword(std::string_view key, std::string_view name, uint32_t value) {
  HiveData::Value v;
  v.name = name;
  v.isDword = true;
  v.dword = value;
  return ModifyHive(hive_, [&](HiveData& d) { return ChangedIf(d.SetValue(key, v)); });
}

bool Registry::DeleteValue(std::string_view key, std::string_view name) {
  return ModifyHive(hive_, [&](HiveData& d) { return d.DeleteValue(key, name) ? Outcome::Changed : Outcome::Missing; });
}

}  // namespace kv::platform

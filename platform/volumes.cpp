#include "platform/volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <mutex>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace kv::platform {

namespace {

constexpr std::string_view kVolumesKey = "System\\Volumes";
constexpr std::string_view kDefaultRoot = "C:";

// Magic numbers of statfs' f_type for the file systems the drive type cares about.
constexpr long kNfsMagic = 0x6969;
constexpr long kSmbMagic = 0x517B;
constexpr long kCifsMagic = static_cast<long>(0xFF534D42);
constexpr long kSmb2Magic = static_cast<long>(0xFE534D42);
constexpr long kIso9660Magic = 0x9660;
constexpr long kUdfMagic = 0x15013346;
constexpr long kTmpfsMagic = 0x01021994;
constexpr long kRamfsMagic = static_cast<long>(0x858458F6);
constexpr long kFuseMagic = 0x65735546;

struct TypeName {
  DriveType type;
  std::string_view name;
};
constexpr TypeName kTypeNames[] = {
    {DriveType::Fixed, "fixed"},   {DriveType::Removable, "removable"}, {DriveType::Remote, "remote"},
    {DriveType::Cdrom, "cdrom"},   {DriveType::Ramdisk, "ramdisk"},
};

std::optional<DriveType> ParseDriveType(std::string_view text) {
  for (const TypeName& t : kTypeNames)
    if (SameTextAscii(text, t.name)) return t.type;
  return std::nullopt;  // "auto", empty or unknown: decided from the file system
}

std::string_view DriveTypeText(const std::optional<DriveType>& type) {
  if (!type) return "auto";
  for (const TypeName& t : kTypeNames)
    if (t.type == *type) return t.name;
  return "auto";
}

bool IsLetterRoot(std::string_view root) { return root.size() == 2 && root[1] == ':'; }

std::string Replace(std::string_view s, char from, char to) {
  std::string r(s);
  std::replace(r.begin(), r.end(), from, to);
  return r;
}

// "/mnt/x/" -> "/mnt/x"; "" for a relative or empty folder.
std::string NormalizeFolder(std::string_view folder) {
  if (folder.empty() || folder[0] != '/' || folder.find('\0') != std::string_view::npos) return {};
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  return std::string(folder);
}

std::string NormalizeRemoteName(std::string_view remote) {
  std::string r = NormalizeVolumeRoot(remote);
  return IsUncPath(r) ? r : std::string();
}

bool IsPathUnder(std::string_view path, std::string_view folder) {
  if (folder == "/") return !path.empty() && path[0] == '/';
  if (path.substr(0, folder.size()) != folder) return false;
  return path.size() == folder.size() || path[folder.size()] == '/';
}

// folder + the rest of a Windows path after its drive part, with "\" as "/",
// "." and ".." resolved lexically (never above the folder, as a drive root
// has no parent) and a trailing separator kept.
std::string JoinFolder(const std::string& folder, std::string_view rest) {
  const size_t base = folder == "/" ? 0 : folder.size();
  std::string out(folder, 0, base);
  out.reserve(base + rest.size() + 1);
  size_t i = 0;
  while (i < rest.size()) {
    size_t end = rest.find_first_of("\\/", i);
    if (end == std::string_view::npos) end = rest.size();
    std::string_view part = rest.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (out.size() > base) out.resize(out.rfind('/'));
      continue;
    }
    out += '/';
    out += part;
  }
  const bool trailing = !rest.empty() && (rest.back() == '\\' || rest.back() == '/');
  if (out.empty() || (trailing && out.back() != '/')) out += '/';
  return out;
}

bool IsMountPoint(const std::string& folder) {
  struct statx stx;
  if (statx(AT_FDCWD, folder.c_str(), 0, STATX_INO, &stx) == 0 &&
      (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT))
    return true;
  struct stat self, parent;
  if (stat(folder.c_str(), &self) != 0 || stat((folder + "/..").c_str(), &parent) != 0) return false;
  if (self.st_dev != parent.st_dev) return true;
  return self.st_ino == parent.st_ino;  // "/" is its own parent
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsVolumeAvailable(const Volume& v) {
  if (!IsFolder(v.folder)) return false;
  return !v.mustBeMounted || IsMountPoint(v.folder);
}

// The file system type /proc/self/mountinfo names for the device of folder
// (FUSE file systems all share one statfs magic number).
std::string MountedFileSystemType(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return {};
  const std::string device = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  std::ifstream in("/proc/self/mountinfo");
  std::string line, found;
  while (std::getline(in, line)) {
    // "id parent major:minor root mountpoint options [tags] - fstype source superoptions"
    size_t p = line.find(' ');
    p = p == std::string::npos ? p : line.find(' ', p + 1);
    if (p == std::string::npos || line.compare(p + 1, device.size() + 1, device + " ") != 0) continue;
    size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    size_t typeEnd = line.find(' ', dash + 3);
    found = line.substr(dash + 3, typeEnd == std::string::npos ? std::string::npos : typeEnd - dash - 3);
  }
  return found;  // the last match is the mount on top
}

DriveType ClassifyFileSystem(const std::string& folder) {
  struct statfs fs;
  if (statfs(folder.c_str(), &fs) != 0) return DriveType::Unknown;
  switch (static_cast<long>(fs.f_type)) {
    case kNfsMagic:
    case kSmbMagic:
    case kCifsMagic:
    case kSmb2Magic:
      return DriveType::Remote;
    case kIso9660Magic:
    case kUdfMagic:
      return DriveType::Cdrom;
    case kTmpfsMagic:
    case kRamfsMagic:
      return DriveType::Ramdisk;
    case kFuseMagic:
      return MountedFileSystemType(folder) == "fuse.sshfs" ? DriveType::Remote : DriveType::Fixed;
    default:
      return DriveType::Fixed;
  }
}

Volume DefaultVolume() {
  Volume c;
  c.root = std::string(kDefaultRoot);
  c.folder = "/";
  c.mustBeMounted = false;
  return c;
}

}  // namespace

std::string NormalizeVolumeRoot(std::string_view root) {
  std::string drive = ExtractFileDrive(root);
  if (IsLetterRoot(drive)) {
    const char letter = drive[0];
    const bool ascii = (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z');
    return ascii ? UpperCaseAscii(drive) : std::string();
  }
  if (!IsUncPath(drive)) return {};
  // Needs both a server and a share name.
  size_t serverEnd = drive.find('\\', 2);
  if (serverEnd == std::string::npos || serverEnd == 2 || serverEnd + 1 >= drive.size()) return {};
  return drive;
}

VolumeTable VolumeTable::Load() {
  VolumeTable table;
  table.Set(DefaultVolume());
  Registry reg(Hive::LocalMachine);
  for (const std::string& name : reg.GetKeyNames(kVolumesKey)) {
    const std::string key = std::string(kVolumesKey) + "\\" + name;
    Volume v;
    v.root = NormalizeVolumeRoot(Replace(name, '/', '\\'));
    v.folder = NormalizeFolder(reg.ReadString(key, "Folder").value_or(""));
    if (v.root.empty() || v.folder.empty()) continue;  // unusable entry: as if absent
    v.type = ParseDriveType(reg.ReadString(key, "Type").value_or(""));
    v.remoteName = NormalizeRemoteName(reg.ReadString(key, "RemoteName").value_or(""));
    const std::optional<uint32_t> mount = reg.ReadDword(key, "MustBeMounted");
    v.mustBeMounted = mount ? *mount != 0 : !SameTextAscii(v.root, kDefaultRoot);
    v.connectCommand = reg.ReadString(key, "ConnectCommand").value_or("");
    table.Set(std::move(v));
  }
  return table;
}

namespace {
std::atomic<uint64_t> gSavedInProcess{0};
}

bool VolumeTable::Save() const {
  // Entries are written over the old ones first and stale ones removed after,
  // so a reader in between never misses a volume that stays.
  Registry reg(Hive::LocalMachine);
  bool ok = reg.CreateKey(kVolumesKey);
  for (const Volume& v : volumes_) {
    const std::string key = std::string(kVolumesKey) + "\\" + Replace(v.root, '\\', '/');
    ok = reg.WriteString(key, "Folder", v.folder) && ok;
    ok = reg.WriteString(key, "Type", DriveTypeText(v.type)) && ok;
    ok = reg.WriteString(key, "RemoteName", v.remoteName) && ok;
    ok = reg.WriteDword(key, "MustBeMounted", v.mustBeMounted ? 1 : 0) && ok;
    ok = reg.WriteString(key, "ConnectCommand", v.connectCommand) && ok;
  }
  for (const std::string& name : reg.GetKeyNames(kVolumesKey)) {
    const std::string root = NormalizeVolumeRoot(Replace(name, '/', '\\'));
    if (root.empty() || !Find(root)) ok = reg.DeleteKey(std::string(kVolumesKey) + "\\" + name) && ok;
  }
  gSavedInProcess.fetch_add(1);
  return ok;
}

void VolumeTable::Set(Volume v) {
  v.root = NormalizeVolumeRoot(v.root);
  v.folder = NormalizeFolder(v.folder);
  if (v.root.empty() || v.folder.empty()) return;
  v.remoteName = NormalizeRemoteName(v.remoteName);
  for (Volume& existing : volumes_) {
    if (SameText(existing.root, v.root)) {
      existing = std::move(v);
      return;
    }
  }
  volumes_.push_back(std::move(v));
}

void VolumeTable::Remove(std::string_view root) {
  const std::string r = NormalizeVolumeRoot(root);
  std::erase_if(volumes_, [&](const Volume& v) { return SameText(v.root, r); });
}

const Volume* VolumeTable::Find(std::string_view root) const {
  const std::string r = NormalizeVolumeRoot(root);
  if (r.empty()) return nullptr;
  for (const Volume& v : volumes_)
    if (SameText(v.root, r)) return &v;
  return nullptr;
}

const Volume* VolumeTable::Lookup(std::string_view rootOrPath) const {
  if (const Volume* v = Find(rootOrPath)) return v;
  const std::string r = NormalizeVolumeRoot(rootOrPath);
  if (!IsUncPath(r)) return nullptr;
  for (const Volume& v : volumes_)
    if (IsLetterRoot(v.root) && SameText(v.remoteName, r)) return &v;
  return nullptr;
}

std::optional<std::string> VolumeTable::ToPosix(std::string_view winPath) const {
  if (winPath.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string drive = ExtractFileDrive(winPath);
  const Volume* v = Lookup(drive);
  if (!v) return std::nullopt;
  return JoinFolder(v->folder, winPath.substr(drive.size()));
}

std::string VolumeTable::FromPosix(std::string_view posixPath) const {
  const Volume* best = nullptr;
  for (const Volume& v : volumes_) {
    if (IsPathUnder(posixPath, v.folder) && (!best || v.folder.size() > best->folder.size())) best = &v;
  }
  if (!best) return {};
  std::string_view rest = posixPath.substr(best->folder == "/" ? 0 : best->folder.size());
  std::string result = best->root;
  result += rest.empty() ? std::string_view("/") : rest;
  std::replace(result.begin() + static_cast<std::ptrdiff_t>(best->root.size()), result.end(), '/', '\\');
  return result;
}

DriveType VolumeTable::GetDriveType(std::string_view rootOrPath) const {
  const Volume* v = Lookup(rootOrPath);
  if (!v) return DriveType::NoRootDir;
  if (v->type) return *v->type;
  if (!v->remoteName.empty()) return DriveType::Remote;
  if (!IsVolumeAvailable(*v)) return DriveType::NoRootDir;
  if (IsUncPath(v->root)) return DriveType::Remote;
  return ClassifyFileSystem(v->folder);
}

bool VolumeTable::IsAvailable(std::string_view rootOrPath) const {
  const Volume* v = Lookup(rootOrPath);
  return v && IsVolumeAvailable(*v);
}

std::string VolumeTable::ExpandUnc(std::string_view path) const {
  const std::string drive = ExtractFileDrive(path);
  const Volume* v = IsLetterRoot(drive) ? Find(drive) : nullptr;
  if (!v || v->remoteName.empty()) return std::string(path);
  return v->remoteName + std::string(path.substr(drive.size()));
}

std::string VolumeTable::RemoteName(std::string_view rootOrPath) const {
  const Volume* v = Find(rootOrPath);
  return v ? v->remoteName : std::string();
}

// --- The process-wide table --------------------------------------------------

namespace {

// Which registry the table was read from and which state of its hive file.
// A writer of the hive always leaves a file with a new stamp, and a Save in
// this process counts too.
struct RegistryStamp {
  std::string directory;
  uint64_t hive = 0;
  uint64_t savedInProcess = 0;

  bool operator==(const RegistryStamp&) const = default;
};

RegistryStamp CurrentRegistryStamp() {
  RegistryStamp s;
  s.directory = Registry::Directory();
  s.savedInProcess = gSavedInProcess.load();
  s.hive = Registry::ChangeStamp(Hive::LocalMachine);
  return s;
}

struct TableCache {
  std::mutex mutex;
  std::shared_ptr<const VolumeTable> table;
  RegistryStamp stamp;
};

TableCache& Cache() {
  static TableCache* cache = new TableCache;  // never destroyed: used until exit
  return *cache;
}

}  // namespace

std::shared_ptr<const VolumeTable> CurrentVolumes() {
  TableCache& cache = Cache();
  RegistryStamp stamp = CurrentRegistryStamp();
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.table && cache.stamp == stamp) return cache.table;
  // Read after the stamp: a change in between only causes one more reading.
  cache.table = std::make_shared<const VolumeTable>(VolumeTable::Load());
  cache.stamp = std::move(stamp);
  return cache.table;
}

std::optional<std::string> ToPosixPath(std::string_view winPath) { return CurrentVolumes()->ToPosix(winPath); }

std::string FromPosixPath(std::string_view posixPath) { return CurrentVolumes()->FromPosix(posixPath); }

std::optional<std::string> ResolvePath(std::string_view winPath) {
  if (winPath.find('\0') != std::string_view::npos) {
    SetLastError(EINVAL);
    return std::nullopt;
  }
  const std::shared_ptr<const VolumeTable> table = CurrentVolumes();
  const std::string drive = ExtractFileDrive(winPath);
  const Volume* v = table->Lookup(drive);
  if (!v) {
    SetLastError(ENOENT);
    return std::nullopt;
  }
  // A drive that need not be mounted is not checked here: the system call
  // itself reports a missing folder.
  if (v->mustBeMounted && !IsVolumeAvailable(*v)) {
    SetLastError(ENOMEDIUM);
    return std::nullopt;
  }
  return JoinFolder(v->folder, winPath.substr(drive.size()));
}

}  // namespace kv::platform

#include "platform/security.h"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/volumes.h"

namespace kv::platform {
namespace {

// A descriptor block: a fixed header, then the ACLs in the library's external
// form. The header always carries owner, group and mode: the DACL part needs
// the owner to decide on setuid, the owner part needs the mode to restore it.
//   0 "KVSD"   4 parts   8 uid   12 gid   16 mode
//   20 access-ACL length   24 default-ACL length   28 access ACL, default ACL
constexpr char kMagic[4] = {'K', 'V', 'S', 'D'};
constexpr size_t kHeaderSize = 28;
constexpr uint32_t kSupportedParts = kOwnerSecurityInformation | kDaclSecurityInformation;
constexpr mode_t kSetIdBits = S_ISUID | S_ISGID;

bool Fail(int err) {
  SetLastError(err);
  return false;
}

bool FailErrno() { return Fail(errno); }

struct AclFree {
  void operator()(void* acl) const { acl_free(acl); }
};
using AclPtr = std::unique_ptr<std::remove_pointer_t<acl_t>, AclFree>;

bool IsNotSupported(int err) { return err == ENOTSUP || err == EOPNOTSUPP; }

bool CheckParts(uint32_t info) {
  if (info & kSaclSecurityInformation) return Fail(EOPNOTSUPP);
  if (info == 0 || (info & ~kSupportedParts)) return Fail(EINVAL);
  return true;
}

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// --- Reading ---------------------------------------------------------------------

// The ACL's external form; an empty vector for "none".
std::optional<std::vector<uint8_t>> ExternalForm(acl_t acl) {
  const ssize_t size = acl_size(acl);
  if (size < 0) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (acl_copy_ext(bytes.data(), acl, size) < 0) return std::nullopt;
  return bytes;
}

// A file system without ACLs still has the ACL its bits stand for.
AclPtr ReadAccessAcl(const std::string& posix, const struct stat& st) {
  AclPtr acl(acl_get_file(posix.c_str(), ACL_TYPE_ACCESS));
  if (!acl && IsNotSupported(errno)) acl.reset(acl_from_mode(st.st_mode));
  return acl;
}

// nullopt on failure; an empty block when the folder has no default ACL.
std::optional<std::vector<uint8_t>> ReadDefaultAcl(const std::string& posix) {
  AclPtr acl(acl_get_file(posix.c_str(), ACL_TYPE_DEFAULT));
  if (!acl) {
    if (IsNotSupported(errno)) return std::vector<uint8_t>{};
    return std::nullopt;
  }
  if (acl_entries(acl.get()) <= 0) return std::vector<uint8_t>{};
  return ExternalForm(acl.get());
}

bool BuildDescriptor(const std::string& posix, uint32_t info, std::vector<uint8_t>& out) {
  struct stat st;
  if (stat(posix.c_str(), &st) != 0) return FailErrno();
  std::vector<uint8_t> access, deflt;
  if (info & kDaclSecurityInformation) {
    AclPtr acl = ReadAccessAcl(posix, st);
    std::optional<std::vector<uint8_t>> bytes = acl ? ExternalForm(acl.get()) : std::nullopt;
    if (!bytes) return FailErrno();
    access = std::move(*bytes);
    if (S_ISDIR(st.st_mode)) {
      std::optional<std::vector<uint8_t>> d = ReadDefaultAcl(posix);
      if (!d) return FailErrno();
      deflt = std::move(*d);
    }
  }
  out.assign(kHeaderSize, 0);
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  PutU32(out, 4, info);
  PutU32(out, 8, st.st_uid);
  PutU32(out, 12, st.st_gid);
  PutU32(out, 16, st.st_mode);
  PutU32(out, 20, static_cast<uint32_t>(access.size()));
  PutU32(out, 24, static_cast<uint32_t>(deflt.size()));
  out.insert(out.end(), access.begin(), access.end());
  out.insert(out.end(), deflt.begin(), deflt.end());
  return true;
}

// --- Writing ---------------------------------------------------------------------

struct Descriptor {
  uint32_t parts = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0;
  std::vector<uint8_t> access;   // external form; empty when the DACL is absent
  std::vector<uint8_t> deflt;    // empty: no default ACL
};

std::optional<Descriptor> ParseDescriptor(const uint8_t* p, uint32_t length) {
  if (!p || length < kHeaderSize || std::memcmp(p, kMagic, sizeof kMagic) != 0) return std::nullopt;
  Descriptor d;
  d.parts = GetU32(p + 4);
  d.uid = GetU32(p + 8);
  d.gid = GetU32(p + 12);
  d.mode = GetU32(p + 16);
  const uint64_t accessLen = GetU32(p + 20);
  const uint64_t defaultLen = GetU32(p + 24);
  if (kHeaderSize + accessLen + defaultLen != length) return std::nullopt;
  if ((d.parts & kDaclSecurityInformation) && accessLen == 0) return std::nullopt;
  d.access.assign(p + kHeaderSize, p + kHeaderSize + accessLen);
  d.deflt.assign(p + kHeaderSize + accessLen, p + length);
  return d;
}

// The external form copied into its own (aligned) buffer and checked. The
// library trusts the size the form states in its first word, so a block
// whose form claims more than its part holds is refused before it is read.
AclPtr AclFromExternal(const std::vector<uint8_t>& bytes) {
  uint32_t statedSize = 0;
  if (bytes.size() < sizeof statedSize) {
    errno = EINVAL;
    return nullptr;
  }
  std::memcpy(&statedSize, bytes.data(), sizeof statedSize);
  if (statedSize != bytes.size()) {
    errno = EINVAL;
    return nullptr;
  }
  AclPtr acl(acl_copy_int(bytes.data()));
  if (acl && acl_valid(acl.get()) != 0) {
    errno = EINVAL;
    return nullptr;
  }
  return acl;
}

bool ApplyAccessAcl(const std::string& posix, const std::vector<uint8_t>& bytes) {
  AclPtr acl = AclFromExternal(bytes);
  if (!acl) return FailErrno();
  if (acl_set_file(posix.c_str(), ACL_TYPE_ACCESS, acl.get()) == 0) return true;
  const int err = errno;
  // Without ACL support a plain ACL is nothing but the bits set afterwards.
  if (IsNotSupported(err) && acl_equiv_mode(acl.get(), nullptr) == 0) return true;
  return Fail(err);
}

bool ApplyDefaultAcl(const std::string& posix, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) {
    if (acl_delete_def_file(posix.c_str()) == 0 || IsNotSupported(errno) || errno == ENODATA) return true;
    return FailErrno();
  }
  AclPtr acl = AclFromExternal(bytes);
  if (!acl) return FailErrno();
  return acl_set_file(posix.c_str(), ACL_TYPE_DEFAULT, acl.get()) == 0 || FailErrno();
}

// The source's bits, without a setuid/setgid that would belong to another
// user or group on the target than on the source.
mode_t ModeForCurrentOwner(const Descriptor& d, const struct stat& target) {
  mode_t mode = d.mode & 07777;
  if (target.st_uid != d.uid) mode &= ~static_cast<mode_t>(S_ISUID);
  if (!S_ISDIR(target.st_mode) && target.st_gid != d.gid) mode &= ~static_cast<mode_t>(S_ISGID);
  return mode;
}

bool ApplyDacl(const std::string& posix, const Descriptor& d) {
  struct stat st;
  if (stat(posix.c_str(), &st) != 0) return FailErrno();
  if (!ApplyAccessAcl(posix, d.access)) return false;
  // After the ACL: with an extended ACL the group bits are its mask, which
  // the source's bits carry as well.
  if (chmod(posix.c_str(), ModeForCurrentOwner(d, st)) != 0) return FailErrno();
  if (S_ISDIR(st.st_mode)) return ApplyDefaultAcl(posix, d.deflt);
  return true;
}

bool ApplyOwner(const std::string& posix, const Descriptor& d) {
  struct stat before;
  if (stat(posix.c_str(), &before) != 0) return FailErrno();
  if ((before.st_uid != d.uid || before.st_gid != d.gid) && chown(posix.c_str(), d.uid, d.gid) != 0)
    return FailErrno();
  struct stat after;
  if (stat(posix.c_str(), &after) != 0) return FailErrno();
  // The change of owner cleared setuid/setgid; the source's come back now
  // that the target belongs to the same user and group.
  const mode_t wanted = (before.st_mode & 07777 & ~kSetIdBits) | (d.mode & kSetIdBits);
  if ((after.st_mode & 07777) == wanted) return true;
  return chmod(posix.c_str(), wanted) == 0 || FailErrno();
}

}  // namespace

namespace {

bool GetSecurityOf(const std::string& posix, uint32_t info, uint8_t* buffer, uint32_t length, uint32_t& lengthNeeded) {
  std::vector<uint8_t> block;
  if (!BuildDescriptor(posix, info, block)) return false;
  lengthNeeded = static_cast<uint32_t>(block.size());
  if (!buffer || length < block.size()) return Fail(kErrorInsufficientBuffer);
  std::memcpy(buffer, block.data(), block.size());
  return true;
}

bool SetSecurityOf(const std::string& posix, uint32_t info, const Descriptor& d) {
  if ((info & kDaclSecurityInformation) && !ApplyDacl(posix, d)) return false;
  if ((info & kOwnerSecurityInformation) && !ApplyOwner(posix, d)) return false;
  return true;
}

// The open object itself, as the system names it for path-based calls.
std::string DescriptorPath(const Handle& object) { return "/proc/self/fd/" + std::to_string(object.fd()); }

}  // namespace

bool GetFileSecurity(std::string_view path, uint32_t info, uint8_t* buffer, uint32_t length,
                     uint32_t& lengthNeeded) {
  if (!CheckParts(info)) return false;
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  return GetSecurityOf(*posix, info, buffer, length, lengthNeeded);
}

bool GetFileSecurity(const Handle& object, uint32_t info, uint8_t* buffer, uint32_t length, uint32_t& lengthNeeded) {
  if (!CheckParts(info)) return false;
  if (!object.IsOpen()) return Fail(EBADF);
  return GetSecurityOf(DescriptorPath(object), info, buffer, length, lengthNeeded);
}

bool SetFileSecurity(std::string_view path, uint32_t info, const uint8_t* descriptor, uint32_t length) {
  if (!CheckParts(info)) return false;
  std::optional<Descriptor> d = ParseDescriptor(descriptor, length);
  if (!d || (info & ~d->parts)) return Fail(EINVAL);
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  return SetSecurityOf(*posix, info, *d);
}

bool SetFileSecurity(const Handle& object, uint32_t info, const uint8_t* descriptor, uint32_t length) {
  if (!CheckParts(info)) return false;
  std::optional<Descriptor> d = ParseDescriptor(descriptor, length);
  if (!d || (info & ~d->parts)) return Fail(EINVAL);
  if (!object.IsOpen()) return Fail(EBADF);
  return SetSecurityOf(DescriptorPath(object), info, *d);
}

}  // namespace kv::platform

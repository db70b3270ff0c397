#pragma once
// Access rights of files and folders, in the shape the copy engine asks for
// them: parts of a security descriptor, read from one path as an opaque block
// and applied to another. On this system the parts are
//   - DACL:  the permission bits (setuid, setgid and sticky included) and the
//            POSIX access ACL, plus the default ACL of a folder;
//   - owner: the owning user and group;
//   - SACL:  nothing corresponds to it; every request fails with EOPNOTSUPP
//            ("Operation not supported").
// The calls follow the two-step pattern their callers use: ask with a buffer
// too small (length 0) to learn the length needed, then read. Paths are
// Windows paths; failures return false with the reason in GetLastError().
#include <cerrno>
#include <cstdint>
#include <string_view>

#include "platform/handle.h"

namespace kv::platform {

enum SecurityInformation : uint32_t {
  kOwnerSecurityInformation = 0x1,
  kDaclSecurityInformation = 0x4,
  kSaclSecurityInformation = 0x8,
};

// The last error of a GetFileSecurity whose buffer was too small; the length
// needed is returned all the same (the extended-attribute calls use the same
// code for the same case).
inline constexpr int kErrorInsufficientBuffer = ERANGE;

// Fills buffer with the parts named by info (any of owner and DACL) of the
// file or folder at path; a link is followed. lengthNeeded is set whenever the
// parts could be read. A SACL request fails with EOPNOTSUPP, an unknown flag
// with EINVAL.
bool GetFileSecurity(std::string_view path, uint32_t info, uint8_t* buffer, uint32_t length,
                     uint32_t& lengthNeeded);

// Applies the parts named by info from a block that GetFileSecurity produced.
// A block that is not one of ours, or lacks a part that info names, fails
// with EINVAL.
//   DACL: the ACL, then the permission bits. The setuid bit is applied only
//   while the target already has the source's owner, the setgid bit of a file
//   only while it has the source's group, so that a copy never carries them
//   for another user in between (the owner part adds them afterwards). A
//   folder gets the source's default ACL, or loses its own when the source
//   had none. On a file system without ACLs a plain ACL still applies (as
//   bits); an extended one fails with EOPNOTSUPP.
//   Owner: user and group; changing them clears setuid/setgid, so the
//   target's mode is set again afterwards, with the source's setuid/setgid.
bool SetFileSecurity(std::string_view path, uint32_t info, const uint8_t* descriptor, uint32_t length);

// The same for an open file or folder: exactly the object that was opened,
// whatever its name leads to now.
bool GetFileSecurity(const Handle& object, uint32_t info, uint8_t* buffer, uint32_t length, uint32_t& lengthNeeded);
bool SetFileSecurity(const Handle& object, uint32_t info, const uint8_t* descriptor, uint32_t length);

}  // namespace kv::platform

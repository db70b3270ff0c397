#pragma once
// Gives a copied file or a created folder the access rights of its source,
// one part of the security descriptor at a time (see platform/security.h for
// what the parts are on this system). The single routines throw on failure;
// the combined ones never fail: each part stands on its own, so a part that
// cannot be copied (the SACL never can, the owner needs privileges) leaves the
// target's part as it was created and the next part is still copied.
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace kv {

// A part could not be copied. The message is the system's text for the
// error; code is the platform's last error.
class ERightsCopy : public std::runtime_error {
 public:
  ERightsCopy(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

void CopyDaclRights(std::string_view source, std::string_view target);
void CopyOwnerRights(std::string_view source, std::string_view target);
void CopySaclRights(std::string_view source, std::string_view target);

// Folders: DACL, owner, SACL.
void CopyNTFSRights(std::string_view source, std::string_view target) noexcept;
void CopyNTFSRights(const platform::Handle& source, const platform::Handle& target) noexcept;
// Files (for the file copy): DACL, SACL, owner. The owner comes last so that a
// setuid/setgid bit is only ever set on a target that belongs to the source's
// owner.
void CopyFileNTFSRights(std::string_view source, std::string_view target) noexcept;
void CopyFileNTFSRights(const platform::Handle& source, const platform::Handle& target) noexcept;
// A file written to replace another takes over what the other had: its
// permission bits and ACL, then its owner and group (as far as this user may
// give a file away).
void TakeOverRights(const platform::Handle& replaced, const platform::Handle& replacement) noexcept;

}  // namespace kv

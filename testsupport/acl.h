#pragma once
// Access rights as the system's own tools see them: the oracle for tests of
// rights copies (getfacl from the acl package).
#include <sys/types.h>

#include <ostream>
#include <string>

namespace kv::test {

// The ACL entries as getfacl prints them (numeric ids), without the header
// naming the file, so that two files' outputs compare.
std::string AclOf(const std::string& posix);

struct FileRights {
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0;  // permission bits with setuid, setgid and sticky
  bool operator==(const FileRights&) const = default;
};
std::ostream& operator<<(std::ostream& os, const FileRights& r);
// Fails the test when the path cannot be examined.
FileRights RightsOf(const std::string& posix);

}  // namespace kv::test

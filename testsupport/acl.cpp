#include "testsupport/acl.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "testsupport/commands.h"

namespace kv::test {

std::string AclOf(const std::string& posix) {
  return RunCommand("getfacl --omit-header --absolute-names --numeric '" + posix + "' 2>&1");
}

std::ostream& operator<<(std::ostream& os, const FileRights& r) {
  return os << r.uid << ":" << r.gid << " " << std::oct << r.mode << std::dec;
}

FileRights RightsOf(const std::string& posix) {
  struct stat st {};
  EXPECT_EQ(stat(posix.c_str(), &st), 0) << posix;
  return {st.st_uid, st.st_gid, static_cast<mode_t>(st.st_mode & 07777)};
}

}  // namespace kv::test

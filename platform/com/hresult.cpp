#include "platform/com/hresult.h"

#include <cerrno>

namespace kv::platform {

namespace {

constexpr uint32_t kSystemFacility = 0x80070000;
// Customer bit: errno values without a counterpart must not pass for a
// system error code of the same number (EIO is 5, which is "access denied").
constexpr uint32_t kErrnoFacility = 0xA0070000;

struct ErrnoCode {
  int err;
  uint32_t code;
};

constexpr ErrnoCode kSystemCodes[] = {
    {ENOENT, 2},         // file not found
    {ENOTDIR, 3},        // path not found
    {EMFILE, 4},         // too many open files
    {EACCES, 5},         // access denied
    {EPERM, 5},          //
    {EISDIR, 5},         //
    {ENOMEM, 14},        // out of memory
    {EROFS, 19},         // write protected
    {EIO, 31},           // device failure
    {EXDEV, 17},         // not the same device
    {EEXIST, 80},        // file exists
    {EINVAL, 87},        // invalid parameter
    {ENOSPC, 112},       // disk full
    {ENOTEMPTY, 145},    // folder not empty
    {EBUSY, 170},        // busy
    {ENAMETOOLONG, 206}, // name too long
};

}  // namespace

HRESULT HResultFromErrno(int err) {
  if (err == 0) return E_FAIL;
  for (const ErrnoCode& entry : kSystemCodes) {
    if (entry.err == err) return MakeHResult(kSystemFacility | entry.code);
  }
  return MakeHResult(kErrnoFacility | (static_cast<uint32_t>(err) & 0xFFFF));
}

}  // namespace kv::platform

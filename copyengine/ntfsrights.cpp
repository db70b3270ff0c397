#include "copyengine/ntfsrights.h"

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <vector>

#include "platform/errors.h"
#include "platform/security.h"

namespace kv {
namespace {

[[noreturn]] void RaiseLastError() {
  const int err = platform::GetLastError();
  throw ERightsCopy(err, platform::SysErrorMessage(err));
}

void CopyPart(std::string_view source, std::string_view target, uint32_t part) {
  uint32_t needed = 0;
  if (!platform::GetFileSecurity(source, part, nullptr, 0, needed) &&
      platform::GetLastError() != platform::kErrorInsufficientBuffer)
    RaiseLastError();
  std::vector<uint8_t> descriptor(needed, 0);
  if (!platform::GetFileSecurity(source, part, descriptor.data(), needed, needed) ||
      !platform::SetFileSecurity(target, part, descriptor.data(), needed))
    RaiseLastError();
}

using PartCopy = void (*)(std::string_view, std::string_view);

// Failures of a part are deliberately dropped: the target keeps what it got
// on creation (see the header).
void CopyPartsGuarded(std::string_view source, std::string_view target,
                      std::initializer_list<PartCopy> parts) noexcept {
  for (PartCopy copy : parts) {
    try {
      copy(source, target);
    } catch (...) {
    }
  }
}

}  // namespace

void CopyDaclRights(std::string_view source, std::string_view target) {
  CopyPart(source, target, platform::kDaclSecurityInformation);
}

void CopyOwnerRights(std::string_view source, std::string_view target) {
  CopyPart(source, target, platform::kOwnerSecurityInformation);
}

void CopySaclRights(std::string_view source, std::string_view target) {
  CopyPart(source, target, platform::kSaclSecurityInformation);
}

void CopyNTFSRights(std::string_view source, std::string_view target) noexcept {
  CopyPartsGuarded(source, target, {CopyDaclRights, CopyOwnerRights, CopySaclRights});
}

void CopyFileNTFSRights(std::string_view source, std::string_view target) noexcept {
  CopyPartsGuarded(source, target, {CopyDaclRights, CopySaclRights, CopyOwnerRights});
}

}  // namespace kv

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

// Source and target are both paths or both open objects.
template <class Object>
void CopyPart(const Object& source, const Object& target, uint32_t part) {
  uint32_t needed = 0;
  if (!platform::GetFileSecurity(source, part, nullptr, 0, needed) &&
      platform::GetLastError() != platform::kErrorInsufficientBuffer)
    RaiseLastError();
  std::vector<uint8_t> descriptor(needed, 0);
  if (!platform::GetFileSecurity(source, part, descriptor.data(), needed, needed) ||
      !platform::SetFileSecurity(target, part, descriptor.data(), needed))
    RaiseLastError();
}

// Failures of a part are deliberately dropped: the target keeps what it got
// on creation (see the header).
template <class Object>
void CopyPartsGuarded(const Object& source, const Object& target, std::initializer_list<uint32_t> parts) noexcept {
  for (uint32_t part : parts) {
    try {
      CopyPart(source, target, part);
    } catch (...) {
    }
  }
}

constexpr uint32_t kDacl = platform::kDaclSecurityInformation;
constexpr uint32_t kOwner = platform::kOwnerSecurityInformation;
constexpr uint32_t kSacl = platform::kSaclSecurityInformation;

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
  CopyPartsGuarded(source, target, {kDacl, kOwner, kSacl});
}

void CopyNTFSRights(const platform::Handle& source, const platform::Handle& target) noexcept {
  CopyPartsGuarded(source, target, {kDacl, kOwner, kSacl});
}

void CopyFileNTFSRights(std::string_view source, std::string_view target) noexcept {
  CopyPartsGuarded(source, target, {kDacl, kSacl, kOwner});
}

void CopyFileNTFSRights(const platform::Handle& source, const platform::Handle& target) noexcept {
  CopyPartsGuarded(source, target, {kDacl, kSacl, kOwner});
}

void TakeOverRights(const platform::Handle& replaced, const platform::Handle& replacement) noexcept {
  CopyPartsGuarded(replaced, replacement, {kDacl, kOwner});
}

}  // namespace kv

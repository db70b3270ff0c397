#pragma once
// 128-bit identifiers of classes, interfaces and type libraries, and their
// registry text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{};

// Upper-case hex digits in braces, as the registry keys are written.
std::string GuidToString(REFGUID guid);
// Exactly the braced form, hex digits in either case; nullopt for anything
// else (missing braces, wrong group lengths, stray characters).
std::optional<GUID> GuidFromString(std::string_view text);

}  // namespace kv::platform

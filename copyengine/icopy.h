#pragma once
// ICopy, the copy engine's only entry point, and the identifiers of its type
// library "Kestro". Client (the scheduler) and server (KestroCom.dll) both
// compile this header and meet at the vtable: IUnknown's 3 slots,
// IDispatch's 4, then the members below in declaration order. That order is
// the interface's and must never change; it is not the order of the
// dispatch identifiers (see kCopyMembers).
#include <iterator>
#include <string_view>

#include "platform/com/unknown.h"

namespace kv {

// {2B1239D0-0D61-4A51-880B-459E84556FE0}
inline constexpr platform::GUID LIBID_Kestro{
    0x2B1239D0, 0x0D61, 0x4A51, {0x88, 0x0B, 0x45, 0x9E, 0x84, 0x55, 0x6F, 0xE0}};
// {D66A77FC-5A11-46DE-B034-10E93678738E}
inline constexpr platform::IID IID_ICopy{
    0xD66A77FC, 0x5A11, 0x46DE, {0xB0, 0x34, 0x10, 0xE9, 0x36, 0x78, 0x73, 0x8E}};
// {DB1EA368-216A-412D-990D-A712A63D6DAE}
inline constexpr platform::CLSID CLSID_CopyObj{
    0xDB1EA368, 0x216A, 0x412D, {0x99, 0x0D, 0xA7, 0x12, 0xA6, 0x3D, 0x6D, 0xAE}};

inline constexpr const char* kCopyProgId = "Kestro.CopyObj";
inline constexpr const char* kKestroLibName = "Kestro";
inline constexpr const char* kKestroLibVersion = "4.0";
inline constexpr platform::LCID kKestroLibLocale = 0x409;
inline constexpr const char* kKestroLibHelp = "Kestro Bibliothek";
inline constexpr const char* kCopyInterfaceHelp = "Dispatch-Schnittstelle für Copy-Objekt";
inline constexpr const char* kCopyClassHelp = "Copy Objekt";

// Every property is write-only. Texts are zero-terminated UTF-8 strings,
// booleans VARIANT_BOOL (true when not zero), DelSchredder a signed 32-bit
// number.
class ICopy : public platform::IDispatch {
 public:
  virtual platform::HRESULT Set_SrcFile(const char* value) = 0;
  virtual platform::HRESULT CopyFiles() = 0;
  virtual platform::HRESULT Set_OSFile(const char* value) = 0;
  virtual platform::HRESULT Set_Manuell(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_Binary(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_Hidden(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_Minimized(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_MainFile(const char* value) = 0;
  virtual platform::HRESULT Set_MailAdress(const char* value) = 0;
  virtual platform::HRESULT Set_NTFSAccess(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_SecurityRename(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_ExtLog(const char* value) = 0;
  virtual platform::HRESULT Set_ExtAppend(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_ExtErr(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_ExtDone(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_ExtTrenn(const char* value) = 0;
  virtual platform::HRESULT Set_DelSchredder(int32_t value) = 0;
  virtual platform::HRESULT Set_PtkFile(const char* value) = 0;
  virtual platform::HRESULT Set_ArchivSchredder(platform::VARIANT_BOOL value) = 0;
  virtual platform::HRESULT Set_AnalyseTime(const char* value) = 0;
};

struct CopyMember {
  const char* name;
  platform::DISPID dispid;
};

// The members with their dispatch identifiers, in slot order.
inline constexpr CopyMember kCopyMembers[] = {
    {"SrcFile", 1},     {"CopyFiles", 2},       {"OSFile", 3},           {"Manuell", 5},
    {"Binary", 6},      {"Hidden", 9},          {"Minimized", 10},       {"MainFile", 11},
    {"MailAdress", 12}, {"NTFSAccess", 13},     {"SecurityRename", 14},  {"ExtLog", 15},
    {"ExtAppend", 16},  {"ExtErr", 17},         {"ExtDone", 18},         {"ExtTrenn", 19},
    {"DelSchredder", 20}, {"PtkFile", 4},       {"ArchivSchredder", 7},  {"AnalyseTime", 8},
};
inline constexpr int kCopyFirstSlot = 7;  // after IUnknown and IDispatch
static_assert(std::size(kCopyMembers) == 20);

// Member names compare case-insensitively (ASCII), as dispatch names do.
inline platform::DISPID CopyDispIdOf(std::string_view name) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (const CopyMember& member : kCopyMembers) {
    std::string_view known = member.name;
    if (known.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < known.size() && same; ++i) same = lower(known[i]) == lower(name[i]);
    if (same) return member.dispid;
  }
  return platform::DISPID_UNKNOWN;
}

}  // namespace kv

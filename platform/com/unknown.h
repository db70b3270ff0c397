#pragma once
// The base interfaces of components. An interface is an abstract class with
// no data and no virtual destructor whose methods are plain virtual member
// functions; with the Itanium C++ ABI its vtable holds the methods in the
// order of declaration, base interface first: IUnknown's three, IDispatch's
// four, then the derived interface's own. Client and server rely on exactly
// that layout, so a member is never inserted, moved or overloaded.
#include <cstdint>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace kv::platform {

using ULONG = uint32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using BOOL = int32_t;
using WORD = uint16_t;
using LCID = uint32_t;
using DISPID = int32_t;
// Texts cross interfaces as UTF-8, like every other text of the system.
using LPOLESTR = char*;

using VARIANT_BOOL = int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;
inline constexpr DISPID DISPID_UNKNOWN = -1;

// Late binding by DISPPARAMS and VARIANTs is not used by any caller of the
// system; IDispatch keeps its four slots so that dual interfaces keep their
// layout, and these stay incomplete types.
struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;
class ITypeInfo;

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;
};

// The entry points every in-process server exports (C linkage, undecorated).
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

}  // namespace kv::platform

#include "copyengine/copyobj.h"

#include <new>

#include "copyengine/copyobj_factory.h"

namespace kv {

using namespace platform;

namespace {

std::atomic<int32_t> g_liveObjects{0};

bool IsTrue(VARIANT_BOOL value) { return value != 0; }
// A null text is taken as empty rather than crashing the caller's process;
// no exception may cross the interface.
HRESULT Store(std::string& field, const char* value) noexcept {
  try {
    field = value ? value : "";
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

HRESULT CreateCopyObj(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TCopyObj* obj = new (std::nothrow) TCopyObj;
  if (!obj) return E_OUTOFMEMORY;
  obj->AddRef();
  HRESULT hr = obj->QueryInterface(iid, object);
  obj->Release();
  return hr;
}

int32_t LiveCopyObjCount() { return g_liveObjects; }

TCopyObj::TCopyObj() { ++g_liveObjects; }

TCopyObj::~TCopyObj() { --g_liveObjects; }

HRESULT TCopyObj::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ICopy)) return E_NOINTERFACE;
  *object = static_cast<ICopy*>(this);
  AddRef();
  return S_OK;
}

ULONG TCopyObj::AddRef() { return ++refs_; }

ULONG TCopyObj::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT TCopyObj::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT TCopyObj::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT TCopyObj::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids || !names[0]) return E_POINTER;
  ids[0] = CopyDispIdOf(names[0]);
  // Named arguments: no member of ICopy has any.
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return ids[0] != DISPID_UNKNOWN && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT TCopyObj::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) { return E_NOTIMPL; }

HRESULT TCopyObj::Set_SrcFile(const char* value) {
  return Store(srcFile_, value);
}

HRESULT TCopyObj::CopyFiles() { return E_NOTIMPL; }

HRESULT TCopyObj::Set_OSFile(const char* value) {
  return Store(osFile_, value);
}

HRESULT TCopyObj::Set_Manuell(VARIANT_BOOL value) {
  manuell_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_Binary(VARIANT_BOOL value) {
  binary_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_Hidden(VARIANT_BOOL value) {
  hidden_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_Minimized(VARIANT_BOOL value) {
  minimized_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_MainFile(const char* value) {
  return Store(mainFile_, value);
}

HRESULT TCopyObj::Set_MailAdress(const char* value) {
  return Store(mailAdress_, value);
}

HRESULT TCopyObj::Set_NTFSAccess(VARIANT_BOOL value) {
  ntfsAccess_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_SecurityRename(VARIANT_BOOL value) {
  securityRename_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_ExtLog(const char* value) {
  extLogSet_ = true;
  return Store(extLogPath_, value);
}

HRESULT TCopyObj::Set_ExtAppend(VARIANT_BOOL value) {
  extAppend_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_ExtErr(VARIANT_BOOL value) {
  extErr_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_ExtDone(VARIANT_BOOL value) {
  extDone_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_ExtTrenn(const char* value) {
  return Store(extTrenn_, value);
}

HRESULT TCopyObj::Set_DelSchredder(int32_t value) {
  // Unknown numbers keep the style chosen before.
  if (value >= 0 && value <= 4) delSchredder_ = static_cast<DelSchredderCode>(value);
  return S_OK;
}

HRESULT TCopyObj::Set_PtkFile(const char* value) {
  return Store(ptkFile_, value);
}

HRESULT TCopyObj::Set_ArchivSchredder(VARIANT_BOOL value) {
  archivSchredder_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_AnalyseTime(const char* value) {
  return Store(analyseTime_, value ? value : "00:00:00");
}

}  // namespace kv

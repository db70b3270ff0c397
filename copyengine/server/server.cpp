// The entry points of KestroCom.dll and the class factory of CopyObj.
#include <dlfcn.h>
#include <stdlib.h>

#include <atomic>
#include <memory>
#include <string>

#include "copyengine/copyobj_factory.h"
#include "copyengine/icopy.h"
#include "copyengine/server/registration.h"
#include "platform/com/errorinfo.h"

using namespace kv::platform;

namespace {

std::atomic<int32_t> g_serverLocks{0};

// Lives as long as the library: its references are not counted.
class CopyObjFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown || iid == IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return SafeCall(kv::kCopyProgId, IID_IClassFactory, [&] { return kv::CreateCopyObj(iid, object); });
  }

  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      ++g_serverLocks;
      return S_OK;
    }
    // An unbalanced unlock must not hide a lock taken elsewhere.
    int32_t locks = g_serverLocks.load();
    while (locks > 0 && !g_serverLocks.compare_exchange_weak(locks, locks - 1)) {
    }
    return S_OK;
  }
};

CopyObjFactory g_factory;

// The library's own file: as the loader names it when that is absolute,
// else made absolute (the registration must not depend on a current folder).
std::string ServerPath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ServerPath), &info) || !info.dli_fname || !*info.dli_fname) return {};
  if (info.dli_fname[0] == '/') return info.dli_fname;
  std::unique_ptr<char, decltype(&free)> resolved(realpath(info.dli_fname, nullptr), &free);
  return resolved ? resolved.get() : std::string();
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(clsid == kv::CLSID_CopyObj)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

extern "C" HRESULT DllCanUnloadNow() {
  return kv::LiveCopyObjCount() == 0 && g_serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT DllRegisterServer() {
  try {
    std::string path = ServerPath();
    return path.empty() ? E_FAIL : kv::RegisterCopyServer(path);
  } catch (...) {
    return E_FAIL;
  }
}

extern "C" HRESULT DllUnregisterServer() {
  try {
    return kv::UnregisterCopyServer();
  } catch (...) {
    return E_FAIL;
  }
}

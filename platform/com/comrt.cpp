#include "platform/com/comrt.h"

#include <dlfcn.h>

#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/com/errorinfo.h"
#include "platform/registry.h"

namespace kv::platform {

namespace {

struct ThreadState {
  int initCount = 0;
  DWORD model = COINIT_APARTMENTTHREADED;
};

thread_local ThreadState t_state;

constexpr const char* kRuntimeSource = "CoCreateInstance";

HRESULT Fail(HRESULT hr, std::string description) {
  SetErrorInfo({IID_IUnknown, kRuntimeSource, std::move(description)});
  return hr;
}

// Server libraries by the path they were registered under. dlopen itself
// already hands out one handle per file; the table spares the loader's
// search and keeps the rule "never unloaded" in one place.
class ServerLibraries {
 public:
  // nullptr with the loader's message in error.
  void* Load(const std::string& path, std::string& error) {
    if (void* known = Find(path)) return known;
    // Loading runs the library's initialisers, which may use this runtime:
    // no lock is held meanwhile. A second dlopen of the same file in a race
    // just returns the same handle.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* message = dlerror();
      error = message ? message : path;
      return nullptr;
    }
    std::lock_guard lock(mutex_);
    return handles_.emplace(path, handle).first->second;
  }

 private:
  void* Find(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(path);
    return it == handles_.end() ? nullptr : it->second;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, void*> handles_;
};

ServerLibraries& Libraries() {
  static ServerLibraries* libraries = new ServerLibraries;  // outlives every static destructor
  return *libraries;
}

std::optional<std::string> RegisteredServerPath(REFCLSID clsid) {
  std::optional<std::string> path = Registry(Hive::ClassesRoot).ReadString(InprocServerKey(clsid), "");
  if (!path || path->empty()) return std::nullopt;
  return path;
}

HRESULT LoadClassObject(REFCLSID clsid, DWORD context, REFIID iid, void** object) {
  // Only in-process servers exist on this platform.
  if (!(context & CLSCTX_INPROC_SERVER)) {
    return Fail(REGDB_E_CLASSNOTREG, "Klasse nicht registriert: " + GuidToString(clsid));
  }
  std::optional<std::string> path = RegisteredServerPath(clsid);
  if (!path) return Fail(REGDB_E_CLASSNOTREG, "Klasse nicht registriert: " + GuidToString(clsid));
  // A bare name would make the loader search its library path and could
  // load some other file; registrations always write full paths.
  if (path->front() != '/') {
    return Fail(CO_E_DLLNOTFOUND, "Kein vollständiger Pfad der Komponente: \"" + *path + "\"");
  }
  std::string error;
  void* library = Libraries().Load(*path, error);
  if (!library) return Fail(CO_E_DLLNOTFOUND, "Die Komponente kann nicht geladen werden: " + error);
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(library, "DllGetClassObject"));
  if (!getClassObject) {
    return Fail(CO_E_ERRORINDLL, "DllGetClassObject fehlt in \"" + *path + "\"");
  }
  return getClassObject(clsid, iid, object);
}

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD model) {
  if (t_state.initCount > 0) {
    if (t_state.model != model) return RPC_E_CHANGED_MODE;
    ++t_state.initCount;
    return S_FALSE;
  }
  t_state.model = model;
  t_state.initCount = 1;
  return S_OK;
}

void CoUninitialize() {
  if (t_state.initCount > 0) --t_state.initCount;
}

bool CoIsInitialized() { return t_state.initCount > 0; }

std::string InprocServerKey(REFCLSID clsid) { return "CLSID\\" + GuidToString(clsid) + "\\InprocServer32"; }

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!CoIsInitialized()) return Fail(CO_E_NOTINITIALIZED, "CoInitialize wurde nicht aufgerufen");
  return LoadClassObject(clsid, context, iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (!factory) return Fail(E_UNEXPECTED, "Die Komponente lieferte keine Klassenfabrik");
  hr = factory->CreateInstance(outer, iid, object);
  factory->Release();
  return hr;
}

}  // namespace kv::platform

#include "platform/com/tests/fakeserver/fakeserver.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/com/classfactory.h"
#include "platform/com/comrt.h"
#include "platform/com/errorinfo.h"
#include "platform/registry.h"

using namespace kv::platform;
using kv::test::CLSID_FakeObj;
using kv::test::IFake;
using kv::test::IID_IFake;

namespace {

std::atomic<int> g_objects{0};
std::atomic<int32_t> g_locks{0};

class FakeObj final : public IFake {
 public:
  FakeObj() { ++g_objects; }
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown || iid == IID_IFake)) return E_NOINTERFACE;
    *object = static_cast<IFake*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      delete this;
      --g_objects;
    }
    return left;
  }
  HRESULT SetValue(int32_t value) override {
    value_ = value;
    return S_OK;
  }
  HRESULT GetValue(int32_t* value) override {
    if (!value) return E_POINTER;
    *value = value_;
    return S_OK;
  }
  HRESULT FailWith(const char* message) override {
    return SafeCall(kv::test::kFakeSource, IID_IFake, [&] { throw ComError(E_ABORT, message); });
  }

 private:
  std::atomic<ULONG> refs_{0};
  int32_t value_ = 0;
};

TStaticClassFactory g_factory(CreateComObject<FakeObj>, &g_locks);

std::string OwnPath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&OwnPath), &info) || !info.dli_fname) return {};
  return info.dli_fname;
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return g_factory.GetClassObject(CLSID_FakeObj, clsid, iid, object);
}

extern "C" HRESULT DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT DllRegisterServer() {
  if (std::getenv(kv::test::kFakeFailRegistration)) return E_FAIL;
  return Registry(Hive::ClassesRoot).WriteString(InprocServerKey(CLSID_FakeObj), "", OwnPath()) ? S_OK : E_FAIL;
}

extern "C" HRESULT DllUnregisterServer() {
  Registry(Hive::ClassesRoot).DeleteKey("CLSID\\" + GuidToString(CLSID_FakeObj));
  return S_OK;
}

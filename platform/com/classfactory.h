#pragma once
// What every in-process server of one class writes alike: the class factory,
// which lives as long as its library (its references are not counted) and
// makes the objects, and the body of DllGetClassObject.
#include <atomic>
#include <cstdint>
#include <new>

#include "platform/com/unknown.h"

namespace kv::platform {

// Makes a new T (whose count of references starts at 0) and hands out its
// interface iid with one reference; nullptr and the failure code otherwise.
template <class T>
HRESULT CreateComObject(REFIID iid, void** object) {
  T* created = new (std::nothrow) T;
  if (created == nullptr) return E_OUTOFMEMORY;
  created->AddRef();
  const HRESULT hr = created->QueryInterface(iid, object);
  created->Release();
  return hr;
}

class TStaticClassFactory final : public IClassFactory {
 public:
  // create never throws; locks, when given, counts the LockServer calls that
  // keep the library loaded.
  using CreateFn = HRESULT (*)(REFIID iid, void** object);
  explicit TStaticClassFactory(CreateFn create, std::atomic<int32_t>* locks = nullptr)
      : create_(create), locks_(locks) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown || iid == IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(iid, object);
  }

  HRESULT LockServer(BOOL lock) override {
    if (locks_ == nullptr) return S_OK;
    if (lock) {
      ++*locks_;
      return S_OK;
    }
    // An unbalanced unlock must not hide a lock taken elsewhere.
    int32_t held = locks_->load();
    while (held > 0 && !locks_->compare_exchange_weak(held, held - 1)) {
    }
    return S_OK;
  }

  // DllGetClassObject of the server of the class served.
  HRESULT GetClassObject(REFCLSID served, REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(clsid == served)) return CLASS_E_CLASSNOTAVAILABLE;
    return QueryInterface(iid, object);
  }

 private:
  CreateFn create_;
  std::atomic<int32_t>* locks_;
};

}  // namespace kv::platform

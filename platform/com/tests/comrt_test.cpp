#include "platform/com/comrt.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/com/comptr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/tests/fakeserver/fakeserver.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using test::CLSID_FakeObj;
using test::IFake;
using test::IID_IFake;

const char kClassKey[] = "CLSID\\{4F97EFB2-40BB-4F58-A027-AFA2AAF1A067}\\InprocServer32";

struct ScopedComInit {
  HRESULT hr = CoInitialize(nullptr);
  ~ScopedComInit() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

// A private registry, and a thread that may create objects.
struct ComTest : ::testing::Test {
  test::ScopedRegistry registry;
  ScopedComInit init;
};

void RegisterFakeAt(const std::string& path) {
  ASSERT_TRUE(Registry(Hive::ClassesRoot).WriteString(kClassKey, "", path));
}

HRESULT CreateFake(void** object, DWORD context = CLSCTX_ALL, REFIID iid = IID_IFake, IUnknown* outer = nullptr) {
  return CoCreateInstance(CLSID_FakeObj, outer, context, iid, object);
}

DllCanUnloadNowFn FakeCanUnloadNow() {
  void* library = dlopen(KV_FAKE_SERVER, RTLD_NOW | RTLD_NOLOAD);
  return library ? reinterpret_cast<DllCanUnloadNowFn>(dlsym(library, "DllCanUnloadNow")) : nullptr;
}

TEST(CoInitialize, CountsPerThreadAndKeepsTheModel) {
  ASSERT_FALSE(CoIsInitialized());
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  std::thread([] {
    EXPECT_FALSE(CoIsInitialized());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  }).join();
  CoUninitialize();
  EXPECT_TRUE(CoIsInitialized()) << "two successful calls need two CoUninitialize";
  CoUninitialize();
  EXPECT_FALSE(CoIsInitialized());
  CoUninitialize();  // one too many: harmless
  EXPECT_FALSE(CoIsInitialized());
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "the model is free again";
  CoUninitialize();
}

TEST(CoCreateInstance, RefusesBadArgumentsAndUninitialisedThreads) {
  test::ScopedRegistry registry;
  RegisterFakeAt(KV_FAKE_SERVER);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateFake(&object, CLSCTX_INPROC_SERVER), CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  ScopedComInit init;
  EXPECT_EQ(CreateFake(nullptr, CLSCTX_INPROC_SERVER), E_POINTER);
  EXPECT_EQ(CreateFake(&object, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);
}

TEST_F(ComTest, UnregisteredClassIsReportedAsSuch) {
  ClearErrorInfo();
  void* object = nullptr;
  EXPECT_EQ(CreateFake(&object), REGDB_E_CLASSNOTREG);
  auto info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_NE(info->description.find("{4F97EFB2-40BB-4F58-A027-AFA2AAF1A067}"), std::string::npos);
  // A key without a server path is no registration either.
  ASSERT_TRUE(Registry(Hive::ClassesRoot).CreateKey(kClassKey));
  EXPECT_EQ(CreateFake(&object), REGDB_E_CLASSNOTREG);
}

TEST_F(ComTest, CreatesObjectsOfARegisteredServer) {
  RegisterFakeAt(KV_FAKE_SERVER);
  ComPtr<IFake> a, b;
  ASSERT_EQ(CreateFake(a.Out(), CLSCTX_INPROC_SERVER), S_OK);
  ASSERT_EQ(CreateFake(b.Out()), S_OK);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a.Get(), b.Get()) << "every creation makes a new object";
  a->SetValue(7);
  b->SetValue(9);
  int32_t value = 0;
  a->GetValue(&value);
  EXPECT_EQ(value, 7);

  // The library stays loaded for good, and counts its objects.
  DllCanUnloadNowFn canUnload = FakeCanUnloadNow();
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);
  a.Reset();
  EXPECT_EQ(canUnload(), S_FALSE);
  b.Reset();
  EXPECT_EQ(canUnload(), S_OK);
  EXPECT_NE(dlopen(KV_FAKE_SERVER, RTLD_NOW | RTLD_NOLOAD), nullptr);

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateFake(&object, CLSCTX_ALL, IID{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(canUnload(), S_OK) << "the refused object is gone";
  ASSERT_EQ(CreateFake(a.Out()), S_OK);
  EXPECT_EQ(CreateFake(&object, CLSCTX_ALL, IID_IFake, a.Get()), CLASS_E_NOAGGREGATION);
}

TEST_F(ComTest, ReadsTheRegistrationAfreshOnEveryCall) {
  test::TempTree tree;
  ComPtr<IFake> fake;
  RegisterFakeAt(tree.Posix("gone.dll"));
  EXPECT_EQ(CreateFake(fake.Out()), CO_E_DLLNOTFOUND);
  RegisterFakeAt(KV_FAKE_SERVER);
  EXPECT_EQ(CreateFake(fake.Out()), S_OK);
  RegisterFakeAt(tree.Posix("gone.dll"));
  EXPECT_EQ(CreateFake(fake.Out()), CO_E_DLLNOTFOUND) << "a loaded library does not outvote the registry";
}

TEST_F(ComTest, RefusesBrokenServers) {
  test::TempTree tree;
  tree.Write("notalibrary.dll", "MZ this is no shared object");
  const std::pair<std::string, HRESULT> cases[] = {
      {"libkv_comrt_fakeserver.so", CO_E_DLLNOTFOUND},  // a bare name would be searched on the loader's path
      {tree.Posix("notalibrary.dll"), CO_E_DLLNOTFOUND},
      {tree.Posix(), CO_E_DLLNOTFOUND},
      {KV_COMRT_LIBRARY, CO_E_ERRORINDLL},  // loads, but is no server
  };
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(path);
    RegisterFakeAt(path);
    ClearErrorInfo();
    void* object = nullptr;
    EXPECT_EQ(CreateFake(&object), expected);
    EXPECT_EQ(object, nullptr);
    auto info = GetErrorInfo();
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->description.empty());
  }
}

// The runtime exists once per process: what a server library sets on the
// thread is what the program reads.
TEST_F(ComTest, ServerAndClientShareThePerThreadState) {
  RegisterFakeAt(KV_FAKE_SERVER);
  ComPtr<IFake> fake;
  ASSERT_EQ(CreateFake(fake.Out()), S_OK);
  ClearErrorInfo();
  HRESULT hr = fake->FailWith("Platte voll");
  EXPECT_EQ(hr, E_ABORT);
  try {
    CheckHResult(hr);
    FAIL() << "no exception";
  } catch (const ComError& e) {
    EXPECT_STREQ(e.what(), "Platte voll");
    EXPECT_EQ(e.Source(), test::kFakeSource);
  }
}

TEST(ComRuntime, PlatformCodeComesFromTheRuntimeLibrary) {
  // Registry code and per-thread errors: taken from kv_comrt even by a program
  // that also links the static platform library.
  for (void* fn : {reinterpret_cast<void*>(&GetLastError), reinterpret_cast<void*>(&Registry::Directory)}) {
    Dl_info info{};
    ASSERT_NE(dladdr(fn, &info), 0);
    EXPECT_EQ(std::string(info.dli_fname), KV_COMRT_LIBRARY);
  }
}

}  // namespace
}  // namespace kv::platform

// KestroCom.dll as the scheduler meets it: loaded through the component
// runtime, registered by its own entry points or by regsvr32.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>

#include "copyengine/icopy.h"
#include "platform/com/comptr.h"
#include "platform/com/comrt.h"
#include "platform/registry.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using namespace platform;

const std::string kClsid = "{DB1EA368-216A-412D-990D-A712A63D6DAE}";
const std::string kIid = "{D66A77FC-5A11-46DE-B034-10E93678738E}";
const std::string kLibid = "{2B1239D0-0D61-4A51-880B-459E84556FE0}";

template <class Fn>
Fn Entry(const char* name) {
  void* library = dlopen(KV_KESTROCOM, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(library, nullptr) << dlerror();
  return library ? reinterpret_cast<Fn>(dlsym(library, name)) : nullptr;
}

HRESULT Register() { return Entry<DllRegisterServerFn>("DllRegisterServer")(); }
HRESULT Unregister() { return Entry<DllUnregisterServerFn>("DllUnregisterServer")(); }
HRESULT CanUnloadNow() { return Entry<DllCanUnloadNowFn>("DllCanUnloadNow")(); }

// Every key and value below HKEY_CLASSES_ROOT, one line each.
void DumpKey(const Registry& registry, const std::string& key, std::set<std::string>& out) {
  for (const std::string& name : registry.GetValueNames(key)) {
    out.insert(key + " [" + name + "] = " + registry.ReadString(key, name).value_or("<not a string>"));
  }
  for (const std::string& sub : registry.GetKeyNames(key)) {
    std::string path = key.empty() ? sub : key + "\\" + sub;
    out.insert(path);
    DumpKey(registry, path, out);
  }
}

std::set<std::string> DumpClassesRoot() {
  std::set<std::string> out;
  DumpKey(Registry(Hive::ClassesRoot), "", out);
  return out;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

class ScopedComInit {
 public:
  ScopedComInit() { CoInitialize(nullptr); }
  ~ScopedComInit() { CoUninitialize(); }
};

HRESULT CreateCopy(void** object) {
  return CoCreateInstance(CLSID_CopyObj, nullptr, CLSCTX_INPROC_SERVER, IID_ICopy, object);
}

// A private registry with the server registered, and a thread that may
// create objects.
struct RegisteredServer : ::testing::Test {
  test::ScopedRegistry registry;
  HRESULT registered = Register();
  ScopedComInit init;
  void SetUp() override { ASSERT_EQ(registered, S_OK); }
};

TEST(KestroComRegistration, WritesExactlyTheServersKeys) {
  test::ScopedRegistry registry;
  ASSERT_EQ(Register(), S_OK);
  const std::string path = KV_KESTROCOM;
  const std::string cls = "CLSID\\" + kClsid;
  const std::string lib = "TypeLib\\" + kLibid;
  const std::string itf = "Interface\\" + kIid;
  const std::set<std::string> expected = {
      "CLSID", cls, cls + " [] = Copy Objekt",
      cls + "\\InprocServer32", cls + "\\InprocServer32 [] = " + path,
      cls + "\\InprocServer32 [ThreadingModel] = Apartment",
      cls + "\\ProgID", cls + "\\ProgID [] = Kestro.CopyObj",
      cls + "\\Version", cls + "\\Version [] = 4.0",
      cls + "\\TypeLib", cls + "\\TypeLib [] = " + kLibid,
      "Kestro.CopyObj", "Kestro.CopyObj [] = Copy Objekt",
      "Kestro.CopyObj\\Clsid", "Kestro.CopyObj\\Clsid [] = " + kClsid,
      "TypeLib", lib, lib + "\\4.0", lib + "\\4.0 [] = Kestro Bibliothek",
      lib + "\\4.0\\FLAGS", lib + "\\4.0\\FLAGS [] = 0",
      lib + "\\4.0\\HELPDIR", lib + "\\4.0\\HELPDIR [] = " + FolderOf(path),
      lib + "\\4.0\\409", lib + "\\4.0\\409\\win32", lib + "\\4.0\\409\\win32 [] = " + path,
      "Interface", itf, itf + " [] = ICopy",
      itf + "\\TypeLib", itf + "\\TypeLib [] = " + kLibid, itf + "\\TypeLib [Version] = 4.0",
  };
  EXPECT_EQ(DumpClassesRoot(), expected);
  ASSERT_EQ(Register(), S_OK) << "registering again";
  EXPECT_EQ(DumpClassesRoot(), expected);
}

TEST(KestroComRegistration, UnregisterRemovesAllAndOnlyWhatRegisterWrote) {
  test::ScopedRegistry registry;
  EXPECT_EQ(Unregister(), S_OK) << "nothing registered yet";
  // Neighbours: another class, another version of the type library.
  Registry root(Hive::ClassesRoot);
  ASSERT_TRUE(root.WriteString("CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32", "", "/x.dll"));
  ASSERT_TRUE(root.WriteString("TypeLib\\" + kLibid + "\\3.0", "", "Kestro Bibliothek"));
  ASSERT_TRUE(root.WriteString("Interface\\{00000000-1111-2222-3333-555555555555}", "", "IOther"));
  const std::set<std::string> before = DumpClassesRoot();
  ASSERT_EQ(Register(), S_OK);
  ASSERT_EQ(Unregister(), S_OK);
  EXPECT_EQ(DumpClassesRoot(), before);
  EXPECT_EQ(Unregister(), S_OK) << "twice";
}

// The scheduler's path: creation fails, regsvr32 runs, the next creation
// reads the registry again and succeeds.
TEST(KestroComRegistration, Regsvr32MakesTheClassCreatable) {
  test::ScopedRegistry registry;
  ScopedComInit init;
  ComPtr<ICopy> copy;
  EXPECT_EQ(CreateCopy(copy.Out()), REGDB_E_CLASSNOTREG);
  int status = -1;
  const auto regsvr32 = [&](const char* option) {
    return test::RunCommand(std::string("'") + KV_REGSVR32 + "' " + option + " '" + KV_KESTROCOM + "' 2>&1", &status);
  };
  EXPECT_EQ(regsvr32("/s"), "");
  ASSERT_EQ(status, 0);
  ASSERT_EQ(CreateCopy(copy.Out()), S_OK);
  EXPECT_TRUE(copy);
  EXPECT_EQ(copy->Set_Binary(VARIANT_FALSE), S_OK);
  copy.Reset();

  const std::string unreg = regsvr32("/u");
  ASSERT_EQ(status, 0) << unreg;
  EXPECT_EQ(CreateCopy(copy.Out()), REGDB_E_CLASSNOTREG);
}

TEST(KestroComRegistration, RefusedRegistryIsAFailure) {
  // Root writes anywhere; the registry folder is refused to an ordinary user.
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to drop privileges";
  test::TempTree tree;
  test::ScopedEnv dir("KESTROVANE_REGISTRY_DIR", tree.Posix("registry").c_str());
  tree.Mkdir("registry");
  chmod(tree.Posix("registry").c_str(), 0555);
  EXPECT_EQ(test::RunUnprivileged([] { return Register() == E_FAIL ? 0 : 1; }), 0);
  EXPECT_FALSE(Registry(Hive::ClassesRoot).KeyExists("CLSID\\" + kClsid));
}

// The library's defined symbols as nm lists them, with the given options.
std::string Symbols(const std::string& options) {
  const std::string nm = KV_NM;
  if (nm.empty() || access(nm.c_str(), X_OK) != 0) return {};
  int status = -1;
  std::string out = test::RunCommand("'" + nm + "' " + options + " --defined-only '" + KV_KESTROCOM + "'", &status);
  EXPECT_EQ(status, 0);
  return out;
}

TEST(KestroComExports, AreExactlyTheFourEntryPoints) {
  std::istringstream lines(Symbols("-D"));
  std::set<std::string> names;
  for (std::string address, kind, name; lines >> address >> kind >> name;) names.insert(name);
  if (names.empty()) GTEST_SKIP() << "nm not found";
  EXPECT_EQ(names, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                          "DllUnregisterServer"}));
  // The platform layer exists once per process: the server library takes
  // it from the component runtime and carries no copy of its own.
  const std::string symbols = Symbols("-C");
  for (const char* fn : {"kv::platform::Registry::ReadString(", "kv::platform::Registry::WriteString(",
                         "kv::platform::GetLastError()", "kv::platform::SetErrorInfo(",
                         "kv::platform::CoCreateInstance(", "kv::platform::GuidToString["}) {
    EXPECT_EQ(symbols.find(fn), std::string::npos) << fn;
  }
}

TEST_F(RegisteredServer, CountsReferencesAndServerLocks) {
  ASSERT_EQ(CanUnloadNow(), S_OK);

  ICopy* copy = nullptr;
  ASSERT_EQ(CreateCopy(reinterpret_cast<void**>(&copy)), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  IDispatch* dispatch = nullptr;
  IUnknown* unknown = nullptr;
  ASSERT_EQ(copy->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  ASSERT_EQ(copy->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(copy->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(copy->QueryInterface(IID_ICopy, nullptr), E_POINTER);
  EXPECT_EQ(unknown->Release(), 2u);
  EXPECT_EQ(dispatch->Release(), 1u);
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "one reference is left";
  EXPECT_EQ(copy->Release(), 0u);
  EXPECT_EQ(CanUnloadNow(), S_OK);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_CopyObj, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.Out()), S_OK);
  factory->LockServer(1);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  factory->LockServer(0);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  factory->LockServer(0);  // unbalanced
  factory->LockServer(1);
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "an extra unlock does not cancel a later lock";
  factory->LockServer(0);

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_ICopy, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(CanUnloadNow(), S_OK) << "the refused object is gone";

  auto getClassObject = Entry<DllGetClassObjectFn>("DllGetClassObject");
  const CLSID other{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(getClassObject(other, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(getClassObject(CLSID_CopyObj, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(RegisteredServer, NamesResolveToTheirDispatchIdentifiers) {
  ComPtr<ICopy> copy;
  ASSERT_EQ(CreateCopy(copy.Out()), S_OK);
  const std::pair<const char*, DISPID> expected[] = {
      {"SrcFile", 1},         {"CopyFiles", 2},   {"OSFile", 3},          {"PtkFile", 4},   {"Manuell", 5},
      {"Binary", 6},          {"ArchivSchredder", 7}, {"AnalyseTime", 8}, {"Hidden", 9},    {"Minimized", 10},
      {"MainFile", 11},       {"MailAdress", 12}, {"NTFSAccess", 13},     {"SecurityRename", 14},
      {"ExtLog", 15},         {"ExtAppend", 16},  {"ExtErr", 17},         {"ExtDone", 18},  {"ExtTrenn", 19},
      {"DelSchredder", 20},   {"ptkfile", 4},     {"SRCFILE", 1},         {"CopyFile", DISPID_UNKNOWN},
  };
  for (auto [name, dispid] : expected) {
    std::string text = name;
    char* names[] = {text.data()};
    DISPID id = 0;
    EXPECT_EQ(copy->GetIDsOfNames(IID_ICopy, names, 1, kKestroLibLocale, &id),
              dispid == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK)
        << name;
    EXPECT_EQ(id, dispid) << name;
  }
}

}  // namespace
}  // namespace kv

// A server of CopyObj that carries out nothing: every ICopy call is appended
// as "Member=value" to the file named by KV_RECORDING_COPY_LOG, and the member
// named by KV_RECORDING_COPY_FAIL fails (after being recorded), so that the
// tests see which properties a client sends, in which order, and where it
// stops.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>

#include "copyengine/icopy.h"
#include "platform/com/classfactory.h"
#include "platform/com/comrt.h"
#include "platform/com/errorinfo.h"

using namespace kv::platform;

namespace {

HRESULT Record(const char* member, const std::string& value) {
  if (const char* log = std::getenv("KV_RECORDING_COPY_LOG")) {
    std::ofstream(log, std::ios::app) << member << "=" << value << "\n";
  }
  const char* failing = std::getenv("KV_RECORDING_COPY_FAIL");
  if (!failing || std::string(failing) != member) return S_OK;
  return SafeCall(kv::kCopyProgId, kv::IID_ICopy,
                  [&] { throw ComError(E_FAIL, std::string(member) + " schlägt fehl"); });
}

HRESULT Record(const char* member, const char* value) { return Record(member, std::string(value ? value : "(null)")); }
HRESULT Record(const char* member, int32_t value) { return Record(member, std::to_string(value)); }

class RecordingCopy final : public kv::ICopy {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown || iid == IID_IDispatch || iid == kv::IID_ICopy)) return E_NOINTERFACE;
    *object = static_cast<kv::ICopy*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

  HRESULT Set_SrcFile(const char* v) override { return Record("SrcFile", v); }
  HRESULT CopyFiles() override { return Record("CopyFiles", ""); }
  HRESULT Set_OSFile(const char* v) override { return Record("OSFile", v); }
  HRESULT Set_Manuell(VARIANT_BOOL v) override { return Record("Manuell", v); }
  HRESULT Set_Binary(VARIANT_BOOL v) override { return Record("Binary", v); }
  HRESULT Set_Hidden(VARIANT_BOOL v) override { return Record("Hidden", v); }
  HRESULT Set_Minimized(VARIANT_BOOL v) override { return Record("Minimized", v); }
  HRESULT Set_MainFile(const char* v) override { return Record("MainFile", v); }
  HRESULT Set_MailAdress(const char* v) override { return Record("MailAdress", v); }
  HRESULT Set_NTFSAccess(VARIANT_BOOL v) override { return Record("NTFSAccess", v); }
  HRESULT Set_SecurityRename(VARIANT_BOOL v) override { return Record("SecurityRename", v); }
  HRESULT Set_ExtLog(const char* v) override { return Record("ExtLog", v); }
  HRESULT Set_ExtAppend(VARIANT_BOOL v) override { return Record("ExtAppend", v); }
  HRESULT Set_ExtErr(VARIANT_BOOL v) override { return Record("ExtErr", v); }
  HRESULT Set_ExtDone(VARIANT_BOOL v) override { return Record("ExtDone", v); }
  HRESULT Set_ExtTrenn(const char* v) override { return Record("ExtTrenn", v); }
  HRESULT Set_DelSchredder(int32_t v) override { return Record("DelSchredder", v); }
  HRESULT Set_PtkFile(const char* v) override { return Record("PtkFile", v); }
  HRESULT Set_ArchivSchredder(VARIANT_BOOL v) override { return Record("ArchivSchredder", v); }
  HRESULT Set_AnalyseTime(const char* v) override { return Record("AnalyseTime", v); }

 private:
  std::atomic<ULONG> refs_{0};
};

TStaticClassFactory g_factory(CreateComObject<RecordingCopy>);

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return g_factory.GetClassObject(kv::CLSID_CopyObj, clsid, iid, object);
}

extern "C" HRESULT DllCanUnloadNow() { return S_FALSE; }

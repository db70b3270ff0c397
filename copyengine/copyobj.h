#pragma once
// TCopyObj, the object behind ICopy. For now it keeps what the client sets
// and cannot yet run a job: CopyFiles answers E_NOTIMPL until the job
// execution is built on top of it.
#include <atomic>
#include <string>

#include "copyengine/icopy.h"

namespace kv {

// Deletion styles as DelSchredder numbers them (0..4).
enum class DelSchredderCode : int32_t { Normal = 0, Bitbucket = 1, Backup = 2, Rename = 3, Shredder = 4 };

class TCopyObj final : public ICopy {
 public:
  TCopyObj();
  ~TCopyObj();
  TCopyObj(const TCopyObj&) = delete;
  TCopyObj& operator=(const TCopyObj&) = delete;

  // IUnknown
  platform::HRESULT QueryInterface(platform::REFIID iid, void** object) override;
  platform::ULONG AddRef() override;
  platform::ULONG Release() override;
  // IDispatch: names resolve to the dispatch identifiers; no type
  // information and no late-bound calls (every caller binds to the vtable).
  platform::HRESULT GetTypeInfoCount(platform::UINT* count) override;
  platform::HRESULT GetTypeInfo(platform::UINT index, platform::LCID locale, platform::ITypeInfo** info) override;
  platform::HRESULT GetIDsOfNames(platform::REFIID iid, platform::LPOLESTR* names, platform::UINT count,
                                  platform::LCID locale, platform::DISPID* ids) override;
  platform::HRESULT Invoke(platform::DISPID member, platform::REFIID iid, platform::LCID locale, platform::WORD flags,
                           platform::DISPPARAMS* params, platform::VARIANT* result, platform::EXCEPINFO* exception,
                           platform::UINT* argError) override;
  // ICopy
  platform::HRESULT Set_SrcFile(const char* value) override;
  platform::HRESULT CopyFiles() override;
  platform::HRESULT Set_OSFile(const char* value) override;
  platform::HRESULT Set_Manuell(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_Binary(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_Hidden(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_Minimized(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_MainFile(const char* value) override;
  platform::HRESULT Set_MailAdress(const char* value) override;
  platform::HRESULT Set_NTFSAccess(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_SecurityRename(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_ExtLog(const char* value) override;
  platform::HRESULT Set_ExtAppend(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_ExtErr(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_ExtDone(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_ExtTrenn(const char* value) override;
  platform::HRESULT Set_DelSchredder(int32_t value) override;
  platform::HRESULT Set_PtkFile(const char* value) override;
  platform::HRESULT Set_ArchivSchredder(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_AnalyseTime(const char* value) override;

 private:
  std::atomic<platform::ULONG> refs_{0};

  std::string srcFile_;
  std::string ptkFile_;
  std::string osFile_;
  std::string mainFile_;
  std::string mailAdress_;
  std::string extLogPath_;
  std::string extTrenn_ = "\t";
  std::string analyseTime_;
  bool manuell_ = false;
  bool binary_ = false;
  bool hidden_ = false;
  bool minimized_ = false;
  bool ntfsAccess_ = false;
  bool securityRename_ = false;
  bool extLogSet_ = false;
  bool extAppend_ = true;
  bool extErr_ = true;
  bool extDone_ = true;
  bool archivSchredder_ = false;
  DelSchredderCode delSchredder_ = DelSchredderCode::Normal;
};

}  // namespace kv

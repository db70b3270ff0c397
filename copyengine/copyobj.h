#pragma once
// TCopyObj, the object behind ICopy: the copy engine's only entry point. A
// client creates one object per job, sets its write-only properties and calls
// CopyFiles once; the object carries out the job (copyengine/jobrunner.h) and
// frees its working files at the end of that call.
//
// Calling order the object needs: PtkFile before CopyFiles; Manuell before
// SrcFile (SrcFile picks the folder of "last.vrl" by it); SrcFile and
// MainFile before CopyFiles; everything else in any order before CopyFiles.
#include <atomic>
#include <memory>
#include <string>

#include "copyengine/filedeleter.h"
#include "copyengine/ftpreadwriter.h"
#include "copyengine/icopy.h"
#include "copyengine/jobrunner.h"

namespace kv {

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
  // ICopy. Every member catches everything: a failure is its HRESULT with
  // the thread's error info (source "Kestro.CopyObj") describing it.
  //
  // Opens the job file; fails when it cannot be opened.
  platform::HRESULT Set_SrcFile(const char* value) override;
  // Runs the job once; a second call fails.
  platform::HRESULT CopyFiles() override;
  // Moves the previous old-timestamp file P to P + "1" and starts P anew.
  // Never fails: without a usable file the run keeps no stamps, and the
  // previous file stays (or is put back) under its name.
  platform::HRESULT Set_OSFile(const char* value) override;
  platform::HRESULT Set_Manuell(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_Binary(platform::VARIANT_BOOL value) override;  // kept, never read
  platform::HRESULT Set_Hidden(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_Minimized(platform::VARIANT_BOOL value) override;
  // Copies the folder-pair file to a "$" file beside it and opens the copy;
  // the backup folder of the deleter becomes the folder two levels above the
  // pair file's folder + "BackUp\". Fails when the copy cannot be made.
  platform::HRESULT Set_MainFile(const char* value) override;
  platform::HRESULT Set_MailAdress(const char* value) override;
  platform::HRESULT Set_NTFSAccess(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_SecurityRename(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_ExtLog(const char* value) override;
  platform::HRESULT Set_ExtAppend(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_ExtErr(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_ExtDone(platform::VARIANT_BOOL value) override;
  platform::HRESULT Set_ExtTrenn(const char* value) override;
  // 0 plain, 1 trash, 2 backup, 3 rename, 4 shredder; other numbers keep the
  // style chosen before.
  platform::HRESULT Set_DelSchredder(int32_t value) override;
  // Opens the existing protocol for appending. Never fails: a protocol that
  // cannot be opened means a run without protocol.
  platform::HRESULT Set_PtkFile(const char* value) override;
  platform::HRESULT Set_ArchivSchredder(platform::VARIANT_BOOL value) override;
  // A null pointer gives "00:00:00".
  platform::HRESULT Set_AnalyseTime(const char* value) override;

  // What the properties made of the object, for the object's own tests.
  const CopyJobSettings& settings() const { return settings_; }
  const CopyJobFiles& files() const { return files_; }
  const TFileDeleter& deleter() const { return deleter_; }
  const std::string& profileName() const { return settings_.profileName; }
  bool binary() const { return binary_; }
  bool HasFtpState() const { return ftpState_ != nullptr; }

 private:
  void OpenJobFile(const std::string& path);
  // The local mirrors of "kvftp.log": the folder two levels above the job
  // file's folder + "FTPLog\".
  static std::string GetFtpLogFolder(const std::string& jobFile);
  void CopyPairFile(const std::string& path);
  void StartOldStamps(const std::string& path);
  void RunJob();

  std::atomic<platform::ULONG> refs_{0};

  CopyJobFiles files_;
  CopyJobSettings settings_;
  bool binary_ = false;
  bool ran_ = false;
  TFileDeleter deleter_;
  // The remote-state record of FTP pairs, made with the object and freed
  // at the end of CopyFiles.
  std::unique_ptr<TFTPReadWriter> ftpState_;
};

}  // namespace kv

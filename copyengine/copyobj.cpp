#include "copyengine/copyobj.h"

#include <new>
#include <system_error>

#include "copyengine/copyobj_factory.h"
#include "copyengine/oldstamp.h"
#include "platform/com/errorinfo.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace kv {

using namespace platform;

namespace {

std::atomic<int32_t> g_liveObjects{0};

bool IsTrue(VARIANT_BOOL value) { return value != 0; }

// A null text is taken as empty rather than crashing the caller's process.
std::string TextOf(const char* value) { return value ? value : ""; }

// Every member runs like this: no exception crosses the interface.
template <class Body>
HRESULT Member(Body&& body) noexcept {
  return SafeCall(kCopyProgId, IID_ICopy, std::forward<Body>(body));
}

[[noreturn]] void ThrowSystemError(const std::string& what) {
  const int err = GetLastError();
  throw std::system_error(err != 0 ? err : EIO, std::generic_category(), what + ": " + SysErrorMessage(err));
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// "W\Profile\7\" -> "W\"
std::string TwoLevelsUp(const std::string& folder) {
  const std::string parent = ExtractFilePath(ExcludeTrailingBackslash(folder));
  return ExtractFilePath(ExcludeTrailingBackslash(parent));
}

// DelSchredder numbers the styles otherwise than the deleter does.
std::optional<TDelStyle> DelStyleOf(int32_t value) {
  switch (value) {
    case 0: return TDelStyle::delNormal;
    case 1: return TDelStyle::delBitbucket;
    case 2: return TDelStyle::delBackup;
    case 3: return TDelStyle::delRename;
    case 4: return TDelStyle::delShredder;
    default: return std::nullopt;
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

TCopyObj::TCopyObj() : ftpState_(std::make_unique<TFTPReadWriter>()) {
  // The first stamp of the run starts a new block.
  ResetOldStampWriter();
  ++g_liveObjects;
}

TCopyObj::~TCopyObj() {
  // Released without having run: nothing of the run may stay behind, and
  // the previous stamps must not stay moved aside.
  if (!ran_) files_.Abandon();
  --g_liveObjects;
}

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

// --- Files -------------------------------------------------------------------------------

void TCopyObj::OpenJobFile(const std::string& path) {
  const std::string folder = ExtractFilePath(path);
  settings_.profileName = ExtractFileName(ExcludeTrailingBackslash(folder));
  files_.jobPath.clear();
  if (!files_.job.Open(path, OpenMode::Read)) {
    ThrowSystemError("Die Auftragsdatei " + Quoted(path) + " kann nicht geöffnet werden");
  }
  // Only a job file that was opened is the run's to delete at its end.
  files_.jobPath = path;
  files_.ftpLogFolder = GetFtpLogFolder(path);
  files_.lastRunFolder = ProtocolFolder(folder, settings_.manual);
}

void TCopyObj::CopyPairFile(const std::string& path) {
  const std::string folder = ExtractFilePath(path);
  deleter_.BackupPath = TwoLevelsUp(folder) + "BackUp\\";
  // A second MainFile replaces the first copy.
  (void)files_.pairs.Close();
  if (!files_.pairCopyPath.empty()) DeleteFile(files_.pairCopyPath);
  files_.pairCopyPath.clear();

  // Held for the run: the next run of the profile clears away the copies
  // of killed runs, never this one.
  std::vector<uint8_t> pairs;
  if (!ReadWholeFile(path, pairs)) ThrowSystemError("Die Datei der Ordnerpaare " + Quoted(path) + " kann nicht gelesen werden");
  const std::string copy = GetHeldTempFileName(folder, "$");
  if (copy.empty()) ThrowSystemError("Im Ordner " + Quoted(folder) + " kann keine Kopie der Ordnerpaare angelegt werden");
  files_.pairCopyPath = copy;
  if (!files_.pairs.Open(copy, OpenMode::ReadWrite) || !files_.pairs.Write(pairs.data(), pairs.size())) {
    ThrowSystemError("Die Kopie der Ordnerpaare " + Quoted(copy) + " kann nicht geschrieben werden");
  }
}

// "W\Profile\7\job.tmp" -> "W\FTPLog\"
std::string TCopyObj::GetFtpLogFolder(const std::string& jobFile) {
  return TwoLevelsUp(ExtractFilePath(jobFile)) + "FTPLog\\";
}

void TCopyObj::StartOldStamps(const std::string& path) {
  // One stamp file per run: a second call would move this run's own, still
  // empty file over the previous stamps.
  if (files_.oldStamps) return;
  files_.oldStampPath = path;
  files_.oldStampsMoved = false;
  try {
    OldStampFileStart start = StartOldStampFile(path);
    files_.oldStamps = std::move(start.stream);
    files_.oldStampsMoved = start.previousMoved;
  } catch (const std::exception&) {
    // The start step has put the previous stamps back under their name.
    files_.oldStamps.reset();
  }
}

void TCopyObj::RunJob() {
  if (ran_) throw ComError(E_UNEXPECTED, "CopyFiles wurde für dieses Objekt bereits ausgeführt.", kCopyProgId);
  ran_ = true;
  struct FreeFtpState {
    std::unique_ptr<TFTPReadWriter>& state;
    ~FreeFtpState() { state.reset(); }
  } freeFtpState{ftpState_};
  RunCopyJob(files_, settings_, deleter_, *ftpState_);
}

// --- ICopy -------------------------------------------------------------------------------

HRESULT TCopyObj::Set_SrcFile(const char* value) {
  return Member([&] { OpenJobFile(TextOf(value)); });
}

HRESULT TCopyObj::CopyFiles() {
  return Member([&] { RunJob(); });
}

HRESULT TCopyObj::Set_OSFile(const char* value) {
  return Member([&] { StartOldStamps(TextOf(value)); });
}

HRESULT TCopyObj::Set_Manuell(VARIANT_BOOL value) {
  settings_.manual = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_Binary(VARIANT_BOOL value) {
  binary_ = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_Hidden(VARIANT_BOOL value) {
  settings_.hidden = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_Minimized(VARIANT_BOOL value) {
  settings_.minimized = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_MainFile(const char* value) {
  return Member([&] { CopyPairFile(TextOf(value)); });
}

HRESULT TCopyObj::Set_MailAdress(const char* value) {
  return Member([&] { settings_.mailAddress = TextOf(value); });
}

HRESULT TCopyObj::Set_NTFSAccess(VARIANT_BOOL value) {
  settings_.ntfsAccess = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_SecurityRename(VARIANT_BOOL value) {
  settings_.securityRename = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_ExtLog(const char* value) {
  return Member([&] {
    settings_.externalLog.path = TextOf(value);
    settings_.externalLog.set = true;
  });
}

HRESULT TCopyObj::Set_ExtAppend(VARIANT_BOOL value) {
  settings_.externalLog.append = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_ExtErr(VARIANT_BOOL value) {
  settings_.externalLog.errors = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_ExtDone(VARIANT_BOOL value) {
  settings_.externalLog.done = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_ExtTrenn(const char* value) {
  return Member([&] { settings_.externalLog.separator = TextOf(value); });
}

HRESULT TCopyObj::Set_DelSchredder(int32_t value) {
  if (std::optional<TDelStyle> style = DelStyleOf(value)) deleter_.DelStyle = *style;
  return S_OK;
}

HRESULT TCopyObj::Set_PtkFile(const char* value) {
  return Member([&] {
    if (files_.protocol) {
      try {
        files_.protocol->Close();
      } catch (const std::exception&) {
      }
      files_.protocol.reset();
    }
    try {
      files_.protocol.emplace(ProtocolStream::OpenForAppend(TextOf(value)));
    } catch (const std::exception&) {
      files_.protocol.reset();
    }
  });
}

HRESULT TCopyObj::Set_ArchivSchredder(VARIANT_BOOL value) {
  deleter_.ArchivSchredder = IsTrue(value);
  return S_OK;
}

HRESULT TCopyObj::Set_AnalyseTime(const char* value) {
  return Member([&] { settings_.analyseTime = value ? value : "00:00:00"; });
}

}  // namespace kv

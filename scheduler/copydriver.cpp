// The copy engine's driver: CopyObj is created in-process on the run thread,
// gets the properties of the run in the order the engine needs and carries
// out the job once.
#include <chrono>
#include <thread>

#include "platform/com/comrt.h"
#include "platform/com/errorinfo.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/volumes.h"
#include "scheduler/runsync.h"

namespace kv {
namespace {

using platform::CheckHResult;
using platform::ComPtr;

constexpr std::string_view kServerLibrary = "KestroCom.dll";
constexpr std::string_view kRegistrationTool = "regsvr32";
// How long a registration may take before the second creation is tried
// anyway; and the pause before it when there was nothing to register.
constexpr int kRegistrationWaitMs = 10000;
constexpr std::chrono::milliseconds kRetryPause{500};

platform::VARIANT_BOOL Vb(bool value) { return value ? platform::VARIANT_TRUE : platform::VARIANT_FALSE; }

// The second creation follows the end of the registration, not a fixed
// pause that a slow registration would lose.
ComPtr<ICopy> CreateCopyObject() {
  try {
    return CoCopyObj::Create();
  } catch (const std::exception&) {
  }
  if (const std::optional<platform::StartedProcess> registration = TthRunSync::RegisterCopyServer()) {
    registration->WaitForExit(kRegistrationWaitMs);
  } else {
    std::this_thread::sleep_for(kRetryPause);
  }
  return CoCopyObj::Create();
}

void SetExternalLog(ICopy& copy, const TProfItem& profile) {
  if (!profile.extLogOn) return;
  CheckHResult(copy.Set_ExtLog(profile.extLogPath.c_str()));
  CheckHResult(copy.Set_ExtAppend(Vb(profile.AppendsExtLog())));
  CheckHResult(copy.Set_ExtErr(Vb(profile.extLogErrors)));
  CheckHResult(copy.Set_ExtDone(Vb(profile.extLogDone)));
  CheckHResult(copy.Set_ExtTrenn(profile.extLogSeparator.c_str()));
}

void SetDeletion(ICopy& copy, const TProfItem& profile, const TUserOptions& userOptions) {
  const std::optional<int32_t> code = DelSchredderOf(profile.deleteMode);
  if (!code) return;
  CheckHResult(copy.Set_DelSchredder(*code));
  if (profile.deleteMode != kDeleteModeBackup) return;
  CheckHResult(copy.Set_ArchivSchredder(Vb(userOptions.ArchiveShredder())));
}

// Balances the thread's component initialisation, also when a call failed.
class ComApartment {
 public:
  ComApartment() { CheckHResult(platform::CoInitialize(nullptr)); }
  ~ComApartment() { platform::CoUninitialize(); }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
};

}  // namespace

ComPtr<ICopy> CoCopyObj::Create() {
  ComPtr<platform::IUnknown> unknown;
  CheckHResult(platform::CoCreateInstance(CLSID_CopyObj, nullptr, platform::CLSCTX_INPROC_SERVER,
                                          platform::IID_IUnknown, unknown.Out()));
  ComPtr<ICopy> copy;
  CheckHResult(unknown->QueryInterface(IID_ICopy, copy.Out()));
  return copy;
}

std::optional<int32_t> DelSchredderOf(uint8_t deleteMode) {
  switch (deleteMode) {
    case kDeleteModePlain: return 0;
    case kDeleteModeShredder: return 4;
    case kDeleteModeRecycleBin: return 1;
    case kDeleteModeBackup: return 2;
    case kDeleteModeRename: return 3;
    default: return std::nullopt;
  }
}

std::optional<platform::StartedProcess> TthRunSync::RegisterCopyServer() {
  const std::string folder = platform::ProgramFolder();
  const std::string library = folder + std::string(kServerLibrary);
  if (folder.empty() || !platform::FileExists(library)) return std::nullopt;
  const std::optional<std::string> libraryPath = platform::ToPosixPath(library);
  if (!libraryPath) return std::nullopt;
  const std::string besideUs = folder + std::string(kRegistrationTool);
  const std::optional<std::string> tool =
      platform::FileExists(besideUs) ? platform::ToPosixPath(besideUs) : std::nullopt;
  // The path is one argument, whatever it holds.
  return platform::StartProcess({tool.value_or(std::string(kRegistrationTool)), *libraryPath}, "");
}

void TthRunSync::RunCopyEngine(const std::string& ptkPath, const std::string& jobFile, const std::string& mail,
                               bool automatic, bool hideProcess, bool minimized, const TProfItem& profile,
                               const TUserOptions& userOptions, uint32_t elapsedMs) {
  const ComApartment apartment;
  const ComPtr<ICopy> object = CreateCopyObject();
  ICopy& copy = *object.Get();
  const std::string profileFolder = platform::IncludeTrailingBackslash(profile.profilePath);
  CheckHResult(copy.Set_PtkFile(ptkPath.c_str()));
  if (platform::FAILED(copy.Set_AnalyseTime(MSecToTimeStr(elapsedMs).c_str()))) {
    CheckHResult(copy.Set_AnalyseTime("00:00:00"));
  }
  SetExternalLog(copy, profile);
  if (!mail.empty()) CheckHResult(copy.Set_MailAdress(mail.c_str()));
  SetDeletion(copy, profile, userOptions);
  // Before SrcFile, which picks the protocol folder by it.
  CheckHResult(copy.Set_Manuell(Vb(!automatic)));
  CheckHResult(copy.Set_SrcFile(jobFile.c_str()));
  CheckHResult(copy.Set_MainFile((profileFolder + "SrcDest.kst").c_str()));
  if (profile.keepOldStamps) CheckHResult(copy.Set_OSFile((profileFolder + "OS.vrl").c_str()));
  CheckHResult(copy.Set_Binary(platform::VARIANT_FALSE));
  CheckHResult(copy.Set_Minimized(Vb(minimized)));
  CheckHResult(copy.Set_Hidden(Vb(hideProcess)));
  CheckHResult(copy.Set_NTFSAccess(Vb(userOptions.CopyNTFSRights())));
  CheckHResult(copy.Set_SecurityRename(Vb(profile.safeRename)));
  CheckHResult(copy.CopyFiles());
}

}  // namespace kv

#include "copyengine/jobrunner.h"

#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "copyengine/filecopy.h"
#include "copyengine/ftpfolderpair.h"
#include "copyengine/jobend.h"
#include "copyengine/jobfileactions.h"
#include "copyengine/jobfolderactions.h"
#include "copyengine/jobrun.h"
#include "platform/time.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

constexpr std::string_view kMsgNoFolderPair =
    "Zu diesem Ordner gibt es im Profil kein Ordnerpaar; der Ordner wurde übergangen!";
constexpr std::string_view kMsgDotFolder =
    "Der Ordnerpfad enthält \".\" oder \"..\" und wurde übergangen!";

// --- Start ----------------------------------------------------------------------------------

void CheckJobFilesGiven(const CopyJobFiles& files) {
  if (!files.job.IsOpen()) throw std::runtime_error("Es wurde keine Auftragsdatei (SrcFile) angegeben.");
  if (!files.pairs.IsOpen()) throw std::runtime_error("Es wurde keine Datei der Ordnerpaare (MainFile) angegeben.");
}

void ReportTornJobFile(TJobRun& run, uint64_t tailBytes) {
  run.WriteRecord(TPtkItem::SchedulerRecord(run.files.jobPath, "", kPtkError,
                                            "Die Auftragsdatei endet mit einem unvollständigen Eintrag (" +
                                                std::to_string(tailBytes) + " Bytes); er wurde übergangen!"));
}

// The folder pairs of the profile, from the "$" copy; a torn record at the
// end is not read.
std::vector<TFolderPair> LoadPairs(platform::FileStream& pairFile) {
  std::vector<TFolderPair> pairs;
  uint64_t size = 0;
  if (!pairFile.Size(size)) return pairs;
  std::vector<uint8_t> record(TFolderPair::kSize);
  pairFile.Seek(0);
  for (uint64_t left = size; left >= TFolderPair::kSize; left -= TFolderPair::kSize) {
    if (!pairFile.ReadExact(record.data(), record.size())) break;
    pairs.push_back(TFolderPair::Decode(record));
  }
  return pairs;
}

// The overall bar counts the bytes of all copies, scaled to 32 bits; the
// total stands right-aligned at the bar's end.
void ShowBytesToCopy(TJobRun& run) {
  TtfCopy& window = *run.window;
  run.overallDivisor = ProgressDivisor(run.bytesToCopy);
  window.SetBarMax(CopyBar::pgAll, static_cast<int32_t>(run.bytesToCopy / run.overallDivisor));
  window.SetBarPosition(CopyBar::pgAll, 0);
  const CopyBarState& all = window.bar(CopyBar::pgAll);
  SetSizeLabel(window, CopyLabel::tlFullSize, all.left + all.width, run.bytesToCopy);
}

// --- Blocks that are not carried out here -------------------------------------------------------

// A folder that no pair of the profile holds, or that names "." or ".."
// (which could lead out of its pair): it is not carried out, and the
// protocol says so when the job wanted anything done there.
void HandleRefusedBlock(TJobRun& run, const TSyncItem& folder, std::string_view why) {
  if (HasAction(folder.action) || run.items.FolderHasAction()) {
    TPtkItem record(folder);
    run.WriteFailure(record, why);
  }
  SkipFolderContent(run);
}

// --- Items ------------------------------------------------------------------------------------

// The pair whose roots hold both folders of the item; none is never guessed.
const TFolderPair* FindFolderPair(TJobRun& run, const TSyncItem& folder) {
  return run.pairs->Find(folder.source, folder.destination);
}

// Makes the folder item's folders the current ones. False when its block
// was handled as a whole (a pair with an FTP side, or no pair at all).
bool EnterFolder(TJobRun& run, const TSyncItem& folder) {
  // Set for every folder item, also one without an action: the file items
  // that follow must never be taken for files of an earlier folder.
  run.current.Enter(folder.source, folder.destination, {}, {});
  if (HasDotComponents(folder.source) || HasDotComponents(folder.destination)) {
    HandleRefusedBlock(run, folder, kMsgDotFolder);
    return false;
  }
  const TFolderPair* pair = FindFolderPair(run, folder);
  if (!pair) {
    HandleRefusedBlock(run, folder, kMsgNoFolderPair);
    return false;
  }
  if (pair->HasFtpSide()) {
    SyncFtpFolder(run, folder, *pair);
    return false;
  }
  run.current.Enter(folder.source, folder.destination, pair->sourceRoot, pair->destinationRoot);
  return true;
}

void HandleItem(TJobRun& run, TSyncItem item) {
  TPtkItem record(std::move(item));
  if (IsFolderItem(record.item)) return HandleFolder(run, record);
  if (!IsFileItem(record.item)) return run.WriteFailure(record, kMsgInvalidItem);
  if (record.item.action == kActionCopy) return CopyFileItem(run, record);
  if (record.item.action == kActionDelete) return DeleteFileOfItem(run, record);
  // Actions 3 and 4 mean nothing for a file.
}

// --- The run ------------------------------------------------------------------------------------

class TCopyJob {
 public:
  TCopyJob(CopyJobFiles& files, const CopyJobSettings& settings, TFileDeleter& deleter, TFTPReadWriter& ftpStates)
      : run_(files, settings, deleter, ftpStates) {}
  ~TCopyJob() {
    run_.deleter.pump = nullptr;
    run_.deleter.abortRequested = nullptr;
  }
  TCopyJob(const TCopyJob&) = delete;
  TCopyJob& operator=(const TCopyJob&) = delete;

  void Run() {
    std::exception_ptr failure;
    try {
      Start();
      ItemLoop();
      EndOfRun(run_);
    } catch (...) {
      failure = std::current_exception();
      RecordFailure(run_, failure);
    }
    CleanUp(run_);
    if (failure) std::rethrow_exception(failure);
  }

 private:
  void Start() {
    run_.startTick = platform::TickCount64();
    run_.window.emplace(
        CopyWindowOptions{.hidden = run_.settings.hidden, .minimized = run_.settings.minimized, .clock = {}});
    run_.deleter.pump = [this] { run_.window->ProcessMessages(); };
    run_.deleter.abortRequested = [] { return AbortRequested(); };
    CheckJobFilesGiven(run_.files);
    if (const uint64_t tornBytes = run_.items.CountItems(); tornBytes != 0) ReportTornJobFile(run_, tornBytes);
    run_.pairs.emplace(LoadPairs(run_.files.pairs));
    run_.bytesToCopy = run_.items.GetCopySize();
    ShowBytesToCopy(run_);
  }

  void ItemLoop() {
    while (std::optional<TSyncItem> item = run_.items.Next()) {
      if (AbortRequested()) {
        run_.aborted = true;
        return;
      }
      if (IsFolderItem(*item) && !EnterFolder(run_, *item)) {
        if (run_.aborted) return;
        continue;
      }
      if (!HasAction(item->action)) continue;
      HandleItem(run_, std::move(*item));
      if (run_.aborted) return;
    }
  }

  TJobRun run_;
};

}  // namespace

void RunCopyJob(CopyJobFiles& files, const CopyJobSettings& settings, TFileDeleter& deleter,
                TFTPReadWriter& ftpStates) {
  TCopyJob(files, settings, deleter, ftpStates).Run();
}

}  // namespace kv

#pragma once
// What the steps of one run share: the run's files and options, its job
// items, the copy window, the folders of the current folder item, the
// overall progress and the protocol. Used only by the job execution
// (jobrunner.cpp and the job*.cpp beside it).
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "copyengine/copyftp.h"
#include "copyengine/copywindow.h"
#include "copyengine/filedeleter.h"
#include "copyengine/jobitems.h"
#include "copyengine/jobrunner.h"
#include "copyengine/pairfinder.h"
#include "platform/treefolder.h"
#include "shared/ptkitem.h"

namespace kv {

// Texts more than one step of the run writes.
inline constexpr std::string_view kMsgFolderNotFound = "Der / die Ordner wurde/n nicht gefunden!";
inline constexpr std::string_view kMsgFilesDeleted = "Die Datei/en wurde/n gelöscht.";
inline constexpr std::string_view kMsgFoldersDeleted = "Der / die Ordner wurden gelöscht.";
inline constexpr std::string_view kMsgFoldersNotDeleted = "Der / die Ordner konnten nicht gelöscht werden!";
inline constexpr std::string_view kMsgFoldersNotCreated = "Der / die Ordner konnten nicht erstellt werden!";
inline constexpr std::string_view kMsgInvalidItem =
    "Der Eintrag der Auftragsdatei ist ungültig und wurde übergangen!";

// The status and message one step gives its record.
struct Outcome {
  uint8_t status = kPtkDone;
  std::string message;
};

// Two outcomes of one item as one: the second one's when it did not succeed.
Outcome Combined(Outcome first, Outcome second);

struct TJobRun;

enum class TSide { k1, k2 };

// The folders of the last folder item: file items carry bare names. Each
// side's folder is opened below its pair's root (never through a link) the
// first time an item needs it and kept open for the items that follow.
struct TCurrentFolders {
  std::string side1, side2;  // as the job names them, ending in "\"

  // root1 and root2: the pair's roots.
  void Enter(const std::string& folder1, const std::string& folder2, std::string root1, std::string root2);
  const std::string& Path(TSide side) const { return side == TSide::k1 ? side1 : side2; }
  // The side's folder; create: made with its parents when missing. nullptr
  // with the last error set when it cannot be had.
  const platform::TreeFolder* Open(TJobRun& run, TSide side, bool create);
  // Removes the side's folder, which must be empty. Nothing there: done.
  Outcome RemoveFolder(TJobRun& run, TSide side);

 private:
  std::string root1_, root2_;
  platform::TreeFolder folder1_, folder2_;
};

struct TJobRun {
  TJobRun(CopyJobFiles& files, const CopyJobSettings& settings, TFileDeleter& deleter, TFTPReadWriter& ftpStates)
      : files(files), settings(settings), deleter(deleter), ftpStates(ftpStates), items(files.job, files.jobPath) {}

  CopyJobFiles& files;
  const CopyJobSettings& settings;
  TFileDeleter& deleter;
  TFTPReadWriter& ftpStates;  // the copy object's remote-state record
  TJobItems items;
  std::optional<TtfCopy> window;  // from the start of the run to its clean-up
  std::optional<TFolderPairFinder> pairs;
  TCurrentFolders current;
  // The roots of the pairs met so far, open for the whole run.
  std::map<std::string, platform::TreeFolder> roots;
  uint64_t startTick = 0;
  int64_t bytesToCopy = 0;
  int64_t bytesDone = 0;
  int64_t overallDivisor = 1;
  bool aborted = false;
  // The FTP session of the run, from its first FTP pair to its clean-up.
  std::unique_ptr<TCopyFtp> ftp;
  TCopyFtp& Ftp();

  // --- Protocol: nothing is written for a run without one ---
  // Appends the record; its position for a later rewrite.
  std::optional<uint64_t> WriteRecord(const TPtkItem& record);
  void RewriteRecord(std::optional<uint64_t> position, const Outcome& outcome);
  void WriteOutcome(TPtkItem& record, Outcome outcome);
  void WriteFailure(TPtkItem& record, std::string_view message);

  // The root, opened (and made, with create) the first time; nullptr with
  // the last error set when it cannot be had.
  const platform::TreeFolder* Root(const std::string& root, bool create);

  // --- Window ---
  void ShowPaths(std::string_view side1, std::string_view side2);
  void AddBytesDone(int64_t bytes);
};

void SetOutcome(TPtkItem& record, Outcome outcome);

}  // namespace kv

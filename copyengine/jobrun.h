#pragma once
// What the steps of one run share: the run's files and options, its job
// items, the copy window, the folders of the current folder item, the
// overall progress and the protocol. Used only by the job execution
// (jobrunner.cpp and the job*.cpp beside it).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "copyengine/copywindow.h"
#include "copyengine/filedeleter.h"
#include "copyengine/jobitems.h"
#include "copyengine/jobrunner.h"
#include "copyengine/pairfinder.h"
#include "shared/ptkitem.h"

namespace kv {

// Texts more than one step of the run writes.
inline constexpr std::string_view kMsgFolderNotFound = "Der / die Ordner wurde/n nicht gefunden!";
inline constexpr std::string_view kMsgFilesDeleted = "Die Datei/en wurde/n gelöscht.";
inline constexpr std::string_view kMsgInvalidItem =
    "Der Eintrag der Auftragsdatei ist ungültig und wurde übergangen!";

// The status and message one step gives its record.
struct Outcome {
  uint8_t status = kPtkDone;
  std::string message;
};

// Two outcomes of one item as one: the second one's when it did not succeed.
Outcome Combined(Outcome first, Outcome second);

// The folders of the last folder item: file items carry bare names.
struct TCurrentFolders {
  std::string side1, side2;
  // Made sure to exist (created when missing) for a copy of this folder.
  bool ensured1 = false, ensured2 = false;

  void Enter(const std::string& folder1, const std::string& folder2);
};

struct TJobRun {
  TJobRun(CopyJobFiles& files, const CopyJobSettings& settings, TFileDeleter& deleter)
      : files(files), settings(settings), deleter(deleter), items(files.job, files.jobPath) {}

  CopyJobFiles& files;
  const CopyJobSettings& settings;
  TFileDeleter& deleter;
  TJobItems items;
  std::optional<TtfCopy> window;  // from the start of the run to its clean-up
  std::optional<TFolderPairFinder> pairs;
  TCurrentFolders current;
  uint64_t startTick = 0;
  int64_t bytesToCopy = 0;
  int64_t bytesDone = 0;
  int64_t overallDivisor = 1;
  bool aborted = false;
  // A stamp could not be written: the run went on without stamps.
  bool stampsBroken = false;

  // --- Protocol: nothing is written for a run without one ---
  // Appends the record; its position for a later rewrite.
  std::optional<uint64_t> WriteRecord(const TPtkItem& record);
  void RewriteRecord(std::optional<uint64_t> position, const Outcome& outcome);
  void WriteOutcome(TPtkItem& record, Outcome outcome);
  void WriteFailure(TPtkItem& record, std::string_view message);

  // --- Window ---
  void ShowPaths(std::string_view side1, std::string_view side2);
  void AddBytesDone(int64_t bytes);
};

void SetOutcome(TPtkItem& record, Outcome outcome);

}  // namespace kv

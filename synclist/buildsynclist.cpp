#include "synclist/buildsynclist.h"

#include <stdexcept>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/inifile.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/volumes.h"
#include "shared/folderpair.h"
#include "synclist/drivelist.h"
#include "synclist/kestronize.h"

namespace kv {
namespace {

// --- Filter masks -----------------------------------------------------------

// A folder key as a mask. "*" and "?" keep their wildcard meaning (no folder
// name of the system the profiles come from holds them, so whoever wrote
// them meant a wildcard); "[" would open a set and becomes a one-character
// set of itself. ":" and ";" separate masks wherever they stand in a mask
// text, so they cannot be written at all; "?" stands in for them.
std::string FolderKeyMask(std::string_view text) {
  std::string mask;
  mask.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '[': mask += "[[]"; break;
      case ':':
      case ';': mask += '?'; break;
      default: mask += c;
    }
  }
  return mask;
}

// One comma-text item in quotes, a quote inside doubled.
std::string QuotedItem(std::string_view text) {
  std::string item = "\"";
  for (char c : text) {
    item += c;
    if (c == '"') item += '"';
  }
  item += '"';
  return item;
}

void AppendItem(std::string& list, std::string_view item) {
  if (!list.empty()) list += ',';
  list += QuotedItem(item);
}

// A root as folder keys are compared with it: UNC-expanded, lower case, with
// a trailing "\" so that "C:\data" is no prefix of "C:\datasub\".
std::string ComparableRoot(const platform::VolumeTable& volumes, std::string_view root) {
  return platform::LowerCase(platform::IncludeTrailingBackslash(volumes.ExpandUnc(root)));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::string> FolderMaskOf(std::string_view key, const std::string& source, const std::string& dest,
                                        const platform::VolumeTable& volumes) {
  const std::string folder = platform::LowerCase(volumes.ExpandUnc(key));
  if (StartsWith(folder, source)) return FolderKeyMask(std::string_view(folder).substr(source.size())) + "*";
  if (StartsWith(folder, dest)) return FolderKeyMask(std::string_view(folder).substr(dest.size())) + "*";
  return std::nullopt;
}

// --- The build ----------------------------------------------------------------

uint8_t FolderRowKindOf(const TUserOptions& userOptions) {
  const uint8_t kind = userOptions.FolderRowKind();
  return (kind == 1 || kind == 2) ? kind : kRowKindFolderDefault;
}

bool IsPairToBuild(const TFolderPair& pair, bool activeOnly, TDriveList& drives) {
  if (pair.HasFtpSide()) return false;
  if (activeOnly && !pair.IsActive()) return false;
  return drives.IsAvailable(pair.sourceRoot, true) && drives.IsAvailable(pair.destinationRoot, true);
}

// Why the filter file cannot be read ("" when it can): the pair then runs
// without masks.
std::string SetPairMasks(TtfKestronize& form, const TFolderPair& pair, const std::string& filterFile) {
  const TFilterMasks masks = ReadFilterMasks(filterFile, pair.sourceRoot, pair.destinationRoot);
  form.excludeFolderMasks = masks.folderMasks;
  form.excludeFileMasks = pair.ExcludesMatchingFiles() ? masks.fileMasks : std::string();
  form.includeMasks = pair.ExcludesMatchingFiles() ? std::string() : masks.fileMasks;
  return masks.unreadable;
}

void ClearPairMasks(TtfKestronize& form) {
  form.excludeFolderMasks.clear();
  form.excludeFileMasks.clear();
  form.includeMasks.clear();
}

std::vector<TFolderPair> ReadPairs(const std::string& srcDestFile, std::vector<std::string>& report) {
  FolderPairFile file = ReadFolderPairs(srcDestFile);
  if (!file.ok) report.push_back(file.error);
  if (!file.note.empty()) report.push_back(file.note);
  return std::move(file.pairs);
}

// Everything step by step once the job file exists; the caller cleans up.
class ListBuild {
 public:
  ListBuild(TtfKestronize& form, const TProfItem& profile, std::string profileFolder, TDriveList& drives)
      : form_(form),
        profile_(profile),
        profileFolder_(std::move(profileFolder)),
        drives_(drives),
        total_([&form](TSyncListe& list) { form.ListProgress(list); }) {}

  void BuildPairs(bool useFilters, bool activeOnly, std::vector<std::string>& report) {
    const std::string filterFile = profileFolder_ + "Filters.kst";
    for (const TFolderPair& pair : ReadPairs(profileFolder_ + "SrcDest.kst", report)) {
      if (!IsPairToBuild(pair, activeOnly, drives_)) continue;
      form_.SetRoots(pair.sourceRoot, pair.destinationRoot);
      form_.recurse = pair.ScansSubfolders();
      total_.SetRoots(pair.sourceRoot, pair.destinationRoot);
      std::string unreadable;
      if (useFilters) unreadable = SetPairMasks(form_, pair, filterFile);
      else ClearPairMasks(form_);
      form_.strategy = SetStrategy(pair.strategy.Bytes());
      RunPair(report, unreadable.empty() ? std::string() : UnreadableFiltersLine(filterFile, pair, unreadable));
    }
  }

  // Returns false when the critical delete share was reached.
  bool Finish(TDriveNameList& vanishedDrives, TMoveList& movedFiles, int& criticalLimit,
              TInStableDriveList* unstableDrives, const std::string& jobFile) {
    total_.CollectDrives(vanishedDrives);
    if (profile_.findMovedFiles) {
      form_.SetStepText("Suchen verschobener Dateien");
      total_.FindMoved();
      movedFiles.FillFrom(total_.movedFiles());
    }
    form_.SetStepText("Prüfen der kritischen Löschmenge");
    if (total_.CriticalDeleteShare(criticalLimit, total_.destinationEntries)) {
      criticalLimit = -1;
      return false;
    }
    if (unstableDrives) {
      form_.SetStepText("Erneute Prüfung der zu löschenden Dateien");
      total_.RecheckUnstable(*unstableDrives);
    }
    form_.SetStepText("Markierung der Ordner prüfen");
    total_.MarkFolders();
    form_.SetStepText("Anzeige vorbereiten");
    total_.FormatTexts();
    form_.SetStepText("Schreibe Datei");
    total_.WriteJobFile(jobFile);
    return true;
  }

 private:
  // filterProblem: why the pair's filters are unknown ("" when they are
  // not). Without them a mirror would delete what the user had excluded, so
  // the pair's deletions are withheld.
  void RunPair(std::vector<std::string>& report, const std::string& filterProblem) {
    struct TakeReport {
      TtfKestronize& form;
      std::vector<std::string>& report;
      ~TakeReport() {
        for (std::string& line : form.TakeReportLines()) report.push_back(std::move(line));
      }
    } take{form_, report};
    form_.sbAbgleichClick();
    if (!filterProblem.empty()) {
      form_.pairList()->WithholdDeletions();
      report.push_back(filterProblem);
    }
    form_.SetStepText("Gesamtliste ergänzen");
    total_.AppendFrom(std::move(*form_.pairList()));
    total_.destinationEntries += form_.destinationEntriesSeen();
  }

  static std::string UnreadableFiltersLine(const std::string& filterFile, const TFolderPair& pair,
                                           const std::string& why) {
    return "Die Filterdatei " + platform::Quoted(filterFile) + " ist nicht lesbar (" + why +
           "): Löschungen zwischen " + pair.sourceRoot + " und " + pair.destinationRoot + " wurden nicht ausgeführt.";
  }

  TtfKestronize& form_;
  const TProfItem& profile_;
  std::string profileFolder_;
  TDriveList& drives_;
  TSyncListe total_;
};

}  // namespace

TFilterMasks ReadFilterMasks(const std::string& filterFile, std::string_view sourceRoot,
                             std::string_view destinationRoot) {
  TFilterMasks masks;
  const platform::IniFile ini(filterFile);
  if (!ini.IsReadable()) {
    masks.unreadable = platform::SysErrorMessage(platform::GetLastError());
    return masks;
  }
  const std::string roots = std::string(sourceRoot) + std::string(destinationRoot);

  const auto volumes = platform::CurrentVolumes();
  const std::string source = ComparableRoot(*volumes, sourceRoot);
  const std::string dest = ComparableRoot(*volumes, destinationRoot);
  for (const std::string& key : ini.ReadSection("Fldr" + roots)) {
    if (auto mask = FolderMaskOf(key, source, dest, *volumes)) AppendItem(masks.folderMasks, *mask);
  }
  for (const std::string& key : ini.ReadSection("File" + roots)) AppendItem(masks.fileMasks, key);
  return masks;
}

TUnpackedStrategy SetStrategy(std::span<const uint8_t> bytes) {
  if (bytes.size() != TSyncStrategy::kSize) {
    throw std::invalid_argument("Strategie: " + std::to_string(bytes.size()) + " statt " +
                                std::to_string(TSyncStrategy::kSize) + " Bytes");
  }
  TUnpackedStrategy strategy{};
  for (size_t i = 0; i < strategy.size(); ++i) {
    const uint8_t direction = bytes[2 * i];
    const bool backwards = direction == kStrategyDestinationToSource;
    if (i == 0) strategy[i].direction = backwards ? kFlagDestinationToSource : direction;
    else strategy[i].direction = backwards ? kFlagDestinationToSource : kFlagSourceToDestination;
    strategy[i].action = bytes[2 * i + 1];
  }
  return strategy;
}

std::string NewJobFileName(std::string_view profileFolder) {
  // Held until the copy engine deletes it, so that no other run of the
  // profile takes it for a leftover.
  std::string name = platform::GetHeldTempFileName(profileFolder, "$");
  if (name.empty()) {
    throw std::runtime_error("Die Auftragsdatei kann in \"" + std::string(profileFolder) +
                             "\" nicht angelegt werden: " + platform::SysErrorMessage(platform::GetLastError()));
  }
  return name;
}

void BuildSyncList(bool useFilters, bool activeOnly, bool hideWindow, bool minimize,
                   const TUserOptions& userOptions, const TProfItem& profile, const std::string& driveTableFile,
                   std::string& jobFile, TDriveNameList& vanishedDrives, TMoveList& movedFiles, int& criticalLimit,
                   TInStableDriveList* unstableDrives, std::vector<std::string>* reportLines) {
  std::vector<std::string> report;
  struct CleanUp {
    std::string& jobFileOut;
    const std::string& driveTableFile;
    std::vector<std::string>& report;
    std::vector<std::string>* reportLines;
    std::string jobFile;
    ~CleanUp() {
      jobFileOut = jobFile;
      platform::DeleteFile(driveTableFile);
      if (reportLines) reportLines->insert(reportLines->end(), report.begin(), report.end());
    }
  } cleanUp{jobFile, driveTableFile, report, reportLines, {}};

  jobFile.clear();
  TDriveList drives;
  drives.LoadFromFile(driveTableFile);
  // The profile folder is written with its "\"; a record without one must not
  // make "...\0000001SrcDest.kst" of it.
  const std::string profileFolder = platform::IncludeTrailingBackslash(profile.profilePath);
  // Job files, pair copies and temporary files of runs that were killed.
  platform::RemoveLeftoverTempFiles(profileFolder, "$");
  cleanUp.jobFile = NewJobFileName(profileFolder);

  TtfKestronize form(hideWindow);
  form.Show(minimize);
  form.folderRowKind = FolderRowKindOf(userOptions);
  form.twoSecondTolerance = profile.twoSecondTolerance;
  form.oldStampFile = profile.keepOldStamps ? profileFolder + "OS.vrl" : std::string();

  ListBuild build(form, profile, profileFolder, drives);
  build.BuildPairs(useFilters, activeOnly, report);
  build.Finish(vanishedDrives, movedFiles, criticalLimit, unstableDrives, cleanUp.jobFile);
}

}  // namespace kv

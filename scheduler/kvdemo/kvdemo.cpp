// kvdemo: the demo work folder for Horavex, and a reader for protocols.
//
//   kvdemo FOLDER          writes the work folder FOLDER (a folder of this
//                          machine) with one profile "Demo" that copies new
//                          and newer files from "Quelle" to "Ziel" every 30
//                          seconds and deletes nothing, and points WorkDir
//                          of the registry at it. Files that exist are kept.
//                          Exit status 3 when Horavex already runs for this
//                          user, 1 on failure.
//   kvdemo --protokoll FILE  prints the records of a protocol file.
//
// The records are written with the system's own record code, as the profile
// editor would write them.
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "copyengine/protocol.h"
#include "platform/errors.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/inifile.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/volumes.h"
#include "scheduler/timermain.h"
#include "shared/folderpair.h"
#include "shared/profitem.h"
#include "shared/synccodes.h"
#include "shared/useroptions.h"

using namespace kv;

namespace {

namespace fs = std::filesystem;

constexpr const char* kProfileNo = "0000001";

void WriteIfMissing(const fs::path& path, const std::vector<uint8_t>& bytes) {
  if (fs::exists(path)) return;
  fs::create_directories(path.parent_path());
  if (!platform::WriteFileAtomic(platform::FromPosixPath(path.string()), bytes.data(), bytes.size())) {
    throw std::runtime_error(path.string() + ": " + platform::SysErrorMessage(platform::GetLastError()));
  }
}

void WriteTextIfMissing(const fs::path& path, const std::string& text) {
  WriteIfMissing(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// New files and folders of the source and newer files go to the
// destination; nothing is deleted and nothing goes back.
TFolderPair DemoPair(const std::string& source, const std::string& destination) {
  TFolderPair pair;
  pair.sourceRoot = source;
  pair.destinationRoot = destination;
  pair.active = 1;
  pair.subfolders = 1;
  for (int state : {kStateOnlyInSource, kStateDestinationOlder, kStateFolderOnlyInSource}) {
    pair.strategy.pairs[static_cast<size_t>(*StrategyPairForState(state))] = {1, kActionCopy};
  }
  return pair;
}

void WriteSchedule(const std::string& scheduleFile) {
  platform::IniFile schedule(scheduleFile);
  if (schedule.SectionExists(kProfileNo)) return;
  // An interval entry first starts one interval after Horavex loaded it.
  schedule.WriteString(kProfileNo, "Name", "Demo");
  schedule.WriteInteger(kProfileNo, "Kind", kKindInterval);
  schedule.WriteString(kProfileNo, "Intervall", "00:00:30");
}

int WriteDemo(const fs::path& folder) {
  fs::create_directories(folder);
  const std::string work = platform::IncludeTrailingBackslash(platform::FromPosixPath(fs::absolute(folder).string()));
  if (work == "\\") throw std::runtime_error(folder.string() + " hat keinen Windows-Pfad");
  const std::string profileFolder = work + "Profile\\" + kProfileNo + "\\";

  TUserOptions options;
  options.options[TUserOptions::kOffFolderRowKind] = 2;
  WriteIfMissing(folder / "UsrOpt.kst", std::vector<uint8_t>(options.options.begin(), options.options.end()));
  TProfItem profile;
  profile.profileNo = kProfileNo;
  profile.profileName = "Demo";
  profile.profilePath = profileFolder;
  WriteIfMissing(folder / "Profile" / "Pro.kst", profile.Encode());
  WriteIfMissing(folder / "Profile" / kProfileNo / "SrcDest.kst",
                 DemoPair(work + "Quelle\\", work + "Ziel\\").Encode());
  WriteSchedule(work + "Profile\\" + std::string(kScheduleFileName));

  WriteTextIfMissing(folder / "Quelle" / "Willkommen.txt", "Horavex gleicht diesen Ordner nach \"Ziel\" ab.\n");
  WriteTextIfMissing(folder / "Quelle" / "Grüße aus Köln.txt", "Umlaute im Namen: äöüß\n");
  WriteTextIfMissing(folder / "Quelle" / "Datei mit Leerzeichen.txt", "Leerzeichen im Namen\n");
  WriteTextIfMissing(folder / "Quelle" / "Unterordner" / "Bericht.txt", "Ein Unterordner wird mit angelegt.\n");
  fs::create_directories(folder / "Ziel");

  if (!platform::Registry(platform::Hive::CurrentUser).WriteString(kUserKey, "WorkDir", work)) {
    throw std::runtime_error("WorkDir: " + platform::SysErrorMessage(platform::GetLastError()));
  }
  std::printf("Arbeitsordner %s (WorkDir %s), Registry %s\n", folder.c_str(), work.c_str(),
              platform::Registry::Directory().c_str());
  if (!platform::ExclusiveLock::TryAcquire("Timer.exe") && platform::GetLastError() == EWOULDBLOCK) {
    std::printf("Horavex läuft für diesen Benutzer bereits.\n");
    return 3;
  }
  return 0;
}

const char* StatusText(uint8_t status) {
  switch (status) {
    case kPtkDone: return "erledigt";
    case kPtkError: return "Fehler";
    case kPtkCopyErrorPartialTarget: return "Fehler, Rest am Ziel";
    default: return "-";
  }
}

int ShowProtocol(const std::string& file) {
  const ProtocolContents contents = ReadProtocolFile(platform::FromPosixPath(fs::absolute(file).string()));
  for (const TPtkItem& record : contents.records) {
    std::printf("%-20s %s | %s | %s\n", StatusText(record.status), record.item.source.c_str(),
                record.item.destination.c_str(), record.message.c_str());
  }
  if (contents.trailer) {
    std::printf("Ende: Dauer %s, Menge %s, Fehler %d\n", contents.trailer->elapsedText.c_str(),
                contents.trailer->sizeText.c_str(), contents.trailer->errorFlag);
  } else {
    std::printf("(kein Abschlussdatensatz: der Abgleich ist nicht zu Ende gekommen)\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "--protokoll") return ShowProtocol(argv[2]);
    if (argc == 2) return WriteDemo(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvdemo: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "Aufruf: kvdemo ORDNER | kvdemo --protokoll DATEI\n");
  return 1;
}

// The run's own protocol: its creation, the records the run writes itself
// and its closing when the copy engine did not close it.
#include <vector>

#include "copyengine/report/errorreport.h"
#include "platform/files.h"
#include "platform/text.h"
#include "scheduler/runsync.h"
#include "scheduler/runtexts.h"

namespace kv {
namespace {

// A text in a record's path field: cut to the field at a whole character
// (these fields hold texts here, never paths to act on).
std::string FieldText(std::string_view text) {
  return std::string(text.substr(0, platform::Utf8PrefixLength(text, ptk::kMessageWidth)));
}

void Append(const std::string& ptkPath, const std::vector<TPtkItem>& records) {
  if (!ptkPath.empty() && !records.empty()) AppendToProtocolFile(ptkPath, records);
}

bool EndsWithTrailer(ProtocolStream& protocol) {
  return !protocol.IsEmpty() && protocol.ReadAt(protocol.Size() - ProtocolStream::kRecordSize).IsTrailer();
}

}  // namespace

kv::NewProtocol TthRunSync::NewProtocol(int32_t maxPtk, const std::string& folder) {
  return CreateNextProtocol(folder, maxPtk);
}

bool FileNotEmpty(const std::string& path) { return !path.empty() && platform::GetFileSize(path).value_or(0) > 0; }

void TthRunSync::WriteCriticalDelete(const std::string& ptkPath, int32_t percent) {
  const std::string text =
      std::string(kMsgCriticalDeleteBefore) + platform::IntToStr(percent) + std::string(kMsgCriticalDeleteAfter);
  Append(ptkPath, {TPtkItem::SchedulerRecord(text, "", kPtkError, text)});
}

void TthRunSync::WriteMissingDrives(const std::string& ptkPath, const TDriveNameList& drives) {
  std::vector<TPtkItem> records;
  for (const std::string& drive : drives) {
    records.push_back(TPtkItem::SchedulerRecord(FieldText(drive), "", kPtkError, std::string(kMsgDriveUnavailable)));
  }
  Append(ptkPath, records);
}

void TthRunSync::WriteMovedFiles(const std::string& ptkPath, const TMoveList& moves) {
  std::vector<TPtkItem> records;
  for (size_t i = 0; i < moves.Count(); ++i) {
    TMovePair pair = moves.GetPair(i);
    records.push_back(TPtkItem::SchedulerRecord(std::move(pair.oldPath), std::move(pair.newPath), kPtkDone,
                                                std::string(kMsgFileMoved)));
  }
  Append(ptkPath, records);
}

void TthRunSync::WriteUnstableDrives(const std::string& ptkPath, const TInStableDriveList& drives) {
  std::vector<TPtkItem> records;
  for (size_t i = 0; i < drives.Count(); ++i) {
    const TDrivePair pair = drives.GetPair(i);
    const std::string text = pair.uncDrive.empty()
                                 ? pair.drive + std::string(kUnstableDriveSuffix)
                                 : pair.drive + "\\ ( " + pair.uncDrive + "\\ ) Laufwerk instabil!";
    records.push_back(TPtkItem::SchedulerRecord(FieldText(text), "", kPtkError, std::string(kMsgUnstableDrive)));
  }
  Append(ptkPath, records);
}

// What the list builder left out (unreadable folders, names it cannot
// handle, an unusable "SrcDest.kst" or "OS.vrl") reaches the user as errors.
void TthRunSync::WriteBuildReport(const std::string& ptkPath, const std::vector<std::string>& lines) {
  std::vector<TPtkItem> records;
  for (const std::string& line : lines) {
    records.push_back(TPtkItem::SchedulerRecord(FieldText(line), "", kPtkError, line));
  }
  Append(ptkPath, records);
}

void TthRunSync::CloseProtocol(const std::string& ptkPath, const std::string& mail, const std::string& profileName,
                               const std::optional<std::string>& failure) {
  if (ptkPath.empty()) return;
  try {
    ProtocolStream protocol = ProtocolStream::OpenForAppend(ptkPath);
    if (EndsWithTrailer(protocol)) return;
    if (failure) {
      protocol.Append(TPtkItem::SchedulerRecord("", "", kPtkError, std::string(kPtkMsgRunFailed) + *failure));
    }
    if (protocol.IsEmpty()) return protocol.CloseAndDelete();
    TPtkTrailer trailer = TPtkTrailer::ForRunWithoutCopy();
    // Moved files alone are no failed run.
    trailer.errorFlag = protocol.HasErrorRecord() ? 1 : 0;
    protocol.AppendTrailer(trailer);
    protocol.Close();
  } catch (const std::exception&) {
    // A protocol that cannot be closed has no report either.
    return;
  }
  MailErrorProtocol(ptkPath, mail, profileName);
}

void TthRunSync::MailErrorProtocol(const std::string& ptkPath, const std::string& mail,
                                   const std::string& profileName) {
  kv::MailErrorProtocol(ptkPath, mail, profileName);
}

}  // namespace kv

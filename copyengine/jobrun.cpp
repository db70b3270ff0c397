#include "copyengine/jobrun.h"

#include <utility>

#include "copyengine/filecopy.h"

namespace kv {

Outcome Combined(Outcome first, Outcome second) { return second.status == kPtkDone ? first : second; }

void TCurrentFolders::Enter(const std::string& folder1, const std::string& folder2) {
  side1 = folder1;
  side2 = folder2;
  ensured1 = ensured2 = false;
}

void SetOutcome(TPtkItem& record, Outcome outcome) {
  record.status = outcome.status;
  record.message = std::move(outcome.message);
}

std::optional<uint64_t> TJobRun::WriteRecord(const TPtkItem& record) {
  if (!files.protocol) return std::nullopt;
  return files.protocol->Append(record);
}

void TJobRun::RewriteRecord(std::optional<uint64_t> position, const Outcome& outcome) {
  if (files.protocol && position) files.protocol->Rewrite(*position, outcome.status, outcome.message);
}

void TJobRun::WriteOutcome(TPtkItem& record, Outcome outcome) {
  SetOutcome(record, std::move(outcome));
  WriteRecord(record);
}

void TJobRun::WriteFailure(TPtkItem& record, std::string_view message) {
  WriteOutcome(record, {kPtkError, std::string(message)});
}

void TJobRun::ShowPaths(std::string_view side1, std::string_view side2) {
  ShortenPathLabel(*window, CopyLabel::tlSrc, side1);
  ShortenPathLabel(*window, CopyLabel::tlDest, side2);
}

void TJobRun::AddBytesDone(int64_t bytes) {
  bytesDone = AddSizes(bytesDone, bytes);
  window->SetBarPosition(CopyBar::pgAll, static_cast<int32_t>(bytesDone / overallDivisor));
}

}  // namespace kv

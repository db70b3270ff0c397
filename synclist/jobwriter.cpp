#include "synclist/jobwriter.h"

#include <limits>
#include <stdexcept>

#include "platform/record.h"

namespace kv {

namespace {

uint8_t ActionByte(int action) { return static_cast<uint8_t>(action); }

}  // namespace

TSyncItem JobItemFromRow(const TSyncListItem& row, int32_t index) {
  TSyncItem item;
  item.source = row.source;
  item.destination = row.destination;
  item.sourceSize = row.sourceSize;
  item.destinationSize = row.destinationSize;
  item.rowIndex = index;
  item.sourceTime = row.sourceTime;
  item.destinationTime = row.destinationTime;
  item.rowKind = JobRowKind(row.rowKind);
  item.action = ActionByte(row.action);
  item.stateCode = JobStateCode(row.state);
  item.direction = JobDirection(row.direction);
  item.FillTexts(row.ShowsSourceTime(), row.ShowsDestinationTime());
  return item;
}

void TSyncListe::WriteJobFile(const std::string& jobFile) {
  if (rows_.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw JobFileError(jobFile + ": too many rows for one job file");
  JobFileWriter writer(jobFile);
  for (size_t i = 0; i < rows_.size(); ++i) {
    Tick();
    const TSyncListItem& row = rows_[i];
    if (row.IsFolder()) ShowFolder(row.source);
    try {
      writer.Add(JobItemFromRow(row, static_cast<int32_t>(i)));
    } catch (const platform::FieldTooLong& e) {
      // A path is never cut: a shortened path would name another file.
      throw JobFileError(jobFile + ": row " + std::to_string(i) + ": " + e.what());
    } catch (const std::invalid_argument& e) {
      throw JobFileError(jobFile + ": row " + std::to_string(i) + ": " + e.what());
    }
  }
  writer.Commit();
}

}  // namespace kv

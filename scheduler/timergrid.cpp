#include "scheduler/timergrid.h"

#include <algorithm>

#include "platform/text.h"

namespace kv {

TTimerGrid::TTimerGrid() : rows_(2) {}

void TTimerGrid::Changed() const {
  if (onChanged) onChanged();
}

void TTimerGrid::SetRowCount(int count) {
  rows_.resize(static_cast<size_t>(std::max(count, 1)));
  Changed();
}

const std::string& TTimerGrid::Cell(int column, int row) const {
  static const std::string kNone;
  if (column < 0 || column >= kColumnCount || row < 0 || row >= RowCount()) return kNone;
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

void TTimerGrid::SetCell(int column, int row, std::string text) {
  if (column < 0 || column >= kColumnCount || row < 0 || row >= RowCount()) return;
  rows_[static_cast<size_t>(row)][static_cast<size_t>(column)] = std::move(text);
  Changed();
}

void TTimerGrid::ClearRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  rows_[static_cast<size_t>(row)] = {};
  Changed();
}

int TTimerGrid::FindRow(std::string_view profileNo) const {
  for (int row = 1; row < RowCount(); ++row) {
    if (platform::SameText(rows_[static_cast<size_t>(row)][kColId], profileNo)) return row;
  }
  return -1;
}

void TTimerGrid::MoveRowsUp(int row) {
  if (row < 0 || row >= RowCount()) return;
  std::move(rows_.begin() + row + 1, rows_.end(), rows_.begin() + row);
  rows_.back() = {};
  Changed();
}

}  // namespace kv

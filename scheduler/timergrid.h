#pragma once
// The schedule grid of the main window as a model: 4 columns, row 0 holds
// the headings, one row per scheduled profile below ("ID", "Name", "Timer",
// "Letzter Start"). It lives on the window thread; the widget shows it and
// hears of every change.
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class TTimerGrid {
 public:
  static constexpr int kColumnCount = 4;
  enum Column { kColId = 0, kColName = 1, kColTimer = 2, kColLastStart = 3 };

  TTimerGrid();  // 2 empty rows

  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Rows added are empty; a count below 1 is taken as 1.
  void SetRowCount(int count);
  // "" outside the grid.
  const std::string& Cell(int column, int row) const;
  // Ignored outside the grid.
  void SetCell(int column, int row, std::string text);
  void ClearRow(int row);
  // The first row from 1 on whose ID equals the number (case-insensitive);
  // -1 when none.
  int FindRow(std::string_view profileNo) const;
  // Rows below `row` move up one; the last row is emptied.
  void MoveRowsUp(int row);

  // Called after every change (the widget's repaint).
  std::function<void()> onChanged;

 private:
  void Changed() const;
  std::vector<std::array<std::string, kColumnCount>> rows_;
};

}  // namespace kv

#pragma once
// Turning rows of the sync list into job-file records.
#include <cstdint>

#include "shared/syncitem.h"
#include "synclist/syncliste.h"

namespace kv {

// The job record of row index: codes mapped as the copy engine reads them
// (state code, direction byte, row kind), sizes and times as in the row, the
// time and date texts of the sides the file is on made from their times
// (std::invalid_argument for a time that names no valid date).
TSyncItem JobItemFromRow(const TSyncListItem& row, int32_t index);

}  // namespace kv

#pragma once
// Turning rows of the sync list into job-file records.
#include <cstdint>

#include "shared/syncitem.h"
#include "synclist/syncliste.h"

namespace kv {

// The job record of row index: codes mapped as the copy engine reads them
// (state code, direction byte, row kind), sizes, times and texts as in the row.
TSyncItem JobItemFromRow(const TSyncListItem& row, int32_t index);

}  // namespace kv

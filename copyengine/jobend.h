#pragma once
// How a run ends: the end sequence after the item loop (the window's last
// state, the protocol's trailer or its removal, the reports), the protocol
// of a run that failed, and the clean-up that follows either way.
#include <exception>

#include "copyengine/jobrun.h"

namespace kv {

// After the item loop, also after a cancel.
void EndOfRun(TJobRun& run);

// The run failed: the protocol tells why and is closed as far as it still
// can be; whatever fails here gives way to the first failure.
void RecordFailure(TJobRun& run, const std::exception_ptr& failure);

// Whatever happened: the window, the job file and the pair copy go; the
// previous old stamps are merged into this run's (when the end of the run
// has not done it already).
void CleanUp(TJobRun& run);

}  // namespace kv

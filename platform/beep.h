#pragma once
// The default system sound, with which a run that failed used to tell the
// user. The platform has no sound of its own: the beep goes to the sink the
// program installed (its window layer rings the desktop's bell), else, when
// standard error is a terminal, a BEL goes there. Tests install a counting
// sink.
#include <functional>

namespace kv::platform {

using BeepSink = std::function<void()>;

void MessageBeep();
// Replaces the sink for the whole process and returns the one before; an
// empty sink restores the default.
BeepSink SetBeepSink(BeepSink sink);

}  // namespace kv::platform

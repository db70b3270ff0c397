#pragma once
// The program is ending: every job running in the process (list builds,
// copies) stops as its cancel button would stop it, without a question. The
// flag lives in the platform layer, so a job inside a server library sees
// the request of the program that loaded it.
namespace kv::platform::ui {

// Set by the program when it closes; tests clear it again.
void SetAllJobsStopping(bool stopping);
bool AllJobsStopping();

}  // namespace kv::platform::ui

#include "platform/ui/jobstop.h"

#include <atomic>

namespace kv::platform::ui {
namespace {

std::atomic<bool> g_stopping{false};

}  // namespace

void SetAllJobsStopping(bool stopping) { g_stopping.store(stopping, std::memory_order_release); }

bool AllJobsStopping() { return g_stopping.load(std::memory_order_acquire); }

}  // namespace kv::platform::ui

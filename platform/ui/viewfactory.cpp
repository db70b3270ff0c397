#include "platform/ui/viewfactory.h"

#include <map>
#include <mutex>
#include <string>

namespace kv::platform::ui::detail {
namespace {

struct Entry {
  std::string type;
  std::shared_ptr<const void> factory;
};

std::mutex g_mutex;
std::map<std::string, Entry, std::less<>>& Slots() {
  static auto* slots = new std::map<std::string, Entry, std::less<>>;  // outlives every static that uses it
  return *slots;
}

}  // namespace

std::shared_ptr<const void> ExchangeViewFactory(std::string_view slot, const char* type,
                                                std::shared_ptr<const void> factory) {
  std::lock_guard lock(g_mutex);
  auto& slots = Slots();
  auto it = slots.find(slot);
  if (it == slots.end()) {
    if (!factory) return nullptr;
    it = slots.emplace(std::string(slot), Entry{}).first;
  }
  Entry& entry = it->second;
  std::shared_ptr<const void> previous = entry.type == type ? std::move(entry.factory) : nullptr;
  entry.type = type;
  entry.factory = std::move(factory);
  return previous;
}

std::shared_ptr<const void> FindViewFactory(std::string_view slot, const char* type) {
  std::lock_guard lock(g_mutex);
  const auto& slots = Slots();
  const auto it = slots.find(slot);
  if (it == slots.end() || it->second.type != type) return nullptr;
  return it->second.factory;
}

}  // namespace kv::platform::ui::detail

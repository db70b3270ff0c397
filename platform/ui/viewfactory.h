#pragma once
// Process-wide slots for the factories that give a model its window. A model
// library gets its view through a slot, and the window target beside it
// fills the slot once when the program starts. The slots live in the
// platform layer, which the component runtime carries once per process: a
// model running inside a server library finds the factory that the program
// installed, although each binary links its own copy of the model library.
//
// A slot holds a value of one type; a lookup with another type (a binary
// built from other headers) finds nothing, so that model stays headless.
#include <memory>
#include <string_view>
#include <typeinfo>
#include <utility>

namespace kv::platform::ui {

namespace detail {
// type: typeid(...).name() of the stored value. Both return the previous or
// found value, or nullptr.
std::shared_ptr<const void> ExchangeViewFactory(std::string_view slot, const char* type,
                                                std::shared_ptr<const void> factory);
std::shared_ptr<const void> FindViewFactory(std::string_view slot, const char* type);
}  // namespace detail

// Factory: a copyable callable type such as std::function. The name must be
// unique in the process.
template <class Factory>
class ViewFactorySlot {
 public:
  explicit constexpr ViewFactorySlot(std::string_view name) : name_(name) {}

  // Any thread. Installs factory (an empty one: none) and returns the one it
  // replaces.
  Factory Exchange(Factory factory) const {
    std::shared_ptr<const void> stored;
    if (factory) stored = std::make_shared<const Factory>(std::move(factory));
    return Unwrap(detail::ExchangeViewFactory(name_, typeid(Factory).name(), std::move(stored)));
  }
  // Any thread: the installed factory, or an empty one.
  Factory Get() const { return Unwrap(detail::FindViewFactory(name_, typeid(Factory).name())); }

 private:
  static Factory Unwrap(const std::shared_ptr<const void>& stored) {
    return stored ? *static_cast<const Factory*>(stored.get()) : Factory{};
  }

  std::string_view name_;
};

}  // namespace kv::platform::ui

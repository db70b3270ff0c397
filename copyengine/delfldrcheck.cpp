#include "copyengine/delfldrcheck.h"

#include <utility>

#include "platform/msgloop.h"
#include "platform/ui/viewfactory.h"

namespace kv {
namespace {

// Once per process: the check runs inside the server library, while the
// program that has the window thread installs the factory.
constexpr platform::ui::ViewFactorySlot<DelFldrCheckViewFactory> kViewFactory{"kv.copyengine.TtfDelFldrCheck"};

}  // namespace

DelFldrCheckViewFactory SetDelFldrCheckViewFactory(DelFldrCheckViewFactory factory) {
  return kViewFactory.Exchange(std::move(factory));
}

TtfDelFldrCheck::TtfDelFldrCheck(bool minimized) {
  if (const DelFldrCheckViewFactory factory = kViewFactory.Get()) view_ = factory(minimized);
}

void TtfDelFldrCheck::ShowBoth(std::string_view source, std::string_view dest) { Show(source, dest); }
void TtfDelFldrCheck::ShowSource(std::string_view source) { Show(source, {}); }
void TtfDelFldrCheck::ShowDest(std::string_view dest) { Show({}, dest); }

void TtfDelFldrCheck::Show(std::string_view source, std::string_view dest) {
  state_.sourceFolder = source;
  state_.destFolder = dest;
  if (view_) view_->Publish(state_);
  platform::MessageLoop::Current().ProcessMessages();
}

}  // namespace kv

#include "context/Warning.h"

#include <utility>

namespace vk9 {

void warnOperator(Context& ctx, const std::string& text, Warning about) {
    auto& status = ctx.portStatus;
    status.warning = about;
    if (!status.shown) {
        // A box before the window would stand alone: told with the window, all in one.
        status.untold = status.untold ? *status.untold + "\n\n" + text : text;
        return;
    }
    ctx.view.warn(text);
}

void withdrawLossWarning(Context& ctx) {
    auto& status = ctx.portStatus;
    if (status.warning != Warning::LostLine) {
        return;
    }
    status.warning = Warning::None;
    if (status.shown) {
        ctx.view.withdrawWarning();
    } else {
        status.untold.reset();
    }
}

void windowShown(Context& ctx) {
    ctx.portStatus.shown = true;
    if (auto untold = std::exchange(ctx.portStatus.untold, std::nullopt)) {
        ctx.view.warn(*untold);
    }
}

} // namespace vk9

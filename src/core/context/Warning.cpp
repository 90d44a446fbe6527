#include "context/Warning.h"

#include <utility>

namespace vk9 {

void warnOperator(Context& ctx, const std::string& text, Warning about) {
    auto& status = ctx.portStatus;
    status.warning = about;
    if (!status.shown) {
        // A box before the window would stand alone: told with the window, all in one.
        status.untold.emplace_back(about, text);
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
        std::erase_if(status.untold, [](const auto& w) { return w.first == Warning::LostLine; });
    }
}

void windowShown(Context& ctx) {
    ctx.portStatus.shown = true;
    std::string text;
    for (const auto& [about, each] : std::exchange(ctx.portStatus.untold, {})) {
        text += (text.empty() ? "" : "\n\n") + each;
    }
    if (!text.empty()) {
        ctx.view.warn(text);
    }
}

} // namespace vk9

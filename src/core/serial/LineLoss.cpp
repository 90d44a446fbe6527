#include "serial/LineLoss.h"

#include <algorithm>
#include <string>

namespace vk9 {

namespace {

// "rfc2217://hall:7001" is reconnected to as "hall:7001".
std::string_view hostAndPort(std::string_view device) {
    const auto scheme = device.find("://");
    return scheme == std::string_view::npos ? device : device.substr(scheme + 3);
}

void tryAgainLater(Context& ctx) {
    ctx.view.setCaption(kStatusBox, " Reconnecting to " + ctx.line.reconnecting);
    ctx.timers.setInterval(TimerId::Reconnect, ctx.line.retryIn);
    ctx.timers.start(TimerId::Reconnect);
}

} // namespace

void handlePortLost(Context& ctx, std::string_view device, std::string_view reason,
                    bool comesBack) {
    if (ctx.port.isOpen()) {
        (void)ctx.port.close();
    }
    const std::string text =
        "The serial line " + std::string(device) + " went away: " + std::string(reason);
    ctx.diagnostics.log(text);
    if (comesBack) { // before the box, which waits for the operator
        ctx.line.reconnecting = hostAndPort(device);
        ctx.line.retryIn = kFirstRetry;
        tryAgainLater(ctx);
    }
    ctx.view.warn(text);
}

void retryLine(Context& ctx) {
    ctx.timers.stop(TimerId::Reconnect);
    if (ctx.line.reconnecting.empty() || ctx.port.isOpen()) {
        return;
    }
    const SerialResult opened = ctx.port.open();
    if (opened.pending) {
        const int port = ctx.port.portNumber();
        ctx.line.pending = PendingOpen{port, port, OpenedBy::Reconnect};
        return;
    }
    endRetry(ctx, opened);
}

void endRetry(Context& ctx, const SerialResult& opened) {
    if (ctx.line.reconnecting.empty()) {
        return;
    }
    if (opened.ok) {
        const std::string back = "Reconnected to " + ctx.line.reconnecting;
        ctx.diagnostics.log(back);
        ctx.view.setCaption(kStatusBox, " " + back);
        ctx.line.reconnecting.clear();
        return;
    }
    ctx.line.retryIn = std::min<std::chrono::milliseconds>(2 * ctx.line.retryIn, kLongestRetry);
    tryAgainLater(ctx);
}

void stopReconnecting(Context& ctx) {
    ctx.line.reconnecting.clear();
    ctx.timers.stop(TimerId::Reconnect);
}

void tellLineNote(Context& ctx, std::string_view device, std::string_view text, bool show) {
    ctx.diagnostics.log(std::string(device) + ": " + std::string(text));
    if (show) {
        ctx.view.setCaption(kStatusBox, " " + std::string(text));
    }
}

} // namespace vk9

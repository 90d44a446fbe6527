#include "serial/Reconnection.h"

#include "context/Warning.h"

#include <algorithm>
#include <string>
#include <utility>

namespace vk9 {

namespace {

// "rfc2217://hall:7001" is reconnected to as "hall:7001".
std::string_view hostAndPort(std::string_view device) {
    const auto scheme = device.find("://");
    return scheme == std::string_view::npos ? device : device.substr(scheme + 3);
}

void tryAgainLater(Context& ctx, std::chrono::milliseconds wait) {
    ctx.view.setCaption(kStatusBox, " Reconnecting to " + ctx.portStatus.reconnecting);
    ctx.timers.setInterval(TimerId::Reconnect, wait);
    ctx.timers.start(TimerId::Reconnect);
}

} // namespace

std::string reconnectingNote(const Context& ctx) {
    return "Reconnecting to " + ctx.portStatus.reconnecting +
           ": this box closes when the line is back.";
}

void startReconnecting(Context& ctx, std::string_view device) {
    ctx.portStatus.reconnecting = hostAndPort(device);
    tryAgainLater(ctx, ctx.portStatus.waits.lost());
}

void handlePortLost(Context& ctx, std::string_view device, std::string_view reason,
                    bool comesBack) {
    if (ctx.port.isOpen()) {
        (void)ctx.port.close();
    }
    const std::string text =
        "The serial line " + std::string(device) + " went away: " + std::string(reason);
    ctx.diagnostics.log(text);
    if (std::exchange(ctx.portStatus.onTrial, false)) {
        // Gone as soon as it was back (a server that takes the connection and hangs up at
        // once): a try that failed, in the warning that is open already.
        tryAgainLater(ctx, ctx.portStatus.waits.failed());
        return;
    }
    if (comesBack) {
        startReconnecting(ctx, device);
        warnOperator(ctx, text + "\n\n" + reconnectingNote(ctx), Warning::LostLine);
    } else {
        warnOperator(ctx, text + "\n\nChoose COM, then its port, once it is back.");
    }
}

void retryLine(Context& ctx) {
    ctx.timers.stop(TimerId::Reconnect);
    if (ctx.portStatus.reconnecting.empty()) { // the watch after a reconnection
        if (ctx.port.isOpen()) {
            ctx.portStatus.waits.steady();
        }
        return;
    }
    if (ctx.port.isOpen()) {
        if (std::exchange(ctx.portStatus.onTrial, false)) { // open long enough: back
            const std::string back = "Reconnected to " + ctx.portStatus.reconnecting;
            ctx.diagnostics.log(back);
            ctx.view.setCaption(kStatusBox, " " + back);
            ctx.portStatus.reconnecting.clear();
            withdrawLossWarning(ctx);
            ctx.timers.setInterval(TimerId::Reconnect, kSteadyAfter); // then the waits start over
            ctx.timers.start(TimerId::Reconnect);
        }
        return;
    }
    const SerialResult opened = ctx.port.open();
    if (opened.pending) {
        const int port = ctx.port.portNumber();
        ctx.portStatus.pending = PendingOpen{port, port, OpenedBy::Reconnect};
        return;
    }
    endRetry(ctx, opened);
}

void endRetry(Context& ctx, const SerialResult& opened) {
    auto& status = ctx.portStatus;
    if (status.reconnecting.empty()) {
        return;
    }
    if (opened.ok) {
        status.onTrial = true;
        ctx.timers.setInterval(TimerId::Reconnect, kTrial);
        ctx.timers.start(TimerId::Reconnect);
        return;
    }
    tryAgainLater(ctx, status.waits.failed());
}

void stopReconnecting(Context& ctx) {
    ctx.portStatus.reconnecting.clear();
    ctx.portStatus.onTrial = false;
    ctx.portStatus.waits.steady();
    ctx.timers.stop(TimerId::Reconnect);
}

void tellLineNote(Context& ctx, std::string_view device, std::string_view text, bool show) {
    ctx.diagnostics.log(std::string(device) + ": " + std::string(text));
    if (show) {
        ctx.view.setCaption(kStatusBox, " " + std::string(text));
    }
}

} // namespace vk9

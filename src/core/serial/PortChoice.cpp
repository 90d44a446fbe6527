#include "serial/PortChoice.h"

#include "serial/LineLoss.h"

#include <optional>
#include <string>
#include <utility>

namespace vk9 {

namespace {

// Keeps the message of the last failed step; a failed step does not end the choice.
struct FailureRecord {
    std::optional<std::string> last;
    void note(SerialResult result) {
        if (!result.ok) {
            last = std::move(result.message);
        }
    }
};

} // namespace

void showSettingsFrame(Context& ctx) {
    ctx.view.setVisible(kSettingsFrame, true);
    ctx.timers.start(TimerId::Timer3);
}

void hideSettingsFrame(Context& ctx) {
    ctx.view.setVisible(kSettingsFrame, false);
    ctx.timers.stop(TimerId::Timer3);
}

std::optional<std::string> switchPort(Context& ctx, const PortOptionRow& row, OpenedBy by) {
    // A second connection to a network line that is still connecting would be refused by a
    // device server that allows one session.
    if (by == OpenedBy::StartUp && ctx.line.pending && ctx.line.pending->port == row.port) {
        return std::nullopt;
    }
    stopReconnecting(ctx);
    FailureRecord failure;
    const bool wasOpen = ctx.port.isOpen();
    if (wasOpen) {
        failure.note(ctx.port.close()); // also gives up an open still pending
    }
    ctx.line.pending.reset();
    failure.note(ctx.port.setPortNumber(row.port));
    if (!failure.last && (wasOpen || by == OpenedBy::Operator)) {
        const SerialResult opened = ctx.port.open();
        if (opened.pending) { // a network line: the choice ends when it has connected
            ctx.line.pending = PendingOpen{row.port, row.otherPort, by};
            return std::nullopt;
        }
        failure.note(opened);
    }
    if (failure.last) {
        (void)ctx.port.setPortNumber(row.otherPort); // a failure here is of no consequence
        return failure.last;                         // the frame stays as it is
    }
    ctx.view.setVisible(kSettingsFrame, false);
    return std::nullopt;
}

void choosePort(Context& ctx, const PortOptionRow& row) {
    if (const auto failure = switchPort(ctx, row, OpenedBy::Operator)) {
        ctx.view.warn(*failure);
    }
}

void finishPortChoice(Context& ctx, const SerialResult& opened) {
    if (!ctx.line.pending) {
        return; // closed in the meantime
    }
    const PendingOpen open = *std::exchange(ctx.line.pending, std::nullopt);
    if (open.by == OpenedBy::Reconnect) {
        endRetry(ctx, opened);
        return;
    }
    if (opened.ok) {
        ctx.view.setVisible(kSettingsFrame, false);
        return;
    }
    (void)ctx.port.setPortNumber(open.otherPort);
    if (open.by == OpenedBy::Operator) {
        ctx.view.warn(opened.message);
    } else {
        tellStartUpFailure(ctx, opened.message);
    }
}

void tellStartUpFailure(Context& ctx, std::string message) {
    const auto ports = ctx.port.portsOnMachine();
    std::string known;
    for (const auto& port : ports) {
        known += (known.empty() ? "" : ", ") + port;
    }
    ctx.diagnostics.log("port 1 not opened: " + message);
    message += ports.empty() ? "\n\nThis machine has no serial ports that it lists."
                             : "\n\nSerial ports on this machine: " + known + ".";
    ctx.line.untold = message + "\nName the line for port 1 with --com1 DEVICE.";
    if (ctx.line.shown) {
        windowShown(ctx);
    }
}

void windowShown(Context& ctx) {
    ctx.line.shown = true;
    if (auto untold = std::exchange(ctx.line.untold, std::nullopt)) {
        ctx.view.warn(*untold);
    }
}

void chooseSpeed(Context& ctx, const SpeedOptionRow& row) {
    ctx.state.portSettings = row.settings;
    // Both texts are valid line settings; a driver that still refuses one is only logged.
    if (const auto applied = ctx.port.setSettings(ctx.state.portSettings); !applied.ok) {
        ctx.diagnostics.log("line settings " + ctx.state.portSettings +
                            " not applied: " + applied.message);
    }
    ctx.view.setVisible(kSettingsFrame, false);
}

} // namespace vk9

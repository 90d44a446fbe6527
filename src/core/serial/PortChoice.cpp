#include "serial/PortChoice.h"

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

std::optional<std::string> switchPort(Context& ctx, const PortOptionRow& row, ChoiceBy by) {
    FailureRecord failure;
    const bool wasOpen = ctx.port.isOpen();
    if (wasOpen) {
        failure.note(ctx.port.close()); // also gives up an open still pending
    }
    ctx.line.pendingPort = 0;
    failure.note(ctx.port.setPortNumber(row.port));
    if (!failure.last && (wasOpen || by == ChoiceBy::Operator)) {
        const SerialResult opened = ctx.port.open();
        if (opened.pending) { // a network line: the choice ends when it has connected
            ctx.line.pendingPort = row.port;
            ctx.line.otherPort = row.otherPort;
            ctx.line.byOperator = by == ChoiceBy::Operator;
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
    if (const auto failure = switchPort(ctx, row, ChoiceBy::Operator)) {
        ctx.view.warn(*failure);
    }
}

void finishPortChoice(Context& ctx, const SerialResult& opened) {
    if (ctx.line.pendingPort == 0) {
        return; // closed in the meantime
    }
    ctx.line.pendingPort = 0;
    if (opened.ok) {
        ctx.view.setVisible(kSettingsFrame, false);
        return;
    }
    (void)ctx.port.setPortNumber(ctx.line.otherPort);
    if (ctx.line.byOperator) {
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
    ctx.view.log("port 1 not opened: " + message);
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
        ctx.view.log("line settings " + ctx.state.portSettings +
                     " not applied: " + applied.message);
    }
    ctx.view.setVisible(kSettingsFrame, false);
}

void handlePortLost(Context& ctx, std::string_view device, std::string_view reason) {
    if (ctx.port.isOpen()) {
        (void)ctx.port.close();
    }
    const std::string text =
        "The serial line " + std::string(device) + " went away: " + std::string(reason);
    ctx.view.log(text);
    ctx.view.warn(text);
}

} // namespace vk9

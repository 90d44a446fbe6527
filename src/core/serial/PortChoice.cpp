#include "serial/PortChoice.h"

#include "context/Warning.h"
#include "serial/Reconnection.h"

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
    if (by == OpenedBy::StartUp && ctx.portStatus.pending &&
        ctx.portStatus.pending->port == row.port) {
        return std::nullopt;
    }
    stopReconnecting(ctx);
    FailureRecord failure;
    const bool wasOpen = ctx.port.isOpen();
    if (wasOpen) {
        failure.note(ctx.port.close()); // also gives up an open still pending
    }
    ctx.portStatus.pending.reset();
    failure.note(ctx.port.setPortNumber(row.port));
    if (!failure.last && (wasOpen || by == OpenedBy::Operator)) {
        const SerialResult opened = ctx.port.open();
        if (opened.pending) { // a network line: the choice ends when it has connected
            ctx.portStatus.pending = PendingOpen{row.port, row.otherPort, by};
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
        warnOperator(ctx, *failure);
    }
}

void finishPortChoice(Context& ctx, const SerialResult& opened) {
    if (!ctx.portStatus.pending) {
        return; // closed in the meantime
    }
    const PendingOpen open = *std::exchange(ctx.portStatus.pending, std::nullopt);
    if (open.by == OpenedBy::Reconnect) {
        endRetry(ctx, opened);
        return;
    }
    if (opened.ok) {
        ctx.view.setVisible(kSettingsFrame, false);
        return;
    }
    const PortNaming naming = ctx.port.naming();
    if (open.by == OpenedBy::StartUp && naming.network) {
        // A network line is tried again as one lost later is; its port stays chosen.
        ctx.diagnostics.log("port 1 not opened: " + opened.message);
        startReconnecting(ctx, naming.device);
        warnOperator(ctx, opened.message + "\n\n" + reconnectingNote(ctx), Warning::LostLine);
        return;
    }
    (void)ctx.port.setPortNumber(open.otherPort);
    if (open.by == OpenedBy::Operator) {
        warnOperator(ctx, opened.message);
    } else {
        tellStartUpFailure(ctx, opened.message, naming);
    }
}

void tellStartUpFailure(Context& ctx, const std::string& message, const PortNaming& naming) {
    const auto ports = ctx.port.portsOnMachine();
    std::string known;
    for (const auto& port : ports) {
        known += (known.empty() ? "" : ", ") + port;
    }
    ctx.diagnostics.log("port 1 not opened: " + message);
    // Advice to name the line only when nobody has.
    const std::string advice = naming.origin.empty()
                                   ? "Name the line for port 1 with --com1 DEVICE, or as com1 in "
                                     "~/.config/vk9rsc/lines.toml."
                                   : "Port 1 is " + naming.device + ", as " + naming.origin +
                                         " names it: choose COM, then COM1, once it is there.";
    warnOperator(ctx, message +
                          (ports.empty() ? "\n\nThis machine has no serial ports that it lists."
                                         : "\n\nSerial ports on this machine: " + known + ".") +
                          "\n" + advice);
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

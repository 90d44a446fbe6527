#include "serial/PortChoice.h"

#include <optional>
#include <string>

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
        failure.note(ctx.port.close());
    }
    failure.note(ctx.port.setPortNumber(row.port));
    if (!failure.last && (wasOpen || by == ChoiceBy::Operator)) {
        failure.note(ctx.port.open());
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

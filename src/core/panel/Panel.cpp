#include "panel/Panel.h"

#include "adjust/Adjust.h"
#include "commands/Catalogue.h"
#include "context/Warning.h"
#include "model/Lookup.h"
#include "panel/Lifecycle.h"
#include "serial/Addressing.h"
#include "serial/PortChoice.h"
#include "serial/Reconnection.h"
#include "traffic/TrafficPath.h"
#include "traffic/TrafficTimers.h"
#include "window/WindowHeight.h"

namespace vk9 {

Panel::Panel(Timers& timers, SerialPort& port, View& view, Diagnostics& diagnostics)
    : m_ctx{m_state, m_portStatus, timers, port, view, diagnostics} {}

void Panel::load() {
    startUp(m_ctx);
}

void Panel::shown() {
    windowShown(m_ctx);
}

void Panel::click(Control id) {
    if (const auto* row = findRow(kOneShots, id)) {
        sendOneShot(m_ctx, *row);
    } else if (const auto* selector = findRow(kSelectors, id)) {
        selectTarget(m_ctx, *selector);
    } else if (id == Control::Command33) { // "COM"
        showSettingsFrame(m_ctx);
    } else if (id == kDataButton) {
        toggleDataDisplay(m_ctx);
    } else if (id == Control::Command16) { // "END"
        shutDown(m_ctx);
    }
}

void Panel::press(Control id) {
    if (const auto* row = findRow(kHoldButtons, id)) {
        pressHold(m_ctx, *row);
    }
}

void Panel::release(Control id) {
    if (const auto* row = findRow(kHoldButtons, id)) {
        releaseHold(m_ctx, *row);
    }
}

void Panel::select(Control id) {
    if (const auto* port = findRow(kPortOptions, id)) {
        choosePort(m_ctx, *port);
    } else if (const auto* speed = findRow(kSpeedOptions, id)) {
        chooseSpeed(m_ctx, *speed);
    } else if (const auto* address = findRow(kAddressOptions, id)) {
        selectAddress(m_ctx, *address);
    }
}

void Panel::keyDown(int key, int shiftState) {
    handleKeyDown(m_ctx, key, shiftState);
}

void Panel::tick(TimerId id) {
    switch (id) {
    case TimerId::Timer1:
        repeatTick(m_ctx);
        break;
    case TimerId::Timer2:
        endReplyWindow(m_ctx);
        break;
    case TimerId::Timer3:
        hideSettingsFrame(m_ctx);
        break;
    case TimerId::Timer4:
        clearBoxes(m_ctx);
        break;
    case TimerId::Timer5: // never started
        break;
    case TimerId::Reconnect:
        retryLine(m_ctx);
        break;
    }
}

void Panel::comm(CommEvent kind) {
    if (kind == CommEvent::Received) {
        receive(m_ctx);
    }
}

void Panel::replyTo(std::string_view frame, std::string_view reply) {
    receiveReplyTo(m_ctx, frame, reply);
}

void Panel::portLost(std::string_view device, std::string_view reason, bool comesBack) {
    captureLost(); // nothing may keep repeating into a dead line
    handlePortLost(m_ctx, device, reason, comesBack);
}

void Panel::lineNote(std::string_view device, std::string_view text, bool show) {
    tellLineNote(m_ctx, device, text, show);
}

void Panel::opened(const SerialResult& result) {
    finishPortChoice(m_ctx, result);
}

void Panel::captureLost(std::optional<Control> id) {
    const HoldRow* held = heldButton(m_state);
    if (held != nullptr && (!id || held->id == *id)) {
        releaseHold(m_ctx, *held);
    }
}

void Panel::close() {
    shutDown(m_ctx);
}

void Panel::notice(std::string_view text) {
    warnOperator(m_ctx, std::string(text));
}

} // namespace vk9

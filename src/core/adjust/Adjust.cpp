#include "adjust/Adjust.h"

#include "traffic/TrafficPath.h"
#include "traffic/TrafficTimers.h"

namespace vk9 {

namespace {

void setTrafficTiming(Context& ctx, const TrafficTiming& timing) {
    ctx.timers.setInterval(TimerId::Timer2, timing.replyWindow);
    ctx.timers.setInterval(TimerId::Timer4, timing.clearDelay);
}

} // namespace

void selectTarget(Context& ctx, const SelectorRow& row) {
    if (!sendCommand(ctx, row.code)) {
        return; // a failed send leaves the period and the target as they were
    }
    ctx.timers.setInterval(TimerId::Timer1, row.repeat);
    ctx.state.adjustTarget = row.target;
}

void pressHold(Context& ctx, const HoldRow& row) {
    // One hold at a time, as the mouse that presses captures the button until its release:
    // the held button pressed again (another mouse button) starts nothing new.
    if (heldButton(ctx.state) == &row && ctx.timers.isRunning(TimerId::Timer1)) {
        return;
    }
    if (row.kind == HoldKind::CursorArrow && ctx.state.adjustTarget < kArrowTimings.size()) {
        if (const auto& timing = kArrowTimings[ctx.state.adjustTarget]) {
            setTrafficTiming(ctx, *timing);
        }
    }
    ctx.state.repeatCode = row.repeatCode;
    ctx.portStatus.pacing.restart();
    if (!sendCommand(ctx, row.code)) {
        return; // nothing repeats after a failed first send
    }
    if (row.kind == HoldKind::Timed) {
        ctx.timers.setInterval(TimerId::Timer1, row.repeat);
        setTrafficTiming(ctx, row.timing);
    }
    ctx.timers.start(TimerId::Timer1);
}

void releaseHold(Context& ctx, const HoldRow& row) {
    if (ctx.state.repeatCode == 0) {
        return; // nothing held: its hold ended with a lost mouse or line, and has been told
    }
    ctx.state.repeatCode = 0;
    ctx.timers.stop(TimerId::Timer1);
    ctx.timers.stop(TimerId::Timer2); // no " X X X X" for the last copy
    ctx.timers.start(TimerId::Timer4);
    ctx.view.setCaption(kTxdBox, "");
    ctx.view.setCaption(kRxdBox, "");
    setTrafficTiming(ctx, {kReplyWindow, kClearDelay}); // Timer4 now runs 1000 ms from here
    ctx.state.receiveBuffer.clear();
    if (row.digitalZoom) {
        ctx.timers.setInterval(TimerId::Timer1, kDigitalZoomRepeat);
        ctx.state.adjustTarget = kDigitalZoomTarget;
    }
}

const HoldRow* heldButton(const PanelState& state) {
    if (state.repeatCode == 0) {
        return nullptr;
    }
    for (const auto& row : kHoldButtons) {
        if (row.repeatCode == state.repeatCode) {
            return &row;
        }
    }
    return nullptr;
}

void releaseHeldButton(Context& ctx) {
    if (const HoldRow* held = heldButton(ctx.state)) {
        releaseHold(ctx, *held);
    }
}

void repeatTick(Context& ctx) {
    const HoldRow* held = heldButton(ctx.state);
    if (held == nullptr) {
        return; // a tick that fell due just before the release
    }
    // One copy waiting on the line at most: at 9600 bit/s an addressed frame needs 8.3 ms,
    // longer than the fastest period, and a backlog would keep the lens moving after the
    // release.
    if (!ctx.portStatus.pacing.mayRepeat(ctx.timers.interval(TimerId::Timer1), ctx.port)) {
        return;
    }
    // Timer1 runs on: starting it again here would push every later tick back by the time
    // this tick waited in the event loop, and the repeat would drift.
    sendCommand(ctx, held->code);
}

} // namespace vk9

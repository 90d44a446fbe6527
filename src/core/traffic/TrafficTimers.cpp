#include "traffic/TrafficTimers.h"

#include "model/Layout.h"

namespace vk9 {

void endReplyWindow(Context& ctx) {
    if (ctx.state.awaitingReply == 1) {
        ctx.view.setCaption(kRxdBox, kNoReplyMark);
    }
    ctx.timers.stop(TimerId::Timer2);
    ctx.state.receiveBuffer.clear();
    ctx.state.awaitingReply = 0;
}

void clearBoxes(Context& ctx) {
    ctx.view.setCaption(kTxdBox, "");
    ctx.view.setCaption(kRxdBox, "");
    ctx.view.setCaption(kStatusBox, "");
    ctx.timers.stop(TimerId::Timer4);
}

void toggleDataDisplay(Context& ctx) {
    // Stopping first makes the start below restart the settings frame's 5 s count.
    ctx.timers.stop(TimerId::Timer3);
    if (ctx.view.windowHeight() >= kTallThreshold) {
        ctx.view.setWindowHeight(kStartHeight);
        ctx.view.setCaption(kDataButton, kShowDataCaption);
    } else {
        ctx.view.setWindowHeight(kDataHeight);
        ctx.view.setCaption(kDataButton, kHideDataCaption);
    }
    ctx.timers.start(TimerId::Timer3);
}

} // namespace vk9

#include "traffic/TrafficTimers.h"

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

} // namespace vk9

#include "traffic/TrafficPath.h"

#include "context/Warning.h"
#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficText.h"

#include <algorithm>

namespace vk9 {

namespace {

// The STATUS box is out of view at the window's short height: the first click that cannot
// be sent since the last frame that went is also told in the warning box, with what to do.
void reportNotSent(Context& ctx, const std::string& frame, const std::string& message) {
    ctx.view.setCaption(kStatusBox, std::string(kNotSentPrefix) + message);
    ctx.diagnostics.log("not sent:" + trafficText(frame) + "- " + message);
    auto& status = ctx.portStatus;
    if (status.unsentTold) {
        return;
    }
    status.unsentTold = true;
    const std::string advice =
        !status.reconnecting.empty()
            ? "\n\nReconnecting to " + status.reconnecting + ": buttons send again once it is back."
        : !ctx.port.isOpen() ? "\n\nChoose COM, then a port, to open it."
                             : std::string();
    warnOperator(ctx, "Nothing was sent: " + message + "." + advice);
}

} // namespace

bool transmit(Context& ctx, const std::string& frame) {
    if (const auto written = ctx.port.write(frame); !written.ok) {
        reportNotSent(ctx, frame, written.message);
        return false;
    }
    ctx.portStatus.pacing.sent(frame.size(), ctx.port.lineSpeed());
    ctx.portStatus.unsentTold = false;
    // What came before this frame is no reply to it: on a line shared with vk9ctl, or after
    // a projector spoke unasked, it would be decoded as this frame's answer. The RXD box
    // keeps showing it until the reply comes.
    ctx.state.receiveBuffer.clear();
    const std::string shown = trafficText(frame);
    ctx.view.setCaption(kTxdBox, shown);
    ctx.timers.start(TimerId::Timer2);
    ctx.state.awaitingReply = 1;
    ctx.timers.start(TimerId::Timer4);
    ctx.diagnostics.frameSent(shown);
    return true;
}

void showReceived(Context& ctx, const std::string& text, std::string_view frame) {
    ctx.view.setCaption(kRxdBox, trafficText(text));
    const std::string shown = ctx.view.caption(kRxdBox);
    const auto message = decodeReply(shown, frame, ctx.state.addressPrefix);
    if (message) {
        ctx.view.setCaption(kStatusBox, *message);
    }
    ctx.diagnostics.replyShown(shown, message.value_or(""));
}

std::string commandFrame(std::string_view addressPrefix, std::string_view code) {
    std::string frame(addressPrefix);
    frame += code;
    frame += '\r';
    return frame;
}

bool sendCommand(Context& ctx, std::string_view code) {
    ctx.state.commandText = commandFrame(ctx.state.addressPrefix, code);
    return transmit(ctx, ctx.state.commandText);
}

void receive(Context& ctx) {
    const std::string arrived = ctx.port.readAll();
    auto& buffer = ctx.state.receiveBuffer;
    buffer.append(arrived, 0, kReceiveBufferCap - std::min(buffer.size(), kReceiveBufferCap));
    ctx.state.awaitingReply = 0;
    showReceived(ctx, buffer, ctx.state.commandText);
}

void receiveReplyTo(Context& ctx, std::string_view frame, std::string_view reply) {
    ctx.state.receiveBuffer = reply.substr(0, kReceiveBufferCap);
    ctx.state.awaitingReply = 0;
    showReceived(ctx, ctx.state.receiveBuffer, frame);
}

} // namespace vk9

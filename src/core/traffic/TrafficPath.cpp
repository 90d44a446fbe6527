#include "traffic/TrafficPath.h"

#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficText.h"

#include <algorithm>

namespace vk9 {

namespace {

void reportNotSent(Context& ctx, const std::string& frame, const std::string& message) {
    ctx.view.setCaption(kStatusBox, std::string(kNotSentPrefix) + message);
    ctx.view.log("not sent:" + trafficText(frame) + "- " + message);
}

} // namespace

bool passTraffic(Context& ctx, const std::string& text, Direction direction) {
    if (direction == Direction::Transmit) {
        if (const auto written = ctx.port.write(text); !written.ok) {
            reportNotSent(ctx, text, written.message);
            return false;
        }
        ctx.line.pacing.sent(text.size(), ctx.port.lineSpeed());
        const std::string shown = trafficText(text);
        ctx.view.setCaption(kTxdBox, shown);
        ctx.timers.start(TimerId::Timer2);
        ctx.state.awaitingReply = 1;
        ctx.timers.start(TimerId::Timer4);
        ctx.view.traffic(true, shown, {});
        return true;
    }
    ctx.view.setCaption(kRxdBox, trafficText(text));
    const std::string shown = ctx.view.caption(kRxdBox);
    const auto message = decodeReply(shown, ctx.state.commandText, ctx.state.addressPrefix);
    if (message) {
        ctx.view.setCaption(kStatusBox, *message);
    }
    ctx.view.traffic(false, shown, message.value_or(""));
    return true;
}

std::string commandFrame(std::string_view addressPrefix, std::string_view code) {
    std::string frame(addressPrefix);
    frame += code;
    frame += '\r';
    return frame;
}

bool sendCommand(Context& ctx, std::string_view code) {
    ctx.state.commandText = commandFrame(ctx.state.addressPrefix, code);
    return passTraffic(ctx, ctx.state.commandText, Direction::Transmit);
}

void receive(Context& ctx) {
    const std::string arrived = ctx.port.readAll();
    auto& buffer = ctx.state.receiveBuffer;
    buffer.append(arrived, 0, kReceiveBufferCap - std::min(buffer.size(), kReceiveBufferCap));
    ctx.state.awaitingReply = 0;
    passTraffic(ctx, buffer, Direction::Receive);
}

} // namespace vk9

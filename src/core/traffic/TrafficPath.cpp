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
        ctx.view.setCaption(kTxdBox, trafficText(text));
        ctx.timers.start(TimerId::Timer2);
        ctx.state.awaitingReply = 1;
        ctx.timers.start(TimerId::Timer4);
        return true;
    }
    ctx.view.setCaption(kRxdBox, trafficText(text));
    if (auto message = decodeReply(ctx.view.caption(kRxdBox), ctx.state.commandText,
                                   ctx.state.addressPrefix)) {
        ctx.view.setCaption(kStatusBox, *message);
    }
    return true;
}

bool sendCommand(Context& ctx, std::string_view code) {
    ctx.state.commandText = ctx.state.addressPrefix;
    ctx.state.commandText += code;
    ctx.state.commandText += '\r';
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

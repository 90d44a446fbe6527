#include "traffic/Hyouji.h"

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

bool hyouji(Context& ctx, const std::string& text, std::uint8_t mode) {
    if (mode == kTransmit) {
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
    return hyouji(ctx, ctx.state.commandText, kTransmit);
}

void receive(Context& ctx) {
    const std::string arrived = ctx.port.readAll();
    auto& buffer = ctx.state.receiveBuffer;
    buffer.append(arrived, 0, kReceiveBufferCap - std::min(buffer.size(), kReceiveBufferCap));
    ctx.state.awaitingReply = 0;
    hyouji(ctx, buffer, kReceive);
}

} // namespace vk9

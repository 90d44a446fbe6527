#include "panel/Lifecycle.h"

#include "adjust/Adjust.h"
#include "model/Layout.h"
#include "serial/PortChoice.h"
#include "serial/Reconnection.h"

namespace vk9 {

void startUp(Context& ctx) {
    auto& s = ctx.state;
    s.addressPrefix.clear();        // matches "SINGLE", selected in the layout
    s.portSettings = kFastSettings; // matches "19200", selected in the layout

    // Centred as a window of the designed height, then shortened without moving its top,
    // so it sits above the screen's centre. Negative positions on a small screen stay.
    const ScreenSize screen = ctx.view.screenSize();
    ctx.view.moveWindow((screen.width - designedOuterWidth()) / 2.0,
                        (screen.height - designedOuterHeight()) / 2.0);
    ctx.view.setWindowHeight(kStartHeight);

    s.repeatCode = 0;
    s.awaitingReply = 0;
    s.receiveBuffer.clear();

    std::optional<std::string> failure;
    (void)ctx.port.setPortNumber(1);
    const PortNaming naming = ctx.port.naming();
    (void)ctx.port.setSettings(s.portSettings);
    if (auto opened = ctx.port.open(); opened.pending) {
        ctx.portStatus.pending = PendingOpen{1, 2, OpenedBy::StartUp}; // told with the window up
    } else if (!opened.ok) {
        failure = std::move(opened.message);
    }

    // Selecting "COM1" from code runs its selection just as a click would: close, set port
    // 1, reopen if it was open, hide the settings frame; a network line still connecting is
    // left to connect once. Its failure, like the open's, is told once the window is on
    // screen: a modal box before the window would stand alone.
    ctx.view.selectOption(Control::Option1);
    if (auto reopened = switchPort(ctx, kPortOptions[0], OpenedBy::StartUp)) {
        failure = std::move(reopened);
    }
    if (failure) {
        tellStartUpFailure(ctx, *failure, naming);
    }
}

void shutDown(Context& ctx) {
    releaseHeldButton(ctx); // nothing keeps moving once the panel is gone
    stopReconnecting(ctx);
    (void)ctx.port.close();
    ctx.view.quit();
}

} // namespace vk9

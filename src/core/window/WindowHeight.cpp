#include "window/WindowHeight.h"

#include "model/Layout.h"

namespace vk9 {

void toggleDataDisplay(Context& ctx) {
    ctx.timers.stop(TimerId::Timer3); // with the start below: the frame's 5 s begin again
    if (ctx.view.windowHeight() >= kTallThreshold) {
        ctx.view.setWindowHeight(kStartHeight);
        ctx.view.setCaption(kDataButton, kShowDataCaption);
    } else {
        ctx.view.setWindowHeight(kDataHeight);
        ctx.view.setCaption(kDataButton, kHideDataCaption);
    }
    ctx.timers.start(TimerId::Timer3);
}

void handleKeyDown(Context& ctx, int key, int shiftState) {
    if (key != kKeyJ || (shiftState & (kShiftBit | kCtrlBit | kAltBit)) != kCtrlBit) {
        return;
    }
    ctx.view.setWindowHeight(kFullHeight);
    ctx.view.setCaption(kDataButton, "CLOSE");
    ctx.view.setVisible(kDataButton, true);
}

} // namespace vk9

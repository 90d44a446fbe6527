// The receive path on virtual time: random pieces at random times, with queries, holds and
// address changes in flight. The state record keeps its invariants and the boxes stay
// bounded whatever arrives. The input is a little script, one operation a step.
#include "FakePort.h"
#include "RecordingView.h"
#include "VirtualClock.h"
#include "adjust/Adjust.h"
#include "commands/Catalogue.h"
#include "panel/Panel.h"
#include "serial/Addressing.h"
#include "traffic/TrafficPath.h"

#include <cstdint>
#include <cstdlib>

using namespace vk9;

namespace {

class Script {
public:
    Script(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool done() const { return m_at >= m_size; }
    std::uint8_t next() { return m_at < m_size ? m_data[m_at++] : 0; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    test::VirtualClock clock;
    test::FakePort port;
    test::RecordingView view;
    Panel panel(clock, port, view, view);
    clock.onTick([&](TimerId id) { panel.tick(id); });
    panel.load();
    panel.shown();

    Script script(data, size);
    const HoldRow* held = nullptr;
    while (!script.done()) {
        switch (script.next() % 6) {
        case 0: { // a piece of text arrives
            const std::size_t length = script.next();
            std::string piece;
            for (std::size_t i = 0; i < length && !script.done(); ++i) {
                piece += static_cast<char>(script.next());
            }
            port.input += piece;
            panel.comm(CommEvent::Received);
            break;
        }
        case 1: // time passes, up to a second
            clock.advance(std::chrono::milliseconds(script.next() * 4));
            break;
        case 2: // a one-shot click, queries among them
            panel.click(kOneShots[script.next() % kOneShots.size()].id);
            break;
        case 3:
            panel.select(kAddressOptions[script.next() % kAddressOptions.size()].id);
            break;
        case 4: // a hold button goes down or comes up
            if (held != nullptr) {
                panel.release(held->id);
                held = nullptr;
            } else {
                held = &kHoldButtons[script.next() % kHoldButtons.size()];
                panel.press(held->id);
            }
            break;
        case 5:
            panel.click(kSelectors[script.next() % kSelectors.size()].id);
            break;
        }
        const PanelState& s = panel.state();
        check(s.awaitingReply <= 1);
        check(s.adjustTarget <= 3);
        check(s.receiveBuffer.size() <= kReceiveBufferCap);
        check(view.caption(kRxdBox).size() <= 1 + 3 * kReceiveBufferCap);
        check((s.repeatCode == 0) == (held == nullptr));
        check(s.commandText.empty() || s.commandText.back() == '\r');
    }
    return 0;
}

#pragma once

#include "FakePort.h"
#include "RecordingView.h"
#include "VirtualClock.h"
#include "panel/Panel.h"

#include <QtTest>

#include <string>

namespace vk9::test {

using namespace std::chrono_literals;

// A panel on virtual time, a fake port and a recording view.
struct PanelHarness {
    VirtualClock clock;
    FakePort port;
    RecordingView view;
    Panel panel{clock, port, view, view};

    PanelHarness() {
        clock.onTick([this](TimerId id) { panel.tick(id); });
        port.now = [this] { return clock.now(); };
    }

    // Started as the program starts it, with the start-up's own port calls forgotten.
    PanelHarness& started() {
        panel.load();
        panel.shown();
        port.clearRecords();
        return *this;
    }
    const PanelState& state() const { return panel.state(); }
    std::string box(Control c) const { return view.caption(c); }
    // The TXD, RXD and STATUS boxes at a glance.
    std::string boxes() const {
        return box(Control::Label11) + "|" + box(Control::Label12) + "|" + box(Control::Label22);
    }
    // A mouse press and an immediate release.
    void pressAndRelease(Control id) {
        panel.press(id);
        panel.release(id);
    }
    void reply(const std::string& bytes) {
        port.input += bytes;
        panel.comm(CommEvent::Received);
    }
};

} // namespace vk9::test

// Readable failures for the core's byte strings.
namespace std {
inline char* toString(const std::string& s) {
    return QTest::toString(QByteArray::fromStdString(s));
}
} // namespace std

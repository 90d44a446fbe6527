#pragma once

#include "model/Control.h"
#include "vk9gate/core/Arbiter.h"
#include "vk9gate/core/Projectors.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk9::gate::web {

// The touch panel's side of the gate: what a page may ask, the buttons it shows, and one
// page's presses and holds on the arbiter. The HTTP server and the WebSocket are the
// shell's; this is the codec and the table. The dialogue is written down in
// docs/web-protocol.md; its version changes when a message or a field changes meaning.
inline constexpr int kProtocolVersion = 1;

using std::chrono::milliseconds;

// A held button is let go this long after the page's last word (its heartbeat comes every
// 100 ms): a phone that leaves the WiFi or a browser that freezes stops the lens here.
inline constexpr milliseconds kHeartbeatLimit{300};
// A cursor arrow repeats at the period the last selector or hold gave, as on the panel; a
// page that has given none repeats at the panel's designed 200 ms.
inline constexpr milliseconds kFirstRepeat{200};

enum class Press : std::uint8_t { Tap, Select, Hold };

// A button as the page knows it: by its name for scripts.
struct Button {
    Control id;
    std::string_view name; // "zoom-plus"
    std::string_view code; // "C47"
    Press press;
    milliseconds repeat{0};   // a selector's and a timed hold's; none for a cursor arrow
    bool digitalZoom = false; // its release sets the next cursor repeat to 5 ms
};
const Button* findButton(std::string_view name);

// The page's groups, as the panel groups its buttons; title is the panel's own caption,
// label what a screen reader says for a group the panel leaves uncaptioned.
struct GroupRow {
    std::string_view id;
    std::string_view title;
    std::string_view label;
    std::array<Control, 6> buttons; // Control::Form1 ends a short group
};

// clang-format off
inline constexpr std::array kGroups{
    GroupRow{"power", "POWER", "Power", {Control::Command17, Control::Command18, Control::Form1}},
    GroupRow{"mode", "MODE SET", "Input", {Control::Command27, Control::Command28, Control::Command29, Control::Command53, Control::Form1}},
    GroupRow{"menu", "MENU", "Menu", {Control::Command23, Control::Command24, Control::Form1}},
    GroupRow{"mute", "SOUND MUTE", "Sound mute", {Control::Command19, Control::Command20, Control::Form1}},
    GroupRow{"noshow", "NO SHOW", "No show", {Control::Command21, Control::Command22, Control::Form1}},
    GroupRow{"freeze", "FREEZE", "Freeze", {Control::Command25, Control::Command26, Control::Form1}},
    GroupRow{"avsize", "AV Size SET", "AV size", {Control::Command31, Control::Command32, Control::Form1}},
    GroupRow{"cursor", "", "Cursor", {Control::Command5, Control::Command9, Control::Command6, Control::Command8, Control::Command7, Control::Form1}},
    GroupRow{"lens", "LENS SHIFT", "Lens shift", {Control::Command59, Control::Command60, Control::Command61, Control::Command62, Control::Form1}},
    GroupRow{"vol", "VOL", "Volume", {Control::Command1, Control::Command2, Control::Form1}},
    GroupRow{"zoom", "Zoom", "Zoom", {Control::Command15, Control::Command35, Control::Form1}},
    GroupRow{"focus", "Focus", "Focus", {Control::Command36, Control::Command37, Control::Form1}},
    GroupRow{"dzoom", "D.Zoom", "Digital zoom", {Control::Command48, Control::Command49, Control::Form1}},
    GroupRow{"keystone", "Keystone", "Keystone", {Control::Command50, Control::Command51, Control::Form1}},
    GroupRow{"select", "", "Cursor arrows adjust", {Control::Command10, Control::Command11, Control::Command41, Control::Form1}},
    GroupRow{"picture", "", "Picture and menu", {Control::Command13, Control::Command4, Control::Command43, Control::Command14, Control::Command3, Control::Form1}},
    GroupRow{"lamp", "LAMP SELECT", "Lamp select", {Control::Command56, Control::Command57, Control::Command58, Control::Form1}},
    GroupRow{"status", "", "Status queries", {Control::Command44, Control::Command45, Control::Command46, Control::Command47, Control::Command54, Control::Command55}},
    GroupRow{"function", "", "Function", {Control::Command52, Control::Form1}},
};
// clang-format on

// Buttons the page asks a second tap for: a phone in a pocket must not end a show.
inline constexpr std::array<std::string_view, 1> kConfirmed{"power-off"};

// A projector the page may choose: its address ("001", or "" for the one without) and name.
struct Choice {
    std::string address;
    std::string name;
};

// The first message a page hears: the version, the gate, the projectors and the buttons.
std::string helloMessage(std::string_view gate, const std::vector<Choice>& projectors);
// The line's state: "up", "lost", "reconnecting".
std::string lineMessage(std::string_view state, std::string_view why = {});
// What the gate knows of a projector: whether it answers, and its readings as the STATUS
// box words them, with their values. `state` may be null: nothing known.
std::string stateMessage(const Choice& projector, const ProjectorState* state);

// A message from a page, once its JSON is read.
struct Request {
    enum Kind : std::uint8_t { Press, Hold, Beat, Release } kind;
    std::string button;       // press, hold
    std::string to;           // press, hold: a projector's address, or "all"
    std::optional<double> id; // the page's number for it, given back with its outcome
};

// A page that sends too much: more than kBurst messages at once, or more than kRate a second
// for long. A held button's heartbeat is 10 a second.
class Intake {
public:
    static constexpr double kBurst = 40;
    static constexpr double kRate = 20;
    bool take(Time now); // false: too many too fast
private:
    double m_tokens = kBurst;
    Time m_at{0};
};

// One page on the arbiter: a press sends its frame once and is answered with its outcome; a
// hold sends copies at the button's period, at most one waiting, until it is let go, the page
// says nothing for 300 ms, or the page goes. One hold at a time: a second press ends the
// first.
class Page final : public Client {
public:
    using Send = std::function<void(const std::string& json)>;
    Page(Arbiter& arbiter, std::string name, std::vector<std::string> addresses, Send send)
        : m_arbiter(arbiter), m_name(std::move(name)), m_addresses(std::move(addresses)),
          m_send(std::move(send)) {}
    ~Page() override;
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    // Why a request cannot be taken (an unknown button or projector), or nothing.
    std::optional<std::string> take(Time now, const Request& request);
    void wake(Time now);
    std::optional<Time> nextWake() const;
    void lineLost(Time now); // a hold ends with the line
    bool holding() const { return m_hold.has_value(); }

    std::string name() const override { return m_name; }
    void sent(Ticket ticket, Time at) override;
    void delivered(Ticket ticket, std::string_view reply) override;
    void finished(Ticket ticket, const Ending& ending) override;

private:
    struct Hold {
        const Button* button;
        std::string frame;
        std::optional<double> id;
        milliseconds period;
        Time lastWord;
        Time nextCopy;
        std::optional<Ticket> waiting; // a copy not yet on the line
        std::optional<Ticket> last;    // the latest copy submitted
        std::optional<Ticket> first;   // its outcome is told
        int copies = 0;                // on the line
        bool told = false;
    };
    struct Tap {
        std::string code;
        std::optional<double> id;
        std::string reply;
    };
    std::optional<std::string> prefixFor(std::string_view to) const;
    void submitCopy(Time now);
    void endHold(Time now, std::string_view why);

    Arbiter& m_arbiter;
    std::string m_name;
    std::vector<std::string> m_addresses; // the projectors' prefixes the page may choose
    Send m_send;
    milliseconds m_cursorRepeat = kFirstRepeat;
    std::optional<Hold> m_hold;
    std::map<Ticket, Tap> m_taps;
    Time m_now{0}; // the latest time the page was told
};

// The outcome of a frame, as a page is told it.
std::string_view outcomeWord(Outcome outcome, bool query);

} // namespace vk9::gate::web

// The gate's PJLink on whatever a client may send: it never crashes; the same bytes split at
// every point read as the same lines and close for the same reason; and every request read,
// with the projector answering or silent, ends in a few steps with one printable answer no
// longer than a line may be, for its own class and body.
#include "vk9gate/core/PjLink.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace vk9::gate;
using namespace vk9::gate::pjlink;

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

std::string lines(const Session::Fed& fed) {
    std::string out;
    for (const Parsed& p : fed.lines) {
        out += p.request ? p.request->body + "|" + p.request->param : p.answer;
        out += '\n';
    }
    return out + fed.answerNow + "#" + fed.close;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Session whole(Time{0}, {}, {});
    const Session::Fed all = whole.feed(Time{0}, bytes);

    Session pieces(Time{0}, {}, {});
    Session::Fed each;
    for (const char c : bytes) {
        if (!each.close.empty()) {
            break;
        }
        Session::Fed one = pieces.feed(Time{0}, std::string(1, c));
        for (Parsed& p : one.lines) {
            each.lines.push_back(std::move(p));
        }
        each.answerNow = one.answerNow;
        each.close = one.close;
    }
    check(lines(each) == lines(all));

    Settings settings;
    settings.inputs = {"11", "12", "31", "32"};
    settings.name = "Hall left";
    for (const Parsed& p : all.lines) {
        check(p.request || (!p.answer.empty() && p.answer.size() <= kLongestLine));
        if (!p.request) {
            continue;
        }
        for (const bool answers : {false, true}) {
            Replies replies;
            Step step;
            for (int n = 0; n < 8; ++n) {
                step = next(*p.request, {settings, nullptr, replies});
                if (step.send.empty()) {
                    break;
                }
                const bool query = step.send[1] == 'R';
                replies[step.send] =
                    answers ? std::optional<std::string>(query ? "00\r" : "\x06\r") : std::nullopt;
            }
            const std::string head = std::string("%1") + p.request->body + "=";
            check(step.send.empty() && step.answer.rfind(head, 0) == 0 &&
                  step.answer.size() <= kLongestLine);
            for (const char c : step.answer) {
                check(c >= 32 && c <= 126);
            }
        }
    }
    return 0;
}

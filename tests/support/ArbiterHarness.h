#pragma once

#include "vk9gate/core/Arbiter.h"

#include <QStringList>
#include <QtTest>

#include <functional>
#include <map>

namespace vk9::test {

using namespace vk9::gate;
using namespace std::chrono_literals;

inline Time ms(double m) {
    return Time(static_cast<long long>(m * 1000));
}

// The projectors' line and the clients, in memory. The far end answers each frame it knows
// once the frame has had its time on the wire (10 bits a character) and `answerAfter` more.
struct Harness final : ArbiterPort {
    explicit Harness(ArbiterSettings settings = {}) : arbiter(*this, settings) {}
    Arbiter arbiter;
    Time now{0};
    int speed = 9600;
    Time answerAfter = ms(2);
    std::map<std::string, std::string> answers;          // frame without CR -> reply
    std::multimap<Time, std::string> coming;             // replies on their way
    std::vector<std::pair<double, std::string>> written; // ms, frame without CR
    std::map<ClientId, std::string> got;
    QStringList ended; // "client frame outcome reply"
    // A front end of the gate's own on the arbiter: told of its frames' ends.
    std::function<void(std::string_view frame, Outcome, std::string_view reply)> frontEnd;

    bool writeLine(ClientId, std::string_view frame) override {
        const std::string f(frame.substr(0, frame.size() - 1));
        written.emplace_back(double(now.count()) / 1000, f);
        const Time onWire = ms(double(frame.size()) * 10 * 1000 / speed);
        if (answers.count(f) != 0) {
            coming.emplace(now + onWire + answerAfter, answers[f]);
        }
        return true;
    }
    int lineSpeed() const override { return speed; }
    std::size_t linePending() const override { return 0; }
    bool lineSuspended() const override { return false; }
    void deliver(ClientId client, std::string_view bytes) override { got[client] += bytes; }
    void finished(ClientId client, std::string_view frame, Outcome outcome,
                  std::string_view reply) override {
        if (frontEnd) {
            frontEnd(frame, outcome, reply);
        }
        static const char* const kNames[] = {"answered", "unanswered", "too long",
                                             "repeated", "queue full", "line lost"};
        ended << QStringLiteral("%1 %2 %3 %4")
                     .arg(client)
                     .arg(QString::fromLatin1(frame.data(), qsizetype(frame.size() - 1)))
                     .arg(kNames[int(outcome)])
                     .arg(QString::fromLatin1(reply.data(), qsizetype(reply.size())).trimmed());
    }
    // Time goes on to `until`, the arbiter woken and the far end answering as they fall due.
    std::function<std::optional<Time>()> frontEndWake; // and its own deadlines
    std::function<void(Time)> wakeFrontEnd;
    void run(Time until) {
        while (true) {
            auto wake = arbiter.nextWake();
            if (const auto own = frontEndWake ? frontEndWake() : std::nullopt) {
                wake = wake ? std::min(*wake, *own) : *own;
            }
            const Time reply = coming.empty() ? until + 1us : coming.begin()->first;
            const Time next = std::min(wake.value_or(until + 1us), reply);
            if (next > until) {
                break;
            }
            now = std::max(now, next);
            if (next == reply) {
                const std::string bytes = coming.begin()->second;
                coming.erase(coming.begin());
                arbiter.received(now, bytes);
            } else {
                arbiter.wake(now);
                if (wakeFrontEnd) {
                    wakeFrontEnd(now);
                }
            }
        }
        now = until;
    }
    void submit(double at, ClientId client, const std::string& frame) {
        run(ms(at));
        arbiter.submit(now, client, frame + '\r');
    }
    QString frames() const { // "0 A001CR0, 8.3 A002CR0"
        QStringList out;
        for (const auto& [at, frame] : written) {
            out << QString::number(at, 'f', 1) + " " + QString::fromStdString(frame);
        }
        return out.join(", ");
    }
};

} // namespace vk9::test

#pragma once

#include "vk9gate/core/Arbiter.h"
#include "vk9gate/core/Projectors.h"

#include <QStringList>
#include <QtTest>

#include <functional>
#include <map>
#include <memory>

namespace vk9::test {

using namespace vk9::gate;
using namespace std::chrono_literals;

inline Time ms(double m) {
    return Time(static_cast<long long>(m * 1000));
}

struct Harness;

// A client of the line that records what it is told: its replies, and each frame's end.
struct TestClient final : Client {
    TestClient(Harness& h, int number) : harness(h), number(number) {}
    ~TestClient() override;
    Harness& harness;
    int number;
    std::string got; // its replies, in the order they came
    struct Record {
        std::string frame;
        std::optional<Time> sentAt;
        std::string reply;
        std::vector<Ending> ends;
    };
    std::map<Ticket, Record> tickets;
    std::string name() const override { return "client " + std::to_string(number); }
    void sent(Ticket ticket, Time at) override;
    void delivered(Ticket ticket, std::string_view reply) override {
        got += reply;
        tickets[ticket].reply += reply;
    }
    void finished(Ticket ticket, const Ending& ending) override;
};

// The projectors' line and its clients, in memory. The far end answers each frame it knows
// once the frame has had its time on the wire (10 bits a character) and `answerAfter` more.
// What the line carried reaches the projectors' states, as in the gate.
struct Harness final : Line, Watcher {
    explicit Harness(ArbiterSettings settings = {}) : arbiter(*this, *this, settings) {}
    Arbiter arbiter;
    ProjectorStates states;
    Time now{0};
    int lineSpeed = 9600;
    Time answerAfter = ms(2);
    std::map<std::string, std::string> answers;          // frame without CR -> reply
    std::multimap<Time, std::string> coming;             // replies on their way
    std::vector<std::pair<double, std::string>> written; // ms, frame without CR
    QStringList endings;                                 // "client frame outcome"
    QStringList presences;                               // "A003 absent", "A003 back"
    std::map<int, std::unique_ptr<TestClient>> clients;
    // A front end of the gate's own on the arbiter, and its deadlines.
    std::function<std::optional<Time>()> frontEndWake;
    std::function<void(Time)> wakeFrontEnd;
    // Instead of `answers`: the far end's own answer to each frame written.
    std::function<void(const std::string& frame)> farEnd;
    std::vector<Ticket> sentInOrder; // the tickets of the frames written, in their order
    bool inCall = false;             // inside a client's call into the arbiter

    TestClient& client(int n) {
        auto& c = clients[n];
        if (!c) {
            c = std::make_unique<TestClient>(*this, n);
        }
        return *c;
    }

    bool write(std::string_view frame, const Client&) override {
        const std::string f(frame.substr(0, frame.size() - 1));
        written.emplace_back(double(now.count()) / 1000, f);
        if (farEnd) {
            farEnd(f);
            return true;
        }
        const Time onWire = ms(double(frame.size()) * 10 * 1000 / lineSpeed);
        if (answers.count(f) != 0) {
            coming.emplace(now + onWire + answerAfter, answers[f]);
        }
        return true;
    }
    int speed() const override { return lineSpeed; }
    std::size_t pending() const override { return 0; }
    bool suspended() const override { return false; }
    void answered(Time t, std::string_view frame, std::string_view reply) override {
        states.answered(t, frame, reply);
    }
    void thrownAway(Time, std::string_view) override {}
    void presence(Time, std::string_view prefix, bool answers) override {
        states.presence(prefix, answers);
        presences << QString::fromLatin1(prefix.data(), qsizetype(prefix.size())) +
                         (answers ? " back" : " absent");
    }
    void ended(const Client&, std::string_view, const Ending&) override {}

    // Time goes on to `until`, the arbiter woken and the far end answering as they fall due.
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
    Ticket submit(double at, int n, const std::string& frame) {
        run(ms(at));
        inCall = true;
        const Ticket t = arbiter.submit(now, client(n), frame + '\r');
        inCall = false;
        client(n).tickets[t].frame = frame;
        return t;
    }
    QString frames() const { // "0.0 A001CR0, 8.3 A002CR0"
        QStringList out;
        for (const auto& [at, frame] : written) {
            out << QString::number(at, 'f', 1) + " " + QString::fromStdString(frame);
        }
        return out.join(", ");
    }
};

inline TestClient::~TestClient() {
    harness.arbiter.leave(harness.now, *this);
}

inline void TestClient::sent(Ticket ticket, Time at) {
    tickets[ticket].sentAt = at;
    harness.sentInOrder.push_back(ticket);
}

inline void TestClient::finished(Ticket ticket, const Ending& ending) {
    static const char* const kNames[] = {"answered", "unanswered", "absent",   "too long",
                                         "repeated", "queue full", "line lost"};
    QVERIFY2(!harness.inCall, "told inside the client's own call");
    tickets[ticket].ends.push_back(ending);
    harness.endings << QStringLiteral("%1 %2 %3")
                           .arg(number)
                           .arg(QString::fromStdString(tickets[ticket].frame))
                           .arg(kNames[int(ending.outcome)]);
}

} // namespace vk9::test

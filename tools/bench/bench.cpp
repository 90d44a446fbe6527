// vk9rsc-bench: the panel's real core, Qt timers and QSerialPort adapter against a
// pseudo-terminal whose other end timestamps every frame. Writes a Markdown report.
//
// Usage: vk9rsc-bench [--quick] [--out FILE] [--panel PATH --bare PATH]
//                     [--sim PATH --soak MINUTES] [--ctl PATH] [--gate PATH]
// The start-up, memory and idle figures need an X display ($DISPLAY) and the paths of
// the panel and of the bare window program; without them those rows are left out.
#include "LineEnd.h"
#include "Process.h"

#include "Form1.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>

#include <QTemporaryDir>
#include <QTimer>
#include <mosquitto.h>

#include <sys/resource.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

using namespace vk9;
using namespace vk9::bench;
using std::chrono::milliseconds;

namespace {

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * double(values.size() - 1);
    const auto low = static_cast<std::size_t>(std::floor(rank));
    const auto high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (rank - double(low));
}

std::string fixed(double v, int decimals = 2) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

double threadCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3) +
           (double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
}

double statusKiB(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::atof(line.c_str() + key.size() + 1);
        }
    }
    return 0;
}

double peakKiB() {
    return statusKiB("VmHWM");
}

// Drives the window as an operator would, through the widgets' own events.
class Driver {
public:
    explicit Driver(qt::Form1& form) : m_form(form) {}

    QWidget* widget(Control id) const { return m_form.control(id); }
    void click(Control id) { qobject_cast<QAbstractButton*>(widget(id))->click(); }
    void mouse(Control id, QEvent::Type type) {
        QWidget* w = widget(id);
        const QPointF local = w->rect().center();
        QMouseEvent event(type, local, w->mapToGlobal(local), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(w, &event);
    }
    void press(Control id) { mouse(id, QEvent::MouseButtonPress); }
    void release(Control id) { mouse(id, QEvent::MouseButtonRelease); }
    void tap(Control id) {
        press(id);
        release(id);
    }
    // Runs the event loop for a while.
    void wait(milliseconds span) {
        QEventLoop loop;
        QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QString text(Control id) const { return qobject_cast<QLabel*>(widget(id))->text(); }
    const PanelState& state() const { return m_form.state(); }

private:
    qt::Form1& m_form;
};

struct RepeatCase {
    int periodMs;
    std::vector<Control> selectors; // clicked before the hold
    std::vector<Control> taps;      // pressed and released before the hold
    Control held;
    const char* what;
};

const std::vector<RepeatCase> kRepeatCases{
    {5, {}, {Control::Command48}, Control::Command5, "cursor arrow after a D.Zoom release"},
    {30, {Control::Command43}, {}, Control::Command5, "cursor arrow after CURSOL"},
    {50, {}, {}, Control::Command15, "Zoom +"},
    {100, {Control::Command11}, {}, Control::Command7, "cursor arrow after FOCUS"},
    {200, {Control::Command13}, {}, Control::Command9, "cursor arrow after A-IMAGE"},
    {250, {}, {}, Control::Command1, "VOL +"},
    {500, {}, {}, Control::Command6, "SELECT"},
};

// The platform's own jitter: a bare precise QTimer, timed in its callback.
double bareTimerP99(int periodMs, int copies) {
    std::vector<double> errors;
    Clock::time_point previous = Clock::now();
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(periodMs);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        const Clock::time_point now = Clock::now();
        errors.push_back(std::abs(ms(now - previous) - periodMs));
        previous = now;
        if (int(errors.size()) >= copies) {
            loop.quit();
        }
    });
    previous = Clock::now();
    timer.start();
    loop.exec();
    return percentile(errors, 99);
}

std::string repeatAccuracy(Driver& d, LineEnd& line, bool quick) {
    std::ostringstream out;
    out << "| Period (ms) | Held button | Held for (ms) | Copies expected | Copies received | "
           "Median period (ms) | p99 of abs. error (ms) | Max abs. error (ms) | Bare QTimer p99 "
           "(ms) |\n"
        << "|---|---|---|---|---|---|---|---|---|\n";
    for (const RepeatCase& c : kRepeatCases) {
        for (Control s : c.selectors) {
            d.click(s);
        }
        for (Control t : c.taps) {
            d.tap(t);
        }
        d.wait(milliseconds(50));
        line.takeFrames();
        // At least 2 s or 20 copies, ending half a period after a tick.
        const int copies = quick ? 10 : std::max(20, 2000 / c.periodMs);
        const milliseconds hold(copies * c.periodMs + c.periodMs / 2);
        const Clock::time_point pressed = Clock::now();
        d.press(c.held);
        d.wait(hold);
        d.release(c.held);
        const Clock::time_point released = Clock::now();
        d.wait(milliseconds(100));
        std::vector<double> periods;
        std::vector<double> errors;
        int received = 0;
        Clock::time_point previous{};
        for (const auto& f : line.takeFrames()) {
            if (f.firstByte < pressed || f.firstByte > released) {
                continue;
            }
            if (received++ > 0) {
                const double p = ms(f.firstByte - previous);
                periods.push_back(p);
                errors.push_back(std::abs(p - c.periodMs));
            }
            previous = f.firstByte;
        }
        const double heldMs = ms(released - pressed);
        const int expected = int(std::floor(heldMs / c.periodMs)) + 1;
        out << "| " << c.periodMs << " | " << c.what << " | " << fixed(heldMs, 1) << " | "
            << expected << " | " << received << " | " << fixed(percentile(periods, 50), 3) << " | "
            << fixed(percentile(errors, 99), 3) << " | " << fixed(percentile(errors, 100), 3)
            << " | " << fixed(bareTimerP99(c.periodMs, copies), 3) << " |\n";
        d.click(Control::Command10); // back to a known period between cases
        d.wait(milliseconds(50));
    }
    return out.str();
}

// Press after press of VOL "+": how long the press handler takes to hand the frame to the
// driver, and how long until its first byte is at the far end.
struct PressTimes {
    std::vector<double> handled;
    std::vector<double> firstByte;
};

PressTimes pressTimes(Driver& d, LineEnd& line, int samples) {
    PressTimes times;
    for (int i = 0; i < samples; ++i) {
        line.takeFrames();
        const Clock::time_point t0 = Clock::now();
        d.press(Control::Command1);
        times.handled.push_back(ms(Clock::now() - t0));
        std::vector<LineEnd::Frame> frames;
        while ((frames = line.takeFrames()).empty() &&
               Clock::now() - t0 < std::chrono::seconds(1)) {
            QCoreApplication::processEvents();
        }
        if (!frames.empty()) {
            times.firstByte.push_back(ms(frames.front().firstByte - t0));
        }
        d.release(Control::Command1);
        d.wait(milliseconds(5));
    }
    return times;
}

std::string latencies(Driver& d, LineEnd& line, bool quick) {
    const int samples = quick ? 30 : 200;
    const PressTimes press = pressTimes(d, line, samples);
    const std::vector<double>& pressToByte = press.firstByte;
    const std::vector<double>& pressHandled = press.handled;
    std::vector<double> replyToBoxes;
    const char* replies[] = {"00\r", "80\r"};
    const QString messages[] = {QStringLiteral(" Power ON"), QStringLiteral(" Stand by")};
    for (int i = 0; i < samples; ++i) {
        d.tap(Control::Command1); // a release empties the receive buffer
        d.click(Control::Command44);
        d.wait(milliseconds(2));
        line.takeFrames();
        const Clock::time_point t0 = Clock::now();
        line.send(replies[i % 2]);
        while ((d.text(kStatusBox) != messages[i % 2] || d.text(kRxdBox).isEmpty()) &&
               Clock::now() - t0 < std::chrono::seconds(1)) {
            QCoreApplication::processEvents();
        }
        replyToBoxes.push_back(ms(Clock::now() - t0));
    }
    std::ostringstream out;
    out << "| Path | Samples | Median (ms) | p99 (ms) | Target p99 |\n|---|---|---|---|---|\n"
        << "| press handled, frame written to the driver | " << pressHandled.size() << " | "
        << fixed(percentile(pressHandled, 50), 3) << " | " << fixed(percentile(pressHandled, 99), 3)
        << " | - |\n"
        << "| press to first byte at the other end | " << pressToByte.size() << " | "
        << fixed(percentile(pressToByte, 50), 3) << " | " << fixed(percentile(pressToByte, 99), 3)
        << " | under 1 ms |\n"
        << "| reply written to RXD and STATUS updated | " << replyToBoxes.size() << " | "
        << fixed(percentile(replyToBoxes, 50), 3) << " | " << fixed(percentile(replyToBoxes, 99), 3)
        << " | under 2 ms |\n";
    return out.str();
}

// A free port on 127.0.0.1, for a server about to start there.
int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// The simulator, started with `arguments` (its link last), once its link is there; false
// when it could not start.
bool startSimulator(QProcess& sim, const std::string& simPath, const QStringList& arguments) {
    sim.start(QString::fromStdString(simPath), arguments);
    if (!sim.waitForStarted()) {
        return false;
    }
    while (!QFileInfo::exists(arguments.last())) {
        if (sim.state() != QProcess::Running) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

// `vk9ctl --port DEVICE status` run `runs` times as a script runs it, process start
// included: the times of the runs that ended 0.
void statusRuns(const std::string& ctlPath, const QString& device, int runs,
                std::vector<double>& times) {
    for (int run = 0; run < runs; ++run) {
        QProcess ctl;
        const Clock::time_point t0 = Clock::now();
        ctl.start(QString::fromStdString(ctlPath), {"--port", device, "status"});
        ctl.waitForFinished(10000);
        if (ctl.exitCode() == 0) {
            times.push_back(ms(Clock::now() - t0));
        }
    }
}

// ser2net on 127.0.0.1 in front of a device, as Telnet with the COM port option.
struct Ser2netLine {
    QTemporaryDir dir;
    QProcess process;
    int port = 0;

    explicit Ser2netLine(const std::string& device) {
        port = freePort();
        QFile config(dir.filePath("ser2net.yaml"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("%YAML 1.1\n---\nconnection: &line\n"
                                    "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                    "  connector: serialdev,%2,19200n81,local\n")
                         .arg(port)
                         .arg(QString::fromStdString(device))
                         .toUtf8());
        config.close();
        process.start(QStringLiteral("ser2net"), {"-n", "-c", dir.filePath("ser2net.yaml")});
    }
    ~Ser2netLine() {
        process.terminate();
        process.waitForFinished(3000);
    }
    bool started() { return process.waitForStarted(); }
    std::string address() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }
};

std::string g_gatePath; // vk9gate, for the rows through it

// vk9gate on 127.0.0.1 in front of a device, at the speed given.
struct GateLine {
    QProcess process;
    int port = 0;

    GateLine(const std::string& device, int bitsPerSecond) {
        port = freePort();
        process.start(QString::fromStdString(g_gatePath),
                      {"--line", QString::fromStdString(device), "--speed",
                       QString::number(bitsPerSecond), "--listen",
                       QStringLiteral("127.0.0.1:%1").arg(port)});
    }
    ~GateLine() {
        process.terminate();
        process.waitForFinished(3000);
    }
    bool started() {
        for (int tries = 0; tries < 50 && process.waitForStarted(); ++tries) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(port));
            if (probe.waitForConnected(100)) {
                return true;
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
        return false;
    }
    std::string address() const { return "tcp://127.0.0.1:" + std::to_string(port); }
};

// A window whose port 1 is the line given, once the line is open (a server may take a
// moment to listen).
std::unique_ptr<qt::Form1> windowOn(const std::string& device) {
    qt::LaunchOptions options;
    options.devices[0] = device;
    const Clock::time_point start = Clock::now();
    std::unique_ptr<qt::Form1> form;
    while (Clock::now() - start < std::chrono::seconds(10)) {
        form = std::make_unique<qt::Form1>(options);
        Driver(*form).wait(milliseconds(200));
        if (form->serialPort().write("").ok) { // an empty write succeeds once connected
            break;
        }
    }
    return form;
}

// The same presses through ser2net over Telnet with the COM port option on 127.0.0.1, in
// front of a pseudo-terminal, beside the direct pseudo-terminal path, in turns.
std::string networkPath(Driver& direct, LineEnd& directLine, bool quick) {
    LineEnd farLine;
    Ser2netLine server(farLine.device());
    if (!server.started()) {
        return "ser2net could not be started; install Debian's ser2net package.\n";
    }
    const auto form = windowOn(server.address());
    Driver network(*form);
    network.wait(milliseconds(200));
    const int rounds = quick ? 3 : 10;
    const int samples = quick ? 10 : 20;
    std::vector<double> byDirect;
    std::vector<double> byNetwork;
    for (int round = 0; round < rounds; ++round) {
        const auto a = pressTimes(direct, directLine, samples).firstByte;
        const auto b = pressTimes(network, farLine, samples).firstByte;
        byDirect.insert(byDirect.end(), a.begin(), a.end());
        byNetwork.insert(byNetwork.end(), b.begin(), b.end());
    }
    std::ostringstream out;
    out << "| Path to the first byte at the far end | Samples | Median (ms) | p99 (ms) |\n"
        << "|---|---|---|---|\n"
        << "| direct: pseudo-terminal | " << byDirect.size() << " | "
        << fixed(percentile(byDirect, 50), 3) << " | " << fixed(percentile(byDirect, 99), 3)
        << " |\n"
        << "| network: ser2net, RFC 2217, 127.0.0.1, pseudo-terminal | " << byNetwork.size()
        << " | " << fixed(percentile(byNetwork, 50), 3) << " | "
        << fixed(percentile(byNetwork, 99), 3) << " |\n\nThe network path adds "
        << fixed(percentile(byNetwork, 50) - percentile(byDirect, 50), 3)
        << " ms at the median (target: at most 1 ms).\n";
    return out.str();
}

// A cursor arrow held after a D.Zoom release (a 5 ms repeat) on a line whose far end takes
// the bytes at the line's own rate: how much of the line the hold uses, and how soon after
// the release the line falls silent.
std::string pacingRow(const std::string& path, int bitsPerSecond, bool addressed,
                      milliseconds hold) {
    LineEnd far(bitsPerSecond / 10, LineEnd::Answers::Acknowledgements); // as a projector does
    std::unique_ptr<Ser2netLine> server;
    std::unique_ptr<GateLine> gate;
    std::string device = far.device();
    if (path == "vk9gate") {
        gate = std::make_unique<GateLine>(far.device(), bitsPerSecond);
        if (!gate->started()) {
            return "| " + path + " | vk9gate could not be started |\n";
        }
        device = gate->address();
    } else if (path != "direct") {
        server = std::make_unique<Ser2netLine>(far.device());
        if (!server->started()) {
            return "| " + path + " | ser2net could not be started |\n";
        }
        device = server->address();
    }
    const auto form = windowOn(device);
    Driver d(*form);
    d.click(bitsPerSecond == 9600 ? Control::Option10 : Control::Option9);
    d.click(addressed ? Control::Option5 : Control::Option3);
    d.tap(Control::Command48); // D.Zoom: arrows repeat every 5 ms
    d.wait(milliseconds(300));
    far.takeFrames();
    const Clock::time_point pressed = Clock::now();
    d.press(Control::Command5);
    d.wait(hold);
    d.release(Control::Command5);
    const Clock::time_point released = Clock::now();
    d.wait(milliseconds(3000)); // long enough for any backlog to drain
    const std::size_t frameBytes = addressed ? 8 : 4;
    std::vector<double> periods;
    int frames = 0;
    Clock::time_point last{};
    for (const auto& f : far.takeFrames()) {
        if (f.text.size() != frameBytes || f.lastByte < pressed) {
            continue;
        }
        if (frames++ > 0) {
            periods.push_back(ms(f.lastByte - last));
        }
        last = f.lastByte;
    }
    const double heldMs = ms(released - pressed);
    const double frameMs = double(frameBytes) * 10 * 1000 / bitsPerSecond;
    const double capacity = heldMs / frameMs;
    std::ostringstream out;
    out << "| " << path << " | " << bitsPerSecond << " | " << frameBytes << " bytes, "
        << fixed(frameMs, 2) << " ms | " << fixed(heldMs, 0) << " | " << frames << " | "
        << fixed(100.0 * frames / capacity, 0) << " % | " << fixed(ms(last - released), 1) << " | "
        << fixed(frameMs + 20, 1) << " | " << fixed(percentile(periods, 50), 3) << " |\n";
    return out.str();
}

std::string pacing(bool quick) {
    const milliseconds hold(quick ? 1000 : 2000);
    std::ostringstream out;
    out << "| Line | bit/s | Frame | Held (ms) | Frames at the far end | Line capacity used | "
           "Last frame after the release (ms) | Limit: a frame + 20 ms | Median period (ms) "
           "|\n|---|---|---|---|---|---|---|---|---|\n";
    for (const int speed : {9600, 19200}) {
        for (const char* path : {"direct", "ser2net, RFC 2217", "vk9gate"}) {
            if (std::string(path) != "vk9gate" || !g_gatePath.empty()) {
                out << pacingRow(path, speed, speed == 9600, hold);
            }
        }
    }
    return out.str();
}

std::string receiveFlood(Driver& d, LineEnd& line) {
    constexpr std::size_t kFlood = 1 << 20;
    std::string bytes(kFlood, '\0');
    std::mt19937 random(2026);
    std::uniform_int_distribution<int> byte(0, 255);
    for (char& c : bytes) {
        c = static_cast<char>(byte(random));
    }
    d.wait(milliseconds(1200)); // let every traffic timer run out
    const double peakBefore = peakKiB();
    const double cpu0 = threadCpuMs();
    const Clock::time_point t0 = Clock::now();
    std::atomic<bool> sent{false};
    std::thread writer([&] {
        for (std::size_t at = 0; at < bytes.size(); at += 4096) {
            line.send(bytes.substr(at, 4096));
        }
        sent = true;
    });
    while (!sent) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    writer.join();
    d.wait(milliseconds(300));
    const double cpu = threadCpuMs() - cpu0;
    const double wall = ms(Clock::now() - t0) - 300;
    std::ostringstream out;
    out << "| Flood | Wall time (ms) | Panel thread CPU (ms) | CPU per byte (ns) | Peak RSS before "
           "/ after (KiB) | Receive buffer after (bytes) |\n|---|---|---|---|---|---|\n"
        << "| 1 MiB of random bytes, 4 KiB writes | " << fixed(wall, 1) << " | " << fixed(cpu, 1)
        << " | " << fixed(cpu * 1e6 / double(kFlood), 1) << " | " << fixed(peakBefore, 0) << " / "
        << fixed(peakKiB(), 0) << " | " << d.state().receiveBuffer.size() << " |\n";
    return out.str();
}

std::string processFigures(const std::string& panel, const std::string& bare, int runs) {
    std::vector<double> start[2];
    std::vector<double> rss[2];
    std::vector<double> anon[2];
    std::vector<double> idle[2];
    std::vector<double> wakes[2];
    LineEnd port; // so that the panel starts without a warning box
    const std::vector<std::vector<std::string>> env{{"VK9RSC_COM1=" + port.device()}, {}};
    const std::string programs[] = {panel, bare};
    for (int run = 0; run < runs; ++run) {
        for (int p = 0; p < 2; ++p) {
            const auto f = measureProcess(programs[p], env[p], milliseconds(10000));
            if (!f) {
                return "Could not start " + programs[p] + " on $DISPLAY.\n";
            }
            start[p].push_back(f->startUpMs);
            rss[p].push_back(f->residentKiB);
            anon[p].push_back(f->anonymousKiB);
            idle[p].push_back(f->idleCpuMs);
            wakes[p].push_back(f->wakeUps);
        }
    }
    const double startRatio = percentile(start[0], 50) / percentile(start[1], 50);
    const double rssRatio = percentile(rss[0], 50) / percentile(rss[1], 50);
    std::ostringstream out;
    out << "| Program | Start-up to window mapped, median of " << runs
        << " (ms) | Resident memory at idle (KiB) | of which anonymous (KiB) | CPU over 10 s idle "
           "(ms) | Wake-ups in 10 s |\n|---|---|---|---|---|---|\n";
    const char* names[] = {"vk9rsc", "bare Qt window"};
    for (int p = 0; p < 2; ++p) {
        out << "| " << names[p] << " | " << fixed(percentile(start[p], 50), 1) << " | "
            << fixed(percentile(rss[p], 50), 0) << " | " << fixed(percentile(anon[p], 50), 0)
            << " | " << fixed(percentile(idle[p], 50), 2) << " | "
            << fixed(percentile(wakes[p], 50), 0) << " |\n";
    }
    out << "\nRatios: start-up " << fixed(startRatio) << " (target at most 1.5), memory "
        << fixed(rssRatio) << " (target at most 1.3). Idle CPU target: under 10 ms.\n";
    return out.str();
}

// Ten minutes (or as asked) of 5 ms holds and status queries against the simulator, whose
// frame log is then checked frame by frame.
std::string soak(const std::string& simPath, double minutes) {
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    const QString log = dir.filePath("vk9sim.log");
    QProcess sim;
    if (!startSimulator(sim, simPath, {"--log", log, link})) {
        return "Could not start " + simPath + ".\n";
    }
    qputenv("VK9RSC_COM1", link.toLocal8Bit());
    qt::Form1 form;
    form.show();
    Driver d(form);
    d.wait(milliseconds(200));

    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double, std::ratio<60>>(minutes));
    std::vector<double> rss;
    Clock::time_point nextSample = Clock::now() + std::chrono::seconds(30);
    int holds = 0;
    int queries = 0;
    int decoded = 0;
    while (Clock::now() < end) {
        d.tap(Control::Command48); // D.Zoom release: arrows repeat every 5 ms
        d.press(Control::Command5);
        d.wait(milliseconds(2000));
        d.release(Control::Command5);
        ++holds;
        d.wait(milliseconds(50));
        d.click(Control::Command44); // its window empties the late acknowledgements
        d.wait(milliseconds(600));
        d.click(Control::Command44);
        d.wait(milliseconds(300));
        ++queries;
        decoded += d.text(kStatusBox) == QStringLiteral(" Stand by") ? 1 : 0;
        if (Clock::now() >= nextSample) {
            rss.push_back(statusKiB("VmRSS"));
            nextSample += std::chrono::seconds(30);
        }
    }
    d.wait(milliseconds(500));
    const std::uint64_t written = form.serialPort().bytesWritten();
    sim.terminate();
    sim.waitForFinished(3000);

    QFile file(log);
    file.open(QIODevice::ReadOnly);
    std::uint64_t frames = 0;
    std::uint64_t frameBytes = 0;
    std::uint64_t malformed = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 4 || fields[1] != "rx") {
            continue;
        }
        ++frames;
        const QByteArray frame = fields[3];
        const bool good = fields[2] != "-" && frame.endsWith("<0D>") && !line.contains("(");
        malformed += good ? 0 : 1;
        frameBytes += std::uint64_t(frame.size() - 4 + 1); // "<0D>" is one byte
    }
    std::ostringstream out;
    out << "| Soak | Holds | Queries decoded | Frames at the simulator | Bytes written / "
           "received | Malformed | Resident memory, first / last / max sample (KiB) |\n"
        << "|---|---|---|---|---|---|---|\n"
        << "| " << fixed(minutes, 1) << " min | " << holds << " | " << decoded << " of " << queries
        << " | " << frames << " | " << written << " / " << frameBytes << " | " << malformed << " | "
        << (rss.empty() ? std::string("-")
                        : fixed(rss.front(), 0) + " / " + fixed(rss.back(), 0) + " / " +
                              fixed(*std::max_element(rss.begin(), rss.end()), 0))
        << " |\n";
    return out.str();
}

// vk9ctl status, as a script runs it, against the simulator: directly, and through ser2net
// as Telnet and as raw TCP. Process start included.
std::string scriptTimes(const std::string& ctlPath, const std::string& simPath, bool quick) {
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    QProcess sim;
    if (!startSimulator(sim, simPath, {"--log", dir.filePath("sim.log"), link})) {
        return "Could not start " + simPath + ".\n";
    }
    const int port = freePort();
    QFile config(dir.filePath("ser2net.yaml"));
    config.open(QIODevice::WriteOnly);
    const QString line = QStringLiteral("connection: &%1\n  accepter: %2,127.0.0.1,%3\n"
                                        "  connector: serialdev,%4,19200n81,local\n");
    config.write(("%YAML 1.1\n---\n" + line.arg("a", "telnet(rfc2217),tcp").arg(port).arg(link) +
                  line.arg("b", "tcp").arg(port + 1).arg(link))
                     .toUtf8());
    config.close();
    QProcess server;
    server.start(QStringLiteral("ser2net"), {"-n", "-c", dir.filePath("ser2net.yaml")});
    server.waitForStarted();
    std::this_thread::sleep_for(milliseconds(500));
    std::ostringstream out;
    out << "| Line | Runs | Median (ms) | p90 (ms) |\n|---|---|---|---|\n";
    const std::pair<const char*, QString> lines[] = {
        {"direct: pseudo-terminal", link},
        {"ser2net, RFC 2217, 127.0.0.1", QStringLiteral("rfc2217://127.0.0.1:%1").arg(port)},
        {"ser2net, raw TCP, 127.0.0.1", QStringLiteral("tcp://127.0.0.1:%1").arg(port + 1)},
    };
    for (const auto& [what, device] : lines) {
        std::vector<double> times;
        statusRuns(ctlPath, device, quick ? 10 : 40, times);
        out << "| " << what << " | " << times.size() << " | " << fixed(percentile(times, 50), 1)
            << " | " << fixed(percentile(times, 90), 1) << " |\n";
    }
    server.terminate();
    server.waitForFinished(3000);
    sim.terminate();
    sim.waitForFinished(3000);
    return out.str();
}

// vk9ctl status through vk9gate beside directly on the same line, in turns (the gate is
// stopped while the direct runs go, since it holds the line); then the gate's memory with
// 16 clients connected, and its CPU and wake-ups over 10 s while nobody talks.
std::string gateFigures(const std::string& ctlPath, const std::string& simPath, bool quick) {
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    QProcess sim;
    if (!startSimulator(sim, simPath, {"--log", dir.filePath("sim.log"), link})) {
        return "Could not start " + simPath + ".\n";
    }
    std::vector<double> direct;
    std::vector<double> gated;
    for (int round = 0; round < (quick ? 2 : 8); ++round) {
        statusRuns(ctlPath, link, 5, direct);
        GateLine gate(link.toStdString(), 19200);
        if (!gate.started()) {
            return "vk9gate could not be started.\n";
        }
        statusRuns(ctlPath, QString::fromStdString(gate.address()), 5, gated);
    }
    std::ostringstream out;
    out << "| Line | Runs | Median (ms) | p90 (ms) |\n|---|---|---|---|\n"
        << "| direct: pseudo-terminal | " << direct.size() << " | "
        << fixed(percentile(direct, 50), 1) << " | " << fixed(percentile(direct, 90), 1) << " |\n"
        << "| vk9gate, 127.0.0.1, in front of it | " << gated.size() << " | "
        << fixed(percentile(gated, 50), 1) << " | " << fixed(percentile(gated, 90), 1)
        << " |\n\nThe gate adds " << fixed(percentile(gated, 50) - percentile(direct, 50), 2)
        << " ms at the median (target: at most 2 ms).\n\n";

    GateLine gate(link.toStdString(), 19200);
    if (!gate.started()) {
        return out.str() + "vk9gate could not be started.\n";
    }
    const auto pid = static_cast<pid_t>(gate.process.processId());
    const double alone = bench::statusKiB(pid, "VmRSS");
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int n = 0; n < 16; ++n) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, quint16(gate.port));
        clients.back()->waitForConnected(1000);
    }
    const auto spin = [](int msToWait) {
        QEventLoop loop;
        QTimer::singleShot(msToWait, &loop, &QEventLoop::quit);
        loop.exec();
    };
    spin(2000);
    const double withClients = bench::statusKiB(pid, "VmRSS");
    const auto [cpu0, wakes0] = bench::threadTotals(pid);
    spin(10000);
    const auto [cpu1, wakes1] = bench::threadTotals(pid);
    out << "| vk9gate | Resident memory (KiB) | CPU over 10 s idle (ms) | Wake-ups in 10 s |\n"
        << "|---|---|---|---|\n"
        << "| no client | " << fixed(alone, 0) << " | | |\n"
        << "| 16 clients connected, none talking | " << fixed(withClients, 0) << " | "
        << fixed((cpu1 - cpu0) / 1e6, 2) << " | " << fixed(wakes1 - wakes0, 0) << " |\n";
    sim.terminate();
    sim.waitForFinished(3000);
    return out.str();
}

// Runs of `vk9ctl ARGUMENTS`, each started `every` after the last one began (or at once
// when it took longer), for `span`: their times, and how many ended 0. Meanwhile `others`
// loop on their own arguments, from a second after the first run.
struct Runs {
    std::vector<double> answered; // ms, process start included
    int count = 0;
};
Runs loopWhile(const std::string& ctlPath, const QStringList& arguments, milliseconds every,
               milliseconds span, const std::vector<QStringList>& others) {
    Runs runs;
    QEventLoop loop;
    const Clock::time_point start = Clock::now();
    const auto running = [&] { return Clock::now() - start < span; };
    std::vector<std::unique_ptr<QProcess>> loops;
    for (const QStringList& args : others) {
        auto& p = loops.emplace_back(std::make_unique<QProcess>());
        QObject::connect(p.get(), &QProcess::finished, [&, raw = p.get(), args] {
            if (running()) {
                raw->start(QString::fromStdString(ctlPath), args);
            }
        });
        QTimer::singleShot(
            1000, [&, raw = p.get(), args] { raw->start(QString::fromStdString(ctlPath), args); });
    }
    QProcess mine;
    Clock::time_point began;
    const auto next = [&] {
        began = Clock::now();
        mine.start(QString::fromStdString(ctlPath), arguments);
    };
    QObject::connect(&mine, &QProcess::finished, [&](int status) {
        const double took = ms(Clock::now() - began);
        ++runs.count;
        if (status == 0) {
            runs.answered.push_back(took);
        }
        if (!running()) {
            loop.quit();
            return;
        }
        QTimer::singleShot(std::max<int>(0, int(double(every.count()) - took)), next);
    });
    next();
    loop.exec();
    for (auto& p : loops) {
        p->waitForFinished(10000);
    }
    return runs;
}

// Projectors that are not there beside one that is, and four scripts at once against slow
// projectors, through the gate.
std::string sharingFigures(const std::string& ctlPath, const std::string& simPath, bool quick) {
    std::ostringstream out;
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("com1");
        QProcess sim;
        if (!startSimulator(sim, simPath, {"--projectors", "2", "--log", "/dev/null", link})) {
            return "Could not start " + simPath + ".\n";
        }
        GateLine gate(link.toStdString(), 19200);
        if (!gate.started()) {
            return "vk9gate could not be started.\n";
        }
        const QString tickets = QStringLiteral("gate://127.0.0.1:%1").arg(gate.port);
        const QString raw = QString::fromStdString(gate.address());
        const milliseconds span(quick ? 20000 : 60000);
        const QStringList present{"--port", tickets, "--address", "1", "query-status"};
        const std::vector<QStringList> absent{{"--port", raw, "--address", "3", "status"},
                                              {"--port", raw, "--address", "4", "status"}};
        out << "Projector 001 asked every 0.5 s (`query-status`, process start included) for "
            << span.count() / 1000
            << " s; projectors 003 and 004 are not on the line.\n\n| Beside it | Through | Runs "
               "| Answered | Median (ms) | p90 (ms) | Longest (ms) "
               "|\n|---|---|---|---|---|---|---|\n";
        const auto row = [&](const char* beside, const char* through, const Runs& r) {
            out << "| " << beside << " | " << through << " | " << r.count << " | "
                << fixed(100.0 * double(r.answered.size()) / std::max(1, r.count), 1) << " % | "
                << fixed(percentile(r.answered, 50), 1) << " | "
                << fixed(percentile(r.answered, 90), 1) << " | "
                << fixed(percentile(r.answered, 100), 1) << " |\n";
            return r;
        };
        const Runs alone =
            row("no one", "gate://", loopWhile(ctlPath, present, milliseconds(500), span / 3, {}));
        const Runs beside = row("two `status` loops on 003 and 004", "gate://",
                                loopWhile(ctlPath, present, milliseconds(500), span, absent));
        QStringList rawPresent = present;
        rawPresent[1] = raw;
        row("two `status` loops on 003 and 004", "tcp://",
            loopWhile(ctlPath, rawPresent, milliseconds(500), span, absent));
        out << "\nThrough gate://, " << beside.answered.size() << " of " << beside.count
            << " runs for 001 answered beside the loops, the median "
            << fixed(percentile(beside.answered, 50) - percentile(alone.answered, 50), 1)
            << " ms from the run with no one else (targets: at least 99 %, within 50 ms). A run "
               "that waits does so through the late window (2 s) of a probe: each absent "
               "projector is tried every 10 s. Through tcp:// the reply window counts from "
               "handing the frame to the gate, so a run that waits through a probe fails.\n";
        sim.terminate();
        sim.waitForFinished(3000);
    }
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    QProcess sim;
    if (!startSimulator(sim, simPath, {"--delay", "150", "--log", "/dev/null", link})) {
        return out.str() + "Could not start " + simPath + ".\n";
    }
    GateLine gate(link.toStdString(), 19200);
    if (!gate.started()) {
        return out.str() + "vk9gate could not be started.\n";
    }
    const QString tickets = QStringLiteral("gate://127.0.0.1:%1").arg(gate.port);
    out << "\nFour `vk9ctl --address N status` runs (one a projector) against projectors that "
           "answer in 150 ms, through gate://:\n\n| How | Rounds | Runs answered | Wall time, "
           "median (ms) |\n|---|---|---|---|\n";
    for (const bool together : {false, true}) {
        std::vector<double> walls;
        int answered = 0;
        const int rounds = quick ? 3 : 10;
        for (int round = 0; round < rounds; ++round) {
            const Clock::time_point t0 = Clock::now();
            std::vector<std::unique_ptr<QProcess>> runs;
            for (int n = 1; n <= 4; ++n) {
                auto& p = runs.emplace_back(std::make_unique<QProcess>());
                p->start(QString::fromStdString(ctlPath),
                         {"--port", tickets, "--address", QString::number(n), "status"});
                if (!together) {
                    p->waitForFinished(30000);
                }
            }
            for (auto& p : runs) {
                p->waitForFinished(30000);
                answered += p->exitCode() == 0 ? 1 : 0;
            }
            walls.push_back(ms(Clock::now() - t0));
        }
        out << "| " << (together ? "at once" : "in turn") << " | " << rounds << " | " << answered
            << " of " << 4 * rounds << " | " << fixed(percentile(walls, 50), 0) << " |\n";
    }
    sim.terminate();
    sim.waitForFinished(3000);
    return out.str();
}

// A PJLink client on a fresh connection: the greeting read, the requests sent one by one,
// each answer read. Its answers, or nothing when the gate did not answer in 5 s.
std::vector<std::string> pjlinkAsk(int port, const std::vector<std::string>& requests,
                                   std::vector<double>* times = nullptr) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    std::vector<std::string> answers;
    QByteArray got;
    const auto line = [&] {
        while (!got.contains('\r') && socket.waitForReadyRead(5000)) {
            got += socket.readAll();
        }
        const auto end = got.indexOf('\r');
        const std::string text = end < 0 ? std::string() : got.left(end).toStdString();
        got.remove(0, end + 1);
        return text;
    };
    if (!socket.waitForConnected(2000) || line() != "PJLINK 0") {
        return answers;
    }
    for (const std::string& request : requests) {
        const Clock::time_point t0 = Clock::now();
        socket.write((request + "\r").c_str());
        socket.flush();
        answers.push_back(line());
        if (times != nullptr) {
            times->push_back(ms(Clock::now() - t0));
        }
        if (answers.back().empty() || (request.find("POWR") != std::string::npos &&
                                       answers.back() != "%1POWR=1" && requests.size() > 1)) {
            break; // off: its inputs and mutes are not asked, as the common clients do
        }
    }
    return answers;
}

// Four projectors answering PJLink through the gate: how long POWR ? takes, with a value
// read less than 1 s ago and without; then how much of the line two clients polling each
// projector every 10 s use.
std::string pjlinkFigures(const std::string& simPath, bool quick) {
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    QProcess sim;
    if (!startSimulator(sim, simPath,
                        {"--log", dir.filePath("sim.log"), "--state", "1:power=on", "--state",
                         "3:power=on", link})) {
        return "Could not start " + simPath + ".\n";
    }
    const int base = freePort();
    QString toml =
        QStringLiteral("[line]\nport = \"%1\"\nlisten = \"127.0.0.1:%2\"\n").arg(link).arg(base);
    for (int p = 1; p <= 4; ++p) {
        toml += QStringLiteral("[[projector]]\naddress = \"00%1\"\n[projector.pjlink]\n"
                               "listen = \"127.0.0.1:%2\"\n")
                    .arg(p)
                    .arg(base + p);
    }
    QFile config(dir.filePath("gate.toml"));
    config.open(QIODevice::WriteOnly);
    config.write(toml.toUtf8());
    config.close();
    QProcess gate;
    gate.start(QString::fromStdString(g_gatePath), {"--config", config.fileName()});
    std::this_thread::sleep_for(milliseconds(500));

    std::vector<double> fresh;
    std::vector<double> asked;
    for (int n = 0; n < (quick ? 8 : 30); ++n) {
        std::this_thread::sleep_for(milliseconds(1100)); // what was read is 1 s old
        std::vector<double> times;
        pjlinkAsk(base + 1, {"%1POWR ?", "%1POWR ?"}, &times);
        if (times.size() == 2) {
            asked.push_back(times[0]);
            fresh.push_back(times[1]);
        }
    }
    // Two clients a projector, each every 10 s, 5 s apart: POWR ?, and INPT ? and AVMT ? when
    // it is on, each poll on a connection of its own.
    QFile log(dir.filePath("sim.log"));
    log.open(QIODevice::ReadOnly);
    log.readAll(); // from here on
    const int seconds = quick ? 20 : 60;
    const Clock::time_point start = Clock::now();
    int polls = 0;
    for (int slot = 0; ms(Clock::now() - start) < seconds * 1000.0; ++slot) {
        const Clock::time_point due = start + milliseconds(slot * 1250); // 8 polls in 10 s
        std::this_thread::sleep_until(due);
        pjlinkAsk(base + 1 + slot % 4, {"%1POWR ?", "%1INPT ?", "%1AVMT ?"});
        ++polls;
    }
    const double span = ms(Clock::now() - start) / 1000;
    std::size_t sent = 0;
    std::size_t replies = 0;
    for (const QByteArray& entry : log.readAll().split('\n')) {
        const QList<QByteArray> fields = entry.split(' ');
        if (fields.size() >= 4 && fields[1] == "rx") {
            // The log writes a byte that is not printable as "<0D>": four characters.
            const auto bytes = [](const QByteArray& shown) {
                return std::size_t(shown.size() - 3 * shown.count('<'));
            };
            sent += bytes(fields[3]);
            const auto reply = entry.indexOf(" -> ");
            replies += reply < 0 ? 0 : bytes(entry.mid(reply + 4));
        }
    }
    gate.terminate();
    gate.waitForFinished(3000);
    sim.terminate();
    sim.waitForFinished(3000);
    const double capacity = span * 19200 / 10; // characters a second, each way
    std::ostringstream out;
    out << "| POWR ? through the gate | Samples | Median (ms) | p99 (ms) |\n|---|---|---|---|\n"
        << "| asked of the projector (nothing read in the last second) | " << asked.size() << " | "
        << fixed(percentile(asked, 50), 2) << " | " << fixed(percentile(asked, 99), 2) << " |\n"
        << "| a value read less than 1 s ago | " << fresh.size() << " | "
        << fixed(percentile(fresh, 50), 2) << " | " << fixed(percentile(fresh, 99), 2)
        << " |\n\nFour projectors (two on, two in stand by), two clients each polling every 10 s "
           "(POWR ?, then INPT ? and AVMT ? when on), "
        << polls << " polls in " << fixed(span, 0) << " s at 19200 bit/s: frames "
        << fixed(100.0 * double(sent) / capacity, 2) << " % of the line, replies "
        << fixed(100.0 * double(replies) / capacity, 2) << " % (target: at most 20 %).\n";
    return out.str();
}

// A building on one broker: sixteen gates, each in front of a line of four simulated
// projectors (64 projectors), on one Mosquitto on 127.0.0.1, polling every 10 s. From a
// command published to its frame on the line; the broker's message rate; each gate's and
// the broker's CPU and memory.
std::string buildingFigures(bool quick) {
    constexpr int kGates = 16;
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther);
    const int brokerPort = freePort();
    QFile conf(dir.filePath("mosquitto.conf"));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n")
                   .arg(brokerPort)
                   .toUtf8());
    conf.close();
    QProcess broker;
    broker.setStandardOutputFile(QProcess::nullDevice());
    broker.setStandardErrorFile(QProcess::nullDevice());
    broker.start(QStringLiteral("mosquitto"), {"-c", conf.fileName()});
    if (!broker.waitForStarted()) {
        return "mosquitto could not be started; install Debian's mosquitto package.\n";
    }
    std::vector<std::unique_ptr<LineEnd>> lines;
    std::vector<std::unique_ptr<QProcess>> gates;
    for (int g = 0; g < kGates; ++g) {
        lines.push_back(std::make_unique<LineEnd>(1920, LineEnd::Answers::Projectors));
        QTcpServer free;
        free.listen(QHostAddress::LocalHost);
        QString toml = QStringLiteral("[line]\nport = \"%1\"\nlisten = \"127.0.0.1:%2\"\n")
                           .arg(QString::fromStdString(lines.back()->device()))
                           .arg(free.serverPort());
        free.close();
        for (int p = 1; p <= 4; ++p) {
            toml += QStringLiteral("[[projector]]\naddress = \"00%1\"\n").arg(p);
        }
        toml += QStringLiteral("[mqtt]\nbroker = \"127.0.0.1:%1\"\nclient_id = \"bench-%2\"\n"
                               "poll_seconds = 10\n")
                    .arg(brokerPort)
                    .arg(g);
        QFile config(dir.filePath(QStringLiteral("gate%1.toml").arg(g)));
        config.open(QIODevice::WriteOnly);
        config.write(toml.toUtf8());
        config.close();
        gates.push_back(std::make_unique<QProcess>());
        gates.back()->setStandardErrorFile(QProcess::nullDevice());
        gates.back()->start(QString::fromStdString(g_gatePath), {"--config", config.fileName()});
    }
    std::this_thread::sleep_for(milliseconds(3000)); // connected, announced, polled once

    mosquitto_lib_init();
    std::atomic<long> messages{0};
    mosquitto* watcher = mosquitto_new(nullptr, true, &messages);
    mosquitto_message_callback_set(watcher, [](mosquitto*, void* count, const mosquitto_message*) {
        ++*static_cast<std::atomic<long>*>(count);
    });
    mosquitto* commander = mosquitto_new(nullptr, true, nullptr);
    mosquitto_connect(watcher, "127.0.0.1", brokerPort, 60);
    mosquitto_connect(commander, "127.0.0.1", brokerPort, 60);
    mosquitto_subscribe(watcher, nullptr, "#", 0);
    mosquitto_loop_start(watcher);
    mosquitto_loop_start(commander);
    std::this_thread::sleep_for(milliseconds(1000)); // the retained messages are through

    const auto pidOf = [](const QProcess& p) { return static_cast<pid_t>(p.processId()); };
    std::vector<std::pair<double, double>> cpu0;
    for (const auto& gate : gates) {
        cpu0.push_back(bench::threadTotals(pidOf(*gate)));
    }
    const auto brokerCpu0 = bench::threadTotals(pidOf(broker));
    const long messages0 = messages;
    const Clock::time_point start = Clock::now();
    const double window = quick ? 20 : 60;
    std::vector<double> latencies;
    for (int n = 0; ms(Clock::now() - start) < window * 1000; ++n) {
        const int g = n % kGates;
        const int p = 1 + (n / kGates) % 4;
        const bool on = (n / kGates / 4) % 2 == 0;
        const std::string topic =
            "vk9/bench-" + std::to_string(g) + "/00" + std::to_string(p) + "/sound_mute/set";
        const std::string frame = "A00" + std::to_string(p) + (on ? "C0B\r" : "C0C\r");
        (void)lines[std::size_t(g)]->takeFrames();
        const Clock::time_point sent = Clock::now();
        mosquitto_publish(commander, nullptr, topic.c_str(), on ? 2 : 3, on ? "ON" : "OFF", 1,
                          false);
        const Clock::time_point until = sent + milliseconds(3000);
        bool seen = false;
        while (!seen && Clock::now() < until) {
            std::this_thread::sleep_for(milliseconds(1));
            for (const auto& f : lines[std::size_t(g)]->takeFrames()) {
                if (f.text == frame && f.firstByte >= sent && !seen) {
                    latencies.push_back(ms(f.firstByte - sent));
                    seen = true;
                }
            }
        }
        std::this_thread::sleep_until(sent + milliseconds(1000));
    }
    const double span = ms(Clock::now() - start) / 1000;
    const long rate = long(double(messages - messages0) / span);
    std::vector<double> gateCpu;
    std::vector<double> gateRss;
    for (std::size_t g = 0; g < gates.size(); ++g) {
        const auto now = bench::threadTotals(pidOf(*gates[g]));
        gateCpu.push_back((now.first - cpu0[g].first) / 1e6 / (span * 10)); // % of a core
        gateRss.push_back(bench::statusKiB(pidOf(*gates[g]), "VmRSS"));
    }
    const double brokerCpu =
        (bench::threadTotals(pidOf(broker)).first - brokerCpu0.first) / 1e6 / (span * 10);
    const double brokerRss = bench::statusKiB(pidOf(broker), "VmRSS");
    mosquitto_loop_stop(watcher, true);
    mosquitto_loop_stop(commander, true);
    mosquitto_destroy(watcher);
    mosquitto_destroy(commander);
    mosquitto_lib_cleanup();
    for (const auto& gate : gates) {
        gate->terminate();
        gate->waitForFinished(3000);
    }
    broker.terminate();
    broker.waitForFinished(3000);
    std::ostringstream out;
    out << "| From a command published to its frame on the line | Samples | Median (ms) | p99 (ms) "
           "|\n|---|---|---|---|\n| sound_mute, one gate after another | "
        << latencies.size() << " | " << fixed(percentile(latencies, 50), 2) << " | "
        << fixed(percentile(latencies, 99), 2) << " |\n\n"
        << "| Over " << fixed(span, 0) << " s | CPU (% of a core) | Resident memory (KiB) |\n"
        << "|---|---|---|\n| each gate, median (of " << kGates << ") | "
        << fixed(percentile(gateCpu, 50), 2) << " | " << fixed(percentile(gateRss, 50), 0)
        << " |\n| each gate, most | " << fixed(percentile(gateCpu, 100), 2) << " | "
        << fixed(percentile(gateRss, 100), 0) << " |\n| mosquitto | " << fixed(brokerCpu, 2)
        << " | " << fixed(brokerRss, 0) << " |\n\nThe broker carried " << rate
        << " messages a second (every message the gates published, and one copy to the "
           "watcher).\n";
    // How far one machine goes, from these rates: a gate and its share of the broker.
    const double perGate = percentile(gateCpu, 50) + brokerCpu / kGates;
    const double brokerFull = brokerCpu > 0 ? kGates * 100 / brokerCpu : 0;
    const auto roughly = [](double v) { // two significant digits
        if (!(v > 0) || !std::isfinite(v)) {
            return std::string("-");
        }
        const double scale = std::pow(10, std::floor(std::log10(v)) - 1);
        return fixed(std::round(v / scale) * scale, 0);
    };
    out << "\nHow far this goes: a gate with its share of the broker costs " << fixed(perGate, 2)
        << " % of a core and " << fixed(percentile(gateRss, 50) / 1024, 1)
        << " MiB, so one core of this machine carries about " << roughly(100 / perGate)
        << " gates at this polling rate. Mosquitto runs on one thread: its core would be full "
           "at about "
        << roughly(brokerFull) << " gates (" << roughly(brokerFull * double(rate) / kGates)
        << " messages a second). A site with more, or one whose broker must outlive the loss "
           "of a machine, takes a clustered broker (EMQX, VerneMQ, HiveMQ) behind one "
           "address; the gates need nothing but that address, as each publishes under its "
           "own client id and base topic.\n";
    return out.str();
}

std::string machine() {
    utsname u{};
    uname(&u);
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown processor";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, " +
           u.sysname + " " + u.release + ", Qt " + qVersion();
}

} // namespace

int main(int argc, char* argv[]) {
    bool quick = false;
    std::string outPath;
    std::string panelPath;
    std::string barePath;
    std::string simPath;
    std::string ctlPath;
    double soakMinutes = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--out" && i + 1 < argc) {
            outPath = argv[++i];
        } else if (arg == "--panel" && i + 1 < argc) {
            panelPath = argv[++i];
        } else if (arg == "--bare" && i + 1 < argc) {
            barePath = argv[++i];
        } else if (arg == "--sim" && i + 1 < argc) {
            simPath = argv[++i];
        } else if (arg == "--ctl" && i + 1 < argc) {
            ctlPath = argv[++i];
        } else if (arg == "--gate" && i + 1 < argc) {
            g_gatePath = argv[++i];
        } else if (arg == "--soak" && i + 1 < argc) {
            soakMinutes = std::atof(argv[++i]);
        }
    }
    const bool haveDisplay = !qEnvironmentVariableIsEmpty("DISPLAY");
    qputenv("QT_QPA_PLATFORM", "offscreen"); // the in-process panel needs no display

    LineEnd line;
    if (!line.ok()) {
        std::fprintf(stderr, "vk9rsc-bench: no pseudo-terminal\n");
        return 1;
    }
    qputenv("VK9RSC_COM1", QByteArray::fromStdString(line.device()));
    QApplication app(argc, argv);
    qt::prepareApplication(app);
    qt::Form1 form;
    form.show();
    Driver driver(form);
    driver.wait(milliseconds(200));

    std::ostringstream report;
    report << "# Performance\n\nMeasured by `vk9rsc-bench`" << (quick ? " --quick" : "") << " on "
           << QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString() << ": "
           << machine() << ".\n\n"
           << "Times are taken at the far end of a pseudo-terminal, by the first byte of each "
              "frame.\n\n## Repeat accuracy\n\n"
           << repeatAccuracy(driver, line, quick) << "\n## Latency\n\n"
           << latencies(driver, line, quick) << "\n## Serial line over the network\n\n"
           << networkPath(driver, line, quick) << "\n## Pacing by the line's own speed\n\n"
           << "The far end takes the bytes at the line's rate, one per character time (10 "
              "bits), behind a pseudo-terminal, directly and through ser2net.\n\n"
           << pacing(quick) << "\n## Receive flood\n\n"
           << receiveFlood(driver, line);
    if (haveDisplay && !panelPath.empty() && !barePath.empty()) {
        report << "\n## Start-up, memory and idle cost\n\nEach program is started on the X "
                  "display, timed to its first mapped window, left alone 2 s, then watched "
                  "for 10 s.\n\n"
               << processFigures(panelPath, barePath, quick ? 2 : 5);
    }
    if (!simPath.empty() && !ctlPath.empty()) {
        report << "\n## vk9ctl status\n\n`vk9ctl status` run as a script runs it (the process "
                  "start included) against the simulator, every reply coming.\n\n"
               << scriptTimes(ctlPath, simPath, quick);
    }
    if (!simPath.empty() && !ctlPath.empty() && !g_gatePath.empty()) {
        report << "\n## vk9gate\n\n`vk9ctl status` through the gate and directly on the "
                  "same simulated line, in turns, process start included; then the gate at "
                  "rest.\n\n"
               << gateFigures(ctlPath, simPath, quick)
               << "\n## Sharing the line: absent projectors, slow ones, clients at once\n\n"
               << sharingFigures(ctlPath, simPath, quick) << "\n## PJLink\n\n"
               << pjlinkFigures(simPath, quick)
               << "\n## A building on one broker\n\nSixteen gates, each in front of a line of "
                  "four projectors (the simulator's, at 19200 bit/s), on one Mosquitto on "
                  "127.0.0.1, each polling every 10 s; commands published one a second.\n\n"
               << buildingFigures(quick);
    }
    if (!simPath.empty() && soakMinutes > 0) {
        report << "\n## Soak against the simulator\n\nAlternating 2 s holds of a cursor arrow "
                  "at 5 ms and status queries; every frame in the simulator's log is checked.\n\n"
               << soak(simPath, soakMinutes);
    }
    const std::string text = report.str();
    std::fputs(text.c_str(), stdout);
    if (!outPath.empty()) {
        std::ofstream(outPath) << text;
    }
    return 0;
}

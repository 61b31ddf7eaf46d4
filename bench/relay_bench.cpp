// The relay against socat, on pseudo-terminals: single-byte latency,
// throughput both ways at once, loopback echo latency, and idle cost.
// The window runs in a child process, as the app would, with an injected
// port list; this process plays the two devices.
//
// relay_bench [--smoke] [--line-rate SECONDS] [--rate-conversion SECONDS] [--throughput] [--latency]
//   --smoke: 1 MiB and a few hundred samples
//   --line-rate: only the line-rate figure, for that long (for profiling);
//     VARDELO_BENCH_TIMESTAMPS=1 shows each frame's time in both areas
//   --rate-conversion: only the 115200 -> 9600 figure, for that long
//   --throughput: only throughput, linked, recording, and with full text
//     areas, against the bare Qt relay, a plain poll loop and socat
//     (VARDELO_BENCH_ROUNDS: more than five rounds)
//   --latency: only latency, interleaved with socat's round by round, also
//     while the window is busy or blocked
// The window child uses QT_QPA_PLATFORM as given (offscreen when unset), so
// the line-rate figure can be taken under Xvfb too.

#include "QuietAlerts.h"
#include "platform/Application.h"
#include "platform/SignalExit.h"
#include "bridge/Bridge.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <array>
#include <functional>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <thread>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    QString path;
};

Pty OpenPty()
{
    termios raw {};
    cfmakeraw(&raw);
    char name[256] = {};
    int slave = -1;
    Pty p;
    if (::openpty(&p.master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        std::exit(2);
    }
    ::close(slave);
    ::fcntl(p.master, F_SETFL, ::fcntl(p.master, F_GETFL) | O_NONBLOCK);
    p.path = QString::fromLocal8Bit(name);
    return p;
}

QByteArray RandomBytes(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

// LinkedFull: both text areas already hold as much as they keep, as after
// a long session, so every arrival also lets the oldest bytes go.
// LinkedBusy: full areas showing timestamps, switched between hex and text
// every kToggleMs. LinkedBlocked: the window's thread stops for kBlockMs
// every kBlockEveryMs, as a window that hangs does.
enum class WindowMode { Linked, LinkedRecording, LinkedFull, LinkedBusy, LinkedBlocked, Loopback, Idle };
constexpr int kToggleMs = 250;
constexpr int kBlockMs = 1000;
constexpr int kBlockEveryMs = 2000;

// Answers the record dialog with a file in the temporary folder.
class TempFileChooser : public platform::FileChooser {
public:
    QString SaveFileName(QWidget *, const QString &, Existing) override
    {
        return QDir::temp().filePath(QStringLiteral("relay_bench_record.txt"));
    }
};

// Child: the window, set up as a user would, running its event loop.
[[noreturn]] void RunWindow(int argc, char **argv, const QList<platform::SerialPortInfo> &ports, WindowMode mode,
                            int readyFd)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::Application app(argc, argv);
    // Stopped with SIGTERM: ports closed, no lock files left behind.
    const platform::SignalExit signalExit;
    QObject::connect(&signalExit, &platform::SignalExit::Received, &platform::CloseAllPortsAndQuit);
    bench::QuietAlerts alerts;
    platform::ListPortEnumerator list(ports);
    TempFileChooser files;
    const auto services = mode == WindowMode::Idle ? ui::MainWindow::SystemServices()
                                                   : ui::MainWindow::Services{&list, &alerts, &files};
    ui::MainWindow w(services);
    // VARDELO_BENCH_TIMESTAMPS: both areas show each frame's time.
    if (qEnvironmentVariableIntValue("VARDELO_BENCH_TIMESTAMPS") > 0) {
        w.Serialcomms1().SetTimestamps(true);
        w.Serialcomms2().SetTimestamps(true);
    }
    if (mode != WindowMode::Idle) {
        w.PortListUpdater1_Action(nullptr);
        w.PortListUpdater2_Action(nullptr);
        const bool linked = mode != WindowMode::Loopback;
        if (linked) {
            w.SerialPortsPopupMenu1().setCurrentIndex(0);
            w.PortListUpdater2_Action(nullptr);
        }
        w.ConnectSerial1_Action(&w.ConnectSerial1());
        w.ConnectSerial2_Action(&w.ConnectSerial2());
        if (linked)
            w.LinkBtn_Action(&w.LinkBtn());
        if (mode == WindowMode::LinkedRecording)
            w.StartRecording();
        if (mode == WindowMode::LinkedFull || mode == WindowMode::LinkedBusy) {
            const QByteArray old = RandomBytes(platform::ReceivedBytes::kDefaultKeepBytes, 5);
            for (int channel : {1, 2}) {
                w.Core().Receive(channel, old);
                (channel == 1 ? w.Serialcomms1() : w.Serialcomms2()).Flush();
            }
        }
    }
    QTimer busy;
    if (mode == WindowMode::LinkedBusy) {
        for (platform::TextArea *area : {&w.Serialcomms1(), &w.Serialcomms2()})
            area->SetTimestamps(true);
        QObject::connect(&busy, &QTimer::timeout, [&w] {
            for (platform::TextArea *area : {&w.Serialcomms1(), &w.Serialcomms2()})
                area->SetHexMode(!area->HexMode());
        });
        busy.start(kToggleMs);
    } else if (mode == WindowMode::LinkedBlocked) {
        QObject::connect(&busy, &QTimer::timeout, [] { std::this_thread::sleep_for(std::chrono::milliseconds(kBlockMs)); });
        busy.start(kBlockEveryMs);
    }
    const char ok = w.LinkedTxt().Visible() || mode == WindowMode::Idle ? 'y' : 'n';
    if (::write(readyFd, &ok, 1) != 1)
        std::_Exit(3);
    ::close(readyFd);
    std::_Exit(QApplication::exec());
}

// Child: the framework's floor for the job, two ports relaying both ways
// with no window, on the same event loop the program uses.
[[noreturn]] void RunBareRelay(int argc, char **argv, const QString &left, const QString &right, int readyFd)
{
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QSerialPort one, two;
    const platform::SignalExit signalExit;
    QObject::connect(&signalExit, &platform::SignalExit::Received, [&] {
        one.close();
        two.close();
        QCoreApplication::exit(0);
    });
    for (auto [port, path] : {std::pair{&one, left}, std::pair{&two, right}}) {
        port->setPortName(path);
        port->setBaudRate(9600);
        if (!port->open(QIODevice::ReadWrite))
            std::_Exit(3);
    }
    QObject::connect(&one, &QSerialPort::readyRead, [&] { two.write(one.readAll()); });
    QObject::connect(&two, &QSerialPort::readyRead, [&] { one.write(two.readAll()); });
    const char ok = 'y';
    if (::write(readyFd, &ok, 1) != 1)
        std::_Exit(3);
    ::close(readyFd);
    std::_Exit(QCoreApplication::exec());
}

// Child: the least a relay does, as a reference: one poll loop over the two
// devices, each read written on at once, what does not fit queued, no copy
// kept and no window. Between socat's figure and this one lies what a
// relay's own loop can gain. The ptys are raw from OpenPty().
[[noreturn]] void RunPlainRelay(const QString &left, const QString &right, int readyFd)
{
    int fd[2] = {};
    int n = 0;
    for (const QString &path : {left, right})
        if ((fd[n++] = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) < 0)
            std::_Exit(3);
    const char ok = 'y';
    if (::write(readyFd, &ok, 1) != 1)
        std::_Exit(3);
    ::close(readyFd);
    constexpr std::size_t kMostQueued = 1 << 20;
    std::vector<char> toward[2];
    static char buffer[65536];
    for (;;) {
        pollfd p[2];
        for (int side : {0, 1})
            p[side] = {fd[side], short((toward[1 - side].size() < kMostQueued ? POLLIN : 0) |
                                       (toward[side].empty() ? 0 : POLLOUT)), 0};
        if (::poll(p, 2, -1) < 0)
            continue;
        for (int side : {0, 1}) {
            if (!(p[side].revents & POLLIN))
                continue;
            const ssize_t got = ::read(fd[side], buffer, sizeof buffer);
            if (got <= 0)
                continue;
            std::vector<char> &out = toward[1 - side];
            const ssize_t written = out.empty() ? std::max<ssize_t>(0, ::write(fd[1 - side], buffer, size_t(got))) : 0;
            out.insert(out.end(), buffer + written, buffer + got);
        }
        for (int side : {0, 1}) {
            if (toward[side].empty())
                continue;
            const ssize_t written = ::write(fd[side], toward[side].data(), toward[side].size());
            if (written > 0)
                toward[side].erase(toward[side].begin(), toward[side].begin() + written);
        }
    }
}

// Child: the bridge with no window, linked, on the same event loop: the
// window's own cost is ours less this.
[[noreturn]] void RunCore(int argc, char **argv, const QList<platform::SerialPortInfo> &ports, int readyFd)
{
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    platform::ListPortEnumerator list(ports);
    platform::SerialController one(nullptr), two(nullptr);
    bridge::Bridge core(one, two, list);
    for (int n : {1, 2}) {
        platform::SerialController &port = n == 1 ? one : two;
        QObject::connect(&port, &platform::SerialController::Error, &core, [&core, n] { core.PortLost(n); });
        QObject::connect(&port, &platform::SerialController::DataAvailable, &core, [&core, n] { core.Relay(n); });
    }
    const platform::SignalExit signalExit;
    QObject::connect(&signalExit, &platform::SignalExit::Received, [&] {
        core.LetGo();
        QCoreApplication::exit(0);
    });
    const bool up = core.Connect(1, ports.value(0)) == bridge::Bridge::Opened::Done &&
                    core.Connect(2, ports.value(1)) == bridge::Bridge::Opened::Done && core.Link();
    const char ok = up ? 'y' : 'n';
    if (::write(readyFd, &ok, 1) != 1)
        std::_Exit(3);
    ::close(readyFd);
    std::_Exit(QCoreApplication::exec());
}

struct Child {
    pid_t pid = -1;
    void Stop()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
};

// Forks a child that runs `run` and reports readiness on the pipe it gets.
Child StartChild(const std::vector<int> &closeInChild, const std::function<void(int readyFd)> &run, const char *what)
{
    int fds[2];
    if (::pipe(fds) != 0)
        std::exit(2);
    std::fflush(nullptr); // else a child's exit prints the figures so far again
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        for (int fd : closeInChild)
            ::close(fd);
        run(fds[1]);
        std::_Exit(3);
    }
    ::close(fds[1]);
    char ok = 'n';
    if (::read(fds[0], &ok, 1) != 1 || ok != 'y') {
        std::fprintf(stderr, "%s did not start\n", what);
        std::exit(2);
    }
    ::close(fds[0]);
    return {pid};
}

Child StartWindow(int argc, char **argv, const QList<platform::SerialPortInfo> &ports, WindowMode mode,
                  const std::vector<int> &closeInChild)
{
    return StartChild(closeInChild, [&](int readyFd) { RunWindow(argc, argv, ports, mode, readyFd); }, "the window");
}

Child StartBareRelay(int argc, char **argv, const Pty &a, const Pty &b, const std::vector<int> &closeInChild)
{
    return StartChild(closeInChild, [&](int readyFd) { RunBareRelay(argc, argv, a.path, b.path, readyFd); },
                      "the bare relay");
}

Child StartPlainRelay(const Pty &a, const Pty &b, const std::vector<int> &closeInChild)
{
    return StartChild(closeInChild, [&](int readyFd) { RunPlainRelay(a.path, b.path, readyFd); },
                      "the plain relay");
}

Child StartCore(int argc, char **argv, const Pty &a, const Pty &b, const std::vector<int> &closeInChild)
{
    return StartChild(closeInChild,
                      [&](int readyFd) { RunCore(argc, argv, {{"a", a.path}, {"b", b.path}}, readyFd); },
                      "the bridge alone");
}

Child StartSocat(const Pty &a, const Pty &b)
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        return {};
    const QByteArray exe = socat.toLocal8Bit();
    const QByteArray left = (a.path + QStringLiteral(",raw,echo=0")).toLocal8Bit();
    const QByteArray right = (b.path + QStringLiteral(",raw,echo=0")).toLocal8Bit();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(exe.constData(), "socat", "-b", "65536", left.constData(), right.constData(), (char *)nullptr);
        std::_Exit(127);
    }
    return {pid};
}

bool WaitReadable(int fd, int ms)
{
    pollfd p {fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1 && (p.revents & POLLIN);
}

void DrainAll(int fd)
{
    char buf[65536];
    while (WaitReadable(fd, 50))
        if (::read(fd, buf, sizeof buf) <= 0)
            break;
}

// Waits until a probe byte makes it through, so the relay is known up.
bool Probe(int in, int out)
{
    for (int i = 0; i < 100; ++i) {
        const char c = 'p';
        if (::write(in, &c, 1) != 1) {
            ::usleep(20 * 1000); // the far side has not opened its end yet
            continue;
        }
        if (WaitReadable(out, 100)) {
            DrainAll(out);
            return true;
        }
        // A master whose slave nobody has opened yet polls as hung up.
        ::usleep(20 * 1000);
    }
    return false;
}

struct Latency {
    double median = 0;
    double p99 = 0;
    long lost = 0;
};

Latency MeasureLatency(int in, int out, int samples)
{
    std::vector<double> us;
    Latency l;
    for (int i = 0; i < samples; ++i) {
        const char sent = char(i & 0xFF);
        const auto t0 = Clock::now();
        if (::write(in, &sent, 1) != 1) {
            ++l.lost;
            continue;
        }
        char got = 0;
        if (!WaitReadable(out, 2000) || ::read(out, &got, 1) != 1 || got != sent) {
            ++l.lost;
            continue;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    if (!us.empty()) {
        l.median = us[us.size() / 2];
        l.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    }
    return l;
}

// One byte every `intervalUs` for `seconds`, each timed from its write to
// its arrival, whatever the relay does meanwhile: a stall shows in every
// sample it holds up, not only in the one that was waiting.
Latency MeasurePacedLatency(int in, int out, double seconds, int intervalUs)
{
    using std::chrono::microseconds;
    std::vector<Clock::time_point> sent;
    std::vector<double> us;
    Latency l;
    const auto start = Clock::now();
    const auto stop = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const auto giveUp = stop + std::chrono::seconds(3);
    auto next = start;
    std::size_t received = 0;
    char buf[4096];
    for (;;) {
        auto now = Clock::now();
        if (now >= next && now < stop) {
            const char c = char(sent.size() & 0xFF);
            if (::write(in, &c, 1) == 1)
                sent.push_back(Clock::now());
            else
                ++l.lost;
            next += microseconds(intervalUs);
            continue;
        }
        if ((now >= stop && received == sent.size()) || now >= giveUp)
            break;
        const auto until = now < stop ? next : giveUp;
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(until - now);
        timespec ts {time_t(wait.count() / 1000000000), long(wait.count() % 1000000000)};
        pollfd p {out, POLLIN, 0};
        if (::ppoll(&p, 1, &ts, nullptr) != 1 || !(p.revents & POLLIN))
            continue;
        const ssize_t n = ::read(out, buf, sizeof buf);
        now = Clock::now();
        for (ssize_t i = 0; i < n && received < sent.size(); ++i, ++received) {
            if (buf[i] != char(received & 0xFF))
                ++l.lost; // altered or out of order
            us.push_back(std::chrono::duration<double, std::micro>(now - sent[received]).count());
        }
    }
    l.lost += long(sent.size() - received);
    std::sort(us.begin(), us.end());
    if (!us.empty()) {
        l.median = us[us.size() / 2];
        l.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    }
    return l;
}

struct Throughput {
    double mbPerS = 0;
    long lost = 0;
};

// Bytes offered at one device end, to come out of another. What comes out
// is checked as it comes rather than kept: keeping 2 x 64 MiB costs the
// pump, which shares the machine with the relay, as much as a relay's copy.
struct Flow {
    Flow(int from, int to, QByteArray bytes) : in(from), out(to), data(std::move(bytes)) {}
    int in;
    int out;
    QByteArray data;
    qsizetype sent = 0;
    qsizetype got = 0;
    qsizetype firstWrong = -1; // where what came out first differed, or more came than went in
    bool Done() const { return got >= data.size(); }
    void Check(const char *bytes, qsizetype n)
    {
        if (firstWrong < 0) {
            const qsizetype expected = std::min(n, data.size() - got);
            const char *differs = std::mismatch(bytes, bytes + expected, data.constData() + got).first;
            if (differs != bytes + n)
                firstWrong = got + (differs - bytes);
        }
        got += n;
    }
    // Bytes that did not come out as they went in, from the first that differed.
    long Lost() const
    {
        if (firstWrong >= 0)
            return long(std::max<qsizetype>(1, data.size() - firstWrong));
        return long(data.size() - std::min(got, data.size()));
    }
};

// Writes every flow's data and collects what comes out, all at once and
// never blocking on a full pty, until all have arrived or time runs out.
void Pump(std::vector<Flow *> flows, std::chrono::seconds limit)
{
    const auto deadline = Clock::now() + limit;
    char buf[65536];
    auto done = [&] { return std::all_of(flows.begin(), flows.end(), [](const Flow *f) { return f->Done(); }); };
    std::vector<pollfd> p(2 * flows.size());
    while (!done() && Clock::now() < deadline) {
        for (std::size_t i = 0; i < flows.size(); ++i) {
            const Flow *f = flows[i];
            p[2 * i] = {f->in, short(f->sent < f->data.size() ? POLLOUT : 0), 0};
            p[2 * i + 1] = {f->out, POLLIN, 0};
        }
        if (::poll(p.data(), nfds_t(p.size()), 1000) <= 0)
            continue;
        for (std::size_t i = 0; i < flows.size(); ++i) {
            Flow &f = *flows[i];
            if ((p[2 * i].revents & POLLOUT) && f.sent < f.data.size()) {
                const ssize_t n = ::write(f.in, f.data.constData() + f.sent,
                                          size_t(std::min<qsizetype>(65536, f.data.size() - f.sent)));
                if (n > 0)
                    f.sent += n;
            }
            if (p[2 * i + 1].revents & POLLIN) {
                const ssize_t n = ::read(f.out, buf, sizeof buf);
                if (n > 0)
                    f.Check(buf, n);
            }
        }
    }
}

Throughput MeasureThroughput(int a, int b, qsizetype size)
{
    Flow toB {a, b, RandomBytes(size, 7)};
    Flow toA {b, a, RandomBytes(size, 8)};
    const auto t0 = Clock::now();
    Pump({&toB, &toA}, std::chrono::seconds(300));
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    return {double(toA.got + toB.got) / 1e6 / s, toB.Lost() + toA.Lost()};
}

// CPU time of all of a process's threads, to the nanosecond where the
// scheduler's statistics are kept, else in clock ticks: the bare relay at
// line rate uses 100-150 ms in a run, so one tick moves a ratio by up to 10%.
double CpuSecondsOf(pid_t pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double ns = 0;
    bool precise = false;
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const double onCpu = f.readLine().split(' ').value(0).toDouble(&ok);
        if (ok) {
            ns += onCpu;
            precise = true;
        }
    }
    if (precise)
        return ns / 1e9;
    FILE *f = std::fopen(QStringLiteral("/proc/%1/stat").arg(pid).toLocal8Bit().constData(), "r");
    if (!f)
        return 0;
    char line[4096] = {};
    const size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    line[n] = 0;
    const char *p = std::strrchr(line, ')');
    unsigned long utime = 0, stime = 0;
    // Fields after the command name: state, then 10 more before utime.
    if (p && std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) == 2)
        return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    return 0;
}

// Resident memory of a process in kB: now, or its peak so far.
long MemoryKb(pid_t pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    return 0;
}

struct Stalled {
    qsizetype takenWhileStalled = 0;
    long peakKb = 0;
    long lost = 0;
};

// The far device stops reading for `stallSeconds` while `total` bytes are
// offered; then it reads, and every byte must come out, in order.
Stalled MeasureStalled(pid_t window, int in, int out, qsizetype total, int stallSeconds)
{
    Flow flow {in, out, RandomBytes(total, 11)};
    Stalled r;
    const auto stallEnd = Clock::now() + std::chrono::seconds(stallSeconds);
    while (Clock::now() < stallEnd && flow.sent < total) {
        pollfd p {in, POLLOUT, 0};
        if (::poll(&p, 1, 100) == 1) {
            const ssize_t n = ::write(in, flow.data.constData() + flow.sent,
                                      size_t(std::min<qsizetype>(65536, total - flow.sent)));
            if (n > 0)
                flow.sent += n;
        }
    }
    r.takenWhileStalled = flow.sent;
    Pump({&flow}, std::chrono::seconds(300));
    r.peakKb = MemoryKb(window, "VmHWM:");
    r.lost = flow.Lost();
    return r;
}

// A relay under measurement: its process and the two device ends it joins.
struct Relayed {
    pid_t pid;
    int a, b;
};

struct LineRate {
    std::vector<double> percent; // of a core, one a relay
    long lost = 0;
};

// 9600 bit/s as a UART or a USB adapter delivers it: 16 bytes sixty times
// a second, each way, into every relay at once.
LineRate MeasureLineRate(const std::vector<Relayed> &relays, int seconds)
{
    constexpr int kPieceBytes = 16;
    constexpr auto kPeriod = std::chrono::microseconds(1000000 / 60);
    constexpr std::size_t kPortsPerRelay = 2; // next to each other in `in`
    std::vector<int> in, out;
    for (const Relayed &r : relays) {
        in.insert(in.end(), {r.a, r.b});
        out.insert(out.end(), {r.b, r.a});
    }
    std::vector<long> sent(in.size()), got(in.size());
    char piece[kPieceBytes];
    char buf[4096];
    auto drain = [&] {
        for (std::size_t i = 0; i < out.size(); ++i)
            for (ssize_t n; (n = ::read(out[i], buf, sizeof buf)) > 0;)
                got[i] += n;
    };
    std::vector<double> cpu0;
    for (const Relayed &r : relays)
        cpu0.push_back(CpuSecondsOf(r.pid));
    const auto t0 = Clock::now();
    auto next = t0;
    for (long tick = 0; Clock::now() - t0 < std::chrono::seconds(seconds); ++tick) {
        std::memset(piece, int('a' + tick % 26), sizeof piece);
        // Each relay fed first in turn: the one fed last finds both of its
        // pieces waiting more often, and so wakes less.
        for (std::size_t k = 0; k < in.size(); ++k) {
            const std::size_t i = (k + kPortsPerRelay * std::size_t(tick)) % in.size();
            if (::write(in[i], piece, sizeof piece) == kPieceBytes)
                sent[i] += kPieceBytes;
        }
        drain();
        next += kPeriod;
        std::this_thread::sleep_until(next);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    LineRate r;
    for (std::size_t i = 0; i < relays.size(); ++i)
        r.percent.push_back((CpuSecondsOf(relays[i].pid) - cpu0[i]) / elapsed * 100);
    ::usleep(200 * 1000);
    drain();
    for (std::size_t i = 0; i < in.size(); ++i)
        r.lost += sent[i] - got[i];
    return r;
}

} // namespace

struct RateConversion {
    qsizetype fed = 0, delivered = 0;
    double firstHeldAt = -1; // seconds until the device first could not send
    double heldPercent = 0;  // of the time the device could not send
    long peakKb = 0;
    long lost = 0;
};

// A device sending at 115200 bit/s (11,520 bytes/s) relayed to one taking
// 9600 (960 bytes/s). A pty has no line speed, so both ends are paced
// here; the window in between holds its source once the queue is full.
RateConversion MeasureRateConversion(pid_t window, int in, int out, int seconds)
{
    constexpr double kFastBytesPerS = 115200 / 10.0, kSlowBytesPerS = 9600 / 10.0;
    const QByteArray data = RandomBytes(qsizetype(kFastBytesPerS * seconds) + 4096, 13);
    QByteArray got;
    RateConversion r;
    const auto t0 = Clock::now();
    long ticks = 0, heldTicks = 0;
    char buf[4096];
    for (auto next = t0; Clock::now() - t0 < std::chrono::seconds(seconds); ++ticks) {
        const double t = std::chrono::duration<double>(Clock::now() - t0).count();
        const qsizetype due = std::min<qsizetype>(qsizetype(t * kFastBytesPerS), data.size());
        if (r.fed < due) {
            const ssize_t n = ::write(in, data.constData() + r.fed, size_t(due - r.fed));
            r.fed += std::max<ssize_t>(0, n);
            if (r.fed < due) { // the device is held: it waits, as with flow control
                ++heldTicks;
                if (r.firstHeldAt < 0)
                    r.firstHeldAt = t;
            }
        }
        const qsizetype take = qsizetype(t * kSlowBytesPerS) - got.size();
        if (take > 0) {
            const ssize_t n = ::read(out, buf, size_t(std::min<qsizetype>(take, sizeof buf)));
            if (n > 0)
                got.append(buf, n);
        }
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
    }
    r.delivered = got.size();
    r.heldPercent = ticks ? 100.0 * double(heldTicks) / double(ticks) : 0;
    r.peakKb = MemoryKb(window, "VmHWM:");
    // Then the slow side reads at full speed: every byte fed must come out.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (got.size() < r.fed && Clock::now() < deadline) {
        if (WaitReadable(out, 100))
            for (ssize_t n; (n = ::read(out, buf, sizeof buf)) > 0;)
                got.append(buf, n);
    }
    r.lost = got == data.first(r.fed) ? 0 : long(std::max<qsizetype>(1, r.fed - got.size()));
    return r;
}

// Throughput both ways at once through the window (linked, recording both
// sides, with full areas), the bare Qt relay and socat, one after the
// other, in each of five rounds; each round starts with the next relay, so
// that none always follows the same one. This machine's speed swings by
// tens of percent from second to second: each relay is given as its best
// round against socat's best, and as the median of its round-by-round
// ratios to socat.
int ThroughputOnly(int argc, char **argv)
{
    // VARDELO_BENCH_MIB: a smaller run, for profiling
    const qsizetype kBytes = qsizetype(qEnvironmentVariableIntValue("VARDELO_BENCH_MIB") > 0
                                           ? qEnvironmentVariableIntValue("VARDELO_BENCH_MIB")
                                           : 64) << 20;
    // VARDELO_BENCH_ROUNDS: more rounds, for a steadier median
    const int kRounds = std::max(5, qEnvironmentVariableIntValue("VARDELO_BENCH_ROUNDS"));
    const double mb = 2.0 * double(kBytes) / 1e6;
    // A relay measured in each round: its rates, and the least CPU seconds
    // it took per MB.
    struct Peer {
        using Start = std::function<Child(const Pty &, const Pty &)>;
        explicit Peer(Start s, bool counted = true) : start(std::move(s)), countLost(counted) {}
        Start start;
        bool countLost; // a loss in the reference itself is not ours
        std::vector<double> mbPerS; // one a round
        double cpuPerMb = 0;
    };
    auto window = [&](WindowMode mode) {
        return [&argc, argv, mode](const Pty &a, const Pty &b) {
            return StartWindow(argc, argv, {{"a", a.path}, {"b", b.path}}, mode, {a.master, b.master});
        };
    };
    Peer linked {window(WindowMode::Linked)}, recording {window(WindowMode::LinkedRecording)},
        full {window(WindowMode::LinkedFull)};
    Peer bare {[&](const Pty &a, const Pty &b) { return StartBareRelay(argc, argv, a, b, {a.master, b.master}); }};
    Peer core {[&](const Pty &a, const Pty &b) { return StartCore(argc, argv, a, b, {a.master, b.master}); }};
    Peer socat {&StartSocat, false};
    Peer plain {[](const Pty &a, const Pty &b) { return StartPlainRelay(a, b, {a.master, b.master}); }};
    // VARDELO_BENCH_PEERS: only these, e.g. "core,bare" (for profiling);
    // socat always runs, as the ratios' base.
    const QStringList only = qEnvironmentVariable("VARDELO_BENCH_PEERS").split(u',', Qt::SkipEmptyParts);
    std::vector<Peer *> peers;
    for (auto [name, peer] : {std::pair {"linked", &linked}, {"recording", &recording}, {"full", &full},
                              {"core", &core}, {"bare", &bare}, {"plain", &plain}, {"socat", &socat}})
        if (only.isEmpty() || peer == &socat || only.contains(QLatin1String(name)))
            peers.push_back(peer);
    long lost = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < peers.size(); ++i) {
            Peer *peer = peers[(i + std::size_t(round)) % peers.size()];
            const Pty a = OpenPty(), b = OpenPty();
            Child relay = peer->start(a, b);
            if (relay.pid <= 0 || !Probe(a.master, b.master)) {
                std::printf("%s: not available\n", peer == &socat ? "socat" : "a relay");
                return 1;
            }
            const double cpu0 = CpuSecondsOf(relay.pid);
            const Throughput t = MeasureThroughput(a.master, b.master, kBytes);
            const double cpu = (CpuSecondsOf(relay.pid) - cpu0) / mb;
            peer->cpuPerMb = peer->cpuPerMb == 0 ? cpu : std::min(peer->cpuPerMb, cpu);
            relay.Stop();
            ::close(a.master);
            ::close(b.master);
            if (peer->countLost)
                lost += t.lost;
            peer->mbPerS.push_back(t.mbPerS);
        }
    }
    QFile::remove(TempFileChooser().SaveFileName(nullptr, {}, platform::FileChooser::Existing::Replace));
    auto most = [](const Peer &p) { return p.mbPerS.empty() ? 0.0 : *std::max_element(p.mbPerS.begin(), p.mbPerS.end()); };
    auto medianRatio = [&](const Peer &p) {
        std::vector<double> r;
        for (std::size_t i = 0; i < p.mbPerS.size(); ++i)
            r.push_back(p.mbPerS[i] / socat.mbPerS[i]);
        if (r.empty())
            return 0.0;
        std::nth_element(r.begin(), r.begin() + std::ptrdiff_t(r.size() / 2), r.end());
        return r[r.size() / 2];
    };
    const double best = most(socat);
    std::printf("throughput (best of %d, both ways at once; ratio to socat's best, then the median of the rounds' "
                "ratios): linked %.1f MB/s, ratio %.2f, %.2f; recording both sides %.1f MB/s, ratio %.2f, %.2f; "
                "full areas %.1f MB/s, ratio %.2f, %.2f; the bridge alone %.1f MB/s, ratio %.2f, %.2f; "
                "bare Qt relay %.1f MB/s, ratio %.2f, %.2f; socat %.1f MB/s; lost %ld\n"
                "CPU per MB relayed: linked %.1f ms, recording %.1f ms, full areas %.1f ms, the bridge alone %.1f ms, "
                "bare Qt relay %.1f ms, socat %.1f ms\n",
                kRounds, most(linked), most(linked) / best, medianRatio(linked), most(recording),
                most(recording) / best, medianRatio(recording), most(full), most(full) / best, medianRatio(full),
                most(core), most(core) / best, medianRatio(core), most(bare), most(bare) / best, medianRatio(bare),
                best, lost, linked.cpuPerMb * 1e3, recording.cpuPerMb * 1e3, full.cpuPerMb * 1e3,
                core.cpuPerMb * 1e3, bare.cpuPerMb * 1e3, socat.cpuPerMb * 1e3);
    std::printf("a plain poll loop (the floor: no copies, no view) %.1f MB/s, ratio %.2f, %.2f; CPU per MB %.1f ms\n",
                most(plain), most(plain) / best, medianRatio(plain), plain.cpuPerMb * 1e3);
    return lost == 0 ? 0 : 1;
}

// Latency of every relay, and socat's, round by round on pairs of ptys
// that all stay up: each round measures each relay in turn, in an order
// that rotates, so that a noisy moment falls on all of them. Each relay's
// figure is the median of its per-round ratios to socat's round.
bool InterleavedLatency(int argc, char **argv, int rounds, double seconds)
{
    constexpr int kIntervalUs = 1000;
    struct Peer {
        const char *name;
        std::function<Child(const Pty &, const Pty &, const std::vector<int> &)> start;
        Pty a, b;
        Child child;
        std::vector<Latency> perRound;
    };
    auto window = [&](WindowMode mode) {
        return [&argc, argv, mode](const Pty &a, const Pty &b, const std::vector<int> &close) {
            return StartWindow(argc, argv, {{"a", a.path}, {"b", b.path}}, mode, close);
        };
    };
    std::vector<Peer> peers;
    peers.push_back({"linked", window(WindowMode::Linked), {}, {}, {}, {}});
    peers.push_back({"busy window", window(WindowMode::LinkedBusy), {}, {}, {}, {}});
    peers.push_back({"blocked window", window(WindowMode::LinkedBlocked), {}, {}, {}, {}});
    peers.push_back({"the bridge alone",
                     [&](const Pty &a, const Pty &b, const std::vector<int> &close) { return StartCore(argc, argv, a, b, close); },
                     {}, {}, {}, {}});
    peers.push_back({"bare Qt relay",
                     [&](const Pty &a, const Pty &b, const std::vector<int> &close) { return StartBareRelay(argc, argv, a, b, close); },
                     {}, {}, {}, {}});
    peers.push_back({"socat", [](const Pty &a, const Pty &b, const std::vector<int> &) { return StartSocat(a, b); },
                     {}, {}, {}, {}});
    std::vector<int> masters;
    for (Peer &p : peers) {
        p.a = OpenPty();
        p.b = OpenPty();
        masters.push_back(p.a.master);
        masters.push_back(p.b.master);
    }
    bool up = true;
    for (Peer &p : peers) {
        p.child = p.start(p.a, p.b, masters);
        if (p.child.pid <= 0 || !Probe(p.a.master, p.b.master)) {
            std::printf("%s: not available\n", p.name);
            up = false;
        }
    }
    ::usleep(500 * 1000); // past start-up work
    long lost = 0;
    for (int round = 0; up && round < rounds; ++round)
        for (std::size_t i = 0; i < peers.size(); ++i) {
            Peer &p = peers[(i + std::size_t(round)) % peers.size()];
            p.perRound.push_back(MeasurePacedLatency(p.a.master, p.b.master, seconds, kIntervalUs));
            lost += p.perRound.back().lost;
        }
    for (Peer &p : peers) {
        p.child.Stop();
        ::close(p.a.master);
        ::close(p.b.master);
    }
    if (!up)
        return false;
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const Peer &socat = peers.back();
    std::printf("latency, %d interleaved rounds of %.1f s, a byte every %d us (median of the rounds; ratio: median "
                "of the rounds' ratios to socat's):\n", rounds, seconds, kIntervalUs);
    for (const Peer &p : peers) {
        std::vector<double> med, p99, medRatio, p99Ratio;
        for (std::size_t r = 0; r < p.perRound.size(); ++r) {
            med.push_back(p.perRound[r].median);
            p99.push_back(p.perRound[r].p99);
            medRatio.push_back(p.perRound[r].median / socat.perRound[r].median);
            p99Ratio.push_back(p.perRound[r].p99 / socat.perRound[r].p99);
        }
        std::printf("  %-17s median %6.0f us (%.2fx), p99 %7.0f us (%.2fx)\n", p.name, median(med), median(medRatio),
                    median(p99), median(p99Ratio));
    }
    std::printf("  lost %ld\n", lost);
    std::fflush(stdout);
    return lost == 0;
}

int main(int argc, char **argv)
{
    bool smoke = false;
    int lineRateOnly = 0;
    int conversionOnly = 0;
    bool throughputOnly = false;
    bool latencyOnly = false;
    for (int i = 1; i < argc; ++i) {
        latencyOnly = latencyOnly || std::strcmp(argv[i], "--latency") == 0;
        smoke = smoke || std::strcmp(argv[i], "--smoke") == 0;
        throughputOnly = throughputOnly || std::strcmp(argv[i], "--throughput") == 0;
        if (std::strcmp(argv[i], "--line-rate") == 0 && i + 1 < argc)
            lineRateOnly = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--rate-conversion") == 0 && i + 1 < argc)
            conversionOnly = std::atoi(argv[++i]);
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (throughputOnly)
        return ThroughputOnly(argc, argv);
    if (latencyOnly)
        return InterleavedLatency(argc, argv, 7, 3.0) ? 0 : 1;
    // 115200 -> 9600: the queue toward the slow side fills by about 10 KB/s
    // and holds the fast side at its 1 MiB mark, after some 100 s.
    if (conversionOnly > 0 || (!smoke && lineRateOnly == 0)) {
        const int seconds = conversionOnly > 0 ? conversionOnly : 150;
        const Pty fast = OpenPty(), slow = OpenPty();
        Child window = StartWindow(argc, argv, {{"fast", fast.path}, {"slow", slow.path}}, WindowMode::Linked,
                                   {fast.master, slow.master});
        Probe(fast.master, slow.master);
        const RateConversion rc = MeasureRateConversion(window.pid, fast.master, slow.master, seconds);
        window.Stop();
        ::close(fast.master);
        ::close(slow.master);
        std::printf("115200 -> 9600 over %d s: fed %.0f kB, delivered %.0f kB; the fast device first held after "
                    "%.0f s, held %.0f%% of the time; window peak resident %.0f MB; lost %ld\n",
                    seconds, double(rc.fed) / 1e3, double(rc.delivered) / 1e3, rc.firstHeldAt, rc.heldPercent,
                    double(rc.peakKb) / 1e3, rc.lost);
        std::fflush(stdout);
        if (conversionOnly > 0)
            return rc.lost == 0 ? 0 : 1;
    }
    const int samples = smoke ? 300 : 2000;
    const qsizetype bytes = smoke ? (1 << 20) : (64 << 20);
    const int idleSeconds = smoke ? 1 : 10;
    std::signal(SIGPIPE, SIG_IGN);

    long lost = 0;
    // Line rate: the window and the bare relay fed the same in the same interval.
    const int lineRateSeconds = lineRateOnly > 0 ? lineRateOnly : smoke ? 2 : 30;
    LineRate lineRate;
    {
        const Pty la = OpenPty(), lb = OpenPty(), lc = OpenPty(), ld = OpenPty(), le = OpenPty(), lf = OpenPty();
        const std::vector<int> masters = {la.master, lb.master, lc.master, ld.master, le.master, lf.master};
        Child window = StartWindow(argc, argv, {{"la", la.path}, {"lb", lb.path}}, WindowMode::Linked, masters);
        Child bare = StartBareRelay(argc, argv, lc, ld, masters);
        Child recording =
            StartWindow(argc, argv, {{"le", le.path}, {"lf", lf.path}}, WindowMode::LinkedRecording, masters);
        Probe(la.master, lb.master);
        Probe(lc.master, ld.master);
        Probe(le.master, lf.master);
        ::usleep(500 * 1000); // past start-up work
        lineRate = MeasureLineRate({{window.pid, la.master, lb.master},
                                    {bare.pid, lc.master, ld.master},
                                    {recording.pid, le.master, lf.master}},
                                   lineRateSeconds);
        window.Stop();
        bare.Stop();
        recording.Stop();
        for (int fd : masters)
            ::close(fd);
        QFile::remove(TempFileChooser().SaveFileName(nullptr, {}, platform::FileChooser::Existing::Replace));
        lost += lineRate.lost;
        // CPU time comes in clock ticks: too short a run leaves the bare relay at 0.
        const QString ratio = lineRate.percent[1] > 0 ? QString::number(lineRate.percent[0] / lineRate.percent[1], 'f', 1)
                                                      : QStringLiteral("n/a");
        std::printf("line rate: app %.2f%% of a core, bare Qt relay %.2f%%, ratio %s, lost %ld; "
                    "recording both sides: app %.2f%%\n",
                    lineRate.percent[0], lineRate.percent[1], qPrintable(ratio), lineRate.lost, lineRate.percent[2]);
        std::fflush(stdout);
        if (lineRateOnly > 0)
            return lineRate.lost == 0 ? 0 : 1;
    }

    // Latency against socat, round by round, also with the window busy.
    if (!InterleavedLatency(argc, argv, smoke ? 2 : 7, smoke ? 0.5 : 3.0))
        lost += 1;

    // Ours: two ptys, linked through the window.
    const Pty a = OpenPty(), b = OpenPty();
    Child window = StartWindow(argc, argv, {{"a", a.path}, {"b", b.path}}, WindowMode::Linked, {a.master, b.master});
    if (!Probe(a.master, b.master)) {
        std::fprintf(stderr, "the window relays nothing\n");
        window.Stop();
        return 1;
    }
    const Latency ours = MeasureLatency(a.master, b.master, samples);
    const Throughput oursT = MeasureThroughput(a.master, b.master, bytes);
    window.Stop();
    lost += ours.lost + oursT.lost;
    std::printf("ours:  latency median %.0f us, p99 %.0f us; throughput %.1f MB/s, lost %ld\n", ours.median, ours.p99,
                oursT.mbPerS, ours.lost + oursT.lost);

    // The same through the bridge with no window.
    {
        const Pty ca = OpenPty(), cb = OpenPty();
        Child core = StartCore(argc, argv, ca, cb, {a.master, b.master, ca.master, cb.master});
        if (Probe(ca.master, cb.master)) {
            const Latency alone = MeasureLatency(ca.master, cb.master, samples);
            const Throughput aloneT = MeasureThroughput(ca.master, cb.master, bytes);
            lost += alone.lost + aloneT.lost;
            std::printf("the bridge alone: latency median %.0f us, p99 %.0f us; throughput %.1f MB/s, lost %ld\n",
                        alone.median, alone.p99, aloneT.mbPerS, alone.lost + aloneT.lost);
        } else {
            std::printf("the bridge alone: relays nothing\n");
            lost += 1;
        }
        core.Stop();
        ::close(ca.master);
        ::close(cb.master);
    }

    // A destination that stops reading, then a long flood: what the window
    // holds on to.
    const qsizetype stalledBytes = smoke ? (8 << 20) : (qsizetype(256) << 20);
    const Pty s1 = OpenPty(), s2 = OpenPty();
    Child held = StartWindow(argc, argv, {{"s1", s1.path}, {"s2", s2.path}}, WindowMode::Linked,
                             {a.master, b.master, s1.master, s2.master});
    Probe(s1.master, s2.master);
    const Stalled stalled = MeasureStalled(held.pid, s1.master, s2.master, stalledBytes, smoke ? 1 : 5);
    held.Stop();
    lost += stalled.lost;
    std::printf("stalled destination: %.1f MB taken while it did not read, peak resident %.0f MB for %lld MiB "
                "offered, lost %ld\n",
                double(stalled.takenWhileStalled) / 1e6, double(stalled.peakKb) / 1e3,
                (long long)(stalledBytes >> 20), stalled.lost);
    const qsizetype floodBytes = smoke ? (8 << 20) : (qsizetype(384) << 20);
    const Pty f1 = OpenPty(), f2 = OpenPty();
    Child flood = StartWindow(argc, argv, {{"f1", f1.path}, {"f2", f2.path}}, WindowMode::Linked,
                              {a.master, b.master, s1.master, s2.master, f1.master, f2.master});
    Probe(f1.master, f2.master);
    const Stalled flooded = MeasureStalled(flood.pid, f1.master, f2.master, floodBytes, 0);
    flood.Stop();
    lost += flooded.lost;
    std::printf("flood: peak resident %.0f MB for %lld MiB relayed, lost %ld\n", double(flooded.peakKb) / 1e3,
                (long long)(floodBytes >> 20), flooded.lost);

    // Loopback mode: one pty, echoed by the window.
    const Pty e = OpenPty();
    Child echo = StartWindow(argc, argv, {{"e", e.path}}, WindowMode::Loopback, {a.master, b.master, e.master});
    Probe(e.master, e.master);
    const Latency loop = MeasureLatency(e.master, e.master, samples);
    echo.Stop();
    lost += loop.lost;
    std::printf("loopback: echo latency median %.0f us, p99 %.0f us, lost %ld\n", loop.median, loop.p99, loop.lost);

    // Idle: the window with the system's port list, nothing connected.
    Child idle = StartWindow(argc, argv, {}, WindowMode::Idle, {a.master, b.master, e.master});
    ::usleep(500 * 1000);
    const double cpu0 = CpuSecondsOf(idle.pid);
    ::sleep(unsigned(idleSeconds));
    const double idlePercent = (CpuSecondsOf(idle.pid) - cpu0) / idleSeconds * 100;
    idle.Stop();
    std::printf("idle: %.2f%% of one core over %d s\n", idlePercent, idleSeconds);

    // socat relaying two other ptys.
    const Pty c = OpenPty(), d = OpenPty();
    Child socat = StartSocat(c, d);
    std::optional<Latency> theirs;
    std::optional<Throughput> theirsT;
    const bool socatUp = socat.pid > 0 && Probe(c.master, d.master);
    if (socatUp) {
        theirs = MeasureLatency(c.master, d.master, samples);
        theirsT = MeasureThroughput(c.master, d.master, bytes);
        std::printf("socat: latency median %.0f us, p99 %.0f us; throughput %.1f MB/s, lost %ld\n", theirs->median,
                    theirs->p99, theirsT->mbPerS, theirs->lost + theirsT->lost);
    } else {
        std::printf("socat: not available\n");
    }
    socat.Stop();

    if (theirs) {
        std::printf("relay: lost %ld, latency median %.0f us (socat %.0f us, ratio %.2f), throughput %.1f MB/s "
                    "(socat %.1f MB/s, ratio %.2f), idle %.2f%%, line rate ratio %.1f\n",
                    lost, ours.median, theirs->median, ours.median / theirs->median, oursT.mbPerS, theirsT->mbPerS,
                    oursT.mbPerS / theirsT->mbPerS, idlePercent, lineRate.percent[0] / lineRate.percent[1]);
    } else {
        std::printf("relay: lost %ld, latency median %.0f us, throughput %.1f MB/s, idle %.2f%%\n", lost, ours.median,
                    oursT.mbPerS, idlePercent);
    }
    return lost == 0 ? 0 : 1;
}

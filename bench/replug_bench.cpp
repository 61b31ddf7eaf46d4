// Replugs under traffic: two socat pairs play two devices, linked through
// the window (the system's port list over a folder of links); numbered
// 10-byte records flow both ways at about 100 kB/s each, and one device's
// pair is killed and started again after a 50 ms gap, again and again.
// Prints what was lost per replug, in records and in ms of traffic, and the
// time from the device being back to the first record reaching it, for the
// port list's tick alone and with the device watch, in the same run.
//
// replug_bench [REPLUGS]   (20 when not given)

#include "QuietAlerts.h"
#include "ports/DeviceWatch.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRecordBytes = 10;
constexpr int kRecordsPerMs = 10; // 100 kB/s
constexpr int kGapMs = 50;
constexpr int kBetweenMs = 800;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

pid_t StartPair(const QString &dir, const char *side)
{
    const QByteArray a = "pty,raw,echo=0,link=" + QFile::encodeName(dir) + "/" + side + "0";
    const QByteArray b = "pty,raw,echo=0,link=" + QFile::encodeName(dir) + "/" + side + "1";
    char *argv[] = {const_cast<char *>("socat"), const_cast<char *>(a.constData()), const_cast<char *>(b.constData()),
                    nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "socat", nullptr, nullptr, argv, environ) != 0) {
        std::perror("socat");
        std::exit(2);
    }
    for (int i = 0; i < 500 && !(QFileInfo::exists(dir + "/" + side + "0") && QFileInfo::exists(dir + "/" + side + "1"));
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pid;
}

void StopPair(pid_t pid)
{
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// One device: sends numbered records at a steady rate and counts the
// records that reach it; reopens its end when the pair comes back.
struct Device {
    QString path;
    char tag;
    std::atomic<long> sent {0}, received {0};
    std::atomic<bool> stop {false}, present {true};
    std::atomic<Clock::rep> firstAfter {0}; // first record after `back`
    std::atomic<Clock::rep> back {0};
    std::thread thread;

    void Run()
    {
        int fd = -1;
        QByteArray pending;
        auto next = Clock::now();
        while (!stop) {
            if (fd < 0) {
                if (present)
                    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                if (fd >= 0) {
                    termios raw {};
                    ::tcgetattr(fd, &raw);
                    cfmakeraw(&raw);
                    ::tcsetattr(fd, TCSANOW, &raw);
                    next = Clock::now();
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
            }
            while (Clock::now() >= next) {
                for (int i = 0; i < kRecordsPerMs; ++i) {
                    char rec[kRecordBytes + 1];
                    std::snprintf(rec, sizeof rec, "%c%08ld", tag, sent.load() % 100000000);
                    rec[kRecordBytes - 1] = '\n';
                    if (::write(fd, rec, kRecordBytes) == kRecordBytes)
                        ++sent;
                }
                next += std::chrono::milliseconds(1);
            }
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                pending.append(buf, n);
                const long whole = long(pending.size() / kRecordBytes);
                received += whole;
                pending.remove(0, whole * kRecordBytes);
                if (whole > 0 && back.load() != 0 && firstAfter.load() == 0)
                    firstAfter = Clock::now().time_since_epoch().count();
            } else if (n == 0 || (n < 0 && errno != EAGAIN)) {
                ::close(fd); // the pair went: reopen once it is back
                fd = -1;
                pending.clear();
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        if (fd >= 0)
            ::close(fd);
    }
};

struct Result {
    long sentAB = 0, gotB = 0, sentBA = 0, gotA = 0;
    std::vector<double> backToFirst;
};

Result RunOnce(bool watch, int replugs)
{
    QTemporaryDir dir;
    pid_t pairA = StartPair(dir.path(), "a");
    const pid_t pairB = StartPair(dir.path(), "b");

    platform::SystemPortEnumerator ports(dir.path());
    bench::QuietAlerts alerts;
    platform::FolderDeviceWatch folders({dir.path(), QStringLiteral("/dev/pts")});
    ui::MainWindow::Services services {&ports, &alerts};
    services.watch = watch ? &folders : nullptr;
    ui::MainWindow w(services);
    w.PortListUpdater1_Action(nullptr);
    w.PortListUpdater2_Action(nullptr);
    w.SerialPortsPopupMenu1().setCurrentIndex(w.SerialPortsPopupMenu1().findText(QStringLiteral("a1")));
    w.SerialPortsPopupMenu2().setCurrentIndex(w.SerialPortsPopupMenu2().findText(QStringLiteral("b1")));
    w.ConnectSerial1_Action(&w.ConnectSerial1());
    w.ConnectSerial2_Action(&w.ConnectSerial2());
    w.LinkBtn_Action(&w.LinkBtn());
    if (!w.LinkedTxt().Visible()) {
        std::fprintf(stderr, "could not link a1 and b1\n");
        std::exit(2);
    }

    Device a, b;
    a.path = dir.path() + "/a0";
    a.tag = 'A';
    b.path = dir.path() + "/b0";
    b.tag = 'B';
    a.thread = std::thread(&Device::Run, &a);
    b.thread = std::thread(&Device::Run, &b);

    Result r;
    const auto pump = [](int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    pump(kBetweenMs);
    for (int i = 0; i < replugs; ++i) {
        a.present = false;
        StopPair(pairA);
        pump(kGapMs);
        a.firstAfter = 0;
        a.back = 0;
        pairA = StartPair(dir.path(), "a");
        a.back = Clock::now().time_since_epoch().count();
        a.present = true;
        pump(kBetweenMs);
        if (a.firstAfter != 0)
            r.backToFirst.push_back(Ms(Clock::duration(a.firstAfter - a.back)));
    }
    a.stop = b.stop = true;
    a.thread.join();
    b.thread.join();
    pump(300);
    r.sentAB = a.sent;
    r.gotB = b.received;
    r.sentBA = b.sent;
    r.gotA = a.received;
    w.close();
    pump(100);
    StopPair(pairA);
    StopPair(pairB);
    return r;
}

void Print(const char *how, const Result &r, int replugs)
{
    const double lostBA = double(r.sentBA - r.gotA) / replugs;
    const double lostAB = double(r.sentAB - r.gotB) / replugs;
    std::vector<double> t = r.backToFirst;
    std::sort(t.begin(), t.end());
    const auto at = [&](double q) { return t.empty() ? -1.0 : t[size_t(q * double(t.size() - 1))]; };
    std::printf("%-14s B->A lost %.0f records per replug (%.0f ms of traffic), A->B lost %.0f; "
                "back to first record: median %.0f ms, worst %.0f ms (%zu of %d replugs)\n",
                how, lostBA, lostBA / kRecordsPerMs, lostAB, at(0.5), at(1.0), t.size(), replugs);
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int replugs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::printf("%d replugs, each device gone %d ms, %d kB/s each way\n", replugs, kGapMs,
                kRecordsPerMs * kRecordBytes);
    Print("tick only:", RunOnce(false, replugs), replugs);
    Print("device watch:", RunOnce(true, replugs), replugs);
    return 0;
}

// What a refresh tick costs: a full scan of the system's ports against the
// cached count an unchanged tick reads, and a whole tick of the window.

#include "QuietAlerts.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSerialPortInfo>

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <pty.h>
#include <unistd.h>

namespace {

template <typename F>
double MicrosPerCall(int calls, F &&f)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < calls; ++i)
        f();
    return double(t.nsecsElapsed()) / 1000.0 / calls;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const double scan = MicrosPerCall(20, [] { (void)QSerialPortInfo::availablePorts(); });
    // Four virtual ports beside the system's, as two socat pairs make them.
    QTemporaryDir dev;
    for (int i = 0; i < 4; ++i) {
        int master = -1, slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0)
            QFile::link(QString::fromLocal8Bit(name), dev.filePath(QStringLiteral("ttyV%1").arg(i)));
    }
    // No rescan gate: every read checks /dev and the virtual ports, as a tick
    // 500 ms after the last one does.
    platform::SystemPortEnumerator ports(dev.path(), /*minRescanMs=*/0);
    (void)ports.SerialPortCount();
    const double cached = MicrosPerCall(20000, [&] { (void)ports.SerialPortCount(); });

    bench::QuietAlerts alerts;
    ui::MainWindow window({&ports, &alerts});
    window.PortListUpdater1_Action(nullptr);
    const double tick = MicrosPerCall(20000, [&] { window.PortListUpdater1_Action(nullptr); });

    std::printf("ports listed: %d\n", ports.SerialPortCount());
    std::printf("full scan (QSerialPortInfo::availablePorts): %.1f us\n", scan);
    std::printf("cached count read: %.2f us (%.0fx cheaper)\n", cached, scan / cached);
    std::printf("unchanged tick: %.2f us; two timers at 500 ms: %.4f%% of a core\n", tick, tick * 4 / 1e6 * 100);
    std::printf("scans done: %d\n", ports.ScanCount());
    return 0;
}

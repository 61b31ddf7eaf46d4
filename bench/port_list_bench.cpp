// What a refresh tick costs: a full scan of the system's ports against the
// cached count an unchanged tick reads, and a whole tick of the window.

#include "platform/Alerts.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSerialPortInfo>

#include <cstdio>

namespace {

class SilentAlerts : public platform::Alerts {
public:
    void Beep() override {}
    void MsgBox(const QString &, const QString &) override {}
};

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
    platform::SystemPortEnumerator ports;
    (void)ports.SerialPortCount();
    const double cached = MicrosPerCall(20000, [&] { (void)ports.SerialPortCount(); });

    SilentAlerts alerts;
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

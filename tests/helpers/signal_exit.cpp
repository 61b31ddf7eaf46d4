// Starts the program with two pseudo-terminals connected as ports, prints
// their paths and "ready", then runs until a signal ends it. With
// VARDELO_RECORD set it records both sides to that file while the first
// port's device sends a line every 20 ms. With VARDELO_STALL set as well,
// the two are linked and the first device floods the second, which never
// reads.

#include "app/Startup.h"
#include "platform/Alerts.h"
#include "ui/MainWindow.h"

#include <QTimer>

#include <cstdio>
#include <unistd.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>

namespace {

class PrintingAlerts : public platform::Alerts {
public:
    void Beep() override {}
    void Dismiss(const QString &, const QString &) override {}
    void Notice(const QString &, const QString &) override {}
    int Ask(const QString &, const QString &, const QStringList &) override { return -1; }
    void MsgBox(const QString &text, const QString &detail) override
    {
        std::printf("message: %s | %s\n", qPrintable(text), qPrintable(detail));
        std::fflush(stdout);
    }
};

class EnvFile : public platform::FileChooser {
public:
    QString SaveFileName(QWidget *, const QString &, Existing) override { return qEnvironmentVariable("VARDELO_RECORD"); }
};

int g_firstMaster = -1;

platform::SerialPortInfo OpenPty()
{
    termios raw {};
    cfmakeraw(&raw);
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0)
        std::exit(2);
    // The masters stay open, like devices that stay plugged in; a device
    // whose port is held back waits rather than blocking the program.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    if (g_firstMaster < 0)
        g_firstMaster = master;
    return {QString::fromLocal8Bit(name).section(QLatin1Char('/'), -1), QString::fromLocal8Bit(name)};
}

} // namespace

int main(int argc, char **argv)
{
    static platform::ListPortEnumerator ports({OpenPty(), OpenPty()});
    static PrintingAlerts alerts;
    static EnvFile files;
    return startup::Run(argc, argv, alerts, [] {
        auto *window = new ui::MainWindow({&ports, &alerts, &files});
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->PortListUpdater1_Action(nullptr);
        window->PortListUpdater2_Action(nullptr);
        window->SerialPortsPopupMenu1().SetListIndex(0);
        window->ConnectSerial1_Action(&window->ConnectSerial1());
        window->ConnectSerial2_Action(&window->ConnectSerial2());
        if (qEnvironmentVariableIsSet("VARDELO_RECORD")) {
            window->StartRecording();
            const bool stall = qEnvironmentVariableIsSet("VARDELO_STALL");
            if (stall)
                window->LinkBtn_Action(&window->LinkBtn());
            auto *device = new QTimer(window);
            QObject::connect(device, &QTimer::timeout, [n = 0, stall]() mutable {
                const QByteArray line = stall ? QByteArray(16384, 'z') : "line " + QByteArray::number(n++) + "\r\n";
                [[maybe_unused]] const ssize_t written = ::write(g_firstMaster, line.constData(), size_t(line.size()));
            });
            device->start(stall ? 2 : 20);
        }
        for (int i = 0; i < ports.SerialPortCount(); ++i)
            std::printf("port: %s\n", qPrintable(ports.SerialPort(i)->Path));
        // Say when the second port has about 1 MiB queued.
        auto *watch = new QTimer(window);
        QObject::connect(watch, &QTimer::timeout, window, [window, watch] {
            if (window->SerialController2().BytesToWrite() >= platform::SerialController::kWriteHighWaterBytes) {
                std::printf("queued\n");
                std::fflush(stdout);
                watch->stop();
            }
        });
        watch->start(10);
        std::printf("ready: %d %d\n", window->SerialController1().IsOpen(), window->SerialController2().IsOpen());
        std::fflush(stdout);
    });
}

// Starts the program with two pseudo-terminals connected as ports, prints
// their paths and "ready", then runs until a signal ends it.

#include "app/Startup.h"
#include "platform/Alerts.h"
#include "ui/MainWindow.h"

#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>

namespace {

class PrintingAlerts : public platform::Alerts {
public:
    void Beep() override {}
    void MsgBox(const QString &text, const QString &detail) override
    {
        std::printf("message: %s | %s\n", qPrintable(text), qPrintable(detail));
        std::fflush(stdout);
    }
};

platform::SerialPortInfo OpenPty()
{
    termios raw {};
    cfmakeraw(&raw);
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0)
        std::exit(2);
    // The masters stay open, like devices that stay plugged in.
    return {QString::fromLocal8Bit(name).section(QLatin1Char('/'), -1), QString::fromLocal8Bit(name)};
}

} // namespace

int main(int argc, char **argv)
{
    static platform::ListPortEnumerator ports({OpenPty(), OpenPty()});
    static PrintingAlerts alerts;
    return startup::Run(argc, argv, alerts, [] {
        auto *window = new ui::MainWindow({&ports, &alerts});
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->PortListUpdater1_Action(nullptr);
        window->PortListUpdater2_Action(nullptr);
        window->SerialPortsPopupMenu1().SetListIndex(0);
        window->ConnectSerial1_Action(&window->ConnectSerial1());
        window->ConnectSerial2_Action(&window->ConnectSerial2());
        for (int i = 0; i < ports.SerialPortCount(); ++i)
            std::printf("port: %s\n", qPrintable(ports.SerialPort(i)->Path));
        std::printf("ready: %d %d\n", window->SerialController1().IsOpen(), window->SerialController2().IsOpen());
        std::fflush(stdout);
    });
}

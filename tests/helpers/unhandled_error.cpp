// Starts the program with a port list that fails inside every refresh
// tick, so the error escapes a handler as any framework failure would. Its
// message box stays open, with the event loop running, until a line
// arrives on standard input: the user reading it.

#include "app/Startup.h"
#include "platform/Alerts.h"
#include "ui/MainWindow.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <cstdio>
#include <stdexcept>

namespace {

class FailingPorts : public platform::PortEnumerator {
public:
    int SerialPortCount() override { throw std::runtime_error("the port list could not be read"); }
    std::optional<platform::SerialPortInfo> SerialPort(int) override { return std::nullopt; }
};

class PrintingAlerts : public platform::Alerts {
public:
    void Beep() override { std::printf("beep\n"); }
    void Dismiss(const QString &, const QString &) override {}
    void Notice(const QString &, const QString &) override {}
    int Ask(const QString &, const QString &, const QStringList &) override { return -1; }
    void MsgBox(const QString &text, const QString &detail) override
    {
        std::printf("message: %s | %s\n", qPrintable(text), qPrintable(detail));
        std::fflush(stdout);
        QEventLoop box;
        QSocketNotifier input(0, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, &box, &QEventLoop::quit);
        box.exec();
    }
};

} // namespace

int main(int argc, char **argv)
{
    static FailingPorts ports;
    static PrintingAlerts alerts;
    return startup::Run(argc, argv, alerts, [] {
        auto *window = new ui::MainWindow({&ports, &alerts});
        window->setAttribute(Qt::WA_DeleteOnClose);
    });
}

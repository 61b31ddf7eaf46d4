// Starts the program with a port list that fails inside the first refresh
// tick, so the error escapes a handler as any framework failure would.

#include "app/Startup.h"
#include "platform/Alerts.h"
#include "ui/MainWindow.h"

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
    void MsgBox(const QString &text, const QString &detail) override
    {
        std::printf("message: %s | %s\n", qPrintable(text), qPrintable(detail));
        std::fflush(stdout);
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

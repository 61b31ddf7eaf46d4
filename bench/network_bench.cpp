// A port on another machine against one on this: throughput of a flood
// from the device to the program, and the round trip of one byte, through
// ser2net over loopback TCP (RFC 2217 and raw TCP) and through a local
// pty opened directly, in the same run. Then the same through the window:
// a local device linked with a served one, against two local devices.
//
// network_bench [MIB]   (16 when not given; needs ser2net)

#include "QuietAlerts.h"
#include "ports/network/NetworkPort.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::net::NetworkAddress;
using platform::net::NetworkPort;

namespace {

struct Pty {
    int master = -1;
    QString path;
};

Pty OpenPty()
{
    Pty p;
    termios raw {};
    cfmakeraw(&raw);
    char name[256] = {};
    int slave = -1;
    if (::openpty(&p.master, &slave, name, &raw, nullptr) != 0)
        std::exit(2);
    ::close(slave);
    p.path = QString::fromLocal8Bit(name);
    return p;
}

// Either end the program reads and writes: a network port or a local one.
struct End {
    std::function<void(QByteArrayView)> write;
    std::function<QByteArray()> read;
};

// A device that sends `bytes` as fast as its pty takes them.
std::thread Flood(int master, qsizetype bytes)
{
    return std::thread([master, bytes] {
        QByteArray chunk(65536, 'x');
        for (qsizetype sent = 0; sent < bytes;) {
            const ssize_t n = ::write(master, chunk.constData(), size_t(std::min<qsizetype>(chunk.size(), bytes - sent)));
            if (n > 0)
                sent += n;
            else
                ::usleep(100);
        }
    });
}

double FloodMBps(const End &end, int master, qsizetype bytes)
{
    std::thread device = Flood(master, bytes);
    QElapsedTimer t;
    t.start();
    qsizetype got = 0;
    QDeadlineTimer deadline(120000);
    while (got < bytes && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        got += end.read().size();
    }
    const double s = double(t.nsecsElapsed()) / 1e9;
    device.join();
    return double(got) / 1e6 / s;
}

// Median of one byte out through the end, echoed by the device, and back.
double RoundTripUs(const End &end, int master, int trips)
{
    std::atomic<bool> stop {false};
    std::thread device([&] {
        char b[256];
        while (!stop) {
            pollfd p {master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(master, b, sizeof b);
                if (n > 0 && ::write(master, b, size_t(n)) != n)
                    break;
            }
        }
    });
    std::vector<double> us;
    for (int i = 0; i < trips; ++i) {
        QElapsedTimer t;
        t.start();
        end.write("p");
        QByteArray got;
        QDeadlineTimer deadline(2000);
        while (got.isEmpty() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            got += end.read();
        }
        us.push_back(double(t.nsecsElapsed()) / 1e3);
    }
    stop = true;
    device.join();
    std::sort(us.begin(), us.end());
    return us[us.size() / 2];
}

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void Drain(int master)
{
    char b[65536];
    while (::read(master, b, sizeof b) > 0) {
    }
}

qint64 ReadCount(int master)
{
    char b[65536];
    qint64 n = 0;
    for (ssize_t r; (r = ::read(master, b, sizeof b)) > 0;)
        n += r;
    return n;
}

QProcess *StartSer2net(const QString &device, quint16 port, bool rfc, QObject *parent)
{
    auto *server = new QProcess(parent);
    server->start(QStringLiteral("ser2net"),
                  {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                   QStringLiteral("/tmp/network_bench_%1.pid").arg(port), QStringLiteral("-Y"),
                   QStringLiteral("connection: &c#  accepter: %1,127.0.0.1,%2#  connector: serialdev,%3,9600n81,local#  options:#    chardelay: false#    dev-to-net-bufsize: 65536#    net-to-dev-bufsize: 65536")
                       .arg(rfc ? QStringLiteral("telnet(rfc2217),tcp") : QStringLiteral("tcp"))
                       .arg(port)
                       .arg(device)});
    if (!server->waitForStarted())
        return nullptr;
    QThread::msleep(300); // listening
    return server;
}

class OneAddress : public ui::NetworkAddressChooser {
public:
    explicit OneAddress(NetworkAddress a) : a_(a) {}
    std::optional<NetworkAddress> Choose(QWidget *) override { return a_; }

private:
    NetworkAddress a_;
};

// Device to device through the linked window, from `near` to `far`: a
// flood's rate, and the median time one byte takes.
std::pair<double, double> ThroughWindow(const Pty &near, const Pty &far, std::optional<NetworkAddress> remote,
                                        qsizetype bytes)
{
    platform::ListPortEnumerator ports({{QStringLiteral("near"), near.path}, {QStringLiteral("far"), far.path}});
    bench::QuietAlerts alerts;
    OneAddress address(remote.value_or(NetworkAddress {}));
    ui::MainWindow::Services services {&ports, &alerts};
    services.addresses = &address;
    ui::MainWindow w(services);
    w.show();
    w.PortListUpdater1_Action(nullptr);
    w.PortListUpdater2_Action(nullptr);
    if (remote)
        w.AddNetworkPort();
    w.SerialPortsPopupMenu1().setCurrentIndex(0);
    w.SerialPortsPopupMenu2().setCurrentIndex(remote ? 2 : 1);
    w.ConnectSerial1_Action(&w.ConnectSerial1());
    w.ConnectSerial2_Action(&w.ConnectSerial2());
    QDeadlineTimer connected(5000);
    while (!w.ChannelOf(2).HoldsPort() && !connected.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    w.LinkBtn_Action(&w.LinkBtn());
    if (!w.LinkedTxt().Visible())
        std::exit(2);
    for (QDeadlineTimer answers(300); !answers.hasExpired();) // the server's line answers
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);

    std::thread device = Flood(near.master, bytes);
    QElapsedTimer t;
    t.start();
    qint64 got = 0;
    QDeadlineTimer deadline(120000);
    while (got < bytes && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        got += ReadCount(far.master);
    }
    const double mbps = double(got) / 1e6 / (double(t.nsecsElapsed()) / 1e9);
    device.join();

    std::vector<double> us;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer one;
        one.start();
        if (::write(near.master, "p", 1) != 1)
            std::exit(2);
        QDeadlineTimer wait(2000);
        while (ReadCount(far.master) == 0 && !wait.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        us.push_back(double(one.nsecsElapsed()) / 1e3);
    }
    std::sort(us.begin(), us.end());
    return {mbps, us[us.size() / 2]};
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qsizetype bytes = qsizetype(argc > 1 ? std::atoi(argv[1]) : 16) << 20;
    std::printf("%-10s %10s %14s\n", "port", "MB/s", "round trip us");
    // Directly, as a local port.
    {
        const Pty d = OpenPty();
        ::fcntl(d.master, F_SETFL, ::fcntl(d.master, F_GETFL) | O_NONBLOCK);
        QSerialPort port;
        port.setPortName(d.path);
        if (!port.open(QIODevice::ReadWrite))
            return 2;
        const End end {[&](QByteArrayView b) { port.write(b.constData(), b.size()); }, [&] { return port.readAll(); }};
        const double mbps = FloodMBps(end, d.master, bytes);
        Drain(d.master);
        std::printf("%-10s %10.1f %14.0f\n", "local", mbps, RoundTripUs(end, d.master, 200));
    }
    for (const char *kind : {"rfc2217", "tcp"}) {
        const Pty d = OpenPty();
        ::fcntl(d.master, F_SETFL, ::fcntl(d.master, F_GETFL) | O_NONBLOCK);
        const quint16 tcpPort = FreePort();
        const bool rfc = QByteArray(kind) == "rfc2217";
        QProcess *server = StartSer2net(d.path, tcpPort, rfc, &app);
        if (!server) {
            std::printf("ser2net: not available\n");
            return 1;
        }
        NetworkPort net;
        QElapsedTimer wait;
        wait.start();
        while (!net.IsOpen() && wait.elapsed() < 5000) {
            net.Open({rfc ? NetworkAddress::Protocol::Rfc2217 : NetworkAddress::Protocol::RawTcp,
                      QStringLiteral("127.0.0.1"), tcpPort},
                     {});
            QDeadlineTimer attempt(300);
            while (!net.IsOpen() && !attempt.hasExpired())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
        const End end {[&](QByteArrayView b) { net.Write(b); }, [&] { return net.ReadAll(); }};
        const double mbps = FloodMBps(end, d.master, bytes);
        Drain(d.master);
        std::printf("%-10s %10.1f %14.0f\n", kind, mbps, RoundTripUs(end, d.master, 200));
        net.Close();
        server->terminate();
        server->waitForFinished(3000);
    }

    std::printf("\nthrough the linked window, device to device (one way):\n%-10s %10s %14s\n", "far side", "MB/s",
                "one byte us");
    for (const char *kind : {"local", "rfc2217", "tcp"}) {
        const Pty near = OpenPty(), far = OpenPty();
        for (int fd : {near.master, far.master})
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        std::optional<NetworkAddress> remote;
        QProcess *server = nullptr;
        if (QByteArray(kind) != "local") {
            const bool rfc = QByteArray(kind) == "rfc2217";
            const quint16 port = FreePort();
            server = StartSer2net(far.path, port, rfc, &app);
            if (!server)
                return 1;
            remote = NetworkAddress {rfc ? NetworkAddress::Protocol::Rfc2217 : NetworkAddress::Protocol::RawTcp,
                                     QStringLiteral("127.0.0.1"), port};
        }
        const auto [mbps, us] = ThroughWindow(near, far, remote, bytes);
        std::printf("%-10s %10.1f %14.0f\n", kind, mbps, us);
        if (server) {
            server->terminate();
            server->waitForFinished(3000);
        }
    }
    return 0;
}

// Network ports: Telnet framing that lets every byte value through, an
// RFC 2217 client against the real ser2net serving a pty the test owns,
// and the window using one as a channel.

#include "support/Ser2net.h"
#include "support/TestSupport.h"

#include "ports/network/NetworkPort.h"
#include "ui/Texts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <atomic>
#include <sys/socket.h>
#include <thread>

using namespace platform;
using namespace platform::net;
using namespace testing;

Q_DECLARE_METATYPE(platform::net::NetworkAddress::Protocol)

namespace {

NetworkAddress Rfc2217At(quint16 port)
{
    return {NetworkAddress::Protocol::Rfc2217, QStringLiteral("127.0.0.1"), port};
}

// Every byte value, 0xFF runs too, out through the port and back in.
void CrossBothWays(NetworkPort &net, Pty &device)
{
    const QByteArray data = EveryValueAndIacRuns();
    net.Write(data);
    QCOMPARE(device.Receive(data.size()), data);
    device.Send(data);
    QByteArray got;
    QTRY_VERIFY((got += net.ReadAll()).size() >= data.size());
    QCOMPARE(got, data);
}

// Answers Add Network Port with the next address.
class ScriptedAddresses : public ui::NetworkAddressChooser {
public:
    std::optional<NetworkAddress> Choose(QWidget *) override
    {
        return answers.isEmpty() ? std::nullopt : std::optional(answers.takeFirst());
    }
    QList<NetworkAddress> answers;
};

// The window with one local pty and network ports added through its menu.
// Answers every file dialog with one path.
class OneFile : public FileChooser {
public:
    QString SaveFileName(QWidget *, const QString &, Existing) override { return path; }
    QString path;
};

struct NetRig {
    explicit NetRig(const Pty &local) : ports({local.Info(QStringLiteral("local"))})
    {
        ui::MainWindow::Services services {&ports, &alerts};
        services.addresses = &addresses;
        services.lines = &lines;
        services.files = &files;
        window = std::make_unique<ui::MainWindow>(services);
        window->PortListUpdater1().Action(&window->PortListUpdater1());
        window->PortListUpdater2().Action(&window->PortListUpdater2());
    }
    ui::MainWindow &w() { return *window; }
    void Add(const NetworkAddress &address)
    {
        addresses.answers = {address};
        w().AddNetworkPort();
    }
    void Connect(int channel, int row)
    {
        PopupMenu &menu = channel == 1 ? w().SerialPortsPopupMenu1() : w().SerialPortsPopupMenu2();
        PushButton &button = channel == 1 ? w().ConnectSerial1() : w().ConnectSerial2();
        menu.setCurrentIndex(row);
        emit button.Action(&button);
    }
    // The local device on channel 1 linked with `address` on channel 2,
    // which `server` serves: the server's end once the link is relayed
    // off the window's thread, none when it is not.
    QTcpSocket *LinkWithServer(QTcpServer &server, const NetworkAddress &address)
    {
        Add(address);
        Connect(1, 0);
        Connect(2, 1);
        if (!QTest::qWaitFor([&] { return server.hasPendingConnections(); }))
            return nullptr;
        QTcpSocket *peer = server.nextPendingConnection();
        if (!QTest::qWaitFor([&] { return w().ConnectSerial2().Caption() == ui::texts::kDisconnect; }))
            return nullptr;
        emit w().LinkBtn().Action(&w().LinkBtn());
        return QTest::qWaitFor([&] { return w().Core().Engaged(); }) ? peer : nullptr;
    }
    // Records both sides into a file of its own; Record() reads it back.
    void StartRecording()
    {
        files.path = dir.filePath(QStringLiteral("record.txt"));
        w().StartRecording();
    }
    QString Record() const
    {
        QFile f(files.path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QTemporaryDir dir;
    OneFile files;
    ListPortEnumerator ports;
    RecordingAlerts alerts;
    ScriptedAddresses addresses;
    ScriptedLines lines;
    std::unique_ptr<ui::MainWindow> window;
};

// Sends `ab` into a and `ba` into b at once, and collects what comes out
// of the other ends, pumping the event loop.
std::pair<QByteArray, QByteArray> Exchange(Pty &a, Pty &b, const QByteArray &ab, const QByteArray &ba)
{
    qsizetype sentA = 0, sentB = 0;
    QByteArray atB, atA;
    QDeadlineTimer deadline(30000);
    while ((atB.size() < ab.size() || atA.size() < ba.size()) && !deadline.hasExpired()) {
        for (auto [pty, data, sent] : {std::tuple(&a, &ab, &sentA), std::tuple(&b, &ba, &sentB)})
            if (*sent < data->size())
                *sent += std::max<ssize_t>(0, ::write(pty->Master(), data->constData() + *sent,
                                                      size_t(std::min<qsizetype>(data->size() - *sent, 4096))));
        atB += b.Drain();
        atA += a.Drain();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return {atB, atA};
}

// ser2net opens the device as a client connects, dropping what waited in
// it: a mark is sent each way until one comes through, and the strays are
// drained before the bytes that count.
bool MarksCross(Pty &a, Pty &b)
{
    for (auto [from, to] : {std::pair(&a, &b), std::pair(&b, &a)}) {
        QByteArray got;
        const bool through = QTest::qWaitFor([&] {
            (void)::write(from->Master(), "~", 1);
            return !(got += to->Drain()).isEmpty();
        }, 10000);
        if (!through)
            return false;
    }
    QTest::qWait(300);
    a.Drain();
    b.Drain();
    return true;
}

// Under load a 10 ms sleep on these machines can last 100 ms; the waits a
// network fault could bring (connect, answer, name lookup) last seconds.
constexpr qint64 kMostStallMs = 250;

// The longest the event loop went without turning, while `during` ran.
template <typename F>
qint64 LongestStallMs(F during)
{
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    qint64 longest = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { longest = std::max(longest, sinceTurn.restart()); });
    beat.start(5);
    during();
    return longest;
}

} // namespace

class TestNetwork : public QObject {
    Q_OBJECT
private slots:
    // Whatever the reads' boundaries, the data comes out whole and the
    // commands apart from it.
    void telnetFramingSurvivesAnySplit()
    {
        const QByteArray data = EveryValueAndIacRuns();
        const QByteArray wire = TelnetCodec::Command(TelnetCodec::kDo, TelnetCodec::kBinary) +
                                TelnetCodec::Escape(data.first(100)) +
                                TelnetCodec::Subnegotiation(TelnetCodec::kComPort, QByteArray("\x65\xFF\x01", 3)) +
                                TelnetCodec::Escape(data.sliced(100));
        for (qsizetype cut = 0; cut <= wire.size(); ++cut) {
            TelnetCodec codec;
            QList<TelnetCodec::Event> events;
            QByteArray got = codec.Decode(wire.first(cut), events);
            got += codec.Decode(wire.sliced(cut), events);
            QCOMPARE(got, data);
            QCOMPARE(events.size(), 2);
            QCOMPARE(events[1].payload, QByteArray("\x65\xFF\x01", 3));
            QVERIFY(!codec.Garbled());
        }
    }

    void addressesAreReadAsWritten_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read"); // empty: refused
        QTest::newRow("rfc2217") << "rfc2217://lab-pi:2000" << "rfc2217://lab-pi:2000";
        QTest::newRow("tcp, IPv6") << "tcp://[::1]:2001" << "tcp://[::1]:2001";
        QTest::newRow("no port") << "tcp://lab-pi" << "";
        QTest::newRow("port too large") << "tcp://lab-pi:70000" << "";
        QTest::newRow("another scheme") << "http://lab-pi:80" << "";
    }
    void addressesAreReadAsWritten()
    {
        QFETCH(QString, text);
        QFETCH(QString, read);
        QString error;
        const std::optional<NetworkAddress> a = NetworkAddress::Parse(text, &error);
        QCOMPARE(a ? a->Text() : QString(), read);
        QCOMPARE(error.isEmpty(), bool(a));
    }

    // Through ser2net: the line is confirmed, every byte crosses both ways
    // exactly, and a new speed reaches the served pty.
    void everyByteCrossesAndTheLineIsSetThroughSer2net()
    {
        Pty device;
        const quint16 port = FreePort();
        Ser2net server(device.Path(), port);
        NetworkPort net;
        QSignalSpy opened(&net, &NetworkPort::Opened), confirmed(&net, &NetworkPort::LineConfirmed);
        net.Open(Rfc2217At(port), LineSettings {});
        QTRY_COMPARE(opened.size(), 1);
        QTRY_COMPARE(confirmed.size(), 1);

        CrossBothWays(net, device);
        if (QTest::currentTestFailed())
            return;

        LineSettings fast;
        fast.baud = 115200;
        net.SetLine(fast);
        QTRY_COMPARE(confirmed.size(), 2);
        QCOMPARE(TtyOf(device.Path()).ospeed, speed_t(115200));
    }

    // Raw TCP carries the bytes as they are; a server that goes away is one
    // Lost, not a Failed.
    void rawTcpCarriesBytesAsTheyAreAndALostServerIsToldOnce()
    {
        Pty device;
        const quint16 port = FreePort();
        auto server = std::make_unique<Ser2net>(device.Path(), port, QStringLiteral("tcp"));
        NetworkPort net;
        QSignalSpy opened(&net, &NetworkPort::Opened), lost(&net, &NetworkPort::Lost),
            failed(&net, &NetworkPort::Failed), confirmed(&net, &NetworkPort::LineConfirmed);
        net.Open({NetworkAddress::Protocol::RawTcp, QStringLiteral("127.0.0.1"), port}, LineSettings {});
        QTRY_COMPARE(opened.size(), 1);
        CrossBothWays(net, device);
        if (QTest::currentTestFailed())
            return;
        server.reset();
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(!net.IsOpen());
        QTest::qWait(100);
        QCOMPARE(lost.size() + failed.size() + confirmed.size(), 1);
    }

    // A program that stops reading holds the device back through the
    // network with bounded memory, and gets every byte once it reads again.
    void aHeldPortHoldsTheDeviceBackWithBoundedMemory()
    {
        Pty device;
        const quint16 port = FreePort();
        Ser2net server(device.Path(), port, QStringLiteral("tcp"));
        NetworkPort net;
        QSignalSpy opened(&net, &NetworkPort::Opened);
        net.Open({NetworkAddress::Protocol::RawTcp, QStringLiteral("127.0.0.1"), port}, LineSettings {});
        QTRY_COMPARE(opened.size(), 1);
        net.HoldReading(true);
        const QByteArray flood = RandomBytes(32 << 20, 9); // past what the sockets buffer
        qsizetype sent = 0;
        QDeadlineTimer deadline(3000);
        while (!deadline.hasExpired() && sent < flood.size()) {
            const ssize_t n = ::write(device.Master(), flood.constData() + sent, size_t(flood.size() - sent));
            sent += std::max<ssize_t>(0, n);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        QVERIFY2(sent < flood.size(), "the device was never held back");
        QVERIFY(net.ReadAll().isEmpty());
        net.HoldReading(false);
        QByteArray got;
        QDeadlineTimer drain(20000);
        while (got.size() < flood.size() && !drain.hasExpired()) {
            if (sent < flood.size()) {
                const ssize_t n = ::write(device.Master(), flood.constData() + sent, size_t(flood.size() - sent));
                sent += std::max<ssize_t>(0, n);
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            got += net.ReadAll();
        }
        QCOMPARE(got.size(), flood.size());
        QVERIFY(got == flood);
    }

    // Nothing on the network is waited for in a call: each fault is one
    // signal, later.
    void faultsAreToldOnceAndNeverBlock()
    {
        QTcpServer silent; // accepts and never negotiates
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QTcpServer garbage; // answers with random bytes
        QVERIFY(garbage.listen(QHostAddress::LocalHost, 0));
        connect(&garbage, &QTcpServer::newConnection, this, [&] {
            const QByteArray noise = RandomBytes(4096, 3);
            garbage.nextPendingConnection()->write(noise);
        });
        const QList<std::pair<NetworkAddress, const char *>> cases = {
            {Rfc2217At(FreePort()), "Failed"},
            {{NetworkAddress::Protocol::Rfc2217, QStringLiteral("no-such-host.invalid"), 2000}, "Failed"},
            {Rfc2217At(silent.serverPort()), "LineRefused"},
            {Rfc2217At(garbage.serverPort()), "LineRefused"},
        };
        for (const auto &[address, expected] : cases) {
            NetworkPort net;
            QSignalSpy failed(&net, &NetworkPort::Failed), refused(&net, &NetworkPort::LineRefused);
            QElapsedTimer call;
            call.start();
            net.Open(address, LineSettings {});
            QVERIFY2(call.elapsed() < kMostStallMs, qPrintable(QString::number(call.elapsed())));
            QSignalSpy &spy = QByteArray(expected) == "Failed" ? failed : refused;
            QTRY_VERIFY_WITH_TIMEOUT(spy.size() == 1, NetworkPort::kAnswerTimeoutMs + 2000);
            QTest::qWait(100);
            QCOMPARE(failed.size() + refused.size(), 1);
        }
    }

    // The dialog opens on the address; a wrong one is said, not taken.
    void theAddressDialogTakesOnlyAnAddress()
    {
        ui::NetworkPortDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("Address"));
        QCOMPARE(QApplication::focusWidget(), field);
        auto *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        QTest::keyClicks(field, QStringLiteral("tcp://lab-pi"));
        ok->click();
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("AddressProblem"))->text().contains(QStringLiteral("port")));
        QTest::keyClicks(field, QStringLiteral(":2001"));
        ok->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Chosen()->Text(), QStringLiteral("tcp://lab-pi:2001"));
    }

    // Rows follow the system's ports in both menus; one a channel uses
    // cannot be removed, another can.
    void networkRowsAreAddedAndRemovedWhileUnused()
    {
        QTcpServer server; // raw TCP needs nothing more than a listener
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const NetworkAddress used {NetworkAddress::Protocol::RawTcp, QStringLiteral("127.0.0.1"), server.serverPort()};
        const NetworkAddress spare {NetworkAddress::Protocol::RawTcp, QStringLiteral("::1"), 2001};
        Pty local;
        NetRig rig(local);
        ui::MainWindow &w = rig.w();
        rig.Add(used);
        rig.Add(spare);
        rig.Add(used); // listed once
        const QStringList all = {QStringLiteral("local"), used.Text(), spare.Text()};
        for (PopupMenu *menu : {&w.SerialPortsPopupMenu1(), &w.SerialPortsPopupMenu2()})
            QCOMPARE(QStringList({menu->RowText(0), menu->RowText(1), menu->RowText(2)}), all);
        rig.Connect(1, 1);
        QTRY_COMPARE(w.ConnectSerial1().Caption(), ui::texts::kDisconnect);
        QCOMPARE(w.LineTxt1().text(), ui::texts::kLineAtServer);

        QMenu context;
        emit w.Serialcomms2().ContextMenuAboutToShow(&context);
        auto *add = context.findChild<QAction *>(QStringLiteral("AddNetworkPortAction"));
        QVERIFY(add && add->text().contains(QStringLiteral("&Network")));
        const QList<QAction *> rows = context.findChild<QMenu *>(QStringLiteral("RemoveNetworkPortMenu"))->actions();
        QCOMPARE(rows.size(), 2);
        QVERIFY(!rows[0]->isEnabled());
        QVERIFY(rows[1]->isEnabled());
        rows[0]->trigger(); // no effect while in use
        rows[1]->trigger();
        QCOMPARE(w.SerialPortsPopupMenu2().ListCount(), 2);
        QCOMPARE(w.SerialPortsPopupMenu2().RowText(1), used.Text());
    }

    // A port added while a channel waits is not a choice of that channel:
    // its menu keeps the row it shows, at once and at the ticks after,
    // while a menu that follows the ports takes the newest row.
    void addingAPortLeavesAWaitingChannelsMenuAlone()
    {
        Pty lost, other;
        NetRig rig(lost);
        ui::MainWindow &w = rig.w();
        rig.ports.SetPorts({lost.Info(QStringLiteral("lost")), other.Info(QStringLiteral("other"))});
        for (Timer *t : {&w.PortListUpdater1(), &w.PortListUpdater2()})
            emit t->Action(t);
        rig.Connect(1, 0);
        QCOMPARE(w.ConnectSerial1().Caption(), ui::texts::kDisconnect);
        lost.Hangup();
        QTRY_VERIFY(w.ChannelOf(1).Waits());
        rig.ports.SetPorts({other.Info(QStringLiteral("other"))});
        emit w.PortListUpdater1().Action(&w.PortListUpdater1());
        const QString shown = w.SerialPortsPopupMenu1().currentText();
        QCOMPARE(shown, QStringLiteral("other"));

        rig.Add({NetworkAddress::Protocol::RawTcp, QStringLiteral("127.0.0.1"), 1});
        QCOMPARE(w.SerialPortsPopupMenu1().ListCount(), 2);
        QCOMPARE(w.SerialPortsPopupMenu1().currentText(), shown);
        emit w.PortListUpdater1().Action(&w.PortListUpdater1());
        QCOMPARE(w.SerialPortsPopupMenu1().currentText(), shown);
        QVERIFY(w.ChannelOf(1).Waits());
        QCOMPARE(w.SerialPortsPopupMenu2().currentText(), QStringLiteral("tcp://127.0.0.1:1"));
    }

    // A served port as a channel of the window, linked with a local one:
    // every value and a flood cross both ways, a line change reaches the
    // served device, and a server that goes and comes back is a replug.
    void aNetworkChannelLinksWithALocalOneAndResumesAfterTheServerReturns()
    {
        Pty local, served;
        const quint16 port = FreePort();
        auto server = std::make_unique<Ser2net>(served.Path(), port);
        NetRig rig(local);
        ui::MainWindow &w = rig.w();
        rig.Add(Rfc2217At(port));
        for (PopupMenu *menu : {&w.SerialPortsPopupMenu1(), &w.SerialPortsPopupMenu2()})
            QCOMPARE(menu->RowText(1), QStringLiteral("rfc2217://127.0.0.1:%1").arg(port));

        rig.StartRecording();
        rig.Connect(1, 1);
        QCOMPARE(w.ConnectSerial1().Caption(), ui::texts::kConnect);
        QVERIFY(!w.ConnectSerial1().isEnabled());
        QVERIFY(w.LineTxt1().text().startsWith(QStringLiteral("connecting to")));
        QTRY_COMPARE(w.ConnectSerial1().Caption(), ui::texts::kDisconnect);
        QTRY_COMPARE(w.LineTxt1().text(), QStringLiteral("9600 8N1"));
        const QString address = QStringLiteral("rfc2217://127.0.0.1:%1").arg(port);
        QTRY_VERIFY(rig.Record().contains(QStringLiteral("-- 1 line settings: 9600 8N1, confirmed\n")));
        QVERIFY(rig.Record().contains(QStringLiteral("-- 1 connected to %1 at 9600 8N1, asked\n").arg(address)));
        rig.Connect(2, 0);
        emit w.LinkBtn().Action(&w.LinkBtn());
        QVERIFY(w.LinkedTxt().Visible());

        const QByteArray every = EveryValueAndIacRuns();
        auto [atServed, atLocal] = Exchange(local, served, every, every);
        QCOMPARE(atServed, every);
        QCOMPARE(atLocal, every);
        QTRY_VERIFY(w.Core().Engaged()); // relayed off the window's thread once the server is quiet
        const QByteArray flood = RandomBytes(4 << 20, 5);
        QByteArray reversed = flood;
        std::reverse(reversed.begin(), reversed.end());
        std::tie(atServed, atLocal) = Exchange(local, served, flood, reversed);
        QVERIFY(atServed == flood);
        QVERIFY(atLocal == reversed);

        LineSettings fast;
        fast.baud = 115200;
        rig.lines.answers = {fast};
        w.ChangeLineSettings(1);
        QTRY_COMPARE(w.LineTxt1().text(), QStringLiteral("115200 8N1"));
        QCOMPARE(TtyOf(served.Path()).ospeed, speed_t(115200));

        server.reset();
        QTRY_VERIFY(w.ChannelOf(1).Waits());
        QVERIFY(!w.LinkedTxt().Visible());
        server = std::make_unique<Ser2net>(served.Path(), port);
        QTRY_VERIFY_WITH_TIMEOUT(w.LinkedTxt().Visible(), 10000);
        QCOMPARE(w.ConnectSerial1().Caption(), ui::texts::kDisconnect);
        QTRY_COMPARE(w.LineTxt1().text(), QStringLiteral("115200 8N1"));
        std::tie(atServed, atLocal) = Exchange(local, served, every, every);
        QCOMPARE(atServed, every);
        QCOMPARE(atLocal, every);
        // The loss is told once at most, and no retry says anything.
        QVERIFY(rig.alerts.messages.size() <= 1);
        for (const RecordedMessage &m : rig.alerts.messages)
            QCOMPARE(m.text, ui::texts::kSerialError);
    }

    void aNetworkLinkCrossesWhileTheWindowStops_data()
    {
        QTest::addColumn<NetworkAddress::Protocol>("protocol");
        QTest::addColumn<QString>("accepter");
        QTest::newRow("raw TCP") << NetworkAddress::Protocol::RawTcp << QStringLiteral("tcp");
        QTest::newRow("RFC 2217") << NetworkAddress::Protocol::Rfc2217 << QStringLiteral("telnet(rfc2217),tcp");
    }

    // A channel on a port server linked with a local one is relayed off the
    // window's thread: both ways cross whole while that thread stops, byte
    // 255 too. A server that goes while relayed is one loss, and relaying
    // resumes once it is back.
    void aNetworkLinkCrossesWhileTheWindowStops()
    {
        QFETCH(NetworkAddress::Protocol, protocol);
        QFETCH(QString, accepter);
        Pty local, served;
        const quint16 port = FreePort();
        auto server = std::make_unique<Ser2net>(served.Path(), port, accepter);
        NetRig rig(local);
        ui::MainWindow &w = rig.w();
        rig.Add({protocol, QStringLiteral("127.0.0.1"), port});
        rig.Connect(1, 1);
        QTRY_COMPARE(w.ConnectSerial1().Caption(), ui::texts::kDisconnect);
        rig.Connect(2, 0);
        emit w.LinkBtn().Action(&w.LinkBtn());
        QVERIFY(MarksCross(local, served));
        QTRY_VERIFY(w.Core().Engaged());

        const QByteArray there = RandomBytes(256 << 10, 21), back = RandomBytes(256 << 10, 22);
        QByteArray atServed, atLocal;
        bool whole = false;
        std::thread devices([&] {
            qsizetype sentThere = 0, sentBack = 0;
            const QDeadlineTimer deadline(20000);
            while ((atServed.size() < there.size() || atLocal.size() < back.size()) && !deadline.hasExpired()) {
                for (auto [fd, data, sent] : {std::tuple(local.Master(), &there, &sentThere),
                                              std::tuple(served.Master(), &back, &sentBack)})
                    *sent += std::max<ssize_t>(0, ::write(fd, data->constData() + *sent, size_t(data->size() - *sent)));
                atServed += served.Drain();
                atLocal += local.Drain();
                ::usleep(1000);
            }
            whole = atServed.size() >= there.size() && atLocal.size() >= back.size();
        });
        devices.join(); // the window's thread stops until both ways are through or the deadline
        QVERIFY2(whole, qPrintable(QStringLiteral("%1 and %2 bytes crossed").arg(atServed.size()).arg(atLocal.size())));
        QVERIFY(atServed == there);
        QVERIFY(atLocal == back);

        // Gone under traffic: the relay's writes meet a closed socket.
        std::atomic<bool> sending = true;
        std::thread sender([&] {
            while (sending) {
                (void)::write(local.Master(), there.constData(), 4096);
                served.Drain(); // a server stuck on a full device is slow to go
                ::usleep(500);
            }
        });
        QTest::qWait(200);
        server.reset();
        QTRY_VERIFY(w.ChannelOf(1).Waits());
        QTest::qWait(200);
        sending = false;
        sender.join();
        QVERIFY(!w.LinkedTxt().Visible());
        local.Drain();
        served.Drain();
        server = std::make_unique<Ser2net>(served.Path(), port, accepter);
        QTRY_VERIFY_WITH_TIMEOUT(w.LinkedTxt().Visible(), 10000);
        QVERIFY(MarksCross(local, served));
        QTRY_VERIFY(w.Core().Engaged());
        const QByteArray every = EveryValueAndIacRuns();
        std::tie(atServed, atLocal) = Exchange(local, served, every, every);
        QCOMPARE(atServed, every);
        QCOMPARE(atLocal, every);
        QVERIFY(rig.alerts.messages.size() <= 1);
    }

    // A server whose data is full of commands: each goes back to the
    // window's thread to be answered, the relay takes over again, and every
    // data byte arrives once and in order while the window keeps turning.
    void commandsAmongTheDataLoseNoByte()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Pty local;
        NetRig rig(local);
        QTcpSocket *peer = rig.LinkWithServer(server, Rfc2217At(server.serverPort()));
        QVERIFY(peer);

        const QByteArray noise = RandomBytes(1 << 20, 31);
        QList<TelnetCodec::Event> events;
        const QByteArray data = TelnetCodec().Decode(noise, events);
        QByteArray got;
        const qint64 stall = LongestStallMs([&] {
            QDeadlineTimer deadline(30000);
            for (qsizetype sent = 0; got.size() < data.size() && !deadline.hasExpired();) {
                if (sent < noise.size() && peer->bytesToWrite() < 65536)
                    sent += peer->write(noise.mid(sent, 4096));
                got += local.Drain();
                QTest::qWait(1);
            }
        });
        QVERIFY(!events.isEmpty());
        QCOMPARE(got.size(), data.size());
        QVERIFY(got == data);
        QVERIFY2(stall < kMostStallMs, qPrintable(QString::number(stall)));
    }

    // A server that resets the connection while the relay writes to it: a
    // loss told once, not the end of the program.
    void aResetUnderTrafficIsALoss()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Pty local;
        NetRig rig(local);
        ui::MainWindow &w = rig.w();
        // The relay writes to it what it reads from channel 1.
        QTcpSocket *peer =
            rig.LinkWithServer(server, {NetworkAddress::Protocol::RawTcp, QStringLiteral("127.0.0.1"), server.serverPort()});
        QVERIFY(peer);
        const linger reset {1, 0};
        QVERIFY(::setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset) == 0);
        peer->abort();
        const QByteArray bytes(1024, 'x');
        QDeadlineTimer deadline(10000);
        while (!w.ChannelOf(2).Waits() && !deadline.hasExpired()) {
            (void)::write(local.Master(), bytes.constData(), size_t(bytes.size()));
            QTest::qWait(5);
        }
        QVERIFY(w.ChannelOf(2).Waits());
        QTest::qWait(200);
        QVERIFY(rig.alerts.messages.size() <= 1);
    }

    // Each fault is one message through the window, which never stops
    // turning; a server that takes no line leaves the channel connected.
    void eachFaultIsOneMessageAndTheWindowKeepsTurning()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QTcpServer garbage;
        QVERIFY(garbage.listen(QHostAddress::LocalHost, 0));
        connect(&garbage, &QTcpServer::newConnection, this, [&] {
            const QByteArray noise = RandomBytes(4096, 3);
            garbage.nextPendingConnection()->write(noise);
        });
        const QList<std::tuple<NetworkAddress, QString, QString>> cases = {
            {Rfc2217At(FreePort()), ui::texts::kCouldNotOpen, ui::texts::kConnect},
            {{NetworkAddress::Protocol::Rfc2217, QStringLiteral("no-such-host.invalid"), 2000},
             ui::texts::kCouldNotOpen, ui::texts::kConnect},
            {Rfc2217At(silent.serverPort()), ui::texts::kLineNotSet, ui::texts::kDisconnect},
            {Rfc2217At(garbage.serverPort()), ui::texts::kLineNotSet, ui::texts::kDisconnect},
        };
        Pty local;
        for (const auto &[address, message, caption] : cases) {
            NetRig rig(local);
            rig.Add(address);
            const qint64 stall = LongestStallMs([&] {
                rig.Connect(1, 1);
                QTRY_VERIFY_WITH_TIMEOUT(!rig.alerts.messages.isEmpty(), NetworkPort::kAnswerTimeoutMs + 3000);
                QTest::qWait(200);
            });
            QVERIFY2(stall < kMostStallMs, qPrintable(QString::number(stall)));
            QCOMPARE(rig.alerts.messages.size(), 1);
            QCOMPARE(rig.alerts.messages[0].text, message);
            QCOMPARE(rig.w().ConnectSerial1().Caption(), caption);
            QVERIFY(rig.w().ConnectSerial1().isEnabled());
        }
    }

    // The record says what a server made of the line, as the label does:
    // asked at connect, and its answer, here none, as an event of its own.
    void theRecordSaysALineWasNotConfirmed()
    {
        QTcpServer silent; // accepts and never negotiates
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        Pty local;
        NetRig rig(local);
        rig.StartRecording();
        const NetworkAddress address = Rfc2217At(silent.serverPort());
        rig.Add(address);
        rig.Connect(1, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.alerts.messages.isEmpty(), NetworkPort::kAnswerTimeoutMs + 3000);
        QCOMPARE(rig.w().LineTxt1().text(), QStringLiteral("9600 8N1 not confirmed"));
        const QString record = rig.Record();
        QVERIFY2(record.contains(QStringLiteral("-- 1 connected to %1 at 9600 8N1, asked\n").arg(address.Text())),
                 qPrintable(record));
        QVERIFY2(record.contains(QStringLiteral("-- 1 line settings: 9600 8N1 not confirmed: ")), qPrintable(record));
    }
};

int main(int argc, char **argv)
{
    return RunWithSer2net<TestNetwork>(argc, argv);
}

#include "tst_network.moc"

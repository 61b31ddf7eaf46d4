// The modem lines and breaks: edges replayed from a driver's counters,
// bytes marked by the tty undone, and the lines crossing a link between
// two emulated RFC 2217 port servers in order with the bytes around them.

#include "support/CoreSupport.h"
#include "support/LineServer.h"

#include "bridge/Bridge.h"
#include "ports/LineWatch.h"
#include "ports/ModemLines.h"
#include "ports/SerialDevicePort.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace platform;
using namespace testing;
using namespace std::chrono_literals;
using Heard = LineServer::Heard;

Q_DECLARE_METATYPE(platform::ModemInputs)
Q_DECLARE_METATYPE(platform::InputCounts)

namespace {

// "c" for CTS on, "cd" for CTS and DSR on, "" for none: C, D, K (DCD), R.
ModemInputs In(const char *on)
{
    const QByteArray s(on);
    return {s.contains('c'), s.contains('d'), s.contains('k'), s.contains('r')};
}

QString Shown(const QList<ModemInputs> &states)
{
    QStringList out;
    for (const ModemInputs &m : states)
        out << QStringLiteral("%1%2%3%4").arg(m.cts ? "c" : "", m.dsr ? "d" : "", m.dcd ? "k" : "", m.ri ? "r" : "");
    return out.join(QLatin1Char(' '));
}

// A bridge over two network channels, each to its own emulated server.
struct ServedLink {
    ServedLink()
    {
        for (int n : {1, 2}) {
            SerialController &port = n == 1 ? port1 : port2;
            QObject::connect(&port, &SerialController::DataAvailable, &bridge, [this, n] { bridge.Relay(n); });
        }
    }
    // Both connected, the servers asked for their inputs, and linked.
    void Up()
    {
        for (int n : {1, 2}) {
            LineServer &server = n == 1 ? a : b;
            QVERIFY(bridge.Connect(n, SerialPortInfo {server.Address(), server.Address()}) !=
                    bridge::Bridge::Opened::Failed);
        }
        QTRY_VERIFY_WITH_TIMEOUT(bridge.Own(1).HoldsPort() && bridge.Own(2).HoldsPort(), 5000);
        QTRY_VERIFY(a.ToldOfInputs() && b.ToldOfInputs());
        QVERIFY(bridge.Link());
    }
    LineServer a, b;
    ListPortEnumerator ports;
    SerialController port1 {nullptr}, port2 {nullptr};
    bridge::Bridge bridge {port1, port2, ports};
};

// The controls `server` heard since `from`, as "DTR off RTS on | DTR on ...":
// those heard in one read are one group.
QString Groups(const QList<Heard> &controls)
{
    QStringList groups, group;
    qint64 at = -1;
    for (const Heard &h : controls) {
        if (h.us != at && !group.isEmpty()) {
            groups << group.join(QLatin1Char(' '));
            group.clear();
        }
        at = h.us;
        const char *names[] = {"", "", "", "", "", "break on", "break off", "", "DTR on", "DTR off", "", "RTS on", "RTS off"};
        group << QLatin1String(h.value < 13 ? names[h.value] : "?");
    }
    if (!group.isEmpty())
        groups << group.join(QLatin1Char(' '));
    return groups.join(QStringLiteral(" | "));
}

// Emulation of a tty with modem lines, in place of the driver's ioctls (a
// pty has no lines): the test moves the inputs and sees the outputs set.
struct EmulatedTty {
    std::mutex lock;
    std::condition_variable changed;
    ModemInputs inputs;
    InputCounts counts;
    quint64 edges = 0;    // every change made, for the waits
    bool interrupted = false;
    QList<ModemOutputs> written; // one entry per driver call
    std::atomic<int> lateWaitMs {0}; // the next wait starts this late, as a slow thread's does

    static EmulatedTty &Now()
    {
        static EmulatedTty tty;
        return tty;
    }
    // Edges as the driver counts them: each change of a line once.
    void Move(const ModemInputs &to)
    {
        {
            const std::lock_guard<std::mutex> guard(lock);
            counts.cts += inputs.cts != to.cts;
            counts.dsr += inputs.dsr != to.dsr;
            counts.dcd += inputs.dcd != to.dcd;
            counts.ri += inputs.ri && !to.ri;
            inputs = to;
            ++edges;
        }
        changed.notify_all();
    }
    static LineWatch::Calls Calls()
    {
        LineWatch::Calls calls;
        calls.read = [](os::PortHandle) -> std::optional<os::ModemLineStates> {
            EmulatedTty &t = Now();
            const std::lock_guard<std::mutex> guard(t.lock);
            return os::ModemLineStates {t.inputs, t.written.isEmpty() ? ModemOutputs {} : t.written.constLast()};
        };
        calls.write = [](os::PortHandle, const ModemOutputs &lines) {
            EmulatedTty &t = Now();
            const std::lock_guard<std::mutex> guard(t.lock);
            t.written.append(lines);
            return true;
        };
        calls.counts = [](os::PortHandle) -> std::optional<InputCounts> {
            EmulatedTty &t = Now();
            const std::lock_guard<std::mutex> guard(t.lock);
            return t.counts;
        };
        // Like TIOCMIWAIT: until an edge after the wait began, or a signal.
        // Edges before the wait began wake it no more than the driver's.
        calls.wait = [](os::PortHandle) {
            EmulatedTty &t = Now();
            std::this_thread::sleep_for(std::chrono::milliseconds(t.lateWaitMs.exchange(0)));
            std::unique_lock<std::mutex> guard(t.lock);
            const quint64 from = t.edges;
            t.changed.wait(guard, [&] { return t.edges != from || t.interrupted; });
            const bool edge = !t.interrupted;
            t.interrupted = false;
            return edge ? os::InputWait::Changed : os::InputWait::Interrupted;
        };
        calls.interrupt = [](std::thread &) {
            EmulatedTty &t = Now();
            {
                const std::lock_guard<std::mutex> guard(t.lock);
                t.interrupted = true;
            }
            t.changed.notify_all();
        };
        return calls;
    }
};

} // namespace

class TestLines : public QObject {
    Q_OBJECT
private slots:
    // A driver's counts and the states either side of them give every edge
    // between two looks, the k-th edges of all lines together.
    void countedEdgesAreReplayed_data()
    {
        QTest::addColumn<ModemInputs>("before");
        QTest::addColumn<InputCounts>("counted");
        QTest::addColumn<ModemInputs>("now");
        QTest::addColumn<QString>("replayed");
        QTest::newRow("nothing") << In("") << InputCounts {} << In("") << "";
        QTest::newRow("one edge") << In("") << InputCounts {1, 0, 0, 0} << In("c") << "c";
        QTest::newRow("a 100 us pulse between two looks") << In("") << InputCounts {0, 2, 0, 0} << In("") << "d ";
        QTest::newRow("two lines at once") << In("d") << InputCounts {1, 1, 0, 0} << In("c") << "c";
        QTest::newRow("a pulse beside an edge") << In("") << InputCounts {1, 2, 0, 0} << In("c") << "cd c";
        QTest::newRow("an edge the count has not yet") << In("") << InputCounts {0, 0, 0, 0} << In("k") << "k";
        QTest::newRow("a ring from off") << In("") << InputCounts {0, 0, 0, 1} << In("") << "r ";
        QTest::newRow("a ring that was on") << In("r") << InputCounts {0, 0, 0, 1} << In("") << "";
        QTest::newRow("two rings, ringing again") << In("") << InputCounts {0, 0, 0, 2} << In("r") << "r  r  r";
        QTest::newRow("a counter that wrapped") << In("") << InputCounts {2, 0, 0, 0} << In("") << "c ";
    }
    void countedEdgesAreReplayed()
    {
        QFETCH(ModemInputs, before);
        QFETCH(InputCounts, counted);
        QFETCH(ModemInputs, now);
        QFETCH(QString, replayed);
        // From a count near the top, so that a wrap is met on the way.
        const InputCounts base {0xFFFFFFFFu, 7, 0, 3};
        const InputCounts after {base.cts + counted.cts, base.dsr + counted.dsr, base.dcd + counted.dcd,
                                 base.ri + counted.ri};
        const QList<ModemInputs> states = ReplayEdges(before, base, now, after);
        QCOMPARE(Shown(states), replayed);
        QCOMPARE(states.isEmpty() ? before : states.last(), now);
    }

    void aRingingLineIsReplayedOnlySoFar()
    {
        const QList<ModemInputs> states = ReplayEdges(In(""), {}, In("c"), {100001, 0, 0, 0});
        QVERIFY(states.size() <= kMaxReplayedEdges);
        QCOMPARE(states.last(), In("c"));
    }

    // PARMRK's marks undone: a doubled FF is one data byte, FF 00 00 a
    // break, FF 00 b a byte in error; split anywhere across reads.
    void markedBytesAreUnmarked_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("events");
        QTest::newRow("plain") << QByteArray("abc") << QByteArray("abc") << "";
        QTest::newRow("FF doubled") << QByteArray("a\xFF\xFF" "b", 4) << QByteArray("a\xFF" "b", 3) << "";
        QTest::newRow("break") << QByteArray("a\xFF\x00\x00" "b", 5) << QByteArray("ab") << "break@1";
        QTest::newRow("byte in error") << QByteArray("a\xFF\x00Zb", 5) << QByteArray("aZb") << "bad@1";
        QTest::newRow("every value") << [] {
            QByteArray w;
            for (int i = 0; i < 256; ++i)
                w += i == 0xFF ? QByteArray("\xFF\xFF", 2) : QByteArray(1, char(i));
            return w;
        }() << [] {
            QByteArray d;
            for (int i = 0; i < 256; ++i)
                d += char(i);
            return d;
        }() << "";
    }
    void markedBytesAreUnmarked()
    {
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, data);
        QFETCH(QString, events);
        for (qsizetype split = 0; split <= wire.size(); ++split) {
            MarkedBytes marked;
            QList<LineEvent> heard;
            QByteArray got = marked.Decode(QByteArrayView(wire).first(split), 100, heard);
            got += marked.Decode(QByteArrayView(wire).sliced(split), 100 + got.size(), heard);
            QStringList shown;
            for (const LineEvent &e : heard)
                shown << QStringLiteral("%1@%2")
                             .arg(e.kind == LineEvent::Kind::Break ? "break" : "bad")
                             .arg(e.at - 100);
            QCOMPARE(got, data);
            QCOMPARE(shown.join(QLatin1Char(' ')), events);
        }
    }

    // The mapping, and a server's mark of a line that went and came back.
    void mappingAndPulsesFromTheServer()
    {
        QCOMPARE(Drive(LineMapping::CtsToRtsDsrToDtr, In("d")), (ModemOutputs {false, true}));
        QCOMPARE(Drive(LineMapping::CtsToRtsDsrToDtr, In("ck")), (ModemOutputs {true, false}));
        QCOMPARE(Drive(LineMapping::CtsToRtsDcdToDtr, In("ck")), (ModemOutputs {true, true}));
        const std::uint8_t dsrPulsed = rfc2217::ModemState(In(""), In("")) | 0x02;
        QCOMPARE(rfc2217::PulsedBetween(In(""), In(""), dsrPulsed), In("d"));
        QCOMPARE(rfc2217::PulsedBetween(In(""), In("c"), rfc2217::ModemState(In("c"), In(""))), In(""));
    }

    // With the tty's line calls emulated: a port on a device with lines
    // hears every edge, a pulse between two looks too, placed after the
    // bytes read before it; both outputs are set in one driver call; and
    // closing ends the watch however long it waited.
    void aDeviceWithLinesIsWatchedInEmulation()
    {
        EmulatedTty &tty = EmulatedTty::Now();
        tty.lateWaitMs = 300; // the first edge comes between the watcher's look and its wait
        LineWatch::SetCalls(EmulatedTty::Calls());
        const auto restore = qScopeGuard([] { LineWatch::SetCalls({}); });
        testing::Pty device;
        SerialDevicePort port;
        QString error;
        QVERIFY2(port.Open(device.Path(), LineSettings {}, &error), qPrintable(error));
        QVERIFY(port.HasModemLines());
        QSignalSpy told(&port, &Port::LineEvents);

        device.Send("ab");
        QTRY_COMPARE(port.BytesWaiting(), 2);
        tty.Move(In("c"));
        QTRY_COMPARE(told.size(), 1); // late, not lost
        QCOMPARE(tty.lateWaitMs, 0);
        QList<LineEvent> events = port.TakeLineEvents();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].inputs, In("c"));
        QCOMPARE(events[0].at, 2);
        QCOMPARE(port.Inputs(), In("c"));

        // A pulse the watcher's look falls after: counted, not seen.
        {
            const std::lock_guard<std::mutex> guard(tty.lock);
            tty.counts.dsr += 2;
            ++tty.edges;
        }
        tty.changed.notify_all();
        QTRY_COMPARE(told.size(), 2);
        events = port.TakeLineEvents();
        QStringList states;
        for (const LineEvent &e : events)
            states << Shown({e.inputs});
        QCOMPARE(states.join(QLatin1Char(' ')), QStringLiteral("cd c"));

        port.SetOutputs({true, false});
        {
            const std::lock_guard<std::mutex> guard(tty.lock);
            QCOMPARE(tty.written.size(), 1);
            QCOMPARE(tty.written.constLast(), (ModemOutputs {true, false}));
        }
        port.Close(); // must not hang on the watcher's wait
        QVERIFY(!port.IsOpen());
    }

    // An ESP32 reset and an Arduino's 100 us DTR pulse, as one server's
    // inputs: the other server gets the same edges in order, changes that
    // came together in one write, and the bytes around them in order.
    void edgesCrossTheLinkInOrderWithTheBytes()
    {
        ServedLink link;
        link.Up();
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE(link.b.Controls().size(), 2);
        QStringList raised; // at connect
        for (const Heard &h : link.b.Controls())
            raised << QString::number(h.value);
        raised.sort();
        QCOMPARE(raised.join(QLatin1Char(' ')), QStringLiteral("11 8"));
        link.bridge.SetLinesPass(true);
        QVERIFY(link.bridge.LinesCross());
        // Nothing told yet of A's inputs: B's stay raised.
        QTest::qWait(50);
        QCOMPARE(link.b.Controls().size(), 2);
        link.a.SendInputs(In(""));
        QTRY_COMPARE(Groups(link.b.Controls().mid(2)), QStringLiteral("DTR off RTS off"));

        link.b.ClearLog();
        link.a.SendData("before");
        link.a.SendInputs(In("c")); // host: DTR off, RTS on
        QTest::qWait(100);
        link.a.SendInputs(In("d")); // DTR on, RTS off
        link.a.SendData("middle");
        QTest::qWait(50);
        link.a.SendInputs(In("")); // DTR off
        link.a.SendData("after");
        link.a.SendInputs(In("d")); // the Arduino's pulse
        LineServer::Hold(100us);
        link.a.SendInputs(In(""));
        link.a.SendData("end");
        QTRY_COMPARE(link.b.Data(), QByteArray("beforemiddleafterend"));
        QTRY_COMPARE(link.b.Controls().size(), 6);

        QStringList order;
        for (const Heard &h : link.b.Log())
            order << (h.kind == Heard::Kind::Data ? QString::fromLatin1(h.bytes) : QStringLiteral("*"));
        QCOMPARE(order.join(QString()), QStringLiteral("before***middle*after**end"));
        const QList<Heard> controls = link.b.Controls();
        QCOMPARE(Groups(controls).replace(QStringLiteral(" | "), QStringLiteral(" ")),
                 QStringLiteral("RTS on DTR on RTS off DTR off DTR on DTR off"));
        // The reset's pair together, well within a millisecond.
        QVERIFY(controls[2].us - controls[1].us <= 1000);
        for (const Heard &h : controls)
            qInfo("at B, %+8.3f ms: SET-CONTROL %d", double(h.us - controls.first().us) / 1000, h.value);
    }

    // Against pyserial's own RFC 2217 server on loop://, where CTS follows
    // RTS and DSR follows DTR: what the client sets comes back as the
    // inputs the server tells, and every byte value echoes exactly.
    void pyserialsServerTellsTheLinesItWasSet()
    {
        const QString example = QStringLiteral("/usr/share/doc/python3-serial/examples/rfc2217_server.py");
        if (!QFile::exists(example))
            QSKIP("python3-serial's RFC 2217 server example is not installed");
        quint16 portNumber = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            portNumber = probe.serverPort();
        }
        QProcess server;
        server.start(QStringLiteral("/usr/bin/python3"), {example, QStringLiteral("-p"), QString::number(portNumber),
                                                 QStringLiteral("loop://")});
        QVERIFY(server.waitForStarted());
        const auto stop = qScopeGuard([&] {
            server.kill();
            server.waitForFinished();
        });
        net::NetworkPort port;
        QSignalSpy opened(&port, &Port::Opened), confirmed(&port, &Port::LineConfirmed);
        for (int attempt = 0; attempt < 50 && opened.isEmpty(); ++attempt) {
            port.Open({net::NetworkAddress::Protocol::Rfc2217, QStringLiteral("127.0.0.1"), portNumber}, {});
            QTest::qWait(100);
        }
        QTRY_COMPARE(opened.size(), 1);
        QTRY_COMPARE(confirmed.size(), 1);

        port.SetOutputs({true, false});
        QTRY_VERIFY_WITH_TIMEOUT(port.InputsKnown() && port.Inputs().cts && !port.Inputs().dsr, 5000);
        port.SetOutputs({false, true});
        QTRY_VERIFY_WITH_TIMEOUT(!port.Inputs().cts && port.Inputs().dsr, 5000);

        QByteArray every;
        for (int i = 0; i < 256; ++i)
            every += char(i);
        port.Write(every);
        QByteArray back;
        QTRY_VERIFY((back += port.ReadAll()).size() >= every.size());
        QCOMPARE(back, every);
    }

    // With every device marking breaks and errors (a pty then doubles each
    // data FF as a real port does): every byte value crosses exactly, read
    // here, after a line change, and through the relay thread both ways,
    // and the views keep them unmarked.
    void markedDevicesAlterNoByte()
    {
        SerialDevicePort::SetMarkEveryDevice(true);
        const auto restore = qScopeGuard([] { SerialDevicePort::SetMarkEveryDevice(false); });
        QByteArray data;
        for (int round = 0; round < 4; ++round)
            for (int i = 0; i < 256; ++i)
                data += i % 3 == 0 ? QByteArray(3, char(0xFF)) : QByteArray(1, char(i));
        data += QByteArray("\xFF\x00\x00\xFF", 4); // no break: a data FF, two NULs and an FF
        {
            testing::Pty device;
            SerialDevicePort port;
            QString error;
            QVERIFY2(port.Open(device.Path(), LineSettings {}, &error), qPrintable(error));
            QVERIFY(port.Marked());
            for (const int baud : {9600, 115200}) {
                LineSettings line;
                line.baud = baud;
                QVERIFY(port.SetLine(line, &error)); // Qt writes its settings: the marking must stay
                device.Send(data);
                QByteArray got;
                QTRY_VERIFY((got += port.ReadAll()).size() >= data.size());
                QCOMPARE(got, data);
                QVERIFY(port.TakeLineEvents().isEmpty());
            }
        }
        testing::Pty a, b;
        ListPortEnumerator ports;
        SerialController one {nullptr}, two {nullptr};
        bridge::Bridge core(one, two, ports);
        QObject::connect(&one, &SerialController::DataAvailable, &core, [&] { core.Relay(1); });
        QObject::connect(&two, &SerialController::DataAvailable, &core, [&] { core.Relay(2); });
        QCOMPARE(core.Connect(1, a.Info()), bridge::Bridge::Opened::Done);
        QCOMPARE(core.Connect(2, b.Info()), bridge::Bridge::Opened::Done);
        QVERIFY(core.Link());
        QTRY_VERIFY(core.Engaged());
        a.Send(data);
        QCOMPARE(b.Receive(data.size()), data);
        b.Send(data);
        QCOMPARE(a.Receive(data.size()), data);
        QTRY_COMPARE(core.Own(2).received.Bytes(), data);
        QCOMPARE(core.Own(1).received.Bytes(), data);
        QVERIFY(core.Engaged());
    }

    // A break on one side is sent on from the other, and counted; with
    // the lines off, neither happens and the outputs are raised again.
    void breaksCrossAndLinesOffRaisesTheOutputs()
    {
        ServedLink link;
        link.Up();
        if (QTest::currentTestFailed())
            return;
        link.bridge.SetLinesPass(true);
        link.a.SendInputs(In(""));
        QTRY_COMPARE(Groups(link.b.Controls()).right(15), QStringLiteral("DTR off RTS off"));
        link.b.ClearLog();
        link.a.SendData("x");
        link.a.SendLineState(rfc2217::kLineBreak);
        link.a.SendData("y");
        QTRY_COMPARE(link.b.Data(), QByteArray("xy"));
        QCOMPARE(link.bridge.Own(1).lineCounts.breaks, 1);
        QStringList order;
        for (const Heard &h : link.b.Log())
            order << (h.kind == Heard::Kind::Data ? QString::fromLatin1(h.bytes) : QString::number(h.value));
        QCOMPARE(order.join(QLatin1Char(' ')), QStringLiteral("x 5 6 y"));
        QVERIFY(link.b.Log()[2].us - link.b.Log()[1].us >= bridge::Bridge::kBreakMs * 900);

        link.b.ClearLog();
        link.bridge.SetLinesPass(false);
        QTRY_COMPARE(Groups(link.b.Controls()), QStringLiteral("DTR on RTS on"));
        link.a.SendLineState(rfc2217::kLineBreak);
        link.a.SendInputs(In("c"));
        link.a.SendData("z");
        QTRY_COMPARE(link.b.Data(), QByteArray("z"));
        QCOMPARE(link.b.Controls().size(), 2);
        QCOMPARE(link.bridge.Own(1).lineCounts.breaks, 2);
    }
};

QTEST_GUILESS_MAIN(TestLines)
#include "tst_lines.moc"

// Connecting and disconnecting channels on real pseudo-terminals, and what
// the user is told when a port fails.

#include "support/TestSupport.h"

#include "ports/OsSeam.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <sys/resource.h>

using namespace platform;
using testing::Pty;
using testing::Rig;
using testing::Settle;

namespace {

const QString kCouldNotOpen = QStringLiteral("The selected serial port could not be opened.");
const QString kSerialError = QStringLiteral("A serial port error occurred.");

double CpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestConnection : public QObject {
    Q_OBJECT
private slots:
    void connectOpensTheSelectedRowsPort()
    {
        Pty a, b;
        Rig rig({a.Info(), b.Info()});
        auto &w = rig.w();
        rig.TickBoth();
        rig.Pick(1, 0);
        rig.Tick(2); // Loopback false: rows 0 and 1

        rig.Connect(1);
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(!w.SerialPortsPopupMenu1().Enabled());
        QCOMPARE(w.PortListUpdater1().Mode(), 0);
        QVERIFY(w.SerialController1().IsOpen());
        QCOMPARE(w.SerialController1().Port()->Path, a.Path());
        QVERIFY(w.SerialController1().RequestToSend() && w.SerialController1().DataTerminalReady());
        QVERIFY(!w.LinkBtn().Visible());
        a.Send("hello");
        QTRY_COMPARE(w.Serialcomms1().Text(), QByteArray("hello"));

        rig.Connect(2);
        QCOMPARE(w.SerialController2().Port()->Path, b.Path());
        QVERIFY(w.LinkBtn().Visible());
        QVERIFY(w.LinkBtn().Enabled());
        QCOMPARE(w.LinkBtn().Caption(), QStringLiteral("Link"));
        QVERIFY(!w.LinkedTxt().Visible());
        QVERIFY(!w.LoopbackTxt().Visible());
        QVERIFY(w.SerialController2().RequestToSend() && w.SerialController2().DataTerminalReady());
        // Modem lines a pty lacks are no error worth a box.
        QCoreApplication::processEvents();
        QCOMPARE(rig.alerts.beeps, 0);

        // Disconnect keeps the text, restarts the refresh and drops the link.
        rig.Connect(1);
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Connect"));
        QVERIFY(w.SerialPortsPopupMenu1().Enabled());
        QCOMPARE(w.PortListUpdater1().Mode(), 2);
        QVERIFY(!w.SerialController1().IsOpen());
        QCOMPARE(w.Serialcomms1().Text(), QByteArray("hello"));
        QVERIFY(!w.LinkBtn().Visible());
        QVERIFY(!w.LinkBtn().Enabled());
        QVERIFY(w.SerialController2().IsOpen()); // the other side is not touched
        // The next connect clears the text before opening.
        rig.Connect(1);
        QVERIFY(w.Serialcomms1().Text().isEmpty());
    }

    void sameRowOnBothSidesSharesThePort()
    {
        Pty a;
        Rig rig({a.Info()});
        auto &w = rig.w();
        rig.TickBoth();
        QVERIFY(w.Loopback());
        rig.Connect(1);
        rig.Connect(2);
        QVERIFY(w.SerialController1().IsOpen());
        QVERIFY(!w.SerialController2().IsOpen());
        QVERIFY(!w.SerialController2().Port()); // never given a port
        QVERIFY(!w.SerialController2().RequestToSend() && !w.SerialController2().DataTerminalReady());
        QCOMPARE(w.ConnectSerial2().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(w.LoopbackTxt().Visible());
        QVERIFY(w.LinkedTxt().Visible());
        QVERIFY(!w.LinkBtn().Visible());
        QVERIFY(w.LinkBtn().Enabled());
        QCOMPARE(w.LinkBtn().Caption(), QStringLiteral("Unlink"));
        QCOMPARE(rig.alerts.beeps, 0);
    }

    void openerLeavingTakesTheSharerAlong()
    {
        Pty a;
        Rig rig({a.Info()});
        auto &w = rig.w();
        rig.ConnectBothShared();
        rig.Connect(1); // the opener disconnects
        for (PushButton *b : {&w.ConnectSerial1(), &w.ConnectSerial2()})
            QCOMPARE(b->Caption(), QStringLiteral("Connect"));
        QVERIFY(w.SerialPortsPopupMenu2().Enabled());
        QCOMPARE(w.PortListUpdater2().Mode(), 2);
        QVERIFY(!w.LinkedTxt().Visible() && !w.LoopbackTxt().Visible() && !w.LinkBtn().Visible());

        // Connecting again opens the port afresh instead of sharing nothing.
        rig.Connect(1);
        QVERIFY(w.SerialController1().IsOpen());
    }

    void sharerLeavingKeepsTheOpener()
    {
        Pty a;
        Rig rig({a.Info()});
        auto &w = rig.w();
        rig.ConnectBothShared();
        rig.Connect(2);
        QCOMPARE(w.ConnectSerial2().Caption(), QStringLiteral("Connect"));
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(w.SerialController1().IsOpen());
        QVERIFY(!w.LinkedTxt().Visible() && !w.LoopbackTxt().Visible());
        a.Send("still here");
        QTRY_COMPARE(w.Serialcomms1().Text(), QByteArray("still here"));
    }

    // The device the row names is the one opened, whatever Loopback last
    // said and whatever row numbers the other (frozen) menu holds.
    void connectOpensTheDeviceTheRowNames_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("other row picked since the last tick") << 0;
        QTest::newRow("same device picked since the last tick") << 1;
        QTest::newRow("rows renumbered under a frozen menu") << 2;
        QTest::newRow("same device under another name") << 3;
    }
    void connectOpensTheDeviceTheRowNames()
    {
        QFETCH(int, kind);
        Pty a, b, c;
        Rig rig({a.Info(), b.Info(), c.Info()});
        auto &w = rig.w();
        rig.TickBoth(); // both menus on c, Loopback true
        const Pty *expected = &a;
        if (kind == 0) {
            rig.Connect(1);      // channel 1 holds c
            rig.Pick(2, 0);      // a, with no tick after it
        } else if (kind == 1) {
            rig.Pick(1, 0);
            rig.Tick(2);         // Loopback false
            rig.Connect(1);      // channel 1 holds a
            rig.Pick(2, 0);      // a too, with no tick after it
            expected = nullptr;  // shares
        } else if (kind == 2) {
            rig.Pick(1, 1);
            rig.Connect(1);      // channel 1 holds b on row 1, frozen
            rig.ports.SetPorts({b.Info(), c.Info()});
            rig.Tick(2);
            rig.Pick(2, 1);      // c, now on row 1 as well
            rig.Tick(2);
            QVERIFY(w.Loopback());
            expected = &c;
        } else {
            rig.ports.SetPorts({a.Info(), a.Info(QStringLiteral("alias"))});
            rig.TickBoth();
            rig.Pick(1, 0);
            rig.Tick(2);         // different rows, one device
            rig.Connect(1);
            expected = nullptr;
        }
        rig.Connect(2);
        QCOMPARE(rig.alerts.beeps, 0);
        QCOMPARE(w.ConnectSerial2().Caption(), QStringLiteral("Disconnect"));
        if (expected) {
            QVERIFY(w.SerialController2().IsOpen());
            QCOMPARE(w.SerialController2().Port()->Path, expected->Path());
            QVERIFY(!w.LoopbackTxt().Visible() && !w.LinkedTxt().Visible());
            QVERIFY(w.LinkBtn().Visible());
        } else {
            QVERIFY(!w.SerialController2().IsOpen());
            QVERIFY(w.LoopbackTxt().Visible() && w.LinkedTxt().Visible());
            QVERIFY(!w.LinkBtn().Visible());
        }
    }

    // A failed open says why and leaves the channel as it was: menu live,
    // refresh running, text area cleared.
    void openFailures_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("kind");
        for (int channel : {1, 2}) {
            const QByteArray c = " (channel " + QByteArray::number(channel) + ")";
            QTest::newRow("missing device" + c) << channel << 0;
            QTest::newRow("no port at all" + c) << channel << 1;
            QTest::newRow("row names a port that has gone" + c) << channel << 2;
        }
    }
    void openFailures()
    {
        QFETCH(int, channel);
        QFETCH(int, kind);
        Pty a;
        Rig rig({a.Info(), {QStringLiteral("ghost"), QStringLiteral("/dev/vardelo-no-such-port")}});
        auto &w = rig.w();
        rig.TickBoth();
        PopupMenu &menu = channel == 1 ? w.SerialPortsPopupMenu1() : w.SerialPortsPopupMenu2();
        if (kind == 0) {
            rig.Pick(channel, 1);
        } else if (kind == 1) {
            rig.ports.SetPorts({});
            menu.DeleteAllRows();
        } else {
            rig.Pick(channel, 1);
            rig.ports.SetPorts({a.Info()});
        }
        TextArea &text = channel == 1 ? w.Serialcomms1() : w.Serialcomms2();
        w.Core().Receive(channel, "old");
        rig.Connect(channel);

        QCOMPARE(rig.alerts.beeps, 1);
        QCOMPARE(rig.alerts.messages.size(), 1);
        QCOMPARE(rig.alerts.messages[0].text, kCouldNotOpen);
        if (kind != 1)
            QVERIFY2(rig.alerts.messages[0].detail.contains(QStringLiteral("not present")),
                     qPrintable(rig.alerts.messages[0].detail));
        QCOMPARE((channel == 1 ? w.ConnectSerial1() : w.ConnectSerial2()).Caption(), QStringLiteral("Connect"));
        QVERIFY(menu.Enabled());
        QCOMPARE((channel == 1 ? w.PortListUpdater1() : w.PortListUpdater2()).Mode(), 2);
        QVERIFY(text.Text().isEmpty());
        QVERIFY(!(channel == 1 ? w.SerialController1() : w.SerialController2()).IsOpen());
        QVERIFY(!w.LinkBtn().Visible());
        if (kind == 1)
            QCOMPARE(menu.ListIndex(), -1);
        QCoreApplication::processEvents(); // nothing queued says more
        QCOMPARE(rig.alerts.messages.size(), 1);
    }

    // A menu with rows but none selected connects on row 0, not on a row
    // it had before.
    void connectWithNoSelectionUsesRowZero_data()
    {
        QTest::addColumn<int>("channel");
        QTest::newRow("channel 1") << 1;
        QTest::newRow("channel 2") << 2;
    }
    void connectWithNoSelectionUsesRowZero()
    {
        QFETCH(int, channel);
        Pty a, b;
        Rig rig({a.Info(), b.Info()});
        auto &w = rig.w();
        rig.TickBoth(); // row 1 selected
        PopupMenu &menu = channel == 1 ? w.SerialPortsPopupMenu1() : w.SerialPortsPopupMenu2();
        menu.SetListIndex(-1);
        rig.Connect(channel);
        QCOMPARE(menu.ListIndex(), 0);
        SerialController &controller = channel == 1 ? w.SerialController1() : w.SerialController2();
        QVERIFY(controller.IsOpen());
        QCOMPARE(controller.Port()->Path, a.Path());
    }

    // A lost device releases its channel as Disconnect would, says which
    // device it was, once, and leaves the other channel working.
    void hangupReleasesTheChannel_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("shared");
        QTest::newRow("channel 1, linked") << 1 << false;
        QTest::newRow("channel 2, linked") << 2 << false;
        QTest::newRow("loopback: the sharer goes too") << 1 << true;
    }
    void hangupReleasesTheChannel()
    {
        QFETCH(int, channel);
        QFETCH(bool, shared);
        Pty a, b;
        Rig rig({a.Info(), b.Info()});
        auto &w = rig.w();
        if (shared)
            rig.ConnectBothShared(); // both on b
        else
            rig.ConnectBothLinked(); // 1 on a, 2 on b
        Pty &lost = shared || channel == 2 ? b : a;
        Pty &kept = &lost == &a ? b : a;
        SerialController &controller = channel == 1 ? w.SerialController1() : w.SerialController2();
        QSignalSpy errors(&controller, &SerialController::Error);

        lost.Send("last words");
        QTRY_COMPARE((channel == 1 ? w.Serialcomms1() : w.Serialcomms2()).Text(), QByteArray("last words"));
        const QString path = lost.Path();
        lost.Hangup();
        // Gone from the system's list too: its number may go to another pty.
        rig.ports.SetPorts(shared ? QList<SerialPortInfo> {a.Info()} : QList<SerialPortInfo> {kept.Info()});
        QTRY_COMPARE(rig.alerts.beeps, 1);
        QTRY_COMPARE(rig.alerts.messages.size(), 1); // the box follows the handler
        QCOMPARE(rig.alerts.messages[0].text, kSerialError);
        QVERIFY2(rig.alerts.messages[0].detail.contains(path), qPrintable(rig.alerts.messages[0].detail));

        const QList<int> released = shared ? QList<int>{1, 2} : QList<int>{channel};
        for (int c : released) {
            QCOMPARE((c == 1 ? w.ConnectSerial1() : w.ConnectSerial2()).Caption(), QStringLiteral("Connect"));
            QVERIFY((c == 1 ? w.SerialPortsPopupMenu1() : w.SerialPortsPopupMenu2()).Enabled());
            QCOMPARE((c == 1 ? w.PortListUpdater1() : w.PortListUpdater2()).Mode(), 2);
        }
        QVERIFY(!w.LinkedTxt().Visible() && !w.LoopbackTxt().Visible() && !w.LinkBtn().Visible());
        QCOMPARE(w.LinkBtn().Caption(), QStringLiteral("Link"));

        // No storm: the process idles, and nothing more is said.
        const double before = CpuSeconds();
        Settle(500);
        QVERIFY2(CpuSeconds() - before < 0.25, "CPU stays busy after a hang-up");
        QCOMPARE(errors.size(), 1);
        QCOMPARE(rig.alerts.messages.size(), 1);
        if (shared)
            return;
        // The other channel is still connected and still shows its bytes.
        const int other = 3 - channel;
        QCOMPARE((other == 1 ? w.ConnectSerial1() : w.ConnectSerial2()).Caption(), QStringLiteral("Disconnect"));
        kept.Send("still here");
        QTRY_COMPARE((other == 1 ? w.Serialcomms1() : w.Serialcomms2()).Text(), QByteArray("still here"));
    }

    // A port locked by another program is refused as in use, naming the
    // process, not as a permission problem; a program that takes no lock
    // but has the device open is told of once, without a box.
    void anotherProgramOnThePortIsNamed()
    {
        Pty a, b;
        QProcess holder; // stands for another copy of this program
        holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted());
        const QString lockName = QStringLiteral("/var/lock/LCK..") + a.Path().mid(5).replace('/', '_');
        QFile lock(lockName);
        if (!lock.open(QIODevice::WriteOnly))
            QSKIP("no lock folder to write to");
        lock.write(QByteArray::number(holder.processId()) + "\nsleep\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        lock.close();
        QProcess reader; // takes no lock
        reader.setStandardOutputFile(QProcess::nullDevice());
        reader.start(QStringLiteral("cat"), {b.Path()});
        QVERIFY(reader.waitForStarted());

        Rig rig({a.Info(), b.Info()});
        rig.TickBoth();
        rig.Pick(1, 0);
        rig.Connect(1);
        QFile::remove(lockName);
        QCOMPARE(rig.alerts.messages.size(), 1);
        const QString why = rig.alerts.messages[0].detail;
        QVERIFY2(why.contains(QStringLiteral("in use by another program (process %1, sleep)").arg(holder.processId())),
                 qPrintable(why));
        QVERIFY(!why.contains(QStringLiteral("dialout")));

        rig.Pick(2, 1);
        QTRY_VERIFY(!os::OtherOpeners(b.Path()).isEmpty()); // cat has opened it
        rig.Connect(2);
        QCOMPARE(rig.w().ConnectSerial2().Caption(), QStringLiteral("Disconnect"));
        QCOMPARE(rig.alerts.messages.size(), 1);
        QCOMPARE(rig.alerts.notices.size(), 1);
        QVERIFY2(rig.alerts.notices[0].detail.contains(QString::number(reader.processId())),
                 qPrintable(rig.alerts.notices[0].detail));
        holder.kill();
        reader.kill();
        holder.waitForFinished();
        reader.waitForFinished();
    }

    // socat, making a virtual port, holds both ends of its pseudo-terminal:
    // it is the device, not a second reader, and is not reported as one.
    void theVirtualPortsOwnMakerIsNotASecondReader()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
            QSKIP("socat is not installed");
        QTemporaryDir dir;
        const QString v0 = dir.filePath(QStringLiteral("v0")), v1 = dir.filePath(QStringLiteral("v1"));
        QProcess socat;
        socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + v0,
                                              QStringLiteral("pty,raw,echo=0,link=") + v1});
        QTRY_VERIFY(QFileInfo::exists(v0) && QFileInfo::exists(v1));
        Rig rig({{QStringLiteral("v0"), v0}});
        rig.TickBoth();
        rig.Connect(1);
        QCOMPARE(rig.w().ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QCOMPARE(rig.alerts.notices.size(), 0);
        socat.kill();
        socat.waitForFinished();
    }

    void errorAfterDisconnectInTheSamePassSaysNothing()
    {
        Pty a;
        Rig rig({a.Info()});
        rig.TickBoth();
        rig.Connect(1);
        a.Hangup();
        // One loop pass notices the hang-up; the press comes before the
        // error is handled.
        QCoreApplication::processEvents();
        rig.Connect(1);
        QCoreApplication::processEvents(); // the queued error, if any
        QCoreApplication::processEvents();
        QCOMPARE(rig.alerts.beeps, 0);
        QCOMPARE(rig.alerts.messages.size(), 0);
        QCOMPARE(rig.w().ConnectSerial1().Caption(), QStringLiteral("Connect"));
    }

    void closingAClosedControllerRaisesNothing()
    {
        Rig rig;
        QSignalSpy errors(&rig.w().SerialController1(), &SerialController::Error);
        rig.w().SerialController1().Close();
        rig.w().SerialController1().Write("nowhere");
        QCoreApplication::processEvents();
        QCOMPARE(errors.size(), 0);
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"

// Connecting and disconnecting channels on real pseudo-terminals, and what
// the user is told when a port fails.

#include "support/TestSupport.h"

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
        // Modem lines a pty lacks are no error worth a box.
        Settle(100);
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

    void openFailures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("missing device") << 0;
        QTest::newRow("held by the other channel") << 1;
        QTest::newRow("no port at all") << 2;
        QTest::newRow("row names a port that has gone") << 3;
    }
    void openFailures()
    {
        QFETCH(int, kind);
        Pty a;
        Rig rig({a.Info(), {QStringLiteral("ghost"), QStringLiteral("/dev/vardelo-no-such-port")}});
        auto &w = rig.w();
        rig.TickBoth();
        w.PortListUpdater1().SetMode(0); // no ticks behind the test's back
        w.PortListUpdater2().SetMode(0);
        int channel = 1;
        if (kind == 0) {
            rig.Pick(1, 1);
        } else if (kind == 1) {
            // The same device under a second name: a different row, so no
            // sharing, but channel 1 already holds it.
            rig.ports.SetPorts({a.Info(), a.Info(QStringLiteral("alias"))});
            rig.Pick(1, 0);
            rig.Pick(2, 1);
            rig.Tick(2);
            QVERIFY(!w.Loopback());
            rig.Connect(1);
            QVERIFY(w.SerialController1().IsOpen());
            channel = 2;
        } else if (kind == 2) {
            rig.ports.SetPorts({});
            w.SerialPortsPopupMenu1().DeleteAllRows();
        } else {
            rig.Pick(1, 1);
            rig.ports.SetPorts({a.Info()});
        }
        PushButton &button = channel == 1 ? w.ConnectSerial1() : w.ConnectSerial2();
        PopupMenu &menu = channel == 1 ? w.SerialPortsPopupMenu1() : w.SerialPortsPopupMenu2();
        TextArea &text = channel == 1 ? w.Serialcomms1() : w.Serialcomms2();
        SerialController &controller = channel == 1 ? w.SerialController1() : w.SerialController2();
        text.SetText("old");
        rig.Connect(channel);

        QCOMPARE(rig.alerts.beeps, 1);
        QCOMPARE(rig.alerts.messages.size(), 1);
        QCOMPARE(rig.alerts.messages[0].text, kCouldNotOpen);
        QVERIFY(!rig.alerts.messages[0].detail.isEmpty()); // says why
        QCOMPARE(button.Caption(), QStringLiteral("Connect"));
        QVERIFY(menu.Enabled());
        QVERIFY(text.Text().isEmpty());
        QVERIFY(!controller.IsOpen());
        QVERIFY(!w.LinkBtn().Visible());
        if (kind == 2) {
            QCOMPARE(w.SerialPortsPopupMenu1().ListIndex(), -1);
            QVERIFY(!w.ConnectSerial1().Enabled());
        }
        Settle(50);
        QCOMPARE(rig.alerts.messages.size(), 1);
    }

    void hangupIsReportedOnceAndGoesQuiet()
    {
        Pty a, b;
        Rig rig({a.Info(), b.Info()});
        auto &w = rig.w();
        rig.ConnectBothLinked();
        QSignalSpy errors(&w.SerialController1(), &SerialController::Error);

        a.Send("last words");
        QTRY_COMPARE(w.Serialcomms1().Text(), QByteArray("last words"));
        a.Hangup();
        QTRY_COMPARE(rig.alerts.beeps, 1);
        QCOMPARE(rig.alerts.messages.size(), 1);
        QCOMPARE(rig.alerts.messages[0].text, kSerialError);
        QVERIFY(!w.SerialController1().IsOpen());

        // No storm: the process idles while the other side goes on.
        const double before = CpuSeconds();
        Settle(500);
        QVERIFY2(CpuSeconds() - before < 0.25, "CPU stays busy after a hang-up");
        QCOMPARE(errors.size(), 1);
        QCOMPARE(rig.alerts.messages.size(), 1);
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        b.Send("ch2");
        QTRY_COMPARE(w.Serialcomms2().Text(), QByteArray("ch2"));

        rig.Connect(1);
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Connect"));
        QCOMPARE(rig.alerts.messages.size(), 1);
        QVERIFY(w.SerialController2().IsOpen()); // not a sharer: left alone
    }

    void closingAClosedControllerRaisesNothing()
    {
        Rig rig;
        QSignalSpy errors(&rig.w().SerialController1(), &SerialController::Error);
        rig.w().SerialController1().Close();
        rig.w().SerialController1().Write("nowhere");
        Settle(20);
        QCOMPARE(errors.size(), 0);
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"

// Bytes moving between two real pseudo-terminals through the window, and
// the link states that choose their route.

#include "support/TestSupport.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace platform;
using testing::Pty;
using testing::RandomBytes;
using testing::Rig;

namespace {

QByteArray AllByteValues()
{
    QByteArray b;
    for (int i = 0; i < 256; ++i)
        b.append(char(i));
    return b;
}

// Two ptys on two channels, both connected.
struct Pair {
    Pty a, b;
    Rig rig{{a.Info(), b.Info()}};
    ui::MainWindow &w = rig.w();

    Pair() { rig.ConnectBoth(); }
    void Link() { rig.Press(w.LinkBtn()); }
};

// The link display never shows a state outside the four.
void CheckInvariants(ui::MainWindow &w)
{
    const bool linked = w.LinkedTxt().Visible();
    QCOMPARE(w.LinkBtn().Caption() == QStringLiteral("Unlink"), linked);
    if (w.LoopbackTxt().Visible()) {
        QVERIFY(linked);
        QVERIFY(!w.LinkBtn().Visible());
    }
    const bool pressable = w.LinkBtn().Visible() && w.LinkBtn().Enabled();
    const bool bothConnected = w.ConnectSerial1().Caption() == QStringLiteral("Disconnect") &&
                               w.ConnectSerial2().Caption() == QStringLiteral("Disconnect");
    if (pressable)
        QVERIFY(bothConnected && !w.LoopbackTxt().Visible());
}

} // namespace

class TestRelay : public QObject {
    Q_OBJECT
private slots:
    void notLinkedWritesNothing()
    {
        Pair p;
        CheckInvariants(p.w); // ready to link
        p.a.Send("to a");
        p.b.Send("to b");
        QTRY_COMPARE(p.w.Serialcomms1().Text(), QByteArray("to a"));
        QTRY_COMPARE(p.w.Serialcomms2().Text(), QByteArray("to b"));
        // A write would have happened in the arrival's handler, already run.
        QVERIFY(p.a.Drain().isEmpty());
        QVERIFY(p.b.Drain().isEmpty());

        // Not ready: one channel only.
        p.rig.Connect(2);
        CheckInvariants(p.w);
        p.a.Send("alone");
        QTRY_COMPARE(p.w.Serialcomms1().Text(), QByteArray("to aalone"));
        QVERIFY(p.a.Drain().isEmpty());
        QVERIFY(p.b.Drain().isEmpty());
    }

    void linkedForwardsBothWays()
    {
        Pair p;
        p.Link();
        CheckInvariants(p.w);
        QCOMPARE(p.w.LinkBtn().Caption(), QStringLiteral("Unlink"));
        p.b.Send("from two");
        QCOMPARE(p.a.Receive(8), QByteArray("from two"));
        QTRY_COMPARE(p.w.Serialcomms2().Text(), QByteArray("from two"));
        QVERIFY(p.w.Serialcomms1().Text().isEmpty());
        p.a.Send("from one");
        QCOMPARE(p.b.Receive(8), QByteArray("from one"));
        QTRY_COMPARE(p.w.Serialcomms1().Text(), QByteArray("from one"));
        QTRY_COMPARE(p.w.Serialcomms2().Text(), QByteArray("from two"));
    }

    void everyByteValueAndAMebibyteEachWay()
    {
        Pair p;
        p.Link();
        const QByteArray values = AllByteValues();
        p.a.Send(values);
        QCOMPARE(p.b.Receive(256), values);
        p.b.Send(values);
        QCOMPARE(p.a.Receive(256), values);

        const QByteArray toB = RandomBytes(1 << 20, 1);
        const QByteArray toA = RandomBytes(1 << 20, 2);
        QByteArray gotA, gotB;
        qsizetype sentA = 0, sentB = 0;
        QDeadlineTimer deadline(60000);
        while ((gotA.size() < toA.size() || gotB.size() < toB.size()) && !deadline.hasExpired()) {
            // Both directions at once, never blocking on a full pty.
            if (sentA < toB.size()) {
                const ssize_t n = ::write(p.a.Master(), toB.constData() + sentA, size_t(std::min<qsizetype>(4096, toB.size() - sentA)));
                if (n > 0)
                    sentA += n;
            }
            if (sentB < toA.size()) {
                const ssize_t n = ::write(p.b.Master(), toA.constData() + sentB, size_t(std::min<qsizetype>(4096, toA.size() - sentB)));
                if (n > 0)
                    sentB += n;
            }
            gotA += p.a.Drain();
            gotB += p.b.Drain();
            QCoreApplication::processEvents();
        }
        QCOMPARE(gotB.size(), toB.size());
        QCOMPARE(gotA.size(), toA.size());
        QVERIFY(gotB == toB);
        QVERIFY(gotA == toA);
        // Each text area holds exactly what arrived on its own port.
        QTRY_VERIFY(p.w.Serialcomms1().Text() == values + toB);
        QTRY_VERIFY(p.w.Serialcomms2().Text() == values + toA);
    }

    void loopbackEchoesToTheSamePort()
    {
        Pty a;
        Rig rig({a.Info()});
        auto &w = rig.w();
        rig.ConnectBothShared();
        CheckInvariants(w);
        QVERIFY(w.LoopbackTxt().Visible());
        const QByteArray values = AllByteValues();
        a.Send(values);
        QCOMPARE(a.Receive(256), values);
        QTRY_COMPARE(w.Serialcomms1().Text(), values);
        QTRY_COMPARE(w.Serialcomms2().Text(), values);
    }

    void linkUnlinkLinkSwitchesTheRouteAtTheNextArrival()
    {
        Pair p;
        p.Link();
        p.a.Send("1");
        QCOMPARE(p.b.Receive(1), QByteArray("1"));
        p.rig.Press(p.w.LinkBtn()); // Unlink
        CheckInvariants(p.w);
        QCOMPARE(p.w.LinkBtn().Caption(), QStringLiteral("Link"));
        QVERIFY(!p.w.LinkedTxt().Visible());
        p.a.Send("2");
        QTRY_COMPARE(p.w.Serialcomms1().Text(), QByteArray("12"));
        QVERIFY(p.b.Drain().isEmpty());
        p.rig.Press(p.w.LinkBtn()); // Link again
        CheckInvariants(p.w);
        p.a.Send("3");
        QCOMPARE(p.b.Receive(1), QByteArray("3"));

        // A disconnect while linked ends the link; reconnecting offers it afresh, off.
        p.rig.Connect(1);
        CheckInvariants(p.w);
        QVERIFY(!p.w.LinkBtn().Visible() && !p.w.LinkBtn().Enabled());
        QCOMPARE(p.w.LinkBtn().Caption(), QStringLiteral("Link"));
        p.b.Send("x");
        QTRY_COMPARE(p.w.Serialcomms2().Text(), QByteArray("x"));
        p.rig.Connect(1);
        CheckInvariants(p.w);
        QVERIFY(p.w.LinkBtn().Visible());
        QCOMPARE(p.w.LinkBtn().Caption(), QStringLiteral("Link"));
        p.b.Send("y");
        QTRY_COMPARE(p.w.Serialcomms2().Text(), QByteArray("xy"));
        QVERIFY(p.a.Drain().isEmpty());
    }

    void emptyArrivalChangesNothing()
    {
        Pair p;
        p.Link();
        p.a.Send("abc");
        QCOMPARE(p.b.Receive(3), QByteArray("abc"));
        QTRY_COMPARE(p.w.Serialcomms1().Text(), QByteArray("abc"));
        auto &c = p.w.SerialController1();
        emit c.DataAvailable(&c);
        QCOMPARE(p.w.Serialcomms1().Text(), QByteArray("abc"));
        QVERIFY(p.w.Serialcomms2().Text().isEmpty());
        QVERIFY(p.b.Drain().isEmpty());
        QVERIFY(p.w.Serialcomms1().AtBottom());
    }
};

QTEST_MAIN(TestRelay)
#include "tst_relay.moc"

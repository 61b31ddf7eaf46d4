// A channel whose device is unplugged waits for the same device and
// carries on by itself when it is plugged in again: unplugging closes a
// pty and drops it from the list, replugging makes a new pty under the
// same name and identity.

#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QtTest>

using namespace platform;
using testing::Pty;
using testing::Rig;

namespace {

const QString kSerialError = QStringLiteral("A serial port error occurred.");

SerialPortInfo Device(const QString &name, const Pty &pty, const QString &serial)
{
    return {name, pty.Path(), DeviceIdentity(0x0403, 0x6001, serial, QStringLiteral("1-1"))};
}

class OneFile : public FileChooser {
public:
    QString SaveFileName(QWidget *, const QString &, Existing) override { return path; }
    QString path;
};

struct ResumeRig {
    QTemporaryDir dir;
    OneFile files;
    Rig rig;
    explicit ResumeRig(QList<SerialPortInfo> ports, DeviceWatch *watch = nullptr)
    {
        files.path = dir.filePath(QStringLiteral("record.txt"));
        rig.ports.SetPorts(std::move(ports));
        ui::MainWindow::Services services {&rig.ports, &rig.alerts, &files};
        services.watch = watch;
        rig.window = std::make_unique<ui::MainWindow>(services);
        rig.w().StartRecording();
    }
    ui::MainWindow &w() { return rig.w(); }
    QString Record()
    {
        QFile f(files.path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // Pulls the plug: the device goes, and the list no longer has it.
    void Unplug(Pty &pty, QList<SerialPortInfo> left, std::initializer_list<int> channels)
    {
        pty.Hangup();
        for (int c : channels)
            QTRY_COMPARE((c == 1 ? w().ConnectSerial1() : w().ConnectSerial2()).Caption(), QStringLiteral("Connect"));
        rig.ports.SetPorts(std::move(left));
        rig.TickBoth();
    }
};

} // namespace

class TestResume : public QObject {
    Q_OBJECT
private slots:
    // Linked, channel 1 unplugged and plugged in again: within a tick it
    // is open and linked again, both ways, with no click, and what the
    // device says at once is relayed too; the loss message goes by itself,
    // and the record tells of the loss and the resume.
    void linkedChannelResumesByItself()
    {
        Pty a, b;
        ResumeRig t({Device("devA", a, "A1"), b.Info()});
        auto &w = t.w();
        t.rig.ConnectBothLinked();
        t.Unplug(a, {b.Info()}, {1});
        QCOMPARE(w.LineTxt1().text(), QStringLiteral("waiting for devA"));
        QVERIFY(w.LineTxt1().accessibleName().contains(QStringLiteral("waiting for devA")));

        Pty again;
        again.Send("there again");
        t.rig.ports.SetPorts({Device("devA", again, "A1"), b.Info()});
        t.rig.Tick(1);
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(w.LinkedTxt().Visible());
        QCOMPARE(w.LineTxt1().text(), QStringLiteral("9600 8N1"));
        QCOMPARE(b.Receive(11), QByteArray("there again"));
        b.Send("welcome");
        QCOMPARE(again.Receive(7), QByteArray("welcome"));
        QCOMPARE(t.rig.alerts.dismissed.size(), 1);
        QCOMPARE(t.rig.alerts.dismissed[0].text, kSerialError);
        QVERIFY(t.rig.alerts.dismissed[0].detail.contains(a.Path()));
        const QString record = t.Record();
        for (const QString &line : {QStringLiteral("-- 1 lost"), QStringLiteral("-- 1 waiting for ") + a.Path(),
                                    QStringLiteral("-- 1 resumed on ") + again.Path()})
            QVERIFY2(record.contains(line), qPrintable(record));
        QVERIFY(record.lastIndexOf(QStringLiteral("-- linked")) > record.indexOf(QStringLiteral("resumed")));
    }

    // A loopback pair comes back as a loopback pair, with its line settings.
    void loopbackResumesAsLoopback()
    {
        Pty a;
        ResumeRig t({Device("devA", a, "A1")});
        auto &w = t.w();
        t.rig.ConnectBothShared();
        QVERIFY(w.LoopbackTxt().Visible());
        t.Unplug(a, {}, {1, 2});
        QCOMPARE(w.LineTxt2().text(), QStringLiteral("waiting for devA"));
        Pty again;
        t.rig.ports.SetPorts({Device("devA", again, "A1")});
        t.rig.TickBoth();
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QCOMPARE(w.ConnectSerial2().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(w.LoopbackTxt().Visible());
        again.Send("echo");
        QCOMPARE(again.Receive(4), QByteArray("echo"));
        QVERIFY2(t.Record().contains(QStringLiteral("-- 2 resumed, sharing ") + again.Path()), qPrintable(t.Record()));
    }

    // Another device under the lost one's name and path is not taken for
    // it; the same one is. Once the user picks a row, the channel no longer
    // waits at all.
    void onlyTheSameDeviceIsTakenAndTheUserDecides()
    {
        Pty a, b;
        ResumeRig t({Device("devA", a, "A1"), b.Info()});
        auto &w = t.w();
        t.rig.TickBoth();
        t.rig.Pick(1, 0);
        t.rig.Connect(1);
        t.Unplug(a, {b.Info()}, {1});
        Pty again;
        t.rig.ports.SetPorts({Device("devA", again, "Z9"), b.Info()});
        t.rig.TickBoth();
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Connect"));
        QCOMPARE(w.LineTxt1().text(), QStringLiteral("waiting for devA"));
        t.rig.ports.SetPorts({Device("devA", again, "A1"), b.Info()});
        t.rig.TickBoth();
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));

        t.Unplug(again, {b.Info(), b.Info(QStringLiteral("b-too"))}, {1});
        QCOMPARE(w.LineTxt1().text(), QStringLiteral("waiting for devA"));
        t.rig.Pick(1, 1 - w.SerialPortsPopupMenu1().ListIndex()); // the user's pick
        QCOMPARE(w.LineTxt1().text(), QStringLiteral("9600 8N1"));
        Pty third;
        t.rig.ports.SetPorts({Device("devA", third, "A1"), b.Info()});
        t.rig.TickBoth();
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Connect"));
    }

    // Both unplugged at once (a hub): each comes back on its own, and the
    // link only once both are open again.
    void bothLostTheLinkWaitsForBoth()
    {
        Pty a, b;
        ResumeRig t({Device("devA", a, "A1"), Device("devB", b, "B1")});
        auto &w = t.w();
        t.rig.ConnectBothLinked();
        a.Hangup();
        t.Unplug(b, {}, {1, 2});
        Pty a2;
        t.rig.ports.SetPorts({Device("devA", a2, "A1")});
        t.rig.TickBoth();
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QCOMPARE(w.ConnectSerial2().Caption(), QStringLiteral("Connect"));
        QVERIFY(!w.LinkedTxt().Visible());
        // Only channel 1's message goes: channel 2's device is still away.
        QCOMPARE(t.rig.alerts.dismissed.size(), 1);
        QVERIFY(t.rig.alerts.dismissed[0].detail.contains(a.Path()));
        Pty b2;
        t.rig.ports.SetPorts({Device("devA", a2, "A1"), Device("devB", b2, "B1")});
        t.rig.TickBoth();
        QCOMPARE(w.ConnectSerial2().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(w.LinkedTxt().Visible());
        a2.Send("both");
        QCOMPARE(b2.Receive(4), QByteArray("both"));
    }

    // Linked, a stream both ways; one side unplugged and back 50 ms later,
    // announced by the system: the link is back at once, with no tick, and
    // what the other side sent meanwhile is counted, shown and recorded.
    void announcedReplugResumesAtOnceAndCountsTheGap()
    {
        constexpr int kChunk = 1000;
        Pty a, b;
        DeviceWatch watch;
        ResumeRig t({Device("devA", a, "A1"), Device("devB", b, "B1")}, &watch);
        auto &w = t.w();
        t.rig.ConnectBothLinked();
        for (Timer *timer : {&w.PortListUpdater1(), &w.PortListUpdater2()})
            timer->SetPeriod(1 << 30); // only the announcement can bring it back
        qint64 fromB = 0;
        const auto sendFromB = [&](int chunks, int gapMs) {
            for (int i = 0; i < chunks; ++i) {
                b.Send(QByteArray(kChunk, char('a' + i % 26)));
                fromB += kChunk;
                QTest::qWait(gapMs);
            }
            QTRY_COMPARE(w.Serialcomms2().Size(), fromB); // all read, before anything changes
        };
        sendFromB(20, 1);
        a.Send("from a");
        QCOMPARE(b.Receive(6), QByteArray("from a"));
        qint64 reached = a.Receive(fromB).size();
        QCOMPARE(reached, fromB);

        t.Unplug(a, {Device("devB", b, "B1")}, {1});
        sendFromB(25, 2); // the 50 ms the device is away
        const qint64 gap = fromB - reached;
        QVERIFY2(w.LineTxt1().text().remove(QRegularExpression(QStringLiteral("[^0-9]"))) == QString::number(gap),
                 qPrintable(w.LineTxt1().text()));

        Pty again;
        t.rig.ports.SetPorts({Device("devA", again, "A1"), Device("devB", b, "B1")});
        QElapsedTimer replug;
        replug.start();
        watch.Announce();
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(w.LinkedTxt().Visible());
        b.Send("first");
        QCOMPARE(again.Receive(5), QByteArray("first"));
        qInfo("replug to first relayed byte: %lld ms", (long long)replug.elapsed());
        fromB += 5;
        reached += 5;
        sendFromB(20, 1);
        reached += again.Receive(20 * kChunk).size();
        again.Send("from a again");
        QCOMPARE(b.Receive(12), QByteArray("from a again"));

        QCOMPARE(reached + gap, fromB);
        const QString told = QStringLiteral("-- %1 bytes from %2 not delivered to %3 while it was away")
                                 .arg(gap).arg(b.Path(), a.Path());
        QVERIFY2(t.Record().contains(told), qPrintable(t.Record().right(600)));
    }

    // A device that fails right after each of three resumes, before saying
    // anything, is let go with one message; the losses in between say
    // nothing. One that talks between its losses is a device being
    // replugged, and is waited for again each time.
    void givesUpOnADeviceThatFailsAfterEachResume_data()
    {
        QTest::addColumn<bool>("talks");
        QTest::newRow("silent") << false;
        QTest::newRow("talks") << true;
    }
    void givesUpOnADeviceThatFailsAfterEachResume()
    {
        QFETCH(bool, talks);
        std::unique_ptr<Pty> a = std::make_unique<Pty>();
        ResumeRig t({Device("devA", *a, "A1")});
        auto &w = t.w();
        t.rig.TickBoth();
        t.rig.Connect(1);
        for (int resume = 0; resume < ui::MainWindow::kQuickLossesToGiveUp; ++resume) {
            t.Unplug(*a, {}, {1});
            a = std::make_unique<Pty>();
            t.rig.ports.SetPorts({Device("devA", *a, "A1")});
            t.rig.TickBoth();
            QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
            if (talks) {
                a->Send("hi");
                QTRY_VERIFY(w.Serialcomms1().Text().endsWith("hi"));
            }
        }
        t.Unplug(*a, {}, {1});
        testing::Settle();
        if (talks) {
            QCOMPARE(w.LineTxt1().text(), QStringLiteral("waiting for devA"));
            return;
        }
        QCOMPARE(w.LineTxt1().text(), QStringLiteral("9600 8N1"));
        QStringList said;
        for (const testing::RecordedMessage &m : t.rig.alerts.messages)
            said.append(m.text);
        // The first loss's box, unless the device was back before its turn.
        QVERIFY2(said.count(kSerialError) <= 1, qPrintable(said.join('\n')));
        said.removeAll(kSerialError);
        QCOMPARE(said, QStringList {QStringLiteral("devA keeps failing right after it opens; it is no longer waited for.")});
        QVERIFY(t.Record().contains(QStringLiteral("-- 1 no longer waits for")));
        Pty back;
        t.rig.ports.SetPorts({Device("devA", back, "A1")});
        t.rig.TickBoth();
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Connect"));
    }
};

QTEST_MAIN(TestResume)
#include "tst_resume.moc"

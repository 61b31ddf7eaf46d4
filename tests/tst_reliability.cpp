// What long runs and real hardware do to the window: many reconnects, a
// port list in constant change, odd port names, errors escaping handlers,
// and a destination that stops reading.

#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

using namespace platform;
using testing::Pty;
using testing::Rig;
using testing::Rows;
using testing::Settle;

namespace {

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

// Lock files for one device (other tests may run beside this one).
QStringList LockFiles(const QString &devicePath)
{
    const QString pattern = QStringLiteral("LCK..") + devicePath.mid(5).replace(QLatin1Char('/'), QLatin1Char('_')) + '*';
    QStringList all;
    for (const char *dir : {"/var/lock", "/run/lock", "/tmp"})
        for (const QString &f : QDir(QString::fromLatin1(dir)).entryList({pattern}, QDir::Files))
            all.append(QString::fromLatin1(dir) + '/' + f);
    return all;
}

} // namespace

class TestReliability : public QObject {
    Q_OBJECT
private slots:
    void thousandReconnectsLeakNothing()
    {
        Pty a;
        Rig rig({a.Info()});
        rig.TickBoth();
        rig.Connect(1); // warm up anything Qt opens once
        rig.Connect(1);
        const int fds = OpenDescriptors();
        const QStringList locks = LockFiles(a.Path());
        rig.Connect(1);
        const QStringList held = LockFiles(a.Path());
        rig.Connect(1);
        for (int i = 0; i < 1000; ++i) {
            rig.Connect(1);
            QVERIFY(rig.w().SerialController1().IsOpen());
            rig.Connect(1);
        }
        QCOMPARE(OpenDescriptors(), fds);
        QCOMPARE(LockFiles(a.Path()), locks);
        QVERIFY(held.size() > locks.size() || !QDir(QStringLiteral("/var/lock")).exists());
        QCOMPARE(rig.alerts.beeps, 0);
        rig.Connect(1);
        a.Send("alive");
        QTRY_COMPARE(rig.w().Serialcomms1().Text(), QByteArray("alive"));
    }

    void portListChurn()
    {
        Pty a;
        Rig rig({a.Info()});
        auto &w = rig.w();
        rig.TickBoth();
        rig.Connect(1);
        const QStringList frozen = Rows(w.SerialPortsPopupMenu1());
        QRandomGenerator gen(3);
        QStringList expected = Rows(w.SerialPortsPopupMenu2());
        QElapsedTimer clock;
        clock.start();
        int rebuilds = 0;
        while (clock.elapsed() < 10000) {
            QList<SerialPortInfo> list;
            const int n = int(gen.bounded(7));
            for (int i = 0; i < n; ++i) {
                const QString name = QStringLiteral("tty%1").arg(gen.bounded(20));
                list.append({name, QStringLiteral("/dev/") + name});
            }
            rig.ports.SetPorts(list);
            if (list.size() != w.SerialPortsPopupMenu2().ListCount()) {
                expected.clear();
                for (const SerialPortInfo &p : list)
                    expected.append(p.Name);
                ++rebuilds;
            }
            rig.Tick(2);
            QCOMPARE(Rows(w.SerialPortsPopupMenu2()), expected);
            QCOMPARE(Rows(w.SerialPortsPopupMenu1()), frozen);
            QCOMPARE(w.ConnectSerial2().Enabled(), w.SerialPortsPopupMenu2().ListIndex() != -1);
            QTest::qWait(10);
        }
        QVERIFY(rebuilds > 100);
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(w.SerialController1().IsOpen());
    }

    void oddPortNamesShowAndOpen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << QStringLiteral("USB Serial Port (COM3)");
        QTest::newRow("non-ASCII") << QStringLiteral("Gerät-Ü-端口-π");
        QTest::newRow("200 characters") << QString(200, QLatin1Char('p'));
    }
    void oddPortNamesShowAndOpen()
    {
        QFETCH(QString, name);
        Pty a;
        QTemporaryDir dir;
        const QString link = dir.filePath(name);
        QVERIFY(QFile::link(a.Path(), link));
        const QList<SerialPortInfo> found = ScanPtyLinks(dir.path());
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].Name, name);

        Rig rig(found);
        rig.TickBoth();
        QCOMPARE(rig.w().SerialPortsPopupMenu1().RowText(0), name);
        rig.Connect(1);
        QCOMPARE(rig.alerts.beeps, 0);
        QVERIFY(rig.w().SerialController1().IsOpen());
        a.Send("named");
        QTRY_COMPARE(rig.w().Serialcomms1().Text(), QByteArray("named"));
    }

    void errorInAHandlerEndsTheProgramInOrder()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/unhandled_error"));
        QVERIFY(child.waitForFinished(20000));
        const QByteArray out = child.readAllStandardOutput();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit); // not a crash
        QCOMPARE(child.exitCode(), 70);
        QVERIFY2(out.contains("message: An unexpected error occurred"), out.constData());
        QVERIFY2(out.contains("the port list could not be read"), out.constData());
        QCOMPARE(out.count("message:"), 1);
    }

    void stalledDestination()
    {
        // Channel 2's device never reads: what piles up while 64 MiB arrive
        // on channel 1, and does the window keep working meanwhile?
        Pty a, b;
        Rig rig({a.Info(), b.Info()});
        auto &w = rig.w();
        rig.ConnectBothLinked();
        constexpr qsizetype kTotal = 64 << 20;
        const QByteArray block(1 << 20, 'z');
        for (int i = 0; i < kTotal / block.size(); ++i)
            a.Send(block, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(w.Serialcomms1().Size(), kTotal, 30000);
        const qint64 queued = w.SerialController2().BytesToWrite();
        qInfo("stalled destination: %lld bytes queued for it after %lld arrived (%.1f%%)", (long long)queued,
              (long long)kTotal, 100.0 * double(queued) / double(kTotal));
        QVERIFY(queued <= kTotal);
        // Still answering: Unlink works and the source side still shows new bytes.
        rig.Press(w.LinkBtn());
        QVERIFY(!w.LinkedTxt().Visible());
        a.Send("tail");
        QTRY_COMPARE(w.Serialcomms1().Size(), kTotal + 4);
        QCOMPARE(rig.alerts.beeps, 0);
    }
};

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"

// What long runs and real hardware do to the window: many reconnects, a
// port list in constant change, odd port names, errors escaping handlers,
// and a destination that stops reading.

#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

using namespace platform;
using testing::Pty;
using testing::RandomBytes;
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

// Serial lock files that name a process as their holder.
QStringList LocksHeldBy(qint64 pid)
{
    QStringList held;
    for (const char *dir : {"/var/lock", "/run/lock"}) {
        const QDir d(QString::fromLatin1(dir));
        for (const QString &f : d.entryList({QStringLiteral("LCK..*")}, QDir::Files)) {
            QFile lock(d.filePath(f));
            if (lock.open(QIODevice::ReadOnly) && lock.readLine().trimmed().toLongLong() == pid)
                held.append(d.canonicalPath() + '/' + f);
        }
    }
    held.removeDuplicates(); // /var/lock is often a link to /run/lock
    return held;
}

// One of the helper programs beside the tests, started as a user would.
void StartHelper(QProcess &child, const char *name, const QString &record = {}, bool stall = false)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!record.isEmpty())
        env.insert(QStringLiteral("VARDELO_RECORD"), record);
    if (stall)
        env.insert(QStringLiteral("VARDELO_STALL"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationDirPath() + '/' + QLatin1String(name));
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
            QStringList names;
            for (const SerialPortInfo &p : list)
                names.append(p.Name);
            if (names != expected) {
                expected = names;
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
        const QList<SerialPortInfo> found = os::ScanVirtualPorts(dir.path());
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

    // Errors keep coming while the first one's box is open (every tick
    // fails): one box, and the program ends with 70 only once it is closed.
    void errorInAHandlerEndsTheProgramInOrder()
    {
        QProcess child;
        StartHelper(child, "unhandled_error");
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).contains("message:"), 20000);
        QTest::qWait(1200); // two more ticks, two more errors, inside the box
        QCOMPARE(child.state(), QProcess::Running);
        QVERIFY2(child.readAllStandardError().count("unhandled error") >= 2, "later errors are not recorded");
        child.write("close\n");
        QVERIFY(child.waitForFinished(20000));
        out += child.readAllStandardOutput();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit); // not a crash
        QCOMPARE(child.exitCode(), 70);
        QVERIFY2(out.contains("message: An unexpected error occurred"), out.constData());
        QVERIFY2(out.contains("the port list could not be read"), out.constData());
        QCOMPARE(out.count("message:"), 1);
    }

    void signalsCloseThePortsAndExitCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalsCloseThePortsAndExitCleanly()
    {
        QFETCH(int, signal);
        QProcess child;
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("record.txt"));
        StartHelper(child, "signal_exit", record);
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).contains("ready:"), 20000);
        QVERIFY2(out.contains("ready: 1 1"), out.constData());
        // Other tests open and close ptys meanwhile, so the child's locks are
        // known by the process they name, not by the device.
        const qint64 pid = child.processId();
        QVERIFY(LocksHeldBy(pid).size() == 2 || !QDir(QStringLiteral("/var/lock")).exists());

        QTest::qWait(300); // lines arrive every 20 ms meanwhile
        ::kill(pid_t(pid), signal);
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(LocksHeldBy(pid), QStringList());
        // The record ends in order: every line that arrived, then the
        // channels' disconnects, then "recording stopped".
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() > 8, qPrintable(lines.join('\n')));
        QVERIFY2(lines.last().endsWith(QStringLiteral("-- recording stopped")), qPrintable(lines.last()));
        QVERIFY(lines[lines.size() - 3].endsWith(QStringLiteral("-- 1 disconnected")));
        QVERIFY(lines[lines.size() - 2].endsWith(QStringLiteral("-- 2 disconnected")));
        QVERIFY2(lines.filter(QStringLiteral("1 only shown")).size() >= 5, qPrintable(lines.join('\n')));
    }

    // SIGTERM with about 1 MiB queued toward a device that never reads:
    // the program delivers for up to 2 s, then ends in order, and the
    // record's last lines say how much never reached that device.
    void signalWithAStalledDestinationTellsWhatWasDropped()
    {
        QProcess child;
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("record.txt"));
        StartHelper(child, "signal_exit", record, /*stall=*/true);
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).contains("queued"), 20000);
        QElapsedTimer ending;
        ending.start();
        ::kill(pid_t(child.processId()), SIGTERM);
        QVERIFY(child.waitForFinished(20000));
        qInfo("SIGTERM to exit: %lld ms", (long long)ending.elapsed());
        QCOMPARE(child.exitCode(), 0);
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.last().endsWith(QStringLiteral("-- recording stopped")), qPrintable(lines.last()));
        const QString &told = lines[lines.size() - 2];
        QVERIFY2(told.contains(QStringLiteral("-- 2: ")) && told.contains(QStringLiteral(" not delivered")), qPrintable(told));
        QVERIFY(told.section(QStringLiteral("-- 2: "), 1).section(' ', 0, 0).toLongLong() > 0);
    }

    // Another program reading the same device for a while (a modem
    // manager probing it) takes bytes; everything after it still arrives.
    void secondReaderTakesBytesAndLeaves()
    {
        Pty a, b;
        Rig rig({a.Info(), b.Info()});
        auto &w = rig.w();
        rig.ConnectBothLinked();
        std::atomic<bool> stop {false};
        const QByteArray device = QFile::encodeName(a.Path());
        std::thread thief([&] {
            const int fd = ::open(device.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
            // Reads as fast as it can, so the window is often told of bytes
            // that are gone by the time it reads.
            char buf[64];
            while (!stop)
                [[maybe_unused]] const ssize_t n = ::read(fd, buf, sizeof buf);
            ::close(fd);
        });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 400) {
            a.Send("line\r\n");
            QTest::qWait(1);
        }
        stop = true;
        thief.join();
        b.Drain();
        const QByteArray marker("after the other reader\r\n");
        a.Send(marker);
        QTRY_VERIFY(w.Serialcomms1().Text().endsWith(marker));
        QVERIFY(b.Receive(marker.size(), 5000).endsWith(marker));
        QCOMPARE(rig.alerts.beeps, 0);
    }

    // Channel 2's device stops reading: channel 1 stops reading too, so
    // the bytes wait in the sender and the driver, not in this program.
    void stalledDestinationHoldsTheSource()
    {
        Pty a, b;
        Rig rig({a.Info(), b.Info()});
        auto &w = rig.w();
        rig.ConnectBothLinked();
        constexpr qsizetype kOffered = 32 << 20;
        // Wider than one read and no more: what a resumed read may add.
        constexpr qint64 kBound = SerialController::kWriteHighWaterBytes + SerialController::kHeldReadBufferBytes;
        const QByteArray pattern = RandomBytes(kOffered, 7);

        auto offer = [&](qsizetype &sent) {
            qint64 maxQueued = 0;
            QElapsedTimer stalled;
            stalled.start();
            while (sent < kOffered && stalled.elapsed() < 500) {
                const ssize_t n = ::write(a.Master(), pattern.constData() + sent, size_t(std::min<qsizetype>(65536, kOffered - sent)));
                if (n > 0) {
                    sent += n;
                    stalled.restart();
                }
                QCoreApplication::processEvents();
                maxQueued = std::max(maxQueued, w.SerialController2().BytesToWrite());
            }
            return maxQueued;
        };
        qsizetype sent = 0;
        const qint64 maxQueued = offer(sent);
        qInfo("stalled destination: %lld bytes taken from the sender, at most %lld queued", (long long)sent,
              (long long)maxQueued);
        QVERIFY2(sent < kOffered, "the source was never held back");
        QVERIFY(maxQueued <= kBound);
        QVERIFY(w.SerialController1().ReadingHeld());

        // The device reads again: every byte arrives, in order.
        QVERIFY(b.Receive(sent, 60000) == pattern.first(sent));
        QTRY_COMPARE(w.Serialcomms1().Size(), sent);
        QVERIFY(w.Serialcomms1().Text() == pattern.first(sent));
        QVERIFY(!w.SerialController1().ReadingHeld());

        // Held again, then Unlink: reading goes on at once.
        offer(sent);
        QVERIFY(w.SerialController1().ReadingHeld());
        rig.Press(w.LinkBtn());
        QVERIFY(!w.SerialController1().ReadingHeld());
        const qsizetype before = sent;
        offer(sent);
        QVERIFY(sent > before);
        QTRY_COMPARE(w.Serialcomms1().Size(), sent);
        QVERIFY(w.Serialcomms1().Text() == pattern.first(sent));
        QCOMPARE(rig.alerts.beeps, 0);
    }

    // Senders that read only once their whole block is in, as a relay
    // serving both ways on one thread does while its write waits: the
    // window must not hold back the very side that would drain its queue.
    // Past a far higher mark it does hold them, and nothing is lost.
    void sendersThatReadLastAreNotHeldForever_data()
    {
        QTest::addColumn<bool>("loopback");
        QTest::addColumn<qsizetype>("block");
        QTest::addColumn<bool>("held");
        constexpr qsizetype kHigh = SerialController::kWriteHighWaterBytes;
        constexpr qsizetype kMost = SerialController::kBothWaysHighWaterBytes;
        QTest::newRow("linked") << false << 4 * kHigh << false;
        QTest::newRow("loopback") << true << 4 * kHigh << false;
        QTest::newRow("linked, past the higher mark") << false << kMost + 4 * kHigh << true;
        QTest::newRow("loopback, past the higher mark") << true << kMost + 4 * kHigh << true;
    }
    void sendersThatReadLastAreNotHeldForever()
    {
        QFETCH(bool, loopback);
        QFETCH(qsizetype, block);
        QFETCH(bool, held);
        Pty a, b;
        Rig rig(loopback ? QList {a.Info()} : QList {a.Info(), b.Info()});
        if (loopback)
            rig.ConnectBothShared();
        else
            rig.ConnectBothLinked();
        struct Sender {
            SerialController &own; // the channel its bytes queue in
            int fd;
            QByteArray block;
            qsizetype sent = 0;
            QByteArray got;
        };
        std::vector<Sender> senders {{rig.w().SerialController1(), a.Master(), RandomBytes(block, 1), 0, {}}};
        if (!loopback)
            senders.push_back({rig.w().SerialController2(), b.Master(), RandomBytes(block, 2), 0, {}});
        // Each reads once its block is in, or once the window takes no
        // more of it: then the window must be holding, and no more than it may.
        // Held means no sender got a byte in or out for a while and over
        // many turns: one slow turn of this loop is no hold.
        constexpr int kStillTurns = 64;
        bool stalled = false;
        qint64 mostQueued = 0;
        QElapsedTimer sinceMoved;
        sinceMoved.start();
        int stillTurns = 0;
        QDeadlineTimer deadline(60000);
        auto done = [&] {
            return std::all_of(senders.begin(), senders.end(), [&](const Sender &s) { return s.got.size() >= block; });
        };
        while (!done() && !deadline.hasExpired()) {
            bool moved = false;
            for (Sender &s : senders) {
                mostQueued = std::max(mostQueued, s.own.BytesToWrite());
                if (s.sent < block) {
                    const ssize_t n = ::write(s.fd, s.block.constData() + s.sent, size_t(block - s.sent));
                    if (n > 0) {
                        s.sent += n;
                        moved = true;
                    }
                }
                if (s.sent == block || stalled) {
                    char buf[65536];
                    const ssize_t n = ::read(s.fd, buf, sizeof buf);
                    if (n > 0) {
                        s.got.append(buf, n);
                        moved = true;
                    }
                }
            }
            if (moved) {
                sinceMoved.restart();
                stillTurns = 0;
            }
            stalled = stalled || (++stillTurns > kStillTurns && sinceMoved.elapsed() > 500);
            QCoreApplication::processEvents();
        }
        QCOMPARE(stalled, held);
        QVERIFY2(mostQueued <= SerialController::kBothWaysHighWaterBytes + SerialController::kWriteHighWaterBytes,
                 qPrintable(QString::number(mostQueued)));
        QVERIFY(senders.front().got == senders.back().block);
        QVERIFY(senders.back().got == senders.front().block);
        QCOMPARE(rig.alerts.beeps, 0);
    }
};

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"

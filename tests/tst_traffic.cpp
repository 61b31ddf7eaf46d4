// Seeing and keeping the traffic: hex view, Clear, Save, and the record of
// both sides, through the text areas' context menus.

#include "support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <thread>
#include <poll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace platform;
using testing::Pty;
using testing::RandomBytes;
using testing::Rig;

namespace {

// Answers every file dialog with the next of its paths.
class ScriptedFiles : public FileChooser {
public:
    QString SaveFileName(QWidget *, const QString &title, Existing) override
    {
        titles.append(title);
        return paths.isEmpty() ? QString() : paths.takeFirst();
    }
    QStringList paths;
    QStringList titles;
};

// The menu a right-click would show, with its action called `name` run.
void Choose(TextArea &area, const char *name)
{
    QMenu menu;
    area.FillContextMenu(&menu);
    QAction *action = menu.findChild<QAction *>(QString::fromLatin1(name));
    QVERIFY2(action, name);
    action->trigger();
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct TrafficRig {
    ScriptedFiles files;
    QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(14, 3, 7, 412));
    Rig rig;
    explicit TrafficRig(QList<SerialPortInfo> ports)
    {
        rig.ports.SetPorts(std::move(ports));
        rig.window = std::make_unique<ui::MainWindow>(ui::MainWindow::Services {
            &rig.ports, &rig.alerts, &files, [this] { return now; }});
    }
};

// A file system of 64 KiB, mounted for the test where the system allows.
struct TinyDisk {
    QTemporaryDir dir;
    bool mounted = ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=64k") == 0;
    ~TinyDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
};

} // namespace

class TestTraffic : public QObject {
    Q_OBJECT
private slots:
    // Hex is only a view: two digits a byte, a break after each LF, the
    // bytes untouched; Copy gives what is shown.
    void hexViewShowsEveryByte()
    {
        Rig rig;
        TextArea &area = rig.w().Serialcomms1();
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        for (const QByteArray &bytes : {QByteArray("ab\r"), QByteArray("\ncd"), all})
            rig.w().Core().Receive(1, bytes);
        Choose(area, "HexAction");
        QVERIFY(area.HexMode());
        const ByteText &t = area.Content();
        QCOMPARE(t.LineStart(1), 4); // "61 62 0D 0A" ends the first line
        for (qsizetype line = 0; line < t.LineCount(); ++line) {
            const qsizetype end = t.LineEnd(line);
            QVERIFY(end > t.LineStart(line) || line == t.LineCount() - 1);
            for (qsizetype i = t.LineStart(line); i + 1 < end; ++i)
                QVERIFY(t.Store().At(i) != '\n'); // an LF only ends a line
        }
        area.SelectAll();
        QString expected = QStringLiteral("61 62 0D 0A\n63 64");
        for (int b = 0; b < 256; ++b)
            expected += (b == 0x0B ? QStringLiteral("\n") : QStringLiteral(" ")) +
                        QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        QCOMPARE(area.SelectedText(), expected);
        QCOMPARE(area.Text(), QByteArray("ab\r\ncd") + all);
        Choose(area, "HexAction");
        QVERIFY(!area.HexMode());
        area.SetSelection(0, 6);
        QCOMPARE(area.SelectedText(), QStringLiteral("ab\ncd"));

        Choose(area, "ClearAction");
        QVERIFY(area.Text().isEmpty());
        QVERIFY(rig.w().Serialcomms2().Text().isEmpty());
    }

    // Save writes exactly the bytes kept; a failure says why and leaves
    // no file under the chosen name.
    void saveWritesTheExactBytes_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("a few bytes") << qsizetype(300);
        QTest::newRow("a full area") << qsizetype(64) * 1024 * 1024;
    }
    void saveWritesTheExactBytes()
    {
        QFETCH(qsizetype, size);
        TrafficRig t({});
        const QByteArray bytes = RandomBytes(size, 5);
        t.rig.w().Core().Receive(2, bytes);
        QTemporaryDir dir;
        t.files.paths = {dir.filePath(QStringLiteral("received.bin"))};
        Choose(t.rig.w().Serialcomms2(), "SaveAction");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("received.bin"))), 20000);
        QVERIFY(ReadAll(dir.filePath(QStringLiteral("received.bin"))) == bytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
        QCOMPARE(t.rig.alerts.messages.size(), 0);
    }

    // A save after trimming says, before the file is chosen, how much
    // older traffic the file will not hold.
    void saveTellsWhatIsNoLongerKept()
    {
        TrafficRig t({});
        TextArea &area = t.rig.w().Serialcomms1();
        t.rig.w().Core().Own(1).received.SetKeepBytes(1000);
        t.rig.w().Core().Receive(1, QByteArray(3048, 'x'));
        Choose(area, "SaveAction"); // cancelled: no path
        QCOMPARE(t.files.titles.size(), 1);
        QVERIFY2(t.files.titles[0].contains(QStringLiteral("the oldest 2")) &&
                     t.files.titles[0].contains(QStringLiteral("no longer kept")),
                 qPrintable(t.files.titles[0]));
        Choose(area, "ClearAction");
        Choose(area, "SaveAction");
        QCOMPARE(t.files.titles[1], QStringLiteral("Save Received Bytes"));
    }

    void failedSaveLeavesNothing()
    {
        TrafficRig t({});
        t.rig.w().Core().Receive(1, QByteArray(4 << 20, 'x'));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.bin"));
        // Files may not grow past 1 MiB: the write fails part way.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 1 << 20;
        setrlimit(RLIMIT_FSIZE, &small);
        t.files.paths = {path, dir.filePath(QStringLiteral("no such folder/x.bin"))};
        Choose(t.rig.w().Serialcomms1(), "SaveAction");
        QTRY_COMPARE(t.rig.alerts.messages.size(), 1);
        setrlimit(RLIMIT_FSIZE, &old);
        Choose(t.rig.w().Serialcomms1(), "SaveAction");
        QTRY_COMPARE(t.rig.alerts.messages.size(), 2);
        for (const testing::RecordedMessage &m : t.rig.alerts.messages) {
            QCOMPARE(m.text, QStringLiteral("The received bytes could not be saved."));
            QVERIFY(!m.detail.isEmpty());
        }
        QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    // One line a frame and an event, in order: events at the window's clock,
    // frames at when their first byte came, local time to the microsecond.
    void recordKeepsBothSides()
    {
        const QDateTime began = QDateTime::currentDateTime().addMSecs(-1);
        Pty a, b;
        TrafficRig t({a.Info(), b.Info()});
        auto &w = t.rig.w();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("record.txt"));
        t.files.paths = {path};
        Choose(w.Serialcomms1(), "RecordAction");
        QVERIFY(w.RecordingTxt().Visible());
        t.rig.ConnectBothLinked();
        a.Send(QByteArray("\x02" "10\r\n", 5));
        QCOMPARE(b.Receive(5), QByteArray("\x02" "10\r\n", 5));
        b.Send("ok");
        QCOMPARE(a.Receive(2), QByteArray("ok"));
        t.rig.Press(w.LinkBtn());
        a.Send("z");
        QTRY_COMPARE(w.Serialcomms1().Text().right(1), QByteArray("z"));
        t.rig.Connect(1);
        t.rig.Connect(2);
        // Loopback: both on b.
        w.SerialPortsPopupMenu1().SetListIndex(1);
        t.rig.Connect(1);
        t.rig.Connect(2);
        b.Send("e");
        QCOMPARE(b.Receive(1), QByteArray("e"));
        Choose(w.Serialcomms2(), "RecordAction"); // Stop Recording
        QVERIFY(!w.RecordingTxt().Visible());

        const QString at = QStringLiteral("2026-12-08 14:03:07.412000  ");
        const QString frame = QStringLiteral("@"); // a frame's own time
        const QStringList expected = {
            at + "-- recording started",
            at + "-- 1 connected to " + a.Path() + " at 9600 8N1",
            at + "-- 2 connected to " + b.Path() + " at 9600 8N1",
            at + "-- linked",
            frame + "1 > 2  02 31 30 0D 0A  .10..",
            frame + "2 > 1  6F 6B  ok",
            at + "-- unlinked",
            frame + "1 only shown  7A  z",
            at + "-- 1 disconnected",
            at + "-- 2 disconnected",
            at + "-- 1 connected to " + b.Path() + " at 9600 8N1",
            at + "-- 2 connected, sharing " + b.Path() + " (loopback)",
            frame + "1 echoed  65  e",
            at + "-- recording stopped",
        };
        QStringList lines = QString::fromUtf8(ReadAll(path)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), expected.size());
        const QDateTime ended = QDateTime::currentDateTime().addMSecs(1);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (!expected[i].startsWith(frame))
                continue;
            bool micro = false;
            lines[i].mid(23, 3).toInt(&micro);
            const QDateTime milli = QDateTime::fromString(lines[i].left(23), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
            QVERIFY2(micro && milli >= began && milli <= ended, qPrintable(lines[i]));
            lines[i] = frame + lines[i].mid(28);
        }
        QCOMPARE(lines, expected);
        QCOMPARE(t.rig.alerts.messages.size(), 0);
    }

    // A copy of tens of MiB of text is asked for first; Cancel leaves the
    // clipboard as it was. Smaller copies are not asked about.
    // About 1 MiB queued toward a device that stopped reading, then the
    // window closes (as on SIGTERM) or that side disconnects: the port
    // delivers for up to 2 s, and the record says what it could not, so
    // that delivered + not delivered = what it shows as sent there. What
    // the device sends after the press is neither shown nor recorded.
    void queuedBytesAreDeliveredOrTold_data()
    {
        QTest::addColumn<bool>("closeWindow");
        QTest::newRow("window closed") << true;
        QTest::newRow("destination disconnected") << false;
    }
    void queuedBytesAreDeliveredOrTold()
    {
        QFETCH(bool, closeWindow);
        Pty a, b;
        TrafficRig t({a.Info(), b.Info()});
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("record.txt"));
        t.files.paths = {record};
        auto &w = t.rig.w();
        w.StartRecording();
        t.rig.ConnectBothLinked();
        const QByteArray chunk(64 * 1024, 'z');
        QDeadlineTimer deadline(20000);
        while (w.SerialController2().BytesToWrite() < SerialController::kWriteHighWaterBytes && !deadline.hasExpired()) {
            [[maybe_unused]] const ssize_t n = ::write(a.Master(), chunk.constData(), size_t(chunk.size()));
            QCoreApplication::processEvents();
        }
        QVERIFY(w.SerialController2().BytesToWrite() >= SerialController::kWriteHighWaterBytes);
        if (closeWindow)
            w.close();
        else
            t.rig.Press(w.ConnectSerial2());
        // It goes on sending: none of it is this channel's any more.
        const QByteArray late("sent after the press");
        QCOMPARE(::write(b.Master(), late.constData(), size_t(late.size())), ssize_t(late.size()));
        QByteArray delivered = b.Receive(200 * 1024); // then the device stops reading
        QVERIFY(w.SerialController2().Releasing());
        QTRY_VERIFY_WITH_TIMEOUT(!w.SerialController2().Releasing(), SerialController::kDrainMs + 3000);
        delivered += b.Drain();
        if (!closeWindow)
            w.StopRecording();

        const QStringList lines = QString::fromLatin1(ReadAll(record)).split('\n', Qt::SkipEmptyParts);
        qint64 arrived = 0;
        for (const QString &line : lines.filter(QStringLiteral("  1 > 2  ")))
            arrived += line.section(QStringLiteral("  "), 2, 2).count(QLatin1Char(' ')) + 1;
        QCOMPARE(w.Serialcomms2().Content().End(), 0);
        QVERIFY(lines.filter(QRegularExpression(QStringLiteral("  2 (only shown|> 1|echoed)  "))).isEmpty());
        // Read while it was let go of, and so only counted.
        const QStringList unread = lines.filter(QStringLiteral("2: %1 bytes from %2 after the disconnect were not shown")
                                                    .arg(late.size()).arg(b.Path()));
        QCOMPARE(unread.size(), 1);
        const QStringList told = lines.filter(QStringLiteral(" bytes queued for ") + b.Path() + QStringLiteral(" not delivered"));
        QCOMPARE(told.size(), 1);
        const qint64 undelivered = told[0].section(QStringLiteral("2: "), 1).section(' ', 0, 0).toLongLong();
        QVERIFY(undelivered > 0);
        QCOMPARE(delivered.size() + undelivered, arrived);
        if (closeWindow) {
            QVERIFY(lines.last().endsWith(QStringLiteral("-- recording stopped")));
            QCOMPARE(lines[lines.size() - 2], told[0]);
        }
    }

    // Saving or recording into a folder that is not there names it.
    void missingFolderIsNamed()
    {
        Pty a;
        TrafficRig t({a.Info()});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("gone/sub/bytes.bin"));
        t.files.paths = {path, path};
        Choose(t.rig.w().Serialcomms1(), "SaveAction");
        Choose(t.rig.w().Serialcomms1(), "RecordAction");
        QTRY_COMPARE(t.rig.alerts.messages.size(), 2);
        for (const testing::RecordedMessage &m : t.rig.alerts.messages)
            QVERIFY2(m.detail.contains(path) && m.detail.contains(QStringLiteral("does not exist")), qPrintable(m.detail));
    }

    void hugeCopyIsAskedFor()
    {
        TrafficRig t({});
        TextArea &area = t.rig.w().Serialcomms1();
        t.rig.w().Core().Receive(1, QByteArray(6 << 20, 'x')); // 18 MiB as hex
        area.SelectAll();
        QApplication::clipboard()->setText(QStringLiteral("before"));
        area.Copy(); // as text: 6 MiB
        QVERIFY(t.rig.alerts.questions.isEmpty());
        QCOMPARE(QApplication::clipboard()->text().size(), 6 << 20);
        QApplication::clipboard()->setText(QStringLiteral("before"));
        area.SetHexMode(true);
        t.rig.alerts.answers = {1};
        area.Copy();
        QCOMPARE(t.rig.alerts.questions.size(), 1);
        QVERIFY(t.rig.alerts.questions[0].text.contains(QStringLiteral("18 MiB")));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
    }

    // Save and Record write only to regular files: a device node, a pipe
    // or a folder under the chosen name is refused with a sentence and
    // left as it was (a pipe would also block the window on open).
    void filesAreWrittenOnlyToRegularFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("action");
        for (const char *action : {"SaveAction", "RecordAction"})
            for (const char *kind : {"device", "pipe", "folder"})
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(action, kind))) << kind << QByteArray(action);
    }
    void filesAreWrittenOnlyToRegularFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, action);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("target"));
        const QByteArray name = QFile::encodeName(path);
        if (kind == "device")
            QVERIFY2(::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 7)) == 0, "mknod needs root"); // as /dev/full
        else if (kind == "pipe")
            QCOMPARE(::mkfifo(name.constData(), 0666), 0);
        else
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("target")));
        struct stat before {};
        QCOMPARE(::stat(name.constData(), &before), 0);

        TrafficRig t({});
        t.rig.w().Core().Receive(1, "bytes");
        t.files.paths = {path};
        Choose(t.rig.w().Serialcomms1(), action.constData());
        QTRY_COMPARE(t.rig.alerts.messages.size(), 1);
        QVERIFY2(t.rig.alerts.messages[0].detail.contains(QStringLiteral("not a regular file")),
                 qPrintable(t.rig.alerts.messages[0].detail));
        QVERIFY(!t.rig.w().Recording().Active());
        struct stat after {};
        QCOMPARE(::stat(name.constData(), &after), 0);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);
    }

    // A disk full from the start: the record or capture stops with one
    // message, and "Recording" is not shown for it.
    void aRecordOnAFullDiskIsNotShownAsRunning_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("text") << "record.txt";
        QTest::newRow("capture") << "record.pcapng";
    }
    void aRecordOnAFullDiskIsNotShownAsRunning()
    {
        QFETCH(QString, name);
        TinyDisk disk;
        if (!disk.mounted)
            QSKIP("no tmpfs can be mounted here");
        QFile filler(disk.dir.filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
        }
        filler.close();
        TrafficRig t({});
        t.files.paths = {disk.dir.filePath(name)};
        Choose(t.rig.w().Serialcomms1(), "RecordAction");
        QTRY_COMPARE(t.rig.alerts.messages.size(), 1);
        QVERIFY(!t.rig.w().Recording().Active());
        QVERIFY(!t.rig.w().RecordingTxt().Visible());
    }

    // A record that fills its disk during a flood: the far side gets every
    // byte, in order, while the message box stays open, and nothing waits
    // for a further byte once it is closed. The reason is the system's.
    void aFailingRecordNeverHoldsUpTheRelay()
    {
        TinyDisk disk;
        if (!disk.mounted)
            QSKIP("no tmpfs can be mounted here");
        Pty a, b;
        TrafficRig t({a.Info(), b.Info()});
        auto &w = t.rig.w();
        t.rig.ConnectBothLinked();
        t.files.paths = {disk.dir.filePath(QStringLiteral("record.txt"))};
        Choose(w.Serialcomms1(), "RecordAction");
        QVERIFY(w.Recording().Active());
        const QByteArray flood = RandomBytes(4 << 20, 7);
        // The device sends on its own, for over half a second: the relay
        // alone would pass all of it on before the window first looked.
        std::thread device([&] {
            constexpr qsizetype kPieceBytes = 32 << 10;
            for (qsizetype done = 0; done < flood.size();) {
                pollfd p {a.Master(), POLLOUT, 0};
                ::poll(&p, 1, 100);
                const ssize_t n = ::write(a.Master(), flood.constData() + done,
                                          size_t(std::min(kPieceBytes, flood.size() - done)));
                done += std::max<ssize_t>(0, n);
                ::usleep(5000);
            }
        });
        QByteArray received;
        qint64 heldMost = 0;
        const auto pump = [&](int ms) {
            QDeadlineTimer deadline(ms);
            while (received.size() < flood.size() && !deadline.hasExpired()) {
                received += b.Drain();
                heldMost = std::max(heldMost, w.SerialController1().Serial().bytesAvailable());
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            }
        };
        qsizetype whenShown = -1;
        t.rig.alerts.whileOpen = [&] { // the box stays open till the flood is through
            whenShown = received.size();
            pump(30000);
        };
        pump(30000);
        device.join();
        QCOMPARE(t.rig.alerts.messages.size(), 1);
        QCOMPARE(t.rig.alerts.messages[0].text, QStringLiteral("The recording could not go on."));
        QCOMPARE(t.rig.alerts.messages[0].detail, disk.dir.filePath(QStringLiteral("record.txt")) +
                                                       QStringLiteral(": No space left on device"));
        QVERIFY2(whenShown < flood.size() / 2, "the box came after most of the flood");
        QCOMPARE(received.size(), flood.size());
        QVERIFY(received == flood);
        QVERIFY2(heldMost <= SerialController::kWriteHighWaterBytes, qPrintable(QString::number(heldMost)));
        QVERIFY(!w.RecordingTxt().Visible());
        QCOMPARE(t.rig.alerts.messages.size(), 1);
    }

    // The window's thread stops for a second in a flood: the flood goes
    // on meanwhile; afterwards the record holds every byte that crossed,
    // or, when the copies outgrew what the view keeps, says how many it
    // lacks, so that recorded + unrecorded is the flood to the byte.
    void aStoppedWindowHoldsUpNoByte_data()
    {
        QTest::addColumn<qsizetype>("keep");
        QTest::newRow("all recorded") << ReceivedBytes::kDefaultKeepBytes;
        QTest::newRow("copies let go") << qsizetype(256 * 1024);
    }
    void aStoppedWindowHoldsUpNoByte()
    {
        QFETCH(qsizetype, keep);
        Pty a, b;
        TrafficRig t({a.Info(), b.Info()});
        auto &w = t.rig.w();
        w.Core().Own(1).received.SetKeepBytes(keep);
        w.Core().Own(2).received.SetKeepBytes(keep);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("record.txt"));
        t.files.paths = {path};
        Choose(w.Serialcomms1(), "RecordAction");
        t.rig.ConnectBothLinked();
        QTRY_VERIFY(w.Core().Engaged());
        const QByteArray flood = RandomBytes(4 << 20, 11);
        std::atomic<qsizetype> received = 0;
        QByteArray got;
        std::thread devices([&] {
            char buf[65536];
            for (qsizetype sent = 0; got.size() < flood.size();) {
                pollfd p[2] = {{a.Master(), short(sent < flood.size() ? POLLOUT : 0), 0}, {b.Master(), POLLIN, 0}};
                if (::poll(p, 2, 5000) <= 0)
                    return;
                if (p[0].revents & POLLOUT)
                    sent += std::max<ssize_t>(0, ::write(a.Master(), flood.constData() + sent, size_t(flood.size() - sent)));
                if (const ssize_t n = ::read(b.Master(), buf, sizeof buf); n > 0) {
                    got.append(buf, n);
                    received = got.size();
                }
            }
        });
        QThread::msleep(1000);
        const qsizetype whileStopped = received;
        devices.join();
        QCOMPARE(whileStopped, flood.size());
        QVERIFY(got == flood);
        Choose(w.Serialcomms1(), "RecordAction"); // Stop Recording
        QVERIFY(w.Serialcomms1().Text().endsWith(flood.right(1000)));

        QByteArray recorded;
        qint64 unrecorded = 0;
        static const QRegularExpression missing(QStringLiteral("-- 1: (\\d+) bytes crossed unrecorded"));
        for (const QByteArray &line : ReadAll(path).split('\n')) {
            if (const QRegularExpressionMatch m = missing.match(QString::fromUtf8(line)); m.hasMatch())
                unrecorded += m.captured(1).toLongLong();
            else if (const qsizetype at = line.indexOf("  1 > 2  "); at > 0)
                recorded += QByteArray::fromHex(line.mid(at + 9, line.indexOf("  ", at + 9) - at - 9));
        }
        QCOMPARE(qint64(recorded.size()) + unrecorded, qint64(flood.size()));
        QCOMPARE(unrecorded > 0, keep < flood.size());
        QVERIFY(flood.endsWith(recorded.right(keep / 2)));
        QCOMPARE(t.rig.alerts.messages.size(), 0);
    }

    // A record file deleted or replaced while recording is noticed within
    // a flush, with one message; closing the window ends a record with
    // the channels' disconnect lines.
    void recordEndsWithItsFile()
    {
        Pty a, b;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("record.txt"));
        {
            TrafficRig t({a.Info(), b.Info()});
            t.rig.ConnectBoth();
            t.files.paths = {path, path};
            Choose(t.rig.w().Serialcomms1(), "RecordAction");
            QVERIFY(QFile::remove(path));
            QTRY_COMPARE_WITH_TIMEOUT(t.rig.alerts.messages.size(), 1, ui::Recorder::kFlushMs + 1000);
            QVERIFY(t.rig.alerts.messages[0].detail.contains(QStringLiteral("removed or replaced")));
            QVERIFY(!t.rig.w().RecordingTxt().Visible());

            Choose(t.rig.w().Serialcomms1(), "RecordAction");
            QVERIFY(t.rig.w().Recording().Active());
            t.rig.w().close();
        }
        const QStringList lines = QString::fromUtf8(ReadAll(path)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].endsWith(QStringLiteral("-- recording started")));
        QVERIFY(lines[1].endsWith(QStringLiteral("-- 1 disconnected")));
        QVERIFY(lines[2].endsWith(QStringLiteral("-- 2 disconnected")));
        QVERIFY(lines[3].endsWith(QStringLiteral("-- recording stopped")));
    }

    // A record that fails while a channel connects cannot cut the connect
    // short: its box comes once the connect is done.
    void recordFailingDuringConnectLeavesItWhole()
    {
        Pty a;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("record.txt"));
        TrafficRig t({a.Info()});
        t.files.paths = {path};
        Choose(t.rig.w().Serialcomms1(), "RecordAction");
        QVERIFY(QFile::remove(path));
        QString captionWhenShown;
        t.rig.alerts.whileOpen = [&] { captionWhenShown = t.rig.w().ConnectSerial1().Caption(); };
        t.rig.TickBoth();
        t.rig.Connect(1);
        QTRY_COMPARE(t.rig.alerts.messages.size(), 1);
        QCOMPARE(captionWhenShown, QStringLiteral("Disconnect"));
        QVERIFY(t.rig.w().SerialController1().IsOpen());
    }

    // An existing record file: Append adds to it, Replace empties it
    // first, Cancel (or closing the box) leaves it and records nothing.
    void existingRecordFileIsAppendedOrReplacedAsChosen_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("keepsOld");
        QTest::addColumn<bool>("records");
        QTest::newRow("append") << 0 << true << true;
        QTest::newRow("replace") << 1 << false << true;
        QTest::newRow("cancel") << 2 << true << false;
        QTest::newRow("box closed") << -1 << true << false;
    }
    void existingRecordFileIsAppendedOrReplacedAsChosen()
    {
        QFETCH(int, answer);
        QFETCH(bool, keepsOld);
        QFETCH(bool, records);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("record.txt"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older record\n");
        old.close();
        TrafficRig t({});
        t.files.paths = {path};
        t.rig.alerts.answers = {answer};
        Choose(t.rig.w().Serialcomms1(), "RecordAction");
        QCOMPARE(t.rig.alerts.questions.size(), 1);
        QVERIFY(t.rig.alerts.questions[0].text.contains(QStringLiteral("already exists")));
        QCOMPARE(t.rig.w().Recording().Active(), records);
        Choose(t.rig.w().Serialcomms1(), "RecordAction"); // Stop, where it records
        const QByteArray text = ReadAll(path);
        QCOMPARE(text.startsWith("older record\n"), keepsOld);
        QCOMPARE(text.contains("recording started"), records);
    }
};

QTEST_MAIN(TestTraffic)
#include "tst_traffic.moc"

// Seeing and keeping the traffic: hex view, Clear, Save, and the record of
// both sides, through the text areas' context menus.

#include "support/TestSupport.h"

#include <QMenu>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace platform;
using testing::Pty;
using testing::Rig;

namespace {

// Answers every file dialog with the next of its paths.
class ScriptedFiles : public FileChooser {
public:
    QString SaveFileName(QWidget *, const QString &) override { return paths.isEmpty() ? QString() : paths.takeFirst(); }
    QStringList paths;
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
        area.AppendText("ab\r");
        area.AppendText("\ncd");
        area.AppendText(all);
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
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator(5).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
        t.rig.w().Serialcomms2().AppendText(bytes);
        QTemporaryDir dir;
        t.files.paths = {dir.filePath(QStringLiteral("received.bin"))};
        Choose(t.rig.w().Serialcomms2(), "SaveAction");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("received.bin"))), 20000);
        QVERIFY(ReadAll(dir.filePath(QStringLiteral("received.bin"))) == bytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
        QCOMPARE(t.rig.alerts.messages.size(), 0);
    }

    void failedSaveLeavesNothing()
    {
        TrafficRig t({});
        t.rig.w().Serialcomms1().AppendText(QByteArray(4 << 20, 'x'));
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

    // One line an arrival and an event, in order, with the local time.
    void recordKeepsBothSides()
    {
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

        const QString at = QStringLiteral("2026-12-08 14:03:07.412  ");
        const QStringList expected = {
            at + "-- recording started",
            at + "-- 1 connected to " + a.Path(),
            at + "-- 2 connected to " + b.Path(),
            at + "-- linked",
            at + "1 > 2  02 31 30 0D 0A  .10..",
            at + "2 > 1  6F 6B  ok",
            at + "-- unlinked",
            at + "1 only shown  7A  z",
            at + "-- 1 disconnected",
            at + "-- 2 disconnected",
            at + "-- 1 connected to " + b.Path(),
            at + "-- 2 connected, sharing " + b.Path() + " (loopback)",
            at + "1 echoed  65  e",
            at + "-- recording stopped",
        };
        QCOMPARE(QString::fromUtf8(ReadAll(path)).split('\n', Qt::SkipEmptyParts), expected);
        QCOMPARE(t.rig.alerts.messages.size(), 0);
    }

    // A disk that fills up stops the recording with one message; the relay
    // goes on.
    void fullDiskStopsTheRecordingOnly()
    {
        Pty a, b;
        TrafficRig t({a.Info(), b.Info()});
        auto &w = t.rig.w();
        t.rig.ConnectBothLinked();
        t.files.paths = {QStringLiteral("/dev/full")};
        Choose(w.Serialcomms1(), "RecordAction");
        QVERIFY(w.RecordingTxt().Visible());
        a.Send("still relayed");
        QCOMPARE(b.Receive(13), QByteArray("still relayed"));
        QTRY_COMPARE_WITH_TIMEOUT(t.rig.alerts.messages.size(), 1, 5000);
        QCOMPARE(t.rig.alerts.messages[0].text, QStringLiteral("The recording could not go on."));
        QVERIFY(!w.RecordingTxt().Visible());
        QVERIFY(!w.Recording().Active());
        a.Send("and after");
        QCOMPARE(b.Receive(9), QByteArray("and after"));
        QTest::qWait(ui::Recorder::kFlushMs + 200);
        QCOMPARE(t.rig.alerts.messages.size(), 1);
    }
};

QTEST_MAIN(TestTraffic)
#include "tst_traffic.moc"

// Frames: what arrives is split at silences longer than the gap, a read
// of many bytes is not a silence before them, and the view can give each
// frame a row of its own without touching the bytes.

#include "support/TestSupport.h"

#include "record/Frames.h"
#include "record/Recorder.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace platform;
using namespace testing;

namespace {

LineSettings Line(qint32 baud, QSerialPort::Parity parity = QSerialPort::NoParity,
                  QSerialPort::StopBits stop = QSerialPort::OneStop, qint32 gapUs = 0)
{
    LineSettings l;
    l.baud = baud;
    l.parity = parity;
    l.stopBits = stop;
    l.frameGapUs = gapUs;
    return l;
}

// A read of `bytes` that came after `silenceUs` of quiet.
struct Read {
    qsizetype bytes;
    qint64 silenceUs;
};

} // namespace

Q_DECLARE_METATYPE(Read)

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void theGapFollowsTheLine_data()
    {
        QTest::addColumn<LineSettings>("line");
        QTest::addColumn<qint64>("gapUs");
        // 3.5 characters of 11 bits at 8N1, one more for parity or a stop bit.
        QTest::newRow("9600 8N1") << Line(9600) << qint64(4010);
        QTest::newRow("1200 8E2") << Line(1200, QSerialPort::EvenParity, QSerialPort::TwoStop) << qint64(37917);
        QTest::newRow("past 19200: the fixed floor") << Line(115200) << qint64(LineSettings::kMinFrameGapUs);
        QTest::newRow("set by hand") << Line(9600, QSerialPort::NoParity, QSerialPort::OneStop, 50000) << qint64(50000);
    }
    void theGapFollowsTheLine()
    {
        QFETCH(LineSettings, line);
        QFETCH(qint64, gapUs);
        QCOMPARE(line.FrameGapUs(), gapUs);
    }

    void framesBeginAfterASilenceLongerThanTheGap_data()
    {
        QTest::addColumn<LineSettings>("line");
        QTest::addColumn<QList<Read>>("reads");
        QTest::addColumn<QList<qsizetype>>("starts"); // offsets in all that came
        const qint64 gap9600 = Line(9600).FrameGapUs();
        QTest::newRow("one read") << Line(9600) << QList<Read>{{8, 0}} << QList<qsizetype>{0};
        // A USB adapter hands on 16 bytes, then 14 more 16 ms later: at
        // 9600 bit/s those took 16 ms on the wire, so there was no silence.
        QTest::newRow("a packet is no silence") << Line(9600) << QList<Read>{{16, 0}, {14, 0}} << QList<qsizetype>{0};
        QTest::newRow("just under the gap") << Line(9600) << QList<Read>{{4, 0}, {4, gap9600 - 50}}
                                            << QList<qsizetype>{0};
        QTest::newRow("just past the gap") << Line(9600) << QList<Read>{{4, 0}, {4, gap9600 + 50}, {3, 0}}
                                           << QList<qsizetype>{0, 4};
        // 256 bytes 35 ms after the last read could not have come on a 9600
        // bit/s wire in that time: a pty or port server; they came at once.
        QTest::newRow("faster than the line") << Line(9600) << QList<Read>{{8, 0}, {256, 35000 - 256 * 1146}}
                                              << QList<qsizetype>{0, 8};
        QTest::newRow("a gap set by hand") << Line(9600, QSerialPort::NoParity, QSerialPort::OneStop, 50000)
                                           << QList<Read>{{2, 0}, {2, 40000}, {2, 60000}} << QList<qsizetype>{0, 4};
        constexpr qsizetype kMax = FrameSplitter::kMaxFrameBytes;
        QTest::newRow("a flood is cut") << Line(115200) << QList<Read>{{kMax - 10, 0}, {2 * kMax + 20, 0}}
                                        << QList<qsizetype>{0, kMax, 2 * kMax, 3 * kMax};
    }
    void framesBeginAfterASilenceLongerThanTheGap()
    {
        QFETCH(LineSettings, line);
        QFETCH(QList<Read>, reads);
        QFETCH(QList<qsizetype>, starts);
        FrameSplitter split;
        qint64 now = 1'000'000;
        qsizetype before = 0;
        QList<qsizetype> got;
        for (const Read &r : reads) {
            now += r.silenceUs + qint64(double(r.bytes) * line.CharacterUs());
            const ReadFrames frames = split.Split(r.bytes, now, line);
            QCOMPARE(frames.gapUs, line.FrameGapUs());
            for (const FrameStart &f : frames.starts) {
                got.append(before + f.offset);
                QCOMPARE(f.wallUs, WallUs(now)); // when it was read
            }
            before += r.bytes;
        }
        QCOMPARE(got, starts);
    }

    // One side's frame that goes on (a slow trickle) while the other floods:
    // the flood is written as it comes, not held until that frame ends.
    void aLongFrameDoesNotHoldTheOtherSideBack()
    {
        QTemporaryDir dir;
        ui::Recorder recorder;
        QString error;
        QVERIFY(recorder.Start(dir.filePath(QStringLiteral("r.txt")), ui::Recorder::Mode::Replace, &error));
        ReadFrames trickle;
        trickle.readUs = MonotonicUs();
        trickle.gapUs = 60'000'000;
        trickle.starts.append({0, WallUs(trickle.readUs)});
        recorder.Arrival(2, ui::Recorder::Route::Forwarded, "t", trickle);
        const QByteArray chunk(FrameSplitter::kMaxFrameBytes, 'f');
        for (int i = 0; i < 64; ++i) { // 4 MiB, each read a frame of its own
            ReadFrames flood = trickle;
            flood.readUs = MonotonicUs();
            flood.starts = {{0, WallUs(flood.readUs)}};
            recorder.Arrival(1, ui::Recorder::Route::Forwarded, chunk, flood);
        }
        recorder.Flush();
        QVERIFY2(QFileInfo(dir.filePath(QStringLiteral("r.txt"))).size() > 4 * chunk.size(),
                 qPrintable(QString::number(QFileInfo(dir.filePath(QStringLiteral("r.txt"))).size())));
        recorder.Stop();
    }

    // Through the window: pieces closer than the gap make one frame, also
    // across reads; a longer silence begins the next, on its own row when
    // timestamps are shown. The bytes kept are exactly those received.
    void theWindowSplitsAtSilencesAndShowsEachFrameOnARow()
    {
        Pty a;
        Rig rig({a.Info()});
        ScriptedLines lines;
        LineSettings chosen = Line(115200, QSerialPort::NoParity, QSerialPort::OneStop, 250'000);
        lines.answers = {chosen};
        rig.window = std::make_unique<ui::MainWindow>(ui::MainWindow::Services {&rig.ports, &rig.alerts, nullptr, {}, &lines});
        ui::MainWindow &w = rig.w();
        rig.TickBoth();
        rig.Connect(1);
        TextArea &area = w.Serialcomms1();
        QMenu menu;
        area.FillContextMenu(&menu);
        menu.findChild<QAction *>(QStringLiteral("LineSettingsAction"))->trigger();
        QCOMPARE(w.SerialController1().Line(), chosen);

        a.Send("AB");
        QTRY_COMPARE(area.Text(), QByteArray("AB"));
        a.Send("CD"); // well within 250 ms: the same frame, another read
        QTRY_COMPARE(area.Text(), QByteArray("ABCD"));
        QTest::qWait(600);
        a.Send("EF\n");
        QTRY_COMPARE(area.Text(), QByteArray("ABCDEF\n"));
        QCOMPARE(area.Content().FrameCount(), 2);

        area.SetTimestamps(true);
        QCOMPARE(area.Content().LineCount(), 3); // ABCD | EF | after the LF
        QCOMPARE(area.Content().LineStart(1), area.Content().Begin() + 4);
        QVERIFY(area.Content().FrameAt(area.Content().Begin() + 4));
        QCOMPARE(area.Text(), QByteArray("ABCDEF\n"));
        area.SetTimestamps(false);
        QCOMPARE(area.Content().LineCount(), 2); // ABCDEF | after the LF
    }
};

QTEST_MAIN(TestFrames)
#include "tst_frames.moc"

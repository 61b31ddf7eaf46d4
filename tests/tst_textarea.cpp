// The byte view: what it shows for each byte, how it wraps, and that it
// keeps every byte and behaves like a read-only text area.

#include "bench/Resident.h"
#include "platform/byteview/GlyphCells.h"
#include "platform/byteview/TextArea.h"
#include "platform/byteview/TextAreaAccessible.h"
#include "support/BarTwin.h"
#include "support/ScreenPicture.h"

#include <QAccessible>
#include <QClipboard>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QScreen>
#include <QScrollBar>
#include <QRandomGenerator>
#include <QToolTip>
#include <QMenu>
#include <QDateTime>
#include <QWheelEvent>
#include <QtTest>

#include <malloc.h>
#include <set>

using namespace platform;

namespace {

ByteMetrics Uniform(int px)
{
    ByteMetrics m;
    m.advance.fill(px * 64);
    m.advance['\r'] = m.advance['\n'] = 0;
    m.tabStop = 8 * px * 64;
    return m;
}

QByteArray RandomBytes(qsizetype n, quint32 seed)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(gen.generate() & 0xFF);
    return b;
}

// A text area of the window's size, shown.
struct ShownArea {
    QWidget parent;
    TextArea area{&parent};
    ShownArea()
    {
        parent.resize(200, 200);
        area.resize(160, 123);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
    }
};

// Counts the paints a widget gets while it lives.
class PaintCounter : public QObject {
public:
    PaintCounter(QWidget *widget, int &count) : count_(count) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        count_ += event->type() == QEvent::Paint;
        return false;
    }

private:
    int &count_;
};

QList<QByteArray> Lines(const ByteText &t)
{
    QList<QByteArray> out;
    for (qsizetype i = 0; i < t.LineCount(); ++i)
        out.append(t.Store().Mid(t.LineStart(i), t.LineEnd(i) - t.LineStart(i)));
    return out;
}

// Both hold the same bytes in the very same chunks: none was copied.
bool SameChunks(const ByteStore &a, const ByteStore &b)
{
    if (a.Begin() != b.Begin() || a.End() != b.End())
        return false;
    for (qsizetype at = a.Begin(); at < a.End(); at += ByteStore::kChunkBytes - at % ByteStore::kChunkBytes) {
        const char *pa = nullptr, *pb = nullptr;
        a.ForEachPiece(at, 1, [&](const char *p, qsizetype) { pa = p; });
        b.ForEachPiece(at, 1, [&](const char *p, qsizetype) { pb = p; });
        if (pa != pb)
            return false;
    }
    return true;
}

} // namespace

class TestTextArea : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { TextAreaAccessible::Install(); } // as start-up does
    void everyByteHasAVisibleForm()
    {
        QCOMPARE(ByteGlyphs::DisplayChar(0x00), QChar(0x2400));
        QCOMPARE(ByteGlyphs::DisplayChar(0x1B), QChar(0x241B));
        QCOMPARE(ByteGlyphs::DisplayChar(0x7F), QChar(0x2421));
        QCOMPARE(ByteGlyphs::DisplayChar('A'), QChar('A'));
        QCOMPARE(ByteGlyphs::DisplayChar(0xE9), QChar(0xE9)); // é
        QCOMPARE(ByteGlyphs::DisplayChar('\t'), QChar('\t'));
        QVERIFY(ByteGlyphs::IsBoxed(0x85) && !ByteGlyphs::IsBoxed(0xA0));
        QCOMPARE(ByteGlyphs::DisplayText("a\r\nb\rc\nd\n\re"), QStringLiteral("a\nb\nc\nd\n\ne"));
        QCOMPARE(ByteGlyphs::DisplayText("\nx", true), QStringLiteral("x")); // LF finishing an earlier CR
        QCOMPARE(ByteGlyphs::DisplayText(QByteArray("\0\t", 2)), QString(QChar(0x2400)) + QChar('\t'));
    }

    void linesBreakAtEachLineEndingAndWrapAtTheWidth()
    {
        ByteText t;
        t.SetLayout(Uniform(1), 10 * 64);
        t.Append("0123456789AB\r\nxy\rz\n\n");
        QCOMPARE(Lines(t), (QList<QByteArray>{"0123456789", "AB", "xy", "z", "", ""}));
        // CR at the end of one arrival and LF at the start of the next are one break.
        ByteText split;
        split.SetLayout(Uniform(1), 10 * 64);
        split.Append("ab\r");
        split.Append("\ncd");
        QCOMPARE(Lines(split), (QList<QByteArray>{"ab", "cd"}));
        // A tab goes to the next stop of 8 characters.
        ByteText tabs;
        tabs.SetLayout(Uniform(1), 10 * 64);
        tabs.Append("a\tbcd");
        QCOMPARE(Lines(tabs), (QList<QByteArray>{"a\tbc", "d"}));
        // A new width lays everything out again, same bytes.
        t.SetLayout(Uniform(1), 4 * 64);
        QCOMPARE(Lines(t), (QList<QByteArray>{"0123", "4567", "89AB", "xy", "z", "", ""}));
        QCOMPARE(t.Bytes(), QByteArray("0123456789AB\r\nxy\rz\n\n"));
        QCOMPARE(t.LineOf(0), 0);
        QCOMPARE(t.LineOf(9), 2);
        QCOMPARE(t.LineOf(t.Size()), t.LineCount() - 1);
    }

    // Line starts are kept only now and then and found again by laying
    // out from there; through trimming, cached lookups and a new layout
    // built in steps while bytes arrive, they stay those of a plain layout.
    void linesFoundAgainMatchAPlainLayout_data()
    {
        QTest::addColumn<int>("shape");
        QTest::addColumn<bool>("hexFirst");
        QTest::addColumn<bool>("frameRows"); // each frame begins a line
        QTest::newRow("all LF") << 0 << false << false;
        QTest::newRow("CR LF lines") << 1 << false << false;
        QTest::newRow("every value") << 2 << false << false;
        QTest::newRow("no line break, hex first") << 3 << true << false;
        QTest::newRow("every value, hex first") << 2 << true << false;
        QTest::newRow("CR LF lines in frames") << 1 << false << true;
        QTest::newRow("no line break in frames, hex first") << 3 << true << true;
    }
    void linesFoundAgainMatchAPlainLayout()
    {
        QFETCH(int, shape);
        QFETCH(bool, hexFirst);
        QFETCH(bool, frameRows);
        QRandomGenerator gen(quint32(shape) * 7 + hexFirst + 100 * frameRows);
        std::set<qsizetype> frames; // where frames begin, in all bytes
        QByteArray all;
        auto more = [&](qsizetype n) {
            QByteArray b = shape == 0 ? QByteArray(n, '\n') : RandomBytes(n, gen.generate());
            for (qsizetype i = 0; i < b.size(); ++i) {
                if (b[i] == '\t' || (shape == 3 && (b[i] == '\n' || b[i] == '\r')))
                    b[i] = 'x'; // tabs are not cells of one width
                else if (shape == 1 && gen.bounded(16) == 0)
                    b.replace(i, 2, "\r\n");
            }
            return b;
        };
        constexpr qsizetype kKeep = ByteText::kAtOnceBytes * 5 / 2 + 7;
        ByteText t(kKeep);
        bool hex = hexFirst;
        qsizetype width = 10;
        t.SetLayout(Uniform(1), width * 64, hex, false, frameRows);
        qsizetype from = 0; // where the layout began
        auto append = [&](qsizetype n) {
            const QByteArray b = more(n);
            std::vector<FrameStart> starts;
            for (qsizetype at = gen.bounded(3) ? 0 : -1; frameRows && at < b.size(); at += 1 + gen.bounded(400)) {
                if (at >= 0) {
                    starts.push_back({at, 0});
                    frames.insert(all.size() + at);
                }
            }
            all += b;
            t.Append(b, starts);
        };
        for (int round = 0; round < 3; ++round) {
            while (all.size() < (round + 2) * kKeep)
                append(gen.bounded(1, 70000));
            // A plain layout of everything, one cell a byte.
            std::vector<qsizetype> starts {from};
            qsizetype cells = 0;
            for (qsizetype i = from; i < all.size(); ++i) {
                const char c = all[i];
                const bool frame = frames.count(i) > 0;
                if (frame && cells > 0) {
                    starts.push_back(i);
                    cells = 0;
                }
                if (!hex && c == '\n' && i > from && all[i - 1] == '\r' && starts.back() == i && !frame) {
                    starts.back() = i + 1; // CR LF: one break
                } else if (!hex && (c == '\n' || c == '\r')) {
                    starts.push_back(i + 1);
                    cells = 0;
                } else {
                    if (cells == width) {
                        starts.push_back(i);
                        cells = 0;
                    }
                    ++cells;
                    if (hex && c == '\n') {
                        starts.push_back(i + 1);
                        cells = 0;
                    }
                }
            }
            QCOMPARE(t.Size(), kKeep);
            const qsizetype first = std::upper_bound(starts.begin(), starts.end(), t.Begin()) - starts.begin() - 1;
            QCOMPARE(t.LineCount(), qsizetype(starts.size()) - first);
            for (qsizetype line = 0; line < t.LineCount(); ++line)
                QCOMPARE(t.LineStart(line), std::max(starts[std::size_t(first + line)], t.Begin()));
            for (int i = 0; i < 2000; ++i) { // lookups in no order
                const qsizetype offset = t.Begin() + gen.bounded(t.Size() + 1);
                const auto in = std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin() - 1;
                QCOMPARE(t.LineOf(offset), qsizetype(in) - first);
            }
            // The other mode and a new width, built in steps as bytes arrive;
            // meanwhile the newest bytes are laid out in it already.
            hex = !hex;
            width = std::array{7, 16, 11}[std::size_t(round)]; // 16: a line of 1 + 8 + 7 ends within a block
            from = t.Begin();
            t.SetLayout(Uniform(1), width * 64, hex, true, frameRows);
            QVERIFY(t.LayoutPending() && t.ShowsLastLayout() && t.Hex() == hex);
            QVERIFY(t.LineStart(0) > t.Begin());
            while (!t.LayOutSome(100000))
                append(gen.bounded(1, 70000));
            t.FinishLayout();
            QVERIFY(!t.LayoutPending());
        }
    }

    // A flood is laid out only from a line break near its newest bytes: the
    // lines shown are those of a layout of everything, and once the flood
    // is over the whole layout is.
    void aFloodShowsItsNewestLinesAsTheWholeLayoutWould_data()
    {
        QTest::addColumn<int>("shape");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("frameRows");
        QTest::addColumn<int>("rows"); // of the view following the flood
        QTest::newRow("every value") << 0 << false << false << 1;
        QTest::newRow("every value, a tall view") << 0 << false << false << 10000;
        QTest::newRow("every value, hex") << 0 << true << false << 1;
        QTest::newRow("CR LF lines") << 1 << false << false << 1;
        QTest::newRow("CR LF lines in frames") << 1 << false << true << 1;
        QTest::newRow("no line break") << 2 << false << false << 1;
    }
    void aFloodShowsItsNewestLinesAsTheWholeLayoutWould()
    {
        QFETCH(int, shape);
        QFETCH(bool, hex);
        QFETCH(bool, frameRows);
        QFETCH(int, rows);
        QRandomGenerator gen(quint32(shape) * 3 + hex + 10 * frameRows);
        constexpr qsizetype kKeep = 3 * ByteText::kAtOnceBytes;
        ByteText shown(kKeep), whole(kKeep);
        shown.SetLayout(Uniform(1), 13 * 64, hex, false, frameRows);
        whole.SetLayout(Uniform(1), 13 * 64, hex, false, frameRows);
        auto append = [&](qsizetype n) {
            QByteArray b = RandomBytes(n, gen.generate());
            for (char &c : b) {
                if (shape == 1 && (c == '\n' || c == '\r'))
                    c = 'x';
                if (shape == 2 && (c == '\n' || c == '\r' || c == '\t'))
                    c = 'x';
            }
            for (qsizetype i = 0; shape == 1 && i + 1 < n; i += 1 + gen.bounded(300))
                b.replace(i, 2, gen.bounded(2) ? "\r\n" : "\r\r");
            const FrameStart start {qsizetype(gen.bounded(int(n))), 0};
            const std::span<const FrameStart> frames(&start, frameRows ? 1 : 0);
            shown.Append(b, frames);
            whole.Append(b, frames);
        };
        // From its `from`-th line on, `shown` has the whole layout's lines.
        auto sameLinesFrom = [&](qsizetype from) {
            const qsizetype first = whole.LineOf(shown.LineStart(from));
            QCOMPARE(shown.LineCount() - from, whole.LineCount() - first);
            for (qsizetype line = from; line < shown.LineCount(); line += 1 + gen.bounded(50))
                QCOMPARE(shown.LineStart(line), whole.LineStart(first + line - from));
        };
        bool skimmed = false;
        for (int frame = 0; frame < 12; ++frame) {
            const bool flood = frame < 8;
            for (int read = 0; read < 8; ++read)
                append(flood ? gen.bounded(40000, 200000) : gen.bounded(1, 3000));
            skimmed = shown.LayOutArrivals(rows) || skimmed;
            whole.LayOutArrivals(0);
            QCOMPARE(shown.LaidEnd(), shown.End());
            QVERIFY(shown.LineCount() > rows);
            sameLinesFrom(0);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(skimmed, shape != 2); // without a break it cannot skim
        while (shown.LayoutPending() && !shown.LayOutSome(100000)) {}
        shown.FinishLayout();
        // Laid out again from the first kept byte, the lines before the
        // first break may wrap elsewhere: the bytes before it are gone.
        auto breakBefore = [&](qsizetype at) {
            const char c = shown.Store().At(at - 1);
            return c == '\n' || (!hex && c == '\r' && shown.Store().At(at) != '\n');
        };
        qsizetype afterBreak = shown.Begin() + 1;
        while (shape != 2 && !breakBefore(afterBreak))
            ++afterBreak;
        const qsizetype line = shape == 2 ? 0 : shown.LineOf(afterBreak);
        QCOMPARE(shown.LineStart(line), shape == 2 ? shown.Begin() : afterBreak);
        sameLinesFrom(line);
    }

    // Each one-byte read its own frame: the frames' times are bounded as the
    // bytes are, and each still begins a row.
    void aFloodOfTinyFramesStaysBounded()
    {
        ByteText t(1 << 20);
        t.SetLayout(Uniform(1), 80 * 64, false, false, true);
        for (int i = 0; i < 100000; ++i) {
            const FrameStart start {0, i};
            t.Append(QByteArrayView("x", 1), {&start, 1});
        }
        QVERIFY2(t.FrameCount() <= t.MaxFrames() + ByteStore::kChunkBytes, qPrintable(QString::number(t.FrameCount())));
        QCOMPARE(t.LineCount(), t.Size());
        QCOMPARE(t.FrameAt(t.LineStart(t.LineCount() - 1)), std::optional<qint64>(99999));
    }

    // A full area costs about its keep limit in memory whatever the bytes
    // are, and what a user does to it (hex, a font change, Clear) never
    // holds the event loop for long next to laying out as many bytes takes.
    void aFullAreaStaysLightAndNeverStalls_data()
    {
        QTest::addColumn<int>("shape");
        QTest::newRow("all LF") << 0;
        QTest::newRow("no line break") << 1;
        QTest::newRow("every value") << 2;
    }
    void aFullAreaStaysLightAndNeverStalls()
    {
        QFETCH(int, shape);
        constexpr qsizetype kKeep = qsizetype(64) << 20;
        constexpr double kStallBudget = 0.25; // of the time filling takes
        QByteArray source = shape == 0 ? QByteArray(1 << 20, '\n') : RandomBytes(1 << 20, 3);
        if (shape == 1)
            source.replace('\n', 'x').replace('\r', 'y');
        ShownArea shown;
        TextArea &area = shown.area;
        area.SetKeepBytes(kKeep);
        malloc_trim(0);
        const qint64 before = ResidentBytes();
        for (qsizetype done = 0; done < 2 * kKeep; done += 4096) { // trims for the second half
            area.AppendText(QByteArrayView(source).sliced(done % source.size(), 4096));
            if (done % (64 * 1024) == 0)
                QCoreApplication::processEvents();
        }
        area.Flush();
        QTRY_VERIFY_WITH_TIMEOUT(area.LayoutSettled(), 30000); // a flood's layout is built after it
#ifndef __SANITIZE_ADDRESS__ // its allocator keeps freed memory on purpose
        const double perKeep = double(ResidentBytes() - before) / double(kKeep);
        QVERIFY2(perKeep < 1.25, qPrintable(QString::number(perKeep)));
#endif
        // The peer: the same bytes appended and laid out, with no view.
        qint64 fillMs = 0;
        {
            ByteText plain(kKeep);
            plain.SetLayout(area.Content().Metrics(), area.Content().Width());
            QElapsedTimer clock;
            clock.start();
            for (qsizetype done = 0; done < kKeep; done += 4096)
                plain.Append(QByteArrayView(source).sliced(done % source.size(), 4096));
            fillMs = clock.elapsed();
        }
        // The longest gap between events while an action and the layout
        // it starts run; the least of three tries, as the machine is shared.
        auto longestStall = [&](const std::function<void()> &action) {
            QElapsedTimer since, all;
            qint64 longest = 0;
            QTimer tick;
            tick.setInterval(1);
            connect(&tick, &QTimer::timeout, [&] {
                longest = std::max(longest, since.elapsed());
                since.restart();
            });
            tick.start();
            since.start();
            all.start();
            action();
            while (!area.LayoutSettled() && all.elapsed() < 30000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QCoreApplication::processEvents();
            return std::max(longest, since.elapsed());
        };
        const qint64 budgetMs = qint64(kStallBudget * double(fillMs)) + 1;
        QFont bigger = area.font();
        bigger.setPointSize(bigger.pointSize() + 3);
        const QFont usual = area.font();
        const QList<std::pair<const char *, std::function<void()>>> actions = {
            {"hex", [&] { area.SetHexMode(!area.HexMode()); }},
            {"font", [&] { area.setFont(area.font() == usual ? bigger : usual); }},
        };
        for (const auto &[name, action] : actions) {
            qint64 least = std::numeric_limits<qint64>::max();
            for (int i = 0; i < 3 && least > budgetMs; ++i)
                least = std::min(least, longestStall(action));
            QVERIFY2(least <= budgetMs, qPrintable(QStringLiteral("%1: %2 ms, filling %3 ms").arg(name).arg(least).arg(fillMs)));
        }
        const qint64 clear = longestStall([&] { area.SetText({}); });
        QVERIFY2(clear <= budgetMs, qPrintable(QStringLiteral("clear: %1 ms, filling %2 ms").arg(clear).arg(fillMs)));
    }

    void textKeepsEveryByteAcrossChunks()
    {
        QWidget parent;
        TextArea area(&parent);
        area.resize(160, 123);
        const QByteArray data = RandomBytes(10 << 20, 7);
        qsizetype at = 0;
        int piece = 1;
        while (at < data.size()) {
            const qsizetype n = std::min<qsizetype>(piece, data.size() - at);
            area.AppendText(QByteArrayView(data.constData() + at, n));
            at += n;
            piece = piece * 7 % 65537 + 1; // odd sizes that straddle chunk ends
        }
        QCOMPARE(area.Size(), data.size());
        for (qsizetype off : {qsizetype(0), ByteStore::kChunkBytes - 1, ByteStore::kChunkBytes,
                              5 * ByteStore::kChunkBytes + 17, data.size() - 1})
            QCOMPARE(area.Content().Store().At(off), quint8(data[off]));
        const QByteArray text = area.Text();
        QCOMPARE(QCryptographicHash::hash(text, QCryptographicHash::Sha256),
                 QCryptographicHash::hash(data, QCryptographicHash::Sha256));
        // Every visual line fits the width.
        const ByteText &t = area.Content();
        for (qsizetype line = 0; line < std::min<qsizetype>(t.LineCount(), 5000); ++line) {
            std::int32_t x = 0;
            for (qsizetype i = t.LineStart(line); i < t.LineEnd(line); ++i)
                x += t.Metrics().AdvanceAt(t.Store().At(i), x);
            QVERIFY(x <= t.Width() || t.LineEnd(line) - t.LineStart(line) == 1);
        }
        area.SetText("new");
        QCOMPARE(area.Text(), QByteArray("new"));
    }

    // A view of another's bytes shows exactly what they hold after every
    // arrival, trim, clear and change of the keep limit, however many
    // changes it takes in at once, and holds no second copy of them.
    void aViewFollowsTheBytesItShowsAndSharesThem_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u})
            QTest::addRow("seed %u", seed) << seed;
    }
    void aViewFollowsTheBytesItShowsAndSharesThem()
    {
        QFETCH(quint32, seed);
        QRandomGenerator gen(seed);
        constexpr qsizetype kKeep = 3 * ByteStore::kChunkBytes + 123;
        ReceivedBytes held(kKeep);
        ByteText view;
        view.SetLayout(Uniform(1), ByteMetrics::kMaxAdvance); // lines end only at an LF
        view.Show(&held);
        qint64 time = 0;
        for (int step = 0; step < 300; ++step) {
            const int what = int(gen.bounded(20));
            if (what == 0) {
                held.Clear();
            } else if (what == 1) {
                held.SetKeepBytes(kKeep / 2 + gen.bounded(int(kKeep)));
            } else {
                // Mostly small reads; now and then more than is kept.
                const qsizetype n = what == 2 ? gen.bounded(int(2 * kKeep)) : gen.bounded(200);
                QByteArray bytes(n, 'a');
                for (char &c : bytes)
                    c = "ab\n"[gen.bounded(3)];
                const FrameStart start {0, ++time};
                held.Append(bytes, {&start, std::size_t(n > 0)});
            }
            if (gen.bounded(3) == 0)
                continue; // several changes before the view looks
            view.Follow();
            QCOMPARE(view.Bytes(), held.Bytes());
            QVERIFY(SameChunks(view.Store(), held.Store()));
            QCOMPARE(Lines(view), held.Bytes().split('\n'));
            for (const FrameMark &f : held.Frames())
                QCOMPARE(view.FrameAt(f.offset), std::optional<qint64>(f.wallUs));
        }
    }

    void selectionAndCopyAcrossAChunkBoundary()
    {
        QWidget parent;
        TextArea area(&parent);
        area.resize(160, 123);
        QByteArray data(ByteStore::kChunkBytes - 2, 'a');
        data += QByteArray("\x01\r\n\xe9\x00z", 6);
        area.AppendText(data);
        area.SetSelection(ByteStore::kChunkBytes - 3, ByteStore::kChunkBytes + 4);
        const QString expected = QStringLiteral("a") + QChar(0x2401) + "\n" + QChar(0xE9) + QChar(0x2400) + "z";
        QCOMPARE(area.SelectedText(), expected);
        area.Copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    }

    void mouseAndKeyboardSelect()
    {
        ShownArea shown;
        TextArea &area = shown.area;
        area.AppendText("hello world\nsecond line");
        area.setFocus();
        QTest::keyClick(&area, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(area.SelectionStart(), 0);
        QCOMPARE(area.SelectionEnd(), area.Size());
        QTest::keyClick(&area, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(&area, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&area, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(area.SelectedText(), QStringLiteral("he"));
        QTest::keyClick(&area, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(area.SelectedText(), QStringLiteral("hello world"));
        QTest::keyClick(&area, Qt::Key_Down, Qt::ShiftModifier);
        QVERIFY(area.SelectedText().startsWith(QStringLiteral("hello world\nsecond")));

        // Drag from the first character to the middle of the first line.
        QWidget *vp = area.viewport();
        const QPoint start(4, 6);
        QTest::mousePress(vp, Qt::LeftButton, {}, start);
        QMouseEvent move(QEvent::MouseMove, QPointF(40, 6), vp->mapToGlobal(QPointF(40, 6)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(40, 6));
        QCOMPARE(area.SelectionStart(), 0);
        QVERIFY(area.SelectionEnd() > 0 && area.SelectionEnd() < 11);
        QVERIFY(QString("hello world").startsWith(area.SelectedText()));
    }

    // The time strip is part of the area: a right-click on it opens the
    // area's menu, the wheel over it scrolls the rows, it leaves the bytes
    // most of the width, and a row's whole time is its tooltip.
    void theTimeStripIsPartOfTheArea()
    {
        ShownArea shown;
        TextArea &area = shown.area;
        area.resize(145, 123);
        const qint64 at = QDateTime(QDate(2026, 12, 8), QTime(14, 3, 7, 412)).toMSecsSinceEpoch() * 1000;
        for (int i = 0; i < 100; ++i) {
            const FrameStart start {0, at + i * 1000};
            area.AppendText(QByteArray::number(i) + "\n", std::span(&start, 1));
        }
        area.SetTimestamps(true);
        QWidget *strip = area.findChild<QWidget *>(QStringLiteral("TimeGutter"));
        QVERIFY(strip && strip->isVisible());
        QVERIFY2(strip->width() * 2 < area.width() - area.verticalScrollBar()->width(),
                 qPrintable(QStringLiteral("strip %1 of %2").arg(strip->width()).arg(area.width())));

        int menus = 0;
        connect(&area, &TextArea::ContextMenuAboutToShow, &area, [&menus](QMenu *menu) {
            ++menus;
            QTimer::singleShot(0, menu, &QMenu::close);
        });
        const QPoint inStrip(strip->width() / 2, 20);
        QContextMenuEvent click(QContextMenuEvent::Mouse, inStrip, strip->mapToGlobal(inStrip));
        QApplication::sendEvent(strip, &click);
        QCOMPARE(menus, 1);

        area.ScrollToLine(40);
        QTRY_COMPARE(area.FirstVisibleLine(), 40);
        QWheelEvent wheel(inStrip, strip->mapToGlobal(inStrip), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(strip, &wheel);
        QVERIFY(area.FirstVisibleLine() > 40);

        area.ScrollToLine(0);
        QTRY_COMPARE(area.FirstVisibleLine(), 0);
        const QPoint firstRow(strip->width() / 2, area.viewport()->geometry().top() - strip->geometry().top() + 4);
        QHelpEvent help(QEvent::ToolTip, firstRow, strip->mapToGlobal(firstRow));
        QApplication::sendEvent(strip, &help);
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("2026-12-08 14:03:07.412"));
    }

    void followsTheBottomUnlessScrolledUp()
    {
        ShownArea shown;
        TextArea &area = shown.area;
        for (int i = 0; i < 200; ++i)
            area.AppendText(QByteArray::number(i) + "\n");
        QTRY_VERIFY(area.FirstVisibleLine() > 150); // within a frame
        QVERIFY(area.AtBottom());
        area.ScrollToLine(10);
        for (int i = 0; i < 50; ++i)
            area.AppendText("more\n");
        QTest::qWait(40);
        QCOMPARE(area.FirstVisibleLine(), 10);
        area.ScrollToLine(1 << 30);
        const qsizetype bottom = area.FirstVisibleLine();
        area.AppendText("and more\n");
        QTRY_COMPARE(area.FirstVisibleLine(), bottom + 1);
        QVERIFY(area.AtBottom());
        // Page Up leaves the bottom, so arrivals no longer move the view.
        area.setFocus();
        QTest::keyClick(&area, Qt::Key_PageUp);
        const qsizetype first = area.FirstVisibleLine();
        QVERIFY(!area.AtBottom());
        area.AppendText("x\n");
        QTest::qWait(40);
        QCOMPARE(area.FirstVisibleLine(), first);
        QVERIFY(!area.grab().isNull()); // paints without trouble
    }

    // A flood is shown from its newest lines only while the view follows
    // it: scrolled up, the view stays on its bytes, also once the whole
    // layout is built.
    void aFloodLeavesTheViewWhereTheUserPutIt()
    {
        ShownArea shown;
        TextArea &area = shown.area;
        QRandomGenerator gen(5);
        auto floodFrame = [&] {
            area.AppendText(RandomBytes(ByteText::kAtOnceBytes + 4096, gen.generate()));
            area.Flush();
        };
        for (int i = 0; i < 4; ++i)
            floodFrame();
        QVERIFY(area.AtBottom() && area.Content().LayoutPending());
        area.setFocus();
        QTest::keyClick(&area, Qt::Key_PageUp);
        const qsizetype top = area.Content().LineStart(area.FirstVisibleLine());
        for (int i = 0; i < 3; ++i) {
            floodFrame();
            QCOMPARE(area.Content().LineStart(area.FirstVisibleLine()), top);
        }
        QTRY_VERIFY(area.LayoutSettled());
        QCOMPARE(area.Content().LineStart(area.FirstVisibleLine()), top);
        QVERIFY(area.Content().LineStart(0) == area.Content().Begin());
        area.ScrollToLine(1 << 30);
        floodFrame();
        QVERIFY(area.AtBottom());
    }

    // What reaches the screen is pieced together from moved rows and
    // partial repaints; it must be the picture a full repaint gives. The
    // scroll bar's may lag a moment behind, not more.
    void theScreenShowsWhatAFullRepaintWould_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("focused");
        QTest::addColumn<bool>("italic");
        QTest::newRow("following") << false << false << false << false;
        QTest::newRow("with a selection and focus") << false << true << true << false;
        QTest::newRow("hex") << true << true << false << false;
        QTest::newRow("italic, ink past the glyphs") << false << false << false << true;
    }
    void theScreenShowsWhatAFullRepaintWould()
    {
        QFETCH(bool, hex);
        QFETCH(bool, selected);
        QFETCH(bool, focused);
        QFETCH(bool, italic);
        ShownArea shown;
        TextArea &area = shown.area;
        QFont font = area.font();
        font.setItalic(italic);
        area.setFont(font);
        area.SetHexMode(hex);
        if (focused)
            area.setFocus();
        const QByteArray text = "AVWfjy_ (x) Tk\r\nfrom {q}|/\\ wavy\n" + RandomBytes(40, 7) + "\r\n";
        for (int round = 0; round < 12; ++round) {
            // Piece by piece, so that glyphs meet across partial repaints.
            for (qsizetype at = 0, piece = 1; at < text.size(); at += piece, piece = piece % 3 + 1) {
                area.AppendText(text.mid(at, piece));
                area.Flush();
                QCoreApplication::processEvents();
            }
            if (selected && round == 3)
                area.SetSelection(area.Content().Begin() + 20, area.Content().End() + 1000);
        }
        QVERIFY(area.AtBottom() && area.FirstVisibleLine() > 10); // it scrolled
        QCoreApplication::processEvents();
        QCOMPARE(testing::OnScreen(&shown.parent, area.viewport()), testing::FullPaint(area.viewport()));
        QScrollBar *bar = area.verticalScrollBar();
        QTRY_VERIFY_WITH_TIMEOUT(testing::OnScreen(&shown.parent, bar) == testing::FullPaintOf(bar), 1000);
    }

    // Glyphs pieced from cells look as drawn text does: where two glyphs'
    // ink meets, neither stroke is cut off.
    void glyphCellsMatchDrawnText_data()
    {
        QTest::addColumn<bool>("italic");
        QTest::newRow("upright") << false;
        QTest::newRow("italic") << true;
    }
    void glyphCellsMatchDrawnText()
    {
        QFETCH(bool, italic);
        QFont font = QApplication::font();
        font.setItalic(italic);
        const QRawFont raw = QRawFont::fromFont(font);
        const QFontMetrics fm(font);
        const QRgb text = qRgb(0, 0, 0), back = qRgb(255, 255, 255);
        GlyphCells cells;
        cells.Prepare(raw, fm.lineSpacing(), fm.ascent(), {text, back}, {back, text});
        const QList<quint32> glyphs = raw.glyphIndexesForString(QStringLiteral("AVWfjy_/T7 kf//ww"));
        const QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
        QList<int> columns = {4};
        for (const QPointF &step : advances)
            columns.append(int(std::lround(columns.last() + step.x())));
        QImage strip = GlyphCells::NewStrip(columns.last() + 8, fm.lineSpacing());
        GlyphCells::Fill(strip, 0, strip.width(), back);
        QList<QPointF> at;
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            const GlyphCells::Cell *cell = cells.Find(glyphs[i], columns[i + 1] - columns[i], GlyphCells::Plain);
            QVERIFY(cell);
            GlyphCells::Copy(strip, columns[i], *cell, 0, strip.width());
            at.append(QPointF(columns[i], fm.ascent()));
        }
        for (qsizetype i = 0; i < glyphs.size(); ++i)
            cells.Spill(strip, columns[i], *cells.Find(glyphs[i], columns[i + 1] - columns[i], GlyphCells::Plain),
                        GlyphCells::Plain, 0, strip.width());
        QImage drawn = GlyphCells::NewStrip(strip.width(), strip.height());
        drawn.fill(back);
        {
            QPainter painter(&drawn);
            QGlyphRun run;
            run.setRawFont(raw);
            run.setGlyphIndexes(glyphs);
            run.setPositions(at);
            painter.setPen(QColor(text));
            painter.drawGlyphRun(QPointF(), run);
        }
        // Where ink overlaps, drawn text adds the two and cells keep the
        // stronger: close, never a missing stroke.
        int inked = 0;
        for (int y = 0; y < strip.height(); ++y)
            for (int x = 0; x < strip.width(); ++x) {
                const int want = qGray(drawn.pixel(x, y)), got = qGray(strip.pixel(x, y));
                inked += want < 128;
                QVERIFY2(std::abs(want - got) < 100, qPrintable(QStringLiteral("at %1,%2").arg(x).arg(y)));
            }
        QVERIFY(inked > 50);
    }

    // Past its limit an area keeps exactly the newest bytes; a view that
    // was scrolled up stays on the same bytes while the top goes.
    void keepsTheNewestBytesAndTheViewInPlace()
    {
        ShownArea shown;
        TextArea &area = shown.area;
        constexpr qsizetype kKeep = 3 * ByteStore::kChunkBytes + 123; // not a whole number of chunks
        area.SetKeepBytes(kKeep);
        QByteArray all;
        for (int i = 0; all.size() < 2 * kKeep; ++i) {
            const QByteArray line = QByteArray::number(i).rightJustified(7, '0') + "\r\n";
            all += line;
            area.AppendText(line);
        }
        area.Flush();
        QCOMPARE(area.Size(), kKeep);
        QVERIFY(area.Text() == all.right(kKeep));
        area.SelectAll();
        QCOMPARE(area.SelectedText(), ByteGlyphs::DisplayText(all.right(kKeep)));

        area.ScrollToLine(area.Content().LineCount() / 2);
        auto firstVisible = [&] {
            const ByteText &t = area.Content();
            const qsizetype line = area.FirstVisibleLine();
            return t.Store().Mid(t.LineStart(line), t.LineEnd(line) - t.LineStart(line));
        };
        const QByteArray shownLine = firstVisible();
        for (int i = 0; i < 2000; ++i) // a quarter of what is kept
            area.AppendText("more 00\r\n");
        area.Flush();
        QCOMPARE(area.Size(), kKeep);
        QCOMPARE(firstVisible(), shownLine);
        QVERIFY(!area.AtBottom());

        // Viewed from its top, where every arrival trims lines in view: it
        // paints once a frame, not at each arrival, and then as a full paint.
        area.ScrollToLine(0);
        QCoreApplication::processEvents();
        int paints = 0;
        PaintCounter counter(area.viewport(), paints);
        QElapsedTimer clock;
        clock.start();
        constexpr int kArrivals = 300;
        for (int i = 0; i < kArrivals; ++i) {
            area.AppendText("flood 0\r\n");
            QCoreApplication::processEvents();
        }
        const qint64 frames = clock.elapsed() / TextArea::kFrameMs + 2;
        QVERIFY2(paints <= frames, qPrintable(QStringLiteral("%1 paints in %2 frames").arg(paints).arg(frames)));
        area.Flush();
        QCoreApplication::processEvents();
        const QByteArray kept = area.Text();
        QCOMPARE(firstVisible(), kept.left(kept.indexOf('\r')));
        QCOMPARE(testing::OnScreen(&shown.parent, area.viewport()), testing::FullPaint(area.viewport()));
    }

    // Every byte takes room: a glyph that is missing or has no width (the
    // soft hyphen) is boxed, so no line outgrows the area.
    void everyByteTakesRoomAndNoLineOutgrowsTheArea()
    {
        ShownArea shown;
        TextArea &area = shown.area;
        const ByteMetrics &m = area.Content().Metrics();
        const QRgb background = area.palette().color(QPalette::Base).rgb();
        for (int b = 0; b < 256; ++b) {
            if (b == '\r' || b == '\n' || b == '\t' || b == ' ' || b == 0xA0)
                continue; // blank by nature
            area.SetText(QByteArray(1, char(b)));
            const QImage picture = area.viewport()->grab().toImage();
            bool inked = false;
            for (int y = 0; y < 20 && !inked; ++y)
                for (int x = 0; x < 20 && !inked; ++x)
                    inked = picture.pixel(x, y) != background;
            // More than the one pixel the layout grants a byte of no width.
            QVERIFY2(inked && m.AdvanceAt(std::uint8_t(b), 0) > ByteMetrics::kMinAdvance,
                     qPrintable(QString::number(b, 16)));
        }
        area.SetText({});
        area.AppendText(QByteArray(1 << 20, char(0xAD)));
        area.Flush();
        const ByteText &t = area.Content();
        const qsizetype perLine = t.Width() / m.advance[0xAD];
        QVERIFY(t.LineCount() >= (1 << 20) / perLine);
        for (qsizetype line : {qsizetype(0), t.LineCount() / 2, t.LineCount() - 1})
            QVERIFY(t.LineEnd(line) - t.LineStart(line) <= perLine);
        // A click at the end of it finds its byte at once.
        area.ScrollToLine(t.LineCount());
        QElapsedTimer clock;
        clock.start();
        const qsizetype at = area.OffsetAt(QPoint(150, 100));
        QVERIFY(clock.elapsed() < 100);
        QVERIFY(at > t.End() - 16 * perLine);
    }

    // A screen reader gets the text as Copy gives it, and hears of new
    // text, at most twice a second.
    void screenReadersGetTheShownText()
    {
        ShownArea shown;
        TextArea &area = shown.area;
        QSignalSpy told(&area, &TextArea::Announced);
        for (const char *piece : {"ab\r", "\ncd\x01\x85\xe9\t", "x\r\n\r", "\nend"})
            area.AppendText(piece);
        area.Flush();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&area);
        QAccessibleTextInterface *text = iface->textInterface();
        QVERIFY(text);
        area.SelectAll();
        const QString copy = area.SelectedText();
        QCOMPARE(text->characterCount(), copy.size());
        QCOMPARE(text->text(0, text->characterCount()), copy);
        QCOMPARE(text->text(2, 5), copy.mid(2, 3)); // the break, 'c', 'd'
        QCOMPARE(text->cursorPosition(), copy.size());

        area.SetSelection(4, 9); // bytes "cd\x01\x85\xe9"
        int start = -1, end = -1;
        text->selection(0, &start, &end);
        QCOMPARE(text->text(start, end), area.SelectedText());
        text->setSelection(0, 1, 3);
        QCOMPARE(area.SelectedText(), copy.mid(1, 2));

        QTRY_COMPARE(told.size(), 1);
        QCOMPARE(told[0][0].toString(), copy);
        // Fifty arrivals in a burst are one piece of news.
        for (int i = 0; i < 50; ++i) {
            area.AppendText("more\n");
            area.Flush();
        }
        QTest::qWait(TextArea::kAnnounceMs + 100);
        QCOMPARE(told.size(), 2);
        QCOMPARE(told[1][0].toString(), QString("more\n").repeated(50));
    }
};

QTEST_MAIN(TestTextArea)
#include "tst_textarea.moc"

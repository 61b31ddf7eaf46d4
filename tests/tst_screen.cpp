// The text area's screen is pieced together from moved rows and partial
// repaints. Random sequences of what users and ports do to it must leave
// the picture a full repaint gives, after every flush.
//
// VARDELO_SCREEN_SEED picks the first seed and VARDELO_SCREEN_RUNS how
// many sequences run (the benchmark target screen_soak runs many more).

#include "platform/byteview/TextArea.h"
#include "platform/byteview/ViewScrollBar.h"
#include "support/BarTwin.h"
#include "support/ScreenPicture.h"

#include <QMenu>
#include <QRandomGenerator>
#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest>

using namespace platform;
using testing::FullPaint;
using testing::OnScreen;

namespace {

quint32 EnvNumber(const char *name, quint32 fallback)
{
    bool ok = false;
    const quint32 value = qEnvironmentVariable(name).toUInt(&ok);
    return ok ? value : fallback;
}

// One random sequence on one shown area.
class Sequence {
public:
    explicit Sequence(quint32 seed) : gen_(seed)
    {
        window_.resize(220, 200);
        area_.setGeometry(10, 10, 170, 120 + int(gen_.bounded(40)));
        window_.show();
        if (gen_.bounded(2))
            area_.SetKeepBytes(200 + gen_.bounded(3000)); // trims soon
        else if (gen_.bounded(2))
            area_.SetKeepBytes(3 * ByteText::kAtOnceBytes); // a flood trims past its newest lines
    }
    bool Exposed() { return QTest::qWaitForWindowExposed(&window_); }

    // The name of the step taken, for the failure message.
    QString Step()
    {
        switch (gen_.bounded(17)) {
        case 15:
            area_.SetTimestamps(!area_.Timestamps());
            return QStringLiteral("timestamps");
        case 14:
            // Enough that a new layout is built in steps between events;
            // a flood in two frames running is shown from its newest lines,
            area_.AppendText(Flood());
            if (gen_.bounded(2) == 0)
                return QStringLiteral("flood");
            area_.Flush();
            area_.AppendText(Flood());
            if (gen_.bounded(2) == 0)
                return QStringLiteral("flood in two frames");
            // and a few bytes painted, as a selection is, before their frame.
            area_.Flush();
            Append();
            area_.SetSelection(area_.Content().Begin(), area_.Content().End());
            QCoreApplication::processEvents();
            return QStringLiteral("flood in two frames, then a few bytes and a selection");
        case 0: case 1: case 2: case 3:
            Append();
            return QStringLiteral("append");
        case 4:
            area_.SetText(Bytes(gen_.bounded(2) ? 0 : 40));
            return QStringLiteral("replace text");
        case 5:
            Clear();
            return QStringLiteral("clear");
        case 6:
            Wheel(gen_.bounded(2) ? 120 : -120 * int(1 + gen_.bounded(3)));
            return QStringLiteral("wheel");
        case 7:
            QTest::keyClick(&area_, gen_.bounded(2) ? Qt::Key_PageUp : Qt::Key_PageDown);
            return QStringLiteral("page");
        case 8: {
            QScrollBar *bar = area_.verticalScrollBar();
            bar->setSliderDown(true);
            bar->setSliderPosition(gen_.bounded(2) ? bar->minimum() : bar->maximum());
            bar->setSliderDown(false);
            return QStringLiteral("drag to an end");
        }
        case 9: {
            const ByteText &t = area_.Content();
            const qsizetype span = t.End() - t.Begin() + 1;
            area_.SetSelection(t.Begin() + gen_.bounded(span), t.Begin() + gen_.bounded(span));
            return QStringLiteral("select");
        }
        case 10:
            area_.SetHexMode(!area_.HexMode());
            return QStringLiteral("hex");
        case 11:
            if (area_.hasFocus())
                area_.clearFocus();
            else
                area_.setFocus();
            return QStringLiteral("focus");
        case 12: {
            QFont font = area_.font();
            font.setPointSize(9 + 2 * int(gen_.bounded(3)));
            font.setItalic(gen_.bounded(4) == 0);
            area_.setFont(font);
            return QStringLiteral("font");
        }
        case 13: {
            QScrollBar *bar = area_.verticalScrollBar();
            bar->setValue(bar->value() + int(gen_.bounded(5)) - 2);
            return QStringLiteral("move the bar by a line or two");
        }
        default:
            area_.ScrollToLine(gen_.bounded(int(area_.Content().LineCount()) + 1));
            return QStringLiteral("scroll to a line");
        }
    }

    // The bar's picture may lag by its repaint interval, not more.
    bool BarCatchesUp()
    {
        QScrollBar *bar = area_.verticalScrollBar();
        QDeadlineTimer deadline(ViewScrollBar::kPictureMs * 4);
        while (!deadline.hasExpired()) {
            QTest::qWait(20);
            if (OnScreen(&window_, bar) == testing::FullPaintOf(bar))
                return true;
        }
        return false;
    }
    bool FlushNow()
    {
        switch (gen_.bounded(4)) {
        case 0: return false;
        case 1: QCoreApplication::processEvents(); return false; // paints what is due
        default: return true;
        }
    }
    // Flushes and lets the window paint, then compares.
    bool ScreenMatches()
    {
        area_.Flush();
        const bool pending = area_.Content().LayoutPending();
        QCoreApplication::processEvents();
        // A layout finished in those events is painted in the next.
        if (pending && !area_.Content().LayoutPending())
            QCoreApplication::processEvents();
        if (area_.Timestamps() && OnScreen(&window_, Gutter()) != FullPaint(Gutter()))
            return false;
        return OnScreen(&window_, area_.viewport()) == FullPaint(area_.viewport());
    }

private:
    // Text, line breaks (CR LF split across pieces), long lines, any byte.
    QByteArray Bytes(qsizetype n)
    {
        static const QByteArray kAlphabet = "ab WfjT_/{}\r\n\r\n\t";
        QByteArray out(n, Qt::Uninitialized);
        const bool binary = gen_.bounded(4) == 0;
        for (char &c : out)
            c = binary ? char(gen_.bounded(256)) : kAlphabet.at(gen_.bounded(int(kAlphabet.size())));
        return out;
    }
    QByteArray Flood() { return Bytes(4096).repeated(int(ByteText::kAtOnceBytes / 2048 + gen_.bounded(256))); }
    // Pieces as reads: some begin frames, at their start or within.
    void Append()
    {
        const int pieces = 1 + int(gen_.bounded(6));
        for (int i = 0; i < pieces; ++i) {
            const QByteArray bytes = Bytes(1 + gen_.bounded(gen_.bounded(4) ? 30 : 400));
            QVarLengthArray<FrameStart, 4> starts;
            if (gen_.bounded(2))
                starts.append({0, wallUs_ += gen_.bounded(90'000'000)});
            if (bytes.size() > 2 && gen_.bounded(3) == 0)
                starts.append({1 + gen_.bounded(bytes.size() - 1), wallUs_ += 1});
            area_.AppendText(bytes, starts);
        }
    }
    QWidget *Gutter() { return area_.findChild<QWidget *>(QStringLiteral("TimeGutter")); }
    void Clear()
    {
        QMenu menu;
        area_.FillContextMenu(&menu);
        menu.findChild<QAction *>(QStringLiteral("ClearAction"))->trigger();
    }
    void Wheel(int delta)
    {
        const QPointF at(20, 20);
        QWheelEvent wheel(at, area_.viewport()->mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(area_.viewport(), &wheel);
    }

    QRandomGenerator gen_;
    qint64 wallUs_ = 1'765'000'000'000'000;
    QWidget window_;
    TextArea area_{&window_};
};

} // namespace

class ScreenTest : public QObject {
    Q_OBJECT
private slots:
    void theScreenShowsWhatAFullRepaintWouldAfterEveryStep()
    {
        const quint32 first = EnvNumber("VARDELO_SCREEN_SEED", 1);
        const quint32 runs = EnvNumber("VARDELO_SCREEN_RUNS", 200);
        constexpr int kSteps = 24;
        qInfo("seeds %u to %u (VARDELO_SCREEN_SEED, VARDELO_SCREEN_RUNS)", first, first + runs - 1);
        for (quint32 seed = first; seed < first + runs; ++seed) {
            Sequence sequence(seed);
            QVERIFY(sequence.Exposed());
            QStringList steps;
            for (int i = 0; i < kSteps; ++i) {
                steps << sequence.Step();
                // Steps also follow each other before a flush, as a clear,
                // its paint and the next arrival do.
                if (i + 1 < kSteps && !sequence.FlushNow())
                    continue;
                if (!sequence.ScreenMatches())
                    QFAIL(qPrintable(QStringLiteral("seed %1: the screen differs from a full paint after: %2")
                                         .arg(seed)
                                         .arg(steps.join(QStringLiteral(", ")))));
            }
            if (seed % 10 == 0 && !sequence.BarCatchesUp())
                QFAIL(qPrintable(QStringLiteral("seed %1: the scroll bar differs from a full paint after: %2")
                                     .arg(seed)
                                     .arg(steps.join(QStringLiteral(", ")))));
        }
    }
};

QTEST_MAIN(ScreenTest)
#include "tst_screen.moc"

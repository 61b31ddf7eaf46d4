// Appends 256 MiB in 1 KiB arrivals to the byte view, pumping the event
// loop after each as the app does, and the same arrivals into
// QPlainTextEdit for comparison (stopped after 30 s of its own time).

#include "Resident.h"
#include "platform/byteview/TextArea.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <vector>
#include <unistd.h>

namespace {

constexpr qsizetype kArrival = 1024;
constexpr qsizetype kMiB = 1 << 20;

QByteArray Source(bool binary)
{
    QByteArray b(4 * kMiB, Qt::Uninitialized);
    if (binary) {
        QRandomGenerator gen(42);
        gen.fillRange(reinterpret_cast<quint32 *>(b.data()), b.size() / 4);
        // Random binary with no line breaks.
        for (char &c : b)
            if (c == '\n' || c == '\r')
                c = 'x';
    } else {
        for (qsizetype i = 0; i < b.size(); ++i)
            b[i] = (i % 41 == 40) ? '\n' : char('a' + (i * 7 % 26));
    }
    return b;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Figures {
    double firstMiBMs = 0;
    double lastMiBMs = 0;
    std::vector<double> mibMs; // every MiB's cost, in order
    double mbPerS = 0;
    double bytesPerByte = 0;
    qsizetype bytes = 0;
    double last64KiBMs = 0;
};

template <typename Append>
Figures Run(const QByteArray &source, qsizetype total, double limitS, Append &&append)
{
    Figures f;
    const qint64 rssBefore = ResidentBytes();
    QElapsedTimer all, mib, block;
    all.start();
    mib.start();
    block.start();
    qsizetype done = 0;
    while (done < total) {
        append(QByteArrayView(source.constData() + done % source.size(), kArrival));
        QCoreApplication::processEvents();
        done += kArrival;
        if (done % (64 * 1024) == 0) {
            f.last64KiBMs = double(block.nsecsElapsed()) / 1e6;
            block.restart();
        }
        if (done % kMiB == 0) {
            const double ms = double(mib.nsecsElapsed()) / 1e6;
            if (done == kMiB)
                f.firstMiBMs = ms;
            f.lastMiBMs = ms;
            f.mibMs.push_back(ms);
            mib.restart();
        }
        if (limitS > 0 && all.elapsed() > limitS * 1000)
            break;
    }
    const double s = double(all.nsecsElapsed()) / 1e9;
    f.bytes = done;
    f.mbPerS = double(done) / 1e6 / s;
    f.bytesPerByte = double(ResidentBytes() - rssBefore) / double(done);
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qsizetype total = 256 * kMiB;
    double plainLimitS = 30;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--quick") {
            total = 16 * kMiB;
            plainLimitS = 5;
        }
    }

    {
        // A run of soft hyphens, which the font draws with no width: once
        // an endless invisible line that froze the window.
        QWidget window;
        window.resize(480, 452);
        platform::TextArea area(&window);
        area.setGeometry(20, 292, 160, 123);
        window.show();
        const qsizetype run = 10 * kMiB;
        const QByteArray piece(1024, char(0xAD));
        QElapsedTimer t;
        t.start();
        for (qsizetype done = 0; done < run; done += piece.size())
            area.AppendText(piece);
        area.Flush();
        const double appendMs = double(t.nsecsElapsed()) / 1e6;
        area.ScrollToLine(area.Content().LineCount());
        t.restart();
        const qsizetype hit = area.OffsetAt(QPoint(150, 100));
        const double hitUs = double(t.nsecsElapsed()) / 1e3;
        t.restart();
        area.repaint();
        const double paintMs = double(t.nsecsElapsed()) / 1e6;
        std::printf("byte view, 0xAD run: %lld MiB in %.0f ms, %lld lines, hit-test at the end %.1f us (offset %lld), "
                    "paint %.2f ms\n",
                    (long long)(run / kMiB), appendMs, (long long)area.Content().LineCount(), hitUs, (long long)hit,
                    paintMs);
        std::fflush(stdout);
    }

    {
        // Switching a full area (64 MiB kept) to hex and back.
        QWidget window;
        window.resize(480, 452);
        platform::TextArea area(&window);
        area.setGeometry(20, 292, 160, 123);
        window.show();
        const QByteArray source = Source(false);
        for (qsizetype done = 0; done < area.KeepBytes(); done += source.size())
            area.AppendText(source);
        area.Flush();
        QElapsedTimer t;
        t.start();
        area.SetHexMode(true);
        area.repaint();
        const double toHexMs = double(t.nsecsElapsed()) / 1e6;
        t.restart();
        area.SetHexMode(false);
        area.repaint();
        const double backMs = double(t.nsecsElapsed()) / 1e6;
        std::printf("byte view, hex switch at %lld MiB kept: to hex %.0f ms, back %.0f ms\n",
                    (long long)(area.Size() / kMiB), toHexMs, backMs);
        std::fflush(stdout);
    }

    for (const bool binary : {true, false}) {
        const QByteArray source = Source(binary);
        const char *kind = binary ? "binary, no line breaks" : "40-character text lines";
        QWidget window;
        window.resize(480, 452);
        auto *area = new platform::TextArea(&window);
        area->setGeometry(20, 292, 160, 123);
        window.show();
        const Figures f = Run(source, total, 0, [&](QByteArrayView b) { area->AppendText(b); });
        // Single MiBs are noisy on a shared machine; the medians of the
        // first and last eight say the same more steadily.
        const std::size_t n = f.mibMs.size();
        const double head = Median({f.mibMs.begin(), f.mibMs.begin() + std::min<std::size_t>(8, n)});
        const double tail = Median({f.mibMs.end() - std::min<std::size_t>(8, n), f.mibMs.end()});
        std::printf("byte view, %s: %lld MiB, 1st MiB %.2f ms, last MiB %.2f ms, ratio %.2f "
                    "(medians of first and last 8 MiB: %.2f ms, %.2f ms, ratio %.2f), "
                    "%.2f bytes of memory per byte, %.0f MB/s\n",
                    kind, (long long)(f.bytes / kMiB), f.firstMiBMs, f.lastMiBMs, f.lastMiBMs / f.firstMiBMs, head,
                    tail, tail / head, f.bytesPerByte, f.mbPerS);
        std::fflush(stdout);
        delete area;
        malloc_trim(0); // give freed memory back, so the next figure starts clean

        auto *plain = new QPlainTextEdit(&window);
        plain->setReadOnly(true);
        plain->setUndoRedoEnabled(false);
        plain->setGeometry(20, 292, 160, 123);
        plain->show();
        const Figures p = Run(source, total, plainLimitS, [&](QByteArrayView b) {
            plain->moveCursor(QTextCursor::End);
            plain->insertPlainText(QString::fromLatin1(b.data(), b.size()));
        });
        const QString first = p.bytes >= kMiB ? QStringLiteral("%1 ms").arg(p.firstMiBMs, 0, 'f', 0)
                                              : QStringLiteral("not reached");
        std::printf("QPlainTextEdit, %s: %.2f MiB in %.0f s, 1st MiB %s, last 64 KiB %.0f ms, %.2f MB/s\n", kind,
                    double(p.bytes) / kMiB, plainLimitS, qPrintable(first), p.last64KiBMs, p.mbPerS);
        std::fflush(stdout);
        delete plain;
        malloc_trim(0);
    }
    return 0;
}

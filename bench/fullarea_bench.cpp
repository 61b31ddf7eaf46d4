// A text area holding its whole keep limit, for three shapes of bytes:
// what it costs in memory, and how long the event loop is held by the
// operations a user runs on it (hex on and off, a font change, a resize,
// Select All, Save's snapshot, Clear). The peer is filling the same area:
// the time a plain append of the same bytes takes.
//
// fullarea_bench [--quick]   (--quick: a 16 MiB keep limit)

#include "Resident.h"
#include "platform/byteview/TextArea.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <unistd.h>

namespace {

constexpr qsizetype kMiB = 1 << 20;
constexpr qsizetype kArrival = 4096;
constexpr int kTickMs = 1;

QByteArray Source(int shape)
{
    QByteArray b(4 * kMiB, '\n');
    if (shape == 0)
        return b; // every byte a line break
    QRandomGenerator gen(7);
    gen.fillRange(reinterpret_cast<quint32 *>(b.data()), b.size() / 4);
    if (shape == 1)
        for (char &c : b)
            if (c == '\n' || c == '\r')
                c = 'x';
    return b;
}

// The longest the event loop went without running a 1 ms timer while
// `op` ran and the area then settled.
double LongestStallMs(platform::TextArea &area, const std::function<void()> &op, double *settleMs)
{
    QElapsedTimer since, all;
    double longest = 0;
    QTimer tick;
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, double(since.nsecsElapsed()) / 1e6);
        since.restart();
    });
    tick.start();
    QCoreApplication::processEvents();
    since.start();
    all.start();
    op();
    while (!area.LayoutSettled() && all.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    area.repaint();
    *settleMs = double(all.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents();
    longest = std::max(longest, double(since.nsecsElapsed()) / 1e6);
    return longest;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qsizetype keep = platform::ByteText::kDefaultKeepBytes;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--quick")
            keep = 16 * kMiB;
    const char *names[] = {"all LF", "no LF", "every value"};
    for (int shape = 0; shape < 3; ++shape) {
        const QByteArray source = Source(shape);
        QWidget window;
        window.resize(640, 480);
        auto *area = new platform::TextArea(&window);
        area->setGeometry(10, 10, 620, 460);
        area->SetKeepBytes(keep);
        window.show();
        QCoreApplication::processEvents();
        area->repaint();
        malloc_trim(0);
        const qint64 rssBefore = ResidentBytes();
        // Twice the keep limit, so trimming runs for the second half.
        QElapsedTimer t;
        t.start();
        double fillMs = 0;
        for (qsizetype done = 0; done < 2 * keep; done += kArrival) {
            area->AppendText(QByteArrayView(source.constData() + done % source.size(), kArrival));
            if (done % (64 * 1024) == 0)
                QCoreApplication::processEvents();
            if (done + kArrival == keep)
                fillMs = double(t.nsecsElapsed()) / 1e6;
        }
        const double refillMs = double(t.nsecsElapsed()) / 1e6 - fillMs;
        area->Flush();
        // A flood's whole layout is built once it is over: counted too.
        while (!area->LayoutSettled())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const double perArea = double(ResidentBytes() - rssBefore) / double(keep);
        std::printf("%s, %lld MiB kept: memory %.2fx the keep limit; filling it took %.0f ms, as much again "
                    "(trimming as it goes) %.0f ms\n",
                    names[shape], (long long)(keep / kMiB), perArea, fillMs, refillMs);
        std::fflush(stdout);

        struct Op {
            const char *name;
            std::function<void()> run;
        };
        QFont bigger = area->font();
        bigger.setPointSize(bigger.pointSize() + 2);
        platform::ByteStore snapshot;
        const Op ops[] = {
            {"hex on", [&] { area->SetHexMode(true); }},
            {"hex off", [&] { area->SetHexMode(false); }},
            {"font change", [&] { area->setFont(bigger); }},
            {"resize", [&] { area->resize(area->width() - 37, area->height()); }},
            {"select all", [&] { area->SelectAll(); }},
            {"save snapshot", [&] { snapshot = area->Content().Store(); }},
            {"clear", [&] { area->SetText({}); }},
        };
        for (const Op &op : ops) {
            double settle = 0;
            const double stall = LongestStallMs(*area, op.run, &settle);
            std::printf("  %-13s longest stall %6.1f ms (%.2fx filling), settled in %6.0f ms\n", op.name, stall,
                        stall / fillMs, settle);
            std::fflush(stdout);
        }
        delete area;
        snapshot.Clear();
        malloc_trim(0);
    }
    return 0;
}

#include "FrameClock.h"

namespace platform {

FrameClock::FrameClock()
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        const QList<Due> due = std::exchange(pending_, {});
        for (const Due &d : due)
            if (d.view)
                d.flush();
    });
}

void FrameClock::Schedule(QObject *view, std::function<void()> flush, int dueInMs)
{
    static FrameClock clock;
    clock.pending_.append({view, std::move(flush)});
    if (!clock.timer_.isActive() || clock.timer_.remainingTime() > dueInMs)
        clock.timer_.start(dueInMs);
}

} // namespace platform

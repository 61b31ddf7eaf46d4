#include "LineWatch.h"

#include <QMetaObject>

#include <chrono>
#include <mutex>

#ifndef Q_OS_WIN
#include <csignal>
#include <pthread.h>
#endif

namespace platform {

namespace {

std::mutex callsLock;
LineWatch::Calls &Installed()
{
    static LineWatch::Calls calls;
    return calls;
}

#ifndef Q_OS_WIN
// A signal that only ends a blocked wait: its handler does nothing, and it
// is installed without SA_RESTART so that the wait returns EINTR.
int WakeSignal()
{
    static const int number = [] {
        const int n = SIGRTMIN + 3;
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(n, &action, nullptr);
        return n;
    }();
    return number;
}
#endif

} // namespace

void LineWatch::SetCalls(const Calls &calls)
{
    const std::lock_guard<std::mutex> guard(callsLock);
    Installed() = calls;
}

LineWatch::Calls LineWatch::Used()
{
    const std::lock_guard<std::mutex> guard(callsLock);
    return Installed();
}

void LineWatch::Interrupt(std::thread &watcher)
{
#ifndef Q_OS_WIN
    ::pthread_kill(watcher.native_handle(), WakeSignal());
#else
    (void)watcher; // the wait there ends when the port closes
#endif
}

LineWatch::LineWatch(os::PortHandle handle, const ModemInputs &now, QObject *owner,
                     std::function<void(const QList<ModemInputs> &)> post)
    : handle_(handle), calls_(Used()), owner_(owner), post_(std::move(post))
{
#ifndef Q_OS_WIN
    WakeSignal();
#endif
    thread_ = std::thread([this, now] { Run(now); });
    nudge_.setInterval(kNudgeMs);
    QObject::connect(&nudge_, &QTimer::timeout, [this] { calls_.interrupt(thread_); });
    nudge_.start();
}

LineWatch::~LineWatch()
{
    Stop();
}

void LineWatch::Stop()
{
    nudge_.stop();
    if (!thread_.joinable())
        return;
    stop_ = true;
    // A signal may land just before the wait starts: send until it ends.
    while (true) {
        calls_.interrupt(thread_);
        for (int i = 0; i < 20 && !finished_; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (finished_)
            break;
    }
    thread_.join();
}

void LineWatch::Run(ModemInputs before)
{
    std::optional<InputCounts> counted = calls_.counts(handle_);
    while (!stop_) {
        const os::InputWait waited = calls_.wait(handle_);
        if (stop_)
            break;
        if (waited == os::InputWait::Unsupported)
            std::this_thread::sleep_for(std::chrono::milliseconds(kLookEveryMs));
        // Counts first: an edge after them shows in the states and is
        // counted at the next look (ReplayEdges allows for it).
        const std::optional<InputCounts> counts = calls_.counts(handle_);
        const std::optional<os::ModemLineStates> lines = calls_.read(handle_);
        if (!lines)
            break; // the device is gone: its port says so
        QList<ModemInputs> states = counts && counted ? ReplayEdges(before, *counted, lines->inputs, *counts)
                                    : lines->inputs == before ? QList<ModemInputs> {}
                                                              : QList<ModemInputs> {lines->inputs};
        counted = counts;
        before = lines->inputs;
        if (states.isEmpty())
            continue;
        // Dropped by Qt if the owner is gone by then.
        QMetaObject::invokeMethod(owner_, [post = post_, states] { post(states); }, Qt::QueuedConnection);
    }
    finished_ = true;
}

} // namespace platform

#include "DirectRelay.h"

#include <chrono>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef Q_OS_WIN

DirectRelay::DirectRelay(std::function<void()> wake) : wake_(std::move(wake)) {}
DirectRelay::~DirectRelay() = default;

bool DirectRelay::Available() { return false; }
bool DirectRelay::Start(os::PortHandle, os::PortHandle, Pacer) { return false; }
DirectRelay::Left DirectRelay::Stop() { return {}; }
DirectRelay::News DirectRelay::Take() { return {}; }
void DirectRelay::Run() {}

#else

namespace {

constexpr qsizetype kReadBytes = 64 * 1024;

qint64 NowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

DirectRelay::DirectRelay(std::function<void()> wake) : wake_(std::move(wake))
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    newsRead_ = pipe[0];
    newsWrite_ = pipe[1];
    newsWatch_ = std::make_unique<QSocketNotifier>(newsRead_, QSocketNotifier::Read);
    QObject::connect(newsWatch_.get(), &QSocketNotifier::activated, [this] {
        char drained[64];
        while (::read(newsRead_, drained, sizeof drained) > 0) {
        }
        wake_();
    });
}

DirectRelay::~DirectRelay()
{
    Stop();
    newsWatch_.reset();
    if (newsRead_ >= 0) {
        ::close(newsRead_);
        ::close(newsWrite_);
    }
}

bool DirectRelay::Available() { return true; }

bool DirectRelay::Start(os::PortHandle a, os::PortHandle b, Pacer pacer)
{
    if (running_ || a < 0 || b < 0 || newsWrite_ < 0)
        return false;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    wakeRead_ = pipe[0];
    wakeWrite_ = pipe[1];
    fd_[0] = a;
    fd_[1] = b;
    pacer_ = std::move(pacer);
    for (int side : {0, 1}) {
        queued_[side] = 0;
        held_[side] = false;
    }
    stop_ = false;
    left_ = {};
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

DirectRelay::Left DirectRelay::Stop()
{
    if (!running_)
        return {};
    stop_ = true;
    const char c = 0;
    while (::write(wakeWrite_, &c, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    running_ = false;
    ::close(wakeRead_);
    ::close(wakeWrite_);
    wakeRead_ = wakeWrite_ = -1;
    return std::exchange(left_, {});
}

DirectRelay::News DirectRelay::Take()
{
    woken_ = false;
    const std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(news_, {});
}

// One loop over the wake pipe and the devices: read what a side can take,
// write what waits, hold a side whose destination is full.
void DirectRelay::Run()
{
    const bool echo = fd_[0] == fd_[1];
    const int sides = echo ? 1 : 2;
    QByteArray *toward = left_.toward;
    bool held[2] = {};
    bool failed[2] = {};
    char buffer[kReadBytes];
    while (!stop_) {
        pollfd p[3] = {{wakeRead_, POLLIN, 0}, {}, {}};
        for (int s = 0; s < sides; ++s) {
            const int destination = echo ? s : 1 - s;
            short events = 0;
            if (!held[s] && !failed[s] && !failed[destination])
                events |= POLLIN;
            if (!toward[s].isEmpty() && !failed[s])
                events |= POLLOUT;
            p[1 + s] = {fd_[s], events, 0};
        }
        if (::poll(p, nfds_t(1 + sides), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        bool news = false;
        for (int s = 0; s < sides; ++s) {
            const int destination = echo ? s : 1 - s;
            const short got = p[1 + s].revents;
            if (got & POLLIN) {
                const ssize_t n = ::read(fd_[s], buffer, sizeof buffer);
                if (n > 0) {
                    toward[destination].append(buffer, n);
                    const std::lock_guard<std::mutex> guard(lock_);
                    news_.arrivals.push_back({s, QByteArray(buffer, n), NowUs()});
                    news = true;
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    failed[s] = true;
                }
            } else if (got & (POLLHUP | POLLERR | POLLNVAL)) {
                failed[s] = true;
            }
        }
        for (int s = 0; s < sides; ++s) {
            while (!toward[s].isEmpty() && !failed[s]) {
                const ssize_t n = ::write(fd_[s], toward[s].constData(), size_t(toward[s].size()));
                if (n > 0) {
                    toward[s].remove(0, n);
                } else {
                    if (n < 0 && errno != EAGAIN && errno != EINTR)
                        failed[s] = true;
                    break;
                }
            }
        }
        const std::array<bool, 2> hold = pacer_({toward[0].size(), toward[1].size()}, {held[0], held[1]});
        for (int s = 0; s < sides; ++s) {
            if (hold[s] && !held[s]) {
                const std::lock_guard<std::mutex> guard(lock_);
                news_.held[s] = true;
                news = true;
            }
            held[s] = hold[s];
            if (failed[s]) {
                const std::lock_guard<std::mutex> guard(lock_);
                if (!news_.failed[s]) {
                    news_.failed[s] = true;
                    news = true;
                }
            }
        }
        for (int side : {0, 1}) {
            queued_[side] = toward[side].size();
            held_[side] = held[side];
        }
        if (news && !woken_.exchange(true)) {
            const char c = 0;
            while (::write(newsWrite_, &c, 1) < 0 && errno == EINTR) {
            }
        }
        // A failed device stops this relay: the owner takes over from here.
        if (failed[0] || failed[1]) {
            while (!stop_) {
                pollfd w {wakeRead_, POLLIN, 0};
                ::poll(&w, 1, -1);
            }
        }
    }
}

#endif

} // namespace platform

#include "DirectRelay.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <vector>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef Q_OS_WIN

DirectRelay::DirectRelay(std::function<void()> wake) : wake_(std::move(wake)) {}
DirectRelay::~DirectRelay() = default;

bool DirectRelay::Available() { return false; }
bool DirectRelay::Start(os::PortHandle, os::PortHandle, Pacer, const Framings &) { return false; }
DirectRelay::Left DirectRelay::Stop() { return {}; }
DirectRelay::News DirectRelay::Take() { return {}; }
void DirectRelay::Run() {}
void DirectRelay::HandOver(int, const char *, qsizetype, QList<LineEvent>) {}

#else

namespace {

constexpr qsizetype kReadBytes = 64 * 1024;
// A view paints at most every 95-100 ms: waking the owner more often only
// costs both threads, and at a line's pace most of the window's work.
constexpr qint64 kWakeEveryUs = 100'000;

// A descriptor, and whether it is a socket: a plain write to a socket
// whose peer has gone raises SIGPIPE, which ends the program.
struct Device {
    int fd = -1;
    bool socket = false;
};

Device DeviceOf(int fd)
{
    struct stat s {};
    return {fd, ::fstat(fd, &s) == 0 && S_ISSOCK(s.st_mode)};
}

// One write of what the device takes now: the bytes written, 0 when it is
// full (a write of 0 or EAGAIN), -1 when it failed.
ssize_t WriteNow(const Device &device, const iovec *parts, int count)
{
    for (;;) {
        msghdr message {};
        message.msg_iov = const_cast<iovec *>(parts);
        message.msg_iovlen = size_t(count);
        const ssize_t n = device.socket ? ::sendmsg(device.fd, &message, MSG_NOSIGNAL)
                                        : ::writev(device.fd, parts, count);
        if (n >= 0)
            return n;
        if (errno == EAGAIN)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

// Bytes waiting to be written, in blocks that are kept for reuse while the
// relay runs: in a flood the queue grows to megabytes and drains again
// many times a second, and a growing buffer would copy what waits and
// touch new pages each time. The pacing bounds the queue, so the blocks
// kept are bounded too.
class Waiting {
public:
    bool IsEmpty() const { return size_ == 0; }
    qsizetype Size() const { return size_; }
    void Append(const char *data, qsizetype size)
    {
        size_ += size;
        while (size > 0) {
            if (blocks_.empty() || blocks_.back().end == kBlockBytes)
                blocks_.push_back(NewBlock());
            Block &last = blocks_.back();
            const qsizetype n = std::min(size, kBlockBytes - last.end);
            std::memcpy(last.bytes.get() + last.end, data, size_t(n));
            last.end += n;
            data += n;
            size -= n;
        }
    }
    // Writes from the front as much as the device takes now; false when it failed.
    bool WriteTo(const Device &device)
    {
        while (size_ > 0) {
            iovec parts[kMostParts];
            int count = 0;
            for (auto b = blocks_.begin(); b != blocks_.end() && count < kMostParts; ++b)
                parts[count++] = {b->bytes.get() + b->begin, size_t(b->end - b->begin)};
            const ssize_t n = WriteNow(device, parts, count);
            if (n <= 0)
                return n == 0;
            Consume(n);
        }
        return true;
    }
    QByteArray Take()
    {
        QByteArray all;
        all.reserve(size_);
        for (const Block &b : blocks_)
            all.append(b.bytes.get() + b.begin, b.end - b.begin);
        Consume(size_);
        return all;
    }

private:
    static constexpr qsizetype kBlockBytes = 64 * 1024;
    static constexpr int kMostParts = 16;
    struct Block {
        std::unique_ptr<char[]> bytes;
        qsizetype begin = 0;
        qsizetype end = 0;
    };
    Block NewBlock()
    {
        if (spare_.empty())
            return {std::make_unique_for_overwrite<char[]>(kBlockBytes)};
        Block b = std::move(spare_.back());
        spare_.pop_back();
        b.begin = b.end = 0;
        return b;
    }
    void Consume(qsizetype size)
    {
        size_ -= size;
        while (size > 0) {
            Block &first = blocks_.front();
            const qsizetype n = std::min(size, first.end - first.begin);
            first.begin += n;
            size -= n;
            if (first.begin == first.end) {
                spare_.push_back(std::move(first));
                blocks_.pop_front();
            }
        }
    }

    std::deque<Block> blocks_;
    std::vector<Block> spare_;
    qsizetype size_ = 0;
};

// Reads what the device has now, up to `size`: a tty hands over 4 KiB a
// read, and what several reads bring goes on in one write, which wakes the
// reader at the far end once. A raw tty with nothing more to give reads 0,
// which is a hang-up only when the device was said to be readable and
// gave nothing at all. False when it failed.
bool ReadSome(int fd, char *buffer, qsizetype size, qsizetype *got)
{
    *got = 0;
    while (*got < size) {
        const ssize_t n = ::read(fd, buffer + *got, size_t(size - *got));
        if (n > 0) {
            *got += n;
        } else {
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0)
                return *got > 0;
            return errno == EAGAIN;
        }
    }
    return true;
}

// Writes as much as the device takes now; false when it failed.
bool WriteSome(const Device &device, const char *data, qsizetype size, qsizetype *written)
{
    *written = 0;
    while (*written < size) {
        iovec part {const_cast<char *>(data) + *written, size_t(size - *written)};
        const ssize_t n = WriteNow(device, &part, 1);
        if (n <= 0)
            return n == 0;
        *written += n;
    }
    return true;
}

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

bool DirectRelay::Start(os::PortHandle a, os::PortHandle b, Pacer pacer, const Framings &framing)
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
    framing_ = framing;
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
    newsCost_[0] = newsCost_[1] = 0;
    return std::exchange(news_, {});
}

// A copy for the owner; past the limit the side's oldest copies go.
void DirectRelay::HandOver(int side, const char *bytes, qsizetype size, QList<LineEvent> events)
{
    const qint64 limit = handOverLimit_;
    const std::lock_guard<std::mutex> guard(lock_);
    std::deque<Arrival> &arrivals = news_.arrivals[side];
    arrivals.push_back({order_++, QByteArray(bytes, size), NowUs(), std::move(events)});
    newsCost_[side] += size + kArrivalCostBytes;
    while (newsCost_[side] > limit && arrivals.size() > 1) {
        const qsizetype gone = arrivals.front().bytes.size();
        news_.skipped[side] += gone;
        newsCost_[side] -= gone + kArrivalCostBytes;
        arrivals.pop_front();
    }
}

// One loop over the wake pipe and the devices: read what a side can take,
// write what waits, hold a side whose destination is full.
void DirectRelay::Run()
{
    ::pthread_setname_np(::pthread_self(), "vardelo relay"); // for top -H, gdb and the bench
    const bool echo = fd_[0] == fd_[1];
    const int sides = echo ? 1 : 2;
    const Device device[2] = {DeviceOf(fd_[0]), DeviceOf(fd_[1])};
    Waiting toward[2];
    bool held[2] = {};
    bool failed[2] = {};
    bool command[2] = {}; // read up to a command, left to the owner
    QByteArray unread[2];
    QByteArray decoded, escaped;
    char buffer[kReadBytes];
    bool untold = false; // news the owner was not yet woken for
    qint64 toldUs = std::numeric_limits<qint64>::min() / 2;
    while (!stop_) {
        pollfd p[3] = {{wakeRead_, POLLIN, 0}, {}, {}};
        for (int s = 0; s < sides; ++s) {
            const int destination = echo ? s : 1 - s;
            short events = 0;
            if (!held[s] && !failed[s] && !failed[destination] && !command[s])
                events |= POLLIN;
            if (!toward[s].IsEmpty() && !failed[s])
                events |= POLLOUT;
            p[1 + s] = {fd_[s], events, 0};
        }
        const int waitMs = untold ? int(std::max<qint64>(1, (toldUs + kWakeEveryUs - NowUs() + 999) / 1000)) : -1;
        if (::poll(p, nfds_t(1 + sides), waitMs) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        bool news = false;
        bool urgent = false; // a hold, a failure or a command: told at once
        for (int s = 0; s < sides; ++s) {
            const int destination = echo ? s : 1 - s;
            const short got = p[1 + s].revents;
            if (got & POLLIN) {
                qsizetype n = 0;
                const bool readable = ReadSome(fd_[s], buffer, sizeof buffer, &n);
                const char *data = buffer;
                QList<LineEvent> events;
                if (n > 0 && framing_[s].marks) {
                    decoded = framing_[s].marks->Decode(QByteArrayView(buffer, n), 0, events);
                    data = decoded.constData();
                    n = decoded.size();
                } else if (n > 0 && framing_[s].telnet) {
                    decoded.resize(0);
                    const qsizetype taken = framing_[s].telnet->DecodeData(QByteArrayView(buffer, n), decoded);
                    if (taken < n) {
                        unread[s] = QByteArray(buffer + taken, n - taken);
                        command[s] = urgent = true;
                        const std::lock_guard<std::mutex> guard(lock_);
                        news_.command[s] = true;
                    }
                    data = decoded.constData();
                    n = decoded.size();
                }
                if (n > 0) {
                    // Toward a Telnet device a data byte 255 goes doubled.
                    const char *out = data;
                    qsizetype size = n;
                    if (framing_[destination].telnet && std::memchr(data, net::TelnetCodec::kIac, size_t(n))) {
                        escaped = net::TelnetCodec::Escape(QByteArrayView(data, n));
                        out = escaped.constData();
                        size = escaped.size();
                    }
                    // Straight on when nothing waits before it.
                    qsizetype written = 0;
                    if (toward[destination].IsEmpty() && !failed[destination])
                        failed[destination] = !WriteSome(device[destination], out, size, &written);
                    toward[destination].Append(out + written, size - written);
                }
                if (n > 0 || !events.isEmpty()) {
                    HandOver(s, data, n, std::move(events));
                    news = true;
                }
                failed[s] = failed[s] || !readable;
            } else if (got & (POLLHUP | POLLERR | POLLNVAL)) {
                failed[s] = true;
            }
        }
        for (int s = 0; s < sides; ++s) {
            if (toward[s].IsEmpty() || failed[s])
                continue;
            failed[s] = !toward[s].WriteTo(device[s]);
        }
        const std::array<bool, 2> hold = pacer_({toward[0].Size(), toward[1].Size()}, {held[0], held[1]});
        for (int s = 0; s < sides; ++s) {
            if (hold[s] && !held[s]) {
                const std::lock_guard<std::mutex> guard(lock_);
                news_.held[s] = true;
                urgent = true;
            }
            held[s] = hold[s];
            if (failed[s]) {
                const std::lock_guard<std::mutex> guard(lock_);
                if (!news_.failed[s]) {
                    news_.failed[s] = true;
                    urgent = true;
                }
            }
        }
        for (int side : {0, 1}) {
            queued_[side] = toward[side].Size();
            held_[side] = held[side];
        }
        // In a flood the owner is woken at most every kWakeEveryUs, each
        // time for a batch: waking it for every read would cost both
        // threads more than the relaying.
        untold = untold || news || urgent;
        if (untold && (urgent || NowUs() - toldUs >= kWakeEveryUs)) {
            untold = false;
            if (!woken_.exchange(true)) {
                toldUs = NowUs();
                const char c = 0;
                while (::write(newsWrite_, &c, 1) < 0 && errno == EINTR) {
                }
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
    for (int side : {0, 1}) {
        left_.toward[side] = toward[side].Take();
        left_.unread[side] = std::move(unread[side]);
    }
    left_.framing = framing_;
}

#endif

} // namespace platform

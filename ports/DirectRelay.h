#pragma once
// The data path of a link on a thread of its own: two open devices (or one
// echoing itself) read and written through their descriptors, so that no
// byte waits for the window, whatever it paints, lays out or asks. A device
// is a tty here or a socket to a port elsewhere; a socket's end of file is
// a hang-up.
//
// The threads meet only here, under one lock: the owner starts and stops
// the relay, and takes from it, in order, what arrived (copies for the view
// and the record) and which side failed or was held back. When there is
// something to take the relay writes a byte to a pipe that the owner's
// thread watches, which then calls `wake` there: at once after a quiet
// while, a failure or a hold; while bytes keep coming, at most every
// 100 ms, about as often as a view paints.
// The hand-over is bounded: while the owner does not take, each side keeps
// at most HandOverLimit() bytes of copies, the newest, and counts those it
// let go. The relay itself never waits for the owner.
// Stop() returns what was read but not yet written, for the owner to write
// first, so that no byte is lost or reordered across a stop.
// A device that speaks Telnet (a port server's RFC 2217) has its data
// decoded and what goes to it escaped here. A command from it is its
// port's to answer: the relay stops reading that device there, tells the
// owner at once, and Stop() returns the rest undecoded.
//
// POSIX only: elsewhere Available() is false and the owner relays itself.

#include "ModemLines.h"
#include "OsSeam.h"
#include "Port.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <array>
#include <deque>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <thread>

namespace platform {

class DirectRelay {
public:
    struct Arrival {
        quint64 order;    // across both sides, the order they were read in
        QByteArray bytes;
        qint64 readUs;    // monotonic, when it was read
        QList<LineEvent> events {}; // breaks and errors among them, placed from their start
    };
    struct News {
        std::deque<Arrival> arrivals[2]; // by the device they came from, oldest first
        qint64 skipped[2] = {}; // bytes read whose copies were let go before these
        bool failed[2] = {};  // reading or writing that device failed: relaying stopped
        bool command[2] = {}; // that device sent a command: reading it stopped there
        bool held[2] = {};    // held back at least once: its destination was full
    };
    // A copy costs its bytes and this much besides, so that a flood of
    // one-byte reads is bounded too.
    static constexpr qint64 kArrivalCostBytes = 64;
    static constexpr qint64 kDefaultHandOverBytes = qint64(64) << 20;

    // `wake` is called on the thread that makes this relay.
    explicit DirectRelay(std::function<void()> wake);
    ~DirectRelay();
    DirectRelay(const DirectRelay &) = delete;
    DirectRelay &operator=(const DirectRelay &) = delete;

    static bool Available();
    // Which sides stop reading, from the bytes waiting toward each side's
    // device and whether each is held now. Called on the relay's thread.
    using Pacer = std::function<std::array<bool, 2>(const std::array<qint64, 2> &queued,
                                                    const std::array<bool, 2> &held)>;
    // Side 0 reads `a` and writes what it reads to `b`, side 1 the other
    // way; with a == b the device's bytes go back to it. A side whose
    // device marks breaks and errors has its bytes written unmarked, and
    // the events handed over with their copies.
    using Framings = std::array<Framing, 2>;
    bool Start(os::PortHandle a, os::PortHandle b, Pacer pacer, const Framings &framing = {});
    bool Running() const { return running_; }
    // As of the relay's last pass, for any thread.
    qint64 Queued(int side) const { return queued_[side]; }
    bool Held(int side) const { return held_[side]; }
    // What was read but not yet written, toward each side's device.
    struct Left {
        QByteArray toward[2]; // framed for the device
        Framings framing;     // where each side's decoding stands
        QByteArray unread[2]; // read from a command on, not decoded
    };
    Left Stop();
    // Everything since the last call.
    News Take();
    // Per side, in bytes of copies; for any thread.
    void SetHandOverLimit(qint64 bytes) { handOverLimit_ = bytes; }
    qint64 HandOverLimit() const { return handOverLimit_; }

private:
    void Run();
    void HandOver(int side, const char *bytes, qsizetype size, QList<LineEvent> events);

    std::function<void()> wake_;
    std::thread thread_;
    bool running_ = false;
    int wakeRead_ = -1;  // owner to relay: stop
    int wakeWrite_ = -1;
    int newsRead_ = -1;  // relay to owner: something to take
    int newsWrite_ = -1;
    std::unique_ptr<QSocketNotifier> newsWatch_;
    os::PortHandle fd_[2] {};
    Pacer pacer_;
    Framings framing_;
    std::atomic<qint64> queued_[2] {0, 0};
    std::atomic<bool> held_[2] {false, false};
    std::atomic<bool> stop_ {false};
    std::atomic<bool> woken_ {false}; // a news byte is on its way, not yet taken
    Left left_;                       // the thread's own, read by Stop() once it has ended
    std::atomic<qint64> handOverLimit_ {kDefaultHandOverBytes};
    std::mutex lock_;                 // guards the three below
    News news_;
    qint64 newsCost_[2] {};
    quint64 order_ = 0;
};

} // namespace platform

#pragma once
// Watches an open device's modem inputs on a thread of its own, so that
// no edge waits for the window: it sleeps until the driver says an input
// changed (Linux: TIOCMIWAIT), then reads the driver's counters and the
// states together, and replays every edge since its last look, short
// pulses too (ReplayEdges). Where the system cannot wait so, it looks
// every kLookEveryMs instead.
// An edge between a look and the next wait wakes no one (the driver
// counts from the wait's start), so the owner's thread also nudges the
// watcher every kNudgeMs to look: such an edge is late, never lost.
//
// The thread and the owner meet in one queued call: each batch of states
// is posted to `post` on the owner's thread, in order. Stop() returns once
// the thread has ended; a batch posted just before may still arrive, and
// the owner tells it from a later open's.

#include "ModemLines.h"
#include "OsSeam.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <thread>

namespace platform {

class LineWatch {
public:
    static constexpr int kLookEveryMs = 10;
    static constexpr int kNudgeMs = 100;

    // The calls made of a device's lines, here and by its port,
    // replaceable so that a test can emulate a device with lines (a pty
    // has none).
    struct Calls {
        std::optional<os::ModemLineStates> (*read)(os::PortHandle) = &os::ReadModemLines;
        bool (*write)(os::PortHandle, const ModemOutputs &) = &os::WriteModemOutputs;
        std::optional<InputCounts> (*counts)(os::PortHandle) = &os::ReadInputCounts;
        os::InputWait (*wait)(os::PortHandle) = &os::WaitInputChange;
        // Ends a wait under way on the watcher's thread.
        void (*interrupt)(std::thread &watcher) = &Interrupt;
    };
    static void SetCalls(const Calls &calls);
    static Calls Used();

    // `post` runs on `owner`'s thread with the states the inputs went
    // through, the newest last.
    LineWatch(os::PortHandle handle, const ModemInputs &now, QObject *owner,
              std::function<void(const QList<ModemInputs> &)> post);
    ~LineWatch();
    LineWatch(const LineWatch &) = delete;
    LineWatch &operator=(const LineWatch &) = delete;
    void Stop();

private:
    static void Interrupt(std::thread &watcher);
    void Run(ModemInputs before);

    const os::PortHandle handle_;
    const Calls calls_;
    QObject *const owner_;
    std::function<void(const QList<ModemInputs> &)> post_;
    QTimer nudge_;
    std::atomic<bool> stop_ {false};
    std::atomic<bool> finished_ {false};
    std::thread thread_;
};

} // namespace platform

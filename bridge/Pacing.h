#pragma once
// When a source stops reading: only as fast as its destination sends.
// Past the high-water mark it is held, so the device and its driver keep
// the bytes, and it reads again once the queue is down to a quarter of
// that mark or the route has gone. Nothing is dropped either way.
//
// Some senders take in what is queued for them only once their own write
// is through: a relay serving both ways on one thread, a loopback peer
// writing a block before it reads. Holding such a sender's own port could
// stop the traffic for good, so a loopback is held only at a far higher
// mark, and of two linked sources that are both due a hold one reads on
// until both queues are that full.

#include "Route.h"

#include "ports/SerialController.h"

#include <QtGlobal>

#include <array>

namespace bridge {

struct Pacing {
    // The marks are the port's own (SerialController), where WriteQueueLow is raised.
    static constexpr qint64 kHighWaterBytes = platform::SerialController::kWriteHighWaterBytes;
    static constexpr qint64 kLowWaterBytes = platform::SerialController::kWriteLowWaterBytes;
    static constexpr qint64 kBothWaysHighWaterBytes = platform::SerialController::kBothWaysHighWaterBytes;

    // One channel as the pacing sees it.
    struct Side {
        qint64 queued = 0;  // waiting to go out on this channel's own port
        bool held = false;  // its reading is held now
    };
    // Whether each channel's reading should be held, channel 1 first.
    static std::array<bool, 2> Holds(Route route, const std::array<Side, 2> &sides);
};

} // namespace bridge

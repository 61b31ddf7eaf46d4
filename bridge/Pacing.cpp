#include "Pacing.h"

#include <algorithm>

namespace bridge {

namespace {

// Whether a source is due a hold by its destination's queue alone.
bool DueAHold(Route route, const Pacing::Side &own, const Pacing::Side &other)
{
    if (route == Route::None)
        return false;
    const bool echoes = route == Route::Loopback;
    const qint64 high = echoes ? Pacing::kBothWaysHighWaterBytes : Pacing::kHighWaterBytes;
    const qint64 queued = echoes ? own.queued : other.queued;
    return own.held ? queued > high / 4 : queued > high;
}

} // namespace

std::array<bool, 2> Pacing::Holds(Route route, const std::array<Side, 2> &sides)
{
    std::array<bool, 2> hold {DueAHold(route, sides[0], sides[1]), DueAHold(route, sides[1], sides[0])};
    if (hold[0] && hold[1] && route == Route::Linked) {
        const qint64 to2 = sides[1].queued; // channel 1's destination
        const qint64 to1 = sides[0].queued;
        if (std::min(to1, to2) <= kBothWaysHighWaterBytes) {
            // The one with less waiting toward its destination, and the
            // one reading now until its lead is gone by a margin, so that
            // a link does not switch at every arrival.
            const bool oneReads = sides[0].held != sides[1].held;
            const qint64 margin = oneReads ? kLowWaterBytes : 0;
            const bool firstReads = oneReads && !sides[0].held ? to2 <= to1 + margin : to2 + margin < to1;
            hold[firstReads ? 0 : 1] = false;
        }
    }
    return hold;
}

} // namespace bridge

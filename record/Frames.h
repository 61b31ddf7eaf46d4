#pragma once
// Where one port's received bytes fall into frames: a silence longer than
// the line's gap ends a frame. A read carries no time per byte, so its
// bytes are taken to have come back to back, the last as it was read: a
// USB adapter's packet of many bytes is not a silence before them. A
// frame's time is when its first bytes were read.

#include "ports/LineSettings.h"

#include <QByteArrayView>
#include <QVarLengthArray>

#include <algorithm>
#include <deque>

namespace platform {

// Microseconds from a monotonic clock, and the wall-clock time (since the
// epoch, UTC) of such a moment: frames are timed by the first and written
// as the second, which the wall clock's steps do not disturb.
qint64 MonotonicUs();
qint64 WallUs(qint64 monotonicUs);

struct FrameStart {
    qsizetype offset; // in the read
    qint64 wallUs;
};

// What one read adds to the frames of its port.
struct ReadFrames {
    qint64 readUs = 0; // monotonic
    qint64 gapUs = 0;
    QVarLengthArray<FrameStart, 4> starts;
};

// Where a received frame begins, and when its first byte came.
struct FrameMark {
    qsizetype offset = 0;
    qint64 wallUs = 0; // microseconds since the epoch
};
using FrameMarks = std::deque<FrameMark>;
// The first frame that begins at or after `offset`.
inline FrameMarks::const_iterator FrameFrom(const FrameMarks &frames, qsizetype offset)
{
    return std::lower_bound(frames.begin(), frames.end(), offset,
                            [](const FrameMark &f, qsizetype at) { return f.offset < at; });
}

class FrameSplitter {
public:
    // A flood with no silence is still cut into frames of this size, so a
    // frame's line and block stay bounded.
    static constexpr qsizetype kMaxFrameBytes = 64 * 1024;

    ReadFrames Split(qsizetype bytes, qint64 nowUs, const LineSettings &line);
    // The next bytes begin a frame (a port opened again).
    void Reset() { open_ = -1; }

private:
    qint64 lastUs_ = 0;   // monotonic, of the last read
    qsizetype open_ = -1; // bytes in the open frame; -1: none yet
};

} // namespace platform

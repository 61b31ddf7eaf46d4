#include "Frames.h"

#include <chrono>

namespace platform {

qint64 MonotonicUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

qint64 WallUs(qint64 monotonicUs)
{
    using namespace std::chrono;
    // Taken once: later steps of the wall clock do not reorder frames.
    static const qint64 offset =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() - MonotonicUs();
    return monotonicUs + offset;
}

ReadFrames FrameSplitter::Split(qsizetype bytes, qint64 nowUs, const LineSettings &line)
{
    ReadFrames r;
    r.readUs = nowUs;
    r.gapUs = line.FrameGapUs();
    if (bytes <= 0)
        return r;
    const bool first = open_ < 0;
    const qint64 sinceLast = first ? 0 : nowUs - lastUs_;
    // The silence before this read: the time since the last one less the
    // wire time of its bytes, taken to have come back to back. Bytes that
    // could not have come on the wire since the last read (by far) came
    // faster than the line (a pty, a port server, a driver's buffer): for
    // them the silence is the time between the reads.
    const double wireUs = double(bytes) * line.CharacterUs();
    const bool onTheWire = wireUs <= 2.0 * double(sinceLast) + double(r.gapUs);
    const qint64 silence = sinceLast - (onTheWire ? qint64(wireUs) : 0);
    // A frame's time is when its first byte was read: guessing back by the
    // wire time would put a pty's answer before its question.
    const qint64 wallUs = WallUs(nowUs);
    if (first || silence > r.gapUs) {
        r.starts.append({0, wallUs});
        open_ = 0;
    }
    for (qsizetype at = kMaxFrameBytes - open_; at < bytes; at += kMaxFrameBytes)
        r.starts.append({at, wallUs});
    const qsizetype lastStart = r.starts.isEmpty() ? -open_ : r.starts.last().offset;
    open_ = bytes - lastStart;
    lastUs_ = nowUs;
    return r;
}

} // namespace platform

#include "Frames.h"

#include <algorithm>
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
    const bool first = open_ < 0 || lastUs_ == std::numeric_limits<qint64>::min();
    const bool opened = lastUs_ != std::numeric_limits<qint64>::min();
    const qint64 sinceLast = first ? 0 : nowUs - lastUs_;
    // Bytes that could not have come on the wire since the last read (by
    // far) came faster than the line: a pty, a port server, a driver's
    // buffer. Their silence is the time between the reads, and they came
    // at once.
    const double wireUs = double(bytes) * line.CharacterUs();
    const bool onTheWire = first || wireUs <= 2.0 * double(sinceLast) + double(r.gapUs);
    const double charUs = onTheWire ? line.CharacterUs() : 0.0;
    // When byte i of this read came: back to back before the read, but not
    // before the previous read.
    auto cameAt = [&](qsizetype i) {
        const qint64 t = nowUs - qint64(double(bytes - 1 - i) * charUs);
        return opened ? std::max(t, lastUs_) : t;
    };
    const qint64 silence = sinceLast - qint64(double(bytes) * charUs);
    if (first || silence > r.gapUs) {
        r.starts.append({0, WallUs(cameAt(0))});
        open_ = 0;
    }
    for (qsizetype at = kMaxFrameBytes - open_; at < bytes; at += kMaxFrameBytes)
        r.starts.append({at, WallUs(cameAt(at))});
    const qsizetype lastStart = r.starts.isEmpty() ? -open_ : r.starts.last().offset;
    open_ = bytes - lastStart;
    lastUs_ = nowUs;
    return r;
}

} // namespace platform

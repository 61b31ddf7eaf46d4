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
    const double charUs = line.CharacterUs();
    // When byte i of this read came: back to back before the read, but not
    // before the previous read.
    auto cameAt = [&](qsizetype i) {
        const qint64 t = nowUs - qint64(double(bytes - 1 - i) * charUs);
        return std::max(t, lastUs_ == std::numeric_limits<qint64>::min() ? t : lastUs_);
    };
    const qint64 silence = nowUs - qint64(double(bytes) * charUs) - lastUs_;
    if (open_ < 0 || lastUs_ == std::numeric_limits<qint64>::min() || silence > r.gapUs) {
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

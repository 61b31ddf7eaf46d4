#include "LineLayout.h"

#include <limits>

namespace platform {

namespace {

// What a byte does to the pen: moves it by its advance (>= 0), or one of
// these. They are so far below zero that a sum of eight advances with one
// of them in it is still below zero: one test finds them.
constexpr std::int32_t kSpecial = -(1 << 27);
constexpr std::int32_t kBreak = kSpecial - 1;      // CR or LF as text: ends the line
constexpr std::int32_t kTab = kSpecial - 2;        // to the next tab stop
constexpr std::int32_t kShownBreak = kSpecial - 3; // LF in hex: a cell, then ends the line
static_assert(8 * std::int64_t(kSpecial) > std::numeric_limits<std::int32_t>::min() &&
              kSpecial + 8 * std::int64_t(ByteMetrics::kMaxAdvance) < 0);

// Lays out [p.offset, to) from the point p and returns the point at `to`.
// onLine(line, start) hears of each new line and stops the walk by
// returning false (the point returned is then of no use); onMoved(line,
// start) hears that an LF joined the CR that began the line before it.
// Every received byte passes through here: the state stays in registers.
template <typename OnLine, typename OnMoved>
LayoutPoint Walk(const LayoutRules &rules, const ByteStore &store, LayoutPoint p, qsizetype to, OnLine &&onLine,
                 OnMoved &&onMoved)
{
    const ByteMetrics &m = rules.metrics;
    const std::int32_t width = rules.width;
    std::array<std::int32_t, 256> kind = m.advance;
    if (rules.hex) {
        kind['\n'] = kShownBreak;
    } else {
        kind['\n'] = kind['\r'] = kBreak;
        if (m.tabStop > 0)
            kind['\t'] = kTab;
    }
    bool stopped = false;
    store.ForEachPiece(p.offset, to - p.offset, [&](const char *data, qsizetype n) {
        if (stopped)
            return;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(data);
        const qsizetype base = p.offset;
        std::int32_t x = p.x;
        qsizetype line = p.line;
        qsizetype crEnd = p.afterCr ? base : -1; // just past the last CR
        auto newLine = [&](qsizetype start) {
            stopped = !onLine(++line, start);
            return !stopped;
        };
        for (qsizetype i = 0; i < n; ++i) {
            // Most bytes: a cell that fits, one test for both; a tight run.
            const std::uint8_t *at = bytes + i;
            const std::uint8_t *const end = bytes + n;
            // Eight at a time while all are cells; where the line ends among
            // them, the prefix sums say how many fit, with no byte loop.
            while (end - at >= 8) {
                const std::int32_t s1 = kind[at[0]], s2 = s1 + kind[at[1]], s3 = s2 + kind[at[2]],
                                   s4 = s3 + kind[at[3]], s5 = s4 + kind[at[4]], s6 = s5 + kind[at[5]],
                                   s7 = s6 + kind[at[6]], s8 = s7 + kind[at[7]];
                if (s8 < 0) // one of them is not a cell
                    break;
                const std::int32_t room = width - x;
                if (s8 <= room) {
                    x += s8;
                    at += 8;
                    continue;
                }
                // The sums grow: halve the eight twice for how many fit. The
                // pen's place on this line no longer matters: a new one begins.
                const bool upper = s4 <= room;
                const bool second = (upper ? s6 : s2) <= room;
                const bool third = (upper ? (second ? s7 : s5) : (second ? s3 : s1)) <= room;
                const int fit = 4 * int(upper) + 2 * int(second) + int(third);
                at += fit;
                // The next cell does not fit: it begins the next line, here,
                // unless this line is empty (a cell wider than the view).
                if ((x > 0 || fit > 0) && !newLine(base + (at - bytes)))
                    return;
                x = kind[*at];
                ++at;
            }
            std::int32_t a = 0;
            while (at != end && (a = kind[*at]) >= 0 && x + a <= width) {
                x += a;
                ++at;
            }
            i = at - bytes;
            if (i == n)
                break;
            if (a >= 0) { // a cell past the right edge: on a new line unless it is the first
                if (x > 0 && !newLine(base + i))
                    return;
                x = a;
                continue;
            }
            if (a == kBreak) {
                if (bytes[i] == '\n' && crEnd == base + i) {
                    // CR LF is one break: the line after it starts past the LF.
                    onMoved(line, base + i + 1);
                    continue;
                }
                if (!newLine(base + i + 1))
                    return;
                x = 0;
                if (bytes[i] == '\r')
                    crEnd = base + i + 1;
                continue;
            }
            if (a == kTab) {
                const std::int32_t advance = m.AdvanceAt('\t', x);
                if (x + advance > width && x > 0) {
                    if (!newLine(base + i))
                        return;
                    x = m.AdvanceAt('\t', 0);
                } else {
                    x += advance;
                }
                continue;
            }
            // An LF in hex: its cell, then a new line.
            if (x + m.advance['\n'] > width && x > 0 && !newLine(base + i))
                return;
            if (!newLine(base + i + 1))
                return;
            x = 0;
        }
        const bool afterCr = crEnd == base + n;
        p = {base + n, line, x, afterCr};
    });
    return p;
}

} // namespace

// Walk, with a line begun at each frame that does not begin one already;
// a CR at the end of one frame and an LF at the start of the next are two
// breaks, as they came apart.
template <typename OnLine, typename OnMoved>
LayoutPoint LineLayout::WalkRows(const ByteStore &store, LayoutPoint p, qsizetype to, OnLine &&onLine,
                                 OnMoved &&onMoved) const
{
    if (!rules_.frameRows || !frames_)
        return Walk(rules_, store, p, to, onLine, onMoved);
    auto next = FrameFrom(*frames_, p.offset);
    bool stopped = false;
    auto heard = [&](qsizetype line, qsizetype start) {
        stopped = stopped || !onLine(line, start);
        return !stopped;
    };
    while (p.offset < to && !stopped) {
        if (next != frames_->end() && next->offset == p.offset) {
            if (p.x > 0 && !heard(++p.line, p.offset))
                break;
            p.x = 0;
            p.afterCr = false;
            ++next;
            continue;
        }
        const qsizetype until = next != frames_->end() && next->offset < to ? next->offset : to;
        p = Walk(rules_, store, p, until, heard, onMoved);
    }
    return p;
}

qsizetype LineLayout::MarkBefore(qsizetype offset) const
{
    return firstMark_ + qsizetype(std::upper_bound(marks_.begin(), marks_.end(), offset) - marks_.begin()) - 1;
}

LayoutPoint LineLayout::WalkFrom(qsizetype mark) const
{
    // The origin when it lies in the mark's lines: what is before it is gone.
    if (origin_.line >= mark * kMarkLines)
        return origin_;
    return {MarkStart(mark), mark * kMarkLines, 0, false};
}

LineLayout::LineLayout(const LayoutRules &rules, qsizetype offset, const FrameMarks *frames)
    : rules_(rules), frames_(frames), origin_{offset, 0, 0, false}, end_(origin_), marks_{offset}
{
}

void LineLayout::Extend(const ByteStore &store, qsizetype to)
{
    if (to <= end_.offset)
        return;
    end_ = WalkRows(
        store, end_, to,
        [this](qsizetype line, qsizetype start) {
            if (line % kMarkLines == 0)
                marks_.push_back(start);
            return true;
        },
        [this](qsizetype line, qsizetype start) {
            if (line % kMarkLines == 0)
                marks_.back() = start;
        });
}

const LineLayout::Found &LineLayout::Find(const ByteStore &store, qsizetype mark) const
{
    if (mark == end_.line / kMarkLines) {
        if (last_.mark != mark) {
            lastFound_ = WalkFrom(mark);
            last_.mark = mark;
            last_.firstLine = lastFound_.line;
            last_.starts.assign(1, lastFound_.offset);
        }
        lastFound_ = WalkRows(
            store, lastFound_, end_.offset,
            [&](qsizetype, qsizetype start) {
                last_.starts.push_back(start);
                return true;
            },
            [&](qsizetype, qsizetype start) { last_.starts.back() = start; });
        return last_;
    }
    for (const Found &f : found_)
        if (f.mark == mark)
            return f;
    Found &f = found_[nextFound_];
    nextFound_ = (nextFound_ + 1) % found_.size();
    const LayoutPoint from = WalkFrom(mark);
    f.mark = mark;
    f.firstLine = from.line;
    f.starts.assign(1, from.offset);
    const qsizetype nextMark = (mark + 1) * kMarkLines;
    WalkRows(
        store, from, end_.offset,
        [&](qsizetype line, qsizetype start) {
            if (line >= nextMark)
                return false;
            f.starts.push_back(start);
            return true;
        },
        [&](qsizetype, qsizetype start) { f.starts.back() = start; });
    return f;
}

qsizetype LineLayout::LineOf(const ByteStore &store, qsizetype offset) const
{
    if (offset < origin_.offset)
        return origin_.line;
    const Found &f = Find(store, std::max(MarkBefore(offset), origin_.line / kMarkLines));
    const auto in = std::upper_bound(f.starts.begin(), f.starts.end(), offset);
    return f.firstLine + qsizetype(in - f.starts.begin()) - 1;
}

qsizetype LineLayout::Start(const ByteStore &store, qsizetype line) const
{
    line = std::clamp(line, origin_.line, end_.line);
    if (line == origin_.line)
        return origin_.offset;
    if (line % kMarkLines == 0)
        return MarkStart(line / kMarkLines);
    const Found &f = Find(store, line / kMarkLines);
    return f.starts[std::size_t(line - f.firstLine)];
}

void LineLayout::DropBefore(const ByteStore &store, qsizetype keepFrom, qsizetype offset)
{
    if (origin_.offset >= keepFrom)
        return;
    // Start again from the last mark at or before the offset when its bytes
    // are kept; else go on from the nearer of it and the origin to keepFrom.
    const qsizetype mark = MarkBefore(offset);
    LayoutPoint from = mark >= firstMark_ ? WalkFrom(mark) : origin_;
    if (from.offset < keepFrom)
        from = WalkRows(store, from, keepFrom, [](qsizetype, qsizetype) { return true; },
                        [](qsizetype, qsizetype) {});
    // An LF that finished a CR before the origin belongs to the line before.
    if (from.afterCr && from.offset < end_.offset && store.At(from.offset) == '\n')
        from = {from.offset + 1, from.line, 0, false};
    origin_ = from;
    while (firstMark_ < origin_.line / kMarkLines) {
        marks_.pop_front();
        ++firstMark_;
    }
    for (Found &f : found_)
        f.mark = -1;
    last_.mark = -1;
}

} // namespace platform

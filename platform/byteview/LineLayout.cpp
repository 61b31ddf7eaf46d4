#include "LineLayout.h"

namespace platform {

namespace {

// Lays out [p.offset, to) from the point p and returns the point at `to`.
// onLine(line, start) hears of each new line and stops the walk by
// returning false (the point returned is then of no use); onMoved(line,
// start) hears that an LF joined the CR that began the line before it.
template <typename OnLine, typename OnMoved>
LayoutPoint Walk(const LayoutRules &rules, const ByteStore &store, LayoutPoint p, qsizetype to, OnLine &&onLine,
                 OnMoved &&onMoved)
{
    const ByteMetrics &m = rules.metrics;
    const std::int32_t width = rules.width;
    const bool hex = rules.hex;
    std::int32_t x = p.x;
    bool afterCr = p.afterCr;
    qsizetype line = p.line;
    qsizetype at = p.offset;
    bool stopped = false;
    store.ForEachPiece(p.offset, to - p.offset, [&](const char *data, qsizetype n) {
        for (qsizetype i = 0; i < n && !stopped; ++i, ++at) {
            const auto b = std::uint8_t(data[i]);
            if (hex) {
                const std::int32_t a = m.advance[b];
                if (x + a > width && x > 0) {
                    stopped = !onLine(++line, at);
                    x = 0;
                }
                x += a;
                if (b == '\n') {
                    stopped = stopped || !onLine(++line, at + 1);
                    x = 0;
                }
                continue;
            }
            if (b == '\n' || b == '\r') {
                if (b == '\n' && afterCr) {
                    // CR LF is one break: the line after it starts past the LF.
                    onMoved(line, at + 1);
                    afterCr = false;
                    continue;
                }
                stopped = !onLine(++line, at + 1);
                x = 0;
                afterCr = b == '\r';
                continue;
            }
            afterCr = false;
            const std::int32_t a = m.AdvanceAt(b, x);
            if (x + a > width && x > 0) {
                stopped = !onLine(++line, at);
                x = m.AdvanceAt(b, 0);
            } else {
                x += a;
            }
        }
    });
    return {at, line, x, afterCr};
}

} // namespace

LineLayout::LineLayout(const LayoutRules &rules, qsizetype offset)
    : rules_(rules), origin_{offset, 0, 0, false}, end_(origin_), marks_{offset}, last_{0, 0, {offset}}
{
}

void LineLayout::Extend(const ByteStore &store, qsizetype to)
{
    if (to <= end_.offset)
        return;
    end_ = Walk(
        rules_, store, end_, to,
        [this](qsizetype line, qsizetype start) {
            if (line % kMarkLines == 0) {
                marks_.push_back(start);
                last_.mark = line / kMarkLines;
                last_.firstLine = line;
                last_.starts.clear();
            }
            last_.starts.push_back(start);
            return true;
        },
        [this](qsizetype line, qsizetype start) {
            if (line % kMarkLines == 0)
                marks_.back() = start;
            last_.starts.back() = start;
        });
}

const LineLayout::Found &LineLayout::Find(const ByteStore &store, qsizetype mark) const
{
    if (mark == last_.mark)
        return last_;
    for (const Found &f : found_)
        if (f.mark == mark)
            return f;
    Found &f = found_[nextFound_];
    nextFound_ = (nextFound_ + 1) % found_.size();
    // From the mark, or from the origin when that lies in the mark's lines.
    const LayoutPoint from = origin_.line >= mark * kMarkLines
                                 ? origin_
                                 : LayoutPoint{MarkStart(mark), mark * kMarkLines, 0, false};
    f.mark = mark;
    f.firstLine = from.line;
    f.starts.assign(1, from.offset);
    const qsizetype nextMark = (mark + 1) * kMarkLines;
    Walk(
        rules_, store, from, end_.offset,
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
    // The last mark at or before the offset.
    const auto after = std::upper_bound(marks_.begin(), marks_.end(), offset);
    const qsizetype mark = std::max(firstMark_ + qsizetype(after - marks_.begin()) - 1, origin_.line / kMarkLines);
    const Found &f = Find(store, mark);
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
    const auto after = std::upper_bound(marks_.begin(), marks_.end(), offset);
    const qsizetype mark = firstMark_ + qsizetype(after - marks_.begin()) - 1;
    LayoutPoint from = origin_;
    if (mark * kMarkLines > origin_.line)
        from = {MarkStart(mark), mark * kMarkLines, 0, false};
    if (from.offset < keepFrom)
        from = Walk(rules_, store, from, keepFrom, [](qsizetype, qsizetype) { return true; },
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
}

} // namespace platform

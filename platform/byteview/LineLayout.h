#pragma once
// Where the visual lines of stored bytes begin, for one font, width and
// mode. Only every kMarkLines-th line's start is kept, 8 bytes per mark;
// a start between marks is found again by laying out from the mark before
// it, which costs at most kMarkLines lines. So the index stays a small
// fraction of the bytes even when every byte is a line break.

#include "ByteMetrics.h"
#include "record/ByteStore.h"
#include "record/Frames.h"

#include <algorithm>
#include <array>
#include <deque>
#include <vector>

namespace platform {

struct LayoutRules {
    ByteMetrics metrics;
    std::int32_t width = 0; // 1/64 px
    // Every byte a cell, and only an LF, shown, ends a line.
    bool hex = false;
    // Each received frame begins a line.
    bool frameRows = false;
    bool operator==(const LayoutRules &) const = default;
};

// Enough to go on laying out from a byte.
struct LayoutPoint {
    qsizetype offset = 0;
    qsizetype line = 0;   // the line it is in, counted from the layout's first
    std::int32_t x = 0;   // pen position, 1/64 px
    bool afterCr = false; // the byte before was a CR: an LF here joins it
};

class LineLayout {
public:
    static constexpr qsizetype kMarkLines = 128;

    LineLayout() : LineLayout({}, 0) {}
    // An empty layout: one line, beginning at `offset`. With frame rows,
    // `frames` are where lines must begin too; they outlive the layout.
    LineLayout(const LayoutRules &rules, qsizetype offset, const FrameMarks *frames = nullptr);
    const LayoutRules &Rules() const { return rules_; }

    // Lays out the stored bytes from Laid() to `to`.
    void Extend(const ByteStore &store, qsizetype to);
    qsizetype Laid() const { return end_.offset; }
    // Lines so far, counted from the first ever.
    qsizetype Lines() const { return end_.line + 1; }
    // Where the first line still known begins; what lies before is let go.
    qsizetype Origin() const { return origin_.offset; }
    // The line holding `offset` (the first known one for any offset before it).
    qsizetype LineOf(const ByteStore &store, qsizetype offset) const;
    // Where `line` begins; Origin() for the first known line.
    qsizetype Start(const ByteStore &store, qsizetype line) const;
    // Lets go of the lines before the one holding `offset`, so that only
    // bytes from `keepFrom` on are read again; all of them must still be
    // stored, and `offset` laid out.
    void DropBefore(const ByteStore &store, qsizetype keepFrom, qsizetype offset);

private:
    // The starts of one mark's lines, found again.
    struct Found {
        qsizetype mark = -1;
        qsizetype firstLine = 0;
        std::vector<qsizetype> starts;
    };
    const Found &Find(const ByteStore &store, qsizetype mark) const;
    qsizetype MarkStart(qsizetype mark) const { return marks_[std::size_t(mark - firstMark_)]; }
    // The last mark at or before `offset` (firstMark_ - 1 if none).
    qsizetype MarkBefore(qsizetype offset) const;
    // Where a mark's lines are laid out from: the mark, or the origin when
    // that lies among them.
    LayoutPoint WalkFrom(qsizetype mark) const;
    template <typename OnLine, typename OnMoved>
    LayoutPoint WalkRows(const ByteStore &store, LayoutPoint p, qsizetype to, OnLine &&onLine, OnMoved &&onMoved) const;

    LayoutRules rules_;
    const FrameMarks *frames_ = nullptr;
    LayoutPoint origin_;
    LayoutPoint end_;
    std::deque<qsizetype> marks_; // start of line m * kMarkLines, from firstMark_
    qsizetype firstMark_ = 0;
    // The last mark's lines, which grow as bytes come: found from where
    // they were last found up to, not from the mark again.
    mutable Found last_;
    mutable LayoutPoint lastFound_;
    mutable std::array<Found, 2> found_;
    mutable std::size_t nextFound_ = 0;
};

} // namespace platform

#include "ByteText.h"

#include <algorithm>
#include <utility>

namespace platform {

QChar ByteGlyphs::DisplayChar(std::uint8_t byte)
{
    if (byte == 0x7F)
        return QChar(0x2421);
    if (byte < 0x20 && byte != '\t')
        return QChar(0x2400 + byte);
    return QChar(byte); // ASCII and Latin-1 share their code points
}

QString ByteGlyphs::DisplayText(QByteArrayView bytes, bool afterCarriageReturn)
{
    QString text;
    text.reserve(bytes.size());
    bool afterCr = afterCarriageReturn;
    for (char c : bytes) {
        const auto b = std::uint8_t(c);
        if (b == '\n' && afterCr) {
            afterCr = false;
            continue;
        }
        afterCr = b == '\r';
        text.append(IsLineBreak(b) ? QChar('\n') : DisplayChar(b));
    }
    return text;
}

QString ByteGlyphs::HexText(QByteArrayView bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(bytes.size() * 3);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = std::uint8_t(bytes[i]);
        if (i > 0)
            text.append(bytes[i - 1] == '\n' ? QChar('\n') : QChar(' '));
        text.append(QChar(kDigits[b >> 4]));
        text.append(QChar(kDigits[b & 15]));
    }
    return text;
}

ByteText::ByteText(qsizetype keepBytes) : own_(keepBytes) {}

void ByteText::SetKeepBytes(qsizetype keepBytes)
{
    own_.SetKeepBytes(keepBytes);
    Follow();
}

void ByteText::Clear()
{
    own_.Clear();
    Follow();
}

bool ByteText::Append(QByteArrayView data, std::span<const FrameStart> frames)
{
    own_.Append(data, frames);
    return Follow();
}

void ByteText::Show(const ReceivedBytes *bytes)
{
    doc_ = bytes ? bytes : &own_;
    StartAnew(doc_->Begin());
    Follow();
}

bool ByteText::Follow()
{
    const ReceivedBytes &doc = *doc_;
    bool anew = false;
    // Cleared, or let go of bytes not yet taken: what is shown goes too.
    if (doc.Clears() != clears_ || doc.End() < store_.End() || doc.Begin() > store_.End()) {
        StartAnew(doc.Begin());
        anew = true;
    }
    for (auto f = FrameFrom(doc.Frames(), store_.End()); f != doc.Frames().end(); ++f)
        frames_.push_back(*f);
    if (!store_.Follow(doc.Store())) { // not the bytes taken so far: cannot happen unless cleared
        StartAnew(doc.Begin());
        frames_.assign(doc.Frames().begin(), doc.Frames().end());
        store_.Follow(doc.Store());
        anew = true;
    }
    if (!skimming_)
        layout_.Extend(store_, store_.End());
    Trim(doc.Begin());
    return anew;
}

void ByteText::StartAnew(qsizetype from)
{
    store_.Clear();
    frames_.clear();
    clears_ = doc_->Clears();
    layout_ = LineLayout(next_ ? next_->Rules() : layout_.Rules(), from, &frames_);
    next_.reset();
    newestOnly_ = false;
    skimming_ = false;
    restarted_ = false;
    arrivalsFrom_ = from;
    first_.begin = -1;
}

bool ByteText::LayOutArrivals(qsizetype followingRows)
{
    const bool flood = store_.End() - arrivalsFrom_ > kAtOnceBytes;
    arrivalsFrom_ = store_.End();
    if (!(skimming_ && followingRows > 0 && flood && SkimToNewest(followingRows)))
        layout_.Extend(store_, store_.End());
    // The next frame's bytes are laid out only at the next call.
    skimming_ = followingRows > 0 && flood;
    skimRows_ = followingRows;
    return std::exchange(restarted_, false);
}

bool ByteText::SkimToNewest(qsizetype rows)
{
    // Too few bytes kept, or another layout is being built for the one shown.
    if (KeepBytes() <= 2 * kAtOnceBytes || store_.Size() <= 2 * kAtOnceBytes || (next_ && next_->Rules() != layout_.Rules()))
        return false;
    // The most bytes a row can hold: at most one tab in it is narrower
    // than a tab stop.
    const LayoutRules &rules = layout_.Rules();
    std::int32_t narrowest = ByteMetrics::kMaxAdvance;
    for (int b = 0; b < 256; ++b) {
        if (!rules.hex && ByteGlyphs::IsLineBreak(std::uint8_t(b)))
            continue;
        const bool tab = b == '\t' && rules.metrics.tabStop > 0;
        narrowest = std::min(narrowest, tab ? rules.metrics.tabStop : rules.metrics.advance[b]);
    }
    const qsizetype rowBytes = rules.width / std::max(narrowest, ByteMetrics::kMinAdvance) + 2;
    const qsizetype bytes = std::clamp(rows * rowBytes, kSkimBytes, kAtOnceBytes);
    const qsizetype start = BreakNear(bytes, Hex());
    // Without a break the newest bytes would wrap otherwise than in the
    // whole; and from before Laid() laying out the rest costs less.
    if (start <= layout_.Laid())
        return false;
    if (!next_) // the whole layout goes on from where it got to
        next_ = std::make_unique<LineLayout>(std::move(layout_));
    layout_ = LineLayout(next_->Rules(), start, &frames_);
    layout_.Extend(store_, store_.End());
    newestOnly_ = true;
    restarted_ = true;
    first_.begin = -1;
    return true;
}

std::optional<qint64> ByteText::FrameAt(qsizetype offset) const
{
    const auto f = FrameFrom(frames_, offset);
    if (f == frames_.end() || f->offset != offset)
        return std::nullopt;
    return f->wallUs;
}

void ByteText::Trim(qsizetype begin)
{
    if (begin <= store_.Begin())
        return;
    // Bytes stay readable until their chunk goes: layouts need read again
    // only from the chunk that holds the new first byte.
    const qsizetype keepFrom = begin - begin % ByteStore::kChunkBytes;
    // Only while skimming: trimming passed what was laid out, so the
    // newest bytes are laid out anew.
    if (layout_.Laid() < begin && !SkimToNewest(skimRows_))
        layout_.Extend(store_, store_.End());
    layout_.DropBefore(store_, keepFrom, begin);
    if (next_ && next_->Laid() < begin)
        *next_ = LineLayout(next_->Rules(), begin, &frames_);
    else if (next_)
        next_->DropBefore(store_, keepFrom, begin);
    store_.DropBefore(begin);
    // Frames stay while their bytes may be laid out again.
    while (!frames_.empty() && frames_.front().offset < keepFrom)
        frames_.pop_front();
}

qsizetype ByteText::FirstLine() const
{
    // Bytes after the first kept one do not move its line, unless nothing
    // was laid out past it (a CR there may yet be joined by an LF).
    if (first_.begin != store_.Begin() || (first_.laid != layout_.Laid() && first_.laid <= first_.begin + 1)) {
        first_.begin = store_.Begin();
        first_.laid = layout_.Laid();
        first_.line = layout_.LineOf(store_, store_.Begin());
    }
    return first_.line;
}

void ByteText::SetLayout(const ByteMetrics &metrics, std::int32_t width, bool hex, bool newestAtOnce,
                         bool frameRows)
{
    LayoutRules rules {metrics, width, hex, frameRows};
    // A byte that takes no room would let one line grow without end.
    for (int b = 0; b < 256; ++b) {
        if (hex || (!ByteGlyphs::IsLineBreak(std::uint8_t(b)) && b != '\t'))
            rules.metrics.advance[b] =
                std::clamp(rules.metrics.advance[b], ByteMetrics::kMinAdvance, ByteMetrics::kMaxAdvance);
    }
    if (hex)
        rules.metrics.tabStop = 0;
    if (rules == (next_ ? next_->Rules() : layout_.Rules()))
        return;
    if (next_ && !newestOnly_ && rules == layout_.Rules()) {
        next_.reset(); // back to the layout still shown
        return;
    }
    first_.begin = -1;
    skimming_ = false; // whichever layout is shown below is laid out to the end
    if (store_.Size() <= 2 * kAtOnceBytes) {
        next_.reset();
        layout_ = LineLayout(rules, store_.Begin(), &frames_);
        layout_.Extend(store_, store_.End());
        newestOnly_ = false;
        return;
    }
    next_ = std::make_unique<LineLayout>(rules, store_.Begin(), &frames_);
    if (newestAtOnce) {
        layout_ = LineLayout(rules, NewestStart(hex), &frames_);
        newestOnly_ = true;
    }
    layout_.Extend(store_, store_.End()); // the old one may stay shown a while
}

qsizetype ByteText::NewestStart(bool hex) const
{
    const qsizetype start = BreakNear(kAtOnceBytes, hex);
    return start >= 0 ? start : store_.End() - kAtOnceBytes;
}

qsizetype ByteText::BreakNear(qsizetype bytes, bool hex) const
{
    const qsizetype from = store_.End() - bytes;
    const qsizetype lookBack = std::max(store_.Begin(), from - bytes);
    for (qsizetype i = from - 1; i >= lookBack; --i) {
        const std::uint8_t b = store_.At(i);
        if (b == '\n' || (!hex && b == '\r' && store_.At(i + 1) != '\n'))
            return i + 1;
    }
    return -1;
}

bool ByteText::LayOutSome(qsizetype bytes)
{
    if (!next_)
        return false;
    next_->Extend(store_, std::min(store_.End(), next_->Laid() + bytes));
    return next_->Laid() == store_.End();
}

void ByteText::FinishLayout()
{
    if (!next_)
        return;
    next_->Extend(store_, store_.End());
    layout_ = std::move(*next_);
    next_.reset();
    newestOnly_ = false;
    skimming_ = false;
    first_.begin = -1;
}

std::int32_t ByteText::XOf(qsizetype offset) const
{
    const qsizetype line = LineOf(offset);
    const qsizetype end = std::min(offset, LineEnd(line));
    std::int32_t x = 0;
    for (qsizetype i = LineStart(line); i < end; ++i)
        x += Metrics().AdvanceAt(store_.At(i), x);
    return x;
}

qsizetype ByteText::OffsetAtX(qsizetype line, std::int32_t x) const
{
    const qsizetype end = LineEnd(line);
    std::int32_t at = 0;
    for (qsizetype i = LineStart(line); i < end; ++i) {
        const std::int32_t advance = Metrics().AdvanceAt(store_.At(i), at);
        if (x < at + advance / 2)
            return i;
        at += advance;
    }
    return end;
}

qsizetype ByteText::CharsBefore(qsizetype offset) const
{
    offset = std::clamp(offset, store_.Begin(), store_.End());
    if (Hex())
        return 3 * (offset - store_.Begin()); // "XX" and a separator a byte
    qsizetype joined = 0; // LFs that finish a CR LF and so add no character
    bool afterCr = false;
    store_.ForEachPiece(store_.Begin(), offset - store_.Begin(), [&](const char *p, qsizetype n) {
        for (qsizetype i = 0; i < n; ++i) {
            joined += afterCr && p[i] == '\n';
            afterCr = p[i] == '\r';
        }
    });
    return offset - store_.Begin() - joined;
}

qsizetype ByteText::OffsetOfChar(qsizetype chars) const
{
    if (Hex())
        return std::min(store_.End(), store_.Begin() + (std::max<qsizetype>(0, chars) + 2) / 3);
    qsizetype offset = store_.Begin();
    bool afterCr = false;
    while (offset < store_.End() && chars > 0) {
        const std::uint8_t b = store_.At(offset);
        if (!(afterCr && b == '\n'))
            --chars;
        afterCr = b == '\r';
        ++offset;
    }
    // A CR LF at the end of the range belongs to the character before it.
    if (afterCr && offset < store_.End() && store_.At(offset) == '\n')
        ++offset;
    return offset;
}

QString ByteText::DisplayText(qsizetype from, qsizetype to) const
{
    from = std::clamp(from, store_.Begin(), store_.End());
    to = std::clamp(to, from, store_.End());
    if (Hex())
        return ByteGlyphs::HexText(store_.Mid(from, to - from));
    const bool afterCr = from > store_.Begin() && store_.At(from - 1) == '\r';
    return ByteGlyphs::DisplayText(store_.Mid(from, to - from), afterCr);
}

qsizetype ByteText::LineEnd(qsizetype line) const
{
    if (line + 1 >= LineCount())
        return layout_.Laid();
    qsizetype end = layout_.Start(store_, FirstLine() + line + 1);
    const qsizetype begin = LineStart(line);
    // Leave out the break that ended the line, if it did not wrap (in hex
    // the LF is shown).
    if (!Hex() && end > begin && ByteGlyphs::IsLineBreak(store_.At(end - 1))) {
        --end;
        if (store_.At(end) == '\n' && end > begin && store_.At(end - 1) == '\r')
            --end;
    }
    return end;
}

} // namespace platform

#include "ByteText.h"

#include <algorithm>
#include <cstring>

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

void ByteStore::Append(QByteArrayView data)
{
    const char *p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const qsizetype in = end_ % kChunkBytes;
        if (in == 0) {
            if (chunks_.empty())
                firstChunk_ = end_ / kChunkBytes;
            chunks_.push_back(std::make_unique_for_overwrite<char[]>(kChunkBytes));
        }
        const qsizetype n = std::min(left, kChunkBytes - in);
        std::memcpy(chunks_.back().get() + in, p, std::size_t(n));
        p += n;
        left -= n;
        end_ += n;
    }
}

void ByteStore::Clear()
{
    chunks_.clear();
    firstChunk_ = begin_ = end_ = 0;
}

void ByteStore::DropBefore(qsizetype offset)
{
    begin_ = std::clamp(offset, begin_, end_);
    while (!chunks_.empty() && (firstChunk_ + 1) * kChunkBytes <= begin_) {
        chunks_.pop_front();
        ++firstChunk_;
    }
}

QByteArray ByteStore::Mid(qsizetype offset, qsizetype length) const
{
    offset = std::clamp<qsizetype>(offset, begin_, end_);
    length = std::clamp<qsizetype>(length, 0, end_ - offset);
    QByteArray out;
    out.reserve(length);
    ForEachPiece(offset, length, [&](const char *p, qsizetype n) { out.append(p, n); });
    return out;
}

void LineIndex::Clear()
{
    blocks_.clear();
    highSteps_.clear();
    firstBlock_ = first_ = count_ = 0;
}

qsizetype LineIndex::Raw(qsizetype absolute) const
{
    const auto high = std::upper_bound(highSteps_.begin(), highSteps_.end(), absolute) - highSteps_.begin();
    const std::uint32_t low = blocks_[std::size_t(absolute / kBlockLines - firstBlock_)][absolute % kBlockLines];
    return (qsizetype(high) << 32) | qsizetype(low);
}

void LineIndex::Push(qsizetype start)
{
    const qsizetype high = start >> 32;
    while (qsizetype(highSteps_.size()) < high)
        highSteps_.push_back(count_);
    if (count_ % kBlockLines == 0) {
        if (blocks_.empty())
            firstBlock_ = count_ / kBlockLines;
        blocks_.push_back(std::make_unique_for_overwrite<std::uint32_t[]>(kBlockLines));
    }
    blocks_.back()[count_ % kBlockLines] = std::uint32_t(start);
    ++count_;
}

void LineIndex::ReplaceLast(qsizetype start)
{
    --count_;
    while (!highSteps_.empty() && highSteps_.back() >= count_)
        highSteps_.pop_back();
    if (count_ % kBlockLines == 0)
        blocks_.pop_back();
    Push(start);
}

qsizetype LineIndex::LineOf(qsizetype offset) const
{
    // Binary search over line starts; lines are in offset order.
    qsizetype lo = first_;
    qsizetype hi = count_ - 1;
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo + 1) / 2;
        if (Raw(mid) <= offset)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo - first_;
}

qsizetype LineIndex::DropBefore(qsizetype offset)
{
    // The line holding `offset` stays, however early it began.
    const qsizetype keep = first_ + LineOf(offset);
    const qsizetype dropped = keep - first_;
    first_ = keep;
    while (blocks_.size() > 1 && (firstBlock_ + 1) * kBlockLines <= first_) {
        blocks_.pop_front();
        ++firstBlock_;
    }
    return dropped;
}

ByteText::ByteText(qsizetype keepBytes) : keep_(keepBytes)
{
    lines_.Push(0);
}

void ByteText::SetKeepBytes(qsizetype keepBytes)
{
    keep_ = std::max<qsizetype>(1, keepBytes);
    Trim();
}

void ByteText::Clear()
{
    store_.Clear();
    lines_.Clear();
    lines_.Push(0);
    x_ = 0;
    afterCr_ = false;
}

void ByteText::Append(QByteArrayView data)
{
    const qsizetype offset = store_.End();
    store_.Append(data);
    LayOut(data.data(), data.size(), offset);
    Trim();
}

void ByteText::Trim()
{
    if (store_.Size() <= keep_)
        return;
    store_.DropBefore(store_.End() - keep_);
    droppedLines_ += lines_.DropBefore(store_.Begin());
}

void ByteText::SetLayout(const ByteMetrics &metrics, std::int32_t width, bool hex)
{
    ByteMetrics usable = metrics;
    // A byte that takes no room would let one line grow without end.
    for (int b = 0; b < 256; ++b) {
        if (hex || (!ByteGlyphs::IsLineBreak(std::uint8_t(b)) && b != '\t'))
            usable.advance[b] = std::max(usable.advance[b], ByteMetrics::kMinAdvance);
    }
    if (hex)
        usable.tabStop = 0;
    if (width == width_ && hex == hex_ && usable.advance == metrics_.advance && usable.tabStop == metrics_.tabStop)
        return;
    metrics_ = usable;
    width_ = width;
    hex_ = hex;
    LayOutAll();
}

void ByteText::LayOutAll()
{
    lines_.Clear();
    lines_.Push(store_.Begin());
    x_ = 0;
    afterCr_ = false;
    store_.ForEachPiece(store_.Begin(), store_.Size(),
                        [this, offset = store_.Begin()](const char *p, qsizetype n) mutable {
                            LayOut(p, n, offset);
                            offset += n;
                        });
}

void ByteText::LayOut(const char *data, qsizetype length, qsizetype offset)
{
    std::int32_t x = x_;
    bool afterCr = afterCr_;
    const std::int32_t width = width_;
    for (qsizetype i = 0; i < length; ++i) {
        const auto b = std::uint8_t(data[i]);
        if (hex_) {
            // Every byte a cell; an LF is shown, then ends its line.
            const std::int32_t a = metrics_.advance[b];
            if (x + a > width && x > 0) {
                lines_.Push(offset + i);
                x = 0;
            }
            x += a;
            if (b == '\n') {
                lines_.Push(offset + i + 1);
                x = 0;
            }
            continue;
        }
        if (b == '\n' || b == '\r') {
            if (b == '\n' && afterCr) {
                // CR LF is one break: the line after it starts past the LF.
                lines_.ReplaceLast(offset + i + 1);
                afterCr = false;
                continue;
            }
            lines_.Push(offset + i + 1);
            x = 0;
            afterCr = b == '\r';
            continue;
        }
        afterCr = false;
        const std::int32_t a = metrics_.AdvanceAt(b, x);
        if (x + a > width && x > 0) {
            lines_.Push(offset + i);
            x = metrics_.AdvanceAt(b, 0);
        } else {
            x += a;
        }
    }
    x_ = x;
    afterCr_ = afterCr;
}

std::int32_t ByteText::XOf(qsizetype offset) const
{
    const qsizetype line = LineOf(offset);
    const qsizetype end = std::min(offset, LineEnd(line));
    std::int32_t x = 0;
    for (qsizetype i = LineStart(line); i < end; ++i)
        x += metrics_.AdvanceAt(store_.At(i), x);
    return x;
}

qsizetype ByteText::OffsetAtX(qsizetype line, std::int32_t x) const
{
    const qsizetype end = LineEnd(line);
    std::int32_t at = 0;
    for (qsizetype i = LineStart(line); i < end; ++i) {
        const std::int32_t advance = metrics_.AdvanceAt(store_.At(i), at);
        if (x < at + advance / 2)
            return i;
        at += advance;
    }
    return end;
}

qsizetype ByteText::CharsBefore(qsizetype offset) const
{
    offset = std::clamp(offset, store_.Begin(), store_.End());
    if (hex_)
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
    if (hex_)
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
    if (hex_)
        return ByteGlyphs::HexText(store_.Mid(from, to - from));
    const bool afterCr = from > store_.Begin() && store_.At(from - 1) == '\r';
    return ByteGlyphs::DisplayText(store_.Mid(from, to - from), afterCr);
}

qsizetype ByteText::LineEnd(qsizetype line) const
{
    if (line + 1 >= lines_.Count())
        return store_.End();
    qsizetype end = lines_.Start(line + 1);
    const qsizetype begin = LineStart(line);
    // Leave out the break that ended the line, if it did not wrap (in hex
    // the LF is shown).
    if (!hex_ && end > begin && ByteGlyphs::IsLineBreak(store_.At(end - 1))) {
        --end;
        if (store_.At(end) == '\n' && end > begin && store_.At(end - 1) == '\r')
            --end;
    }
    return end;
}

} // namespace platform

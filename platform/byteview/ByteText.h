#pragma once
// Received bytes kept as bytes, and the visual lines they wrap into.
// Appending touches only the new bytes: nothing stored before is copied
// or laid out again. Only a change of width or font lays out everything.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace platform {

// How a byte is shown: printable ASCII and Latin-1 as themselves, C0
// controls and DEL as Unicode control pictures, CR, LF and CR LF as one
// line break, TAB as a tab.
struct ByteGlyphs {
    static QChar DisplayChar(std::uint8_t byte);
    static bool IsLineBreak(std::uint8_t byte) { return byte == '\n' || byte == '\r'; }
    // Bytes 0x80-0x9F are Latin-1 control codes that fonts draw as
    // nothing; the view draws them as a boxed hex pair instead.
    static bool IsBoxed(std::uint8_t byte) { return byte >= 0x80 && byte <= 0x9F; }
    // The selection as text: what the view shows, line breaks as "\n".
    static QString DisplayText(QByteArrayView bytes, bool afterCarriageReturn = false);
    // The same bytes as hex: "48 69 0A\n" pairs, a line break after each LF.
    static QString HexText(QByteArrayView bytes);
};

// Storage in fixed-size chunks that grows at the end and may let go of
// its oldest bytes. Offsets count every byte ever appended, so an offset
// names the same byte for as long as it is kept: [Begin(), End()).
class ByteStore {
public:
    static constexpr qsizetype kChunkBytes = 64 * 1024;

    void Append(QByteArrayView data);
    void Clear();
    // Lets go of the bytes before `offset`; chunks wholly before it are freed.
    void DropBefore(qsizetype offset);
    qsizetype Begin() const { return begin_; }
    qsizetype End() const { return end_; }
    qsizetype Size() const { return end_ - begin_; }
    std::uint8_t At(qsizetype offset) const { return std::uint8_t(*Locate(offset)); }
    QByteArray Mid(qsizetype offset, qsizetype length) const;
    QByteArray Bytes() const { return Mid(begin_, Size()); }
    // Calls f(const char*, qsizetype) for each contiguous piece of a range.
    template <typename F>
    void ForEachPiece(qsizetype offset, qsizetype length, F &&f) const
    {
        while (length > 0) {
            const qsizetype n = std::min(length, kChunkBytes - offset % kChunkBytes);
            f(Locate(offset), n);
            offset += n;
            length -= n;
        }
    }

private:
    const char *Locate(qsizetype offset) const
    {
        return chunks_[std::size_t(offset / kChunkBytes - firstChunk_)].get() + offset % kChunkBytes;
    }
    std::deque<std::unique_ptr<char[]>> chunks_;
    qsizetype firstChunk_ = 0; // number of chunks_.front() since the first byte
    qsizetype begin_ = 0;
    qsizetype end_ = 0;
};

// Start offsets of the visual lines, 4 bytes per line. Lines are numbered
// from the first one kept; older lines can be let go from the front.
class LineIndex {
public:
    void Clear();
    qsizetype Count() const { return count_ - first_; }
    qsizetype Start(qsizetype line) const { return Raw(line + first_); }
    void Push(qsizetype start);
    void ReplaceLast(qsizetype start);
    // The line holding `offset` (the last line for the end offset).
    qsizetype LineOf(qsizetype offset) const;
    // Lets go of the lines that end at or before `offset`; returns how many.
    qsizetype DropBefore(qsizetype offset);

private:
    static constexpr qsizetype kBlockLines = 16 * 1024;
    qsizetype Raw(qsizetype absolute) const;
    std::deque<std::unique_ptr<std::uint32_t[]>> blocks_;
    std::vector<qsizetype> highSteps_; // line numbers where the upper 32 bits go up by one
    qsizetype firstBlock_ = 0;         // number of blocks_.front()
    qsizetype first_ = 0;              // first line kept, counted from the first ever
    qsizetype count_ = 0;              // lines ever pushed
};

// Advances of the 256 byte values in one font, in 1/64 pixel.
struct ByteMetrics {
    static constexpr std::int32_t kUnitsPerPixel = 64;
    static constexpr std::int32_t kMinAdvance = kUnitsPerPixel; // one pixel
    std::array<std::int32_t, 256> advance{};
    std::int32_t tabStop = 0;
    std::int32_t AdvanceAt(std::uint8_t byte, std::int32_t x) const
    {
        if (byte == '\t' && tabStop > 0)
            return tabStop - x % tabStop;
        return advance[byte];
    }
};

// The bytes a view keeps, newest last, and their visual lines. Past
// `keepBytes` the oldest bytes and lines go, as a terminal's scrollback.
class ByteText {
public:
    static constexpr qsizetype kDefaultKeepBytes = qsizetype(64) << 20;

    explicit ByteText(qsizetype keepBytes = kDefaultKeepBytes);
    void SetKeepBytes(qsizetype keepBytes);
    qsizetype KeepBytes() const { return keep_; }

    void Append(QByteArrayView data);
    void Clear();
    // Wraps every line at `width`, laying out all stored bytes again when
    // the width, the metrics or the mode differ from before. In hex mode
    // every byte takes a cell and only an LF, shown, ends a line.
    void SetLayout(const ByteMetrics &metrics, std::int32_t width, bool hex = false);
    bool Hex() const { return hex_; }

    const ByteStore &Store() const { return store_; }
    qsizetype Size() const { return store_.Size(); }
    qsizetype Begin() const { return store_.Begin(); }
    qsizetype End() const { return store_.End(); }
    QByteArray Bytes() const { return store_.Bytes(); }

    qsizetype LineCount() const { return lines_.Count(); }
    // The first kept line may have begun before the first kept byte.
    qsizetype LineStart(qsizetype line) const { return std::max(lines_.Start(line), store_.Begin()); }
    // End of the line's visible bytes, before its line break.
    qsizetype LineEnd(qsizetype line) const;
    qsizetype LineOf(qsizetype offset) const { return lines_.LineOf(offset); }
    const ByteMetrics &Metrics() const { return metrics_; }
    std::int32_t Width() const { return width_; }
    // Lines let go from the front so far.
    qsizetype DroppedLines() const { return droppedLines_; }

    // Where `offset` begins within its line, in 1/64 px, and back: the byte
    // whose cell holds x in `line` (its end when x is past the last byte).
    std::int32_t XOf(qsizetype offset) const;
    qsizetype OffsetAtX(qsizetype line, std::int32_t x) const;

    // Positions in the text as shown and copied, where CR LF is one line
    // break: the characters before a byte offset, and back.
    qsizetype CharsBefore(qsizetype offset) const;
    qsizetype OffsetOfChar(qsizetype chars) const;
    // The shown text of the bytes in [from, to).
    QString DisplayText(qsizetype from, qsizetype to) const;

private:
    void LayOut(const char *data, qsizetype length, qsizetype offset);
    void LayOutAll();
    void Trim();

    ByteStore store_;
    LineIndex lines_;
    ByteMetrics metrics_;
    std::int32_t width_ = 0;
    bool hex_ = false;
    qsizetype keep_;
    qsizetype droppedLines_ = 0;
    std::int32_t x_ = 0;       // pen position at the end of the last line
    bool afterCr_ = false;     // the last byte was CR: an LF now joins it
};

} // namespace platform

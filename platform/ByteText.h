#pragma once
// Received bytes kept as bytes, and the visual lines they wrap into.
// Appending touches only the new bytes: nothing stored before is copied
// or laid out again. Only a change of width or font lays out everything.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
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
};

// Append-only storage in fixed-size chunks.
class ByteStore {
public:
    static constexpr qsizetype kChunkBytes = 64 * 1024;

    void Append(QByteArrayView data);
    void Clear();
    qsizetype Size() const { return size_; }
    std::uint8_t At(qsizetype offset) const
    {
        return std::uint8_t(chunks_[std::size_t(offset / kChunkBytes)][offset % kChunkBytes]);
    }
    QByteArray Mid(qsizetype offset, qsizetype length) const;
    QByteArray Bytes() const { return Mid(0, size_); }
    // Calls f(const char*, qsizetype) for each contiguous piece of a range.
    template <typename F>
    void ForEachPiece(qsizetype offset, qsizetype length, F &&f) const
    {
        while (length > 0) {
            const qsizetype in = offset % kChunkBytes;
            const qsizetype n = std::min(length, kChunkBytes - in);
            f(chunks_[std::size_t(offset / kChunkBytes)].get() + in, n);
            offset += n;
            length -= n;
        }
    }

private:
    std::vector<std::unique_ptr<char[]>> chunks_;
    qsizetype size_ = 0;
};

// Start offsets of the visual lines, 4 bytes per line.
class LineIndex {
public:
    void Clear();
    qsizetype Count() const { return count_; }
    qsizetype Start(qsizetype line) const;
    void Push(qsizetype start);
    void ReplaceLast(qsizetype start);
    // The line holding `offset` (the last line for the end offset).
    qsizetype LineOf(qsizetype offset) const;

private:
    static constexpr qsizetype kBlockLines = 16 * 1024;
    std::vector<std::unique_ptr<std::uint32_t[]>> blocks_;
    std::vector<qsizetype> highSteps_; // line numbers where the upper 32 bits go up by one
    qsizetype count_ = 0;
};

// Advances of the 256 byte values in one font, in 1/64 pixel.
struct ByteMetrics {
    std::array<std::int32_t, 256> advance{};
    std::int32_t tabStop = 0;
    std::int32_t AdvanceAt(std::uint8_t byte, std::int32_t x) const
    {
        if (byte == '\t')
            return tabStop > 0 ? tabStop - x % tabStop : 0;
        return advance[byte];
    }
};

class ByteText {
public:
    ByteText();

    void Append(QByteArrayView data);
    void Clear();
    // Wraps every line at `width`, laying out all stored bytes again when
    // the width or the metrics differ from before.
    void SetLayout(const ByteMetrics &metrics, std::int32_t width);

    const ByteStore &Store() const { return store_; }
    qsizetype Size() const { return store_.Size(); }
    QByteArray Bytes() const { return store_.Bytes(); }

    qsizetype LineCount() const { return lines_.Count(); }
    qsizetype LineStart(qsizetype line) const { return lines_.Start(line); }
    // End of the line's visible bytes, before its line break.
    qsizetype LineEnd(qsizetype line) const;
    qsizetype LineOf(qsizetype offset) const { return lines_.LineOf(offset); }
    const ByteMetrics &Metrics() const { return metrics_; }
    std::int32_t Width() const { return width_; }

private:
    void LayOut(const char *data, qsizetype length, qsizetype offset);

    ByteStore store_;
    LineIndex lines_;
    ByteMetrics metrics_;
    std::int32_t width_ = 0;
    std::int32_t x_ = 0;       // pen position at the end of the last line
    bool afterCr_ = false;     // the last byte was CR: an LF now joins it
};

} // namespace platform

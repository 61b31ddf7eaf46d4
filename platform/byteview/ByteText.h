#pragma once
// Received bytes kept as bytes, and the visual lines they wrap into.
// Appending touches only the new bytes: nothing stored before is copied
// or laid out again. A change of width, font or mode lays out everything
// again, in steps the caller runs between events.

#include "record/ReceivedBytes.h"
#include "LineLayout.h"
#include "record/Frames.h"

#include <QString>

#include <memory>
#include <optional>
#include <span>

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

// The bytes a view shows, newest last, and their visual lines. The bytes
// are those of a ReceivedBytes, its own or another's that it follows,
// sharing their storage: when they let go of their oldest bytes, the
// lines of those go too.
class ByteText {
public:
    static constexpr qsizetype kDefaultKeepBytes = ReceivedBytes::kDefaultKeepBytes;
    // Up to this much is laid out again at once; past it a new layout is
    // built in steps, and until it is done the old one stays, or, to show
    // the new one at once, a layout of about this much of the newest bytes.
    static constexpr qsizetype kAtOnceBytes = 512 * 1024;
    // A flood is shown from at least this much of its newest bytes.
    static constexpr qsizetype kSkimBytes = 64 * 1024;

    // `keepBytes`: of the bytes it holds itself.
    explicit ByteText(qsizetype keepBytes = kDefaultKeepBytes);
    ByteText(const ByteText &) = delete;
    ByteText &operator=(const ByteText &) = delete;

    // Shows `bytes`, or with nullptr those it holds itself, from the start.
    void Show(const ReceivedBytes *bytes);
    bool ShowsOwn() const { return doc_ == &own_; }
    // Takes in what the bytes shown gained, or lost, since the last call.
    // While skimming the new bytes are only taken, and laid out at the next
    // LayOutArrivals(). True when what is shown began anew (cleared).
    bool Follow();

    // Its own bytes: what to keep, and adding to them or clearing them.
    void SetKeepBytes(qsizetype keepBytes);
    qsizetype KeepBytes() const { return doc_->KeepBytes(); }
    // `frames`: where frames begin in `data`, and when. True as Follow().
    bool Append(QByteArrayView data, std::span<const FrameStart> frames = {});
    void Clear();
    // Lays out what came since the last call. More than kAtOnceBytes
    // between two calls is a flood, far past any serial line's rate. When
    // a view of `followingRows` rows follows the newest bytes, Follow()
    // then only takes bytes in, and the next call lays out just enough of the
    // newest bytes to fill those rows, from a line break so that they wrap
    // as in the whole layout, which is left pending (see LayOutSome). A
    // flood costs a layout of a screenful a frame, not one of every byte.
    // True when the layout shown began anew.
    bool LayOutArrivals(qsizetype followingRows);
    // Trimming during a flood had the newest bytes laid out anew: until
    // LayOutArrivals(), lines are counted otherwise than the view knows.
    bool Restarted() const { return restarted_; }
    // The bytes laid out end here: until LayOutArrivals(), newer ones are
    // stored but not shown.
    qsizetype LaidEnd() const { return layout_.Laid(); }
    // The time of the frame that begins at `offset`, if one does.
    std::optional<qint64> FrameAt(qsizetype offset) const;
    // Frames are kept with their bytes, but at most this many: a frame costs
    // 16 bytes, so a flood of one-byte frames lets older bytes go sooner.
    qsizetype MaxFrames() const { return doc_->MaxFrames(); }
    qsizetype FrameCount() const { return qsizetype(frames_.size()); }
    // Wraps every line at `width`. In hex mode every byte takes a cell and
    // only an LF, shown, ends a line. When that changes the layout of more
    // than kAtOnceBytes, the new one is pending (see LayOutSome); with
    // `newestAtOnce` the newest bytes are shown in it meanwhile.
    // With `frameRows` each frame begins a line.
    void SetLayout(const ByteMetrics &metrics, std::int32_t width, bool hex = false, bool newestAtOnce = false,
                   bool frameRows = false);
    bool LayoutPending() const { return bool(next_); }
    // The layout shown is the one last asked for (perhaps only of the
    // newest bytes while the whole is pending).
    bool ShowsLastLayout() const { return !next_ || next_->Rules() == layout_.Rules(); }
    // Lays out up to `bytes` more of the pending layout; true once it is
    // complete, to be shown by FinishLayout().
    bool LayOutSome(qsizetype bytes);
    void FinishLayout();
    bool Hex() const { return layout_.Rules().hex; }

    const ByteStore &Store() const { return store_; }
    qsizetype Size() const { return store_.Size(); }
    qsizetype Begin() const { return store_.Begin(); }
    qsizetype End() const { return store_.End(); }
    QByteArray Bytes() const { return store_.Bytes(); }

    qsizetype LineCount() const { return layout_.Lines() - FirstLine(); }
    // The first kept line may have begun before the first kept byte.
    qsizetype LineStart(qsizetype line) const
    {
        return std::max(layout_.Start(store_, FirstLine() + line), store_.Begin());
    }
    // End of the line's visible bytes, before its line break.
    qsizetype LineEnd(qsizetype line) const;
    qsizetype LineOf(qsizetype offset) const { return layout_.LineOf(store_, offset) - FirstLine(); }
    const ByteMetrics &Metrics() const { return layout_.Rules().metrics; }
    std::int32_t Width() const { return layout_.Rules().width; }
    // Lines let go from the front since the layout was made.
    qsizetype DroppedLines() const { return FirstLine(); }

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
    // Lets go of what the bytes shown no longer hold, before `begin`.
    void Trim(qsizetype begin);
    // Shows nothing, and goes on from `from`.
    void StartAnew(qsizetype from);
    // Where a layout of the newest bytes begins: after a line break near
    // kAtOnceBytes from the end, so it wraps as the whole will.
    qsizetype NewestStart(bool hex) const;
    // A line start after a line break at least `bytes` from the end and
    // at most twice that, the nearest to the end; -1 if there is none.
    qsizetype BreakNear(qsizetype bytes, bool hex) const;
    // Lays out only enough of the newest bytes for `rows` rows, from a
    // line break; false when there is none near enough.
    bool SkimToNewest(qsizetype rows);
    // The line holding the first kept byte, counted in the layout.
    qsizetype FirstLine() const;

    ReceivedBytes own_;
    const ReceivedBytes *doc_ = &own_;
    quint64 clears_ = 0;               // doc_'s Clears() when this began
    ByteStore store_;                  // doc_'s bytes, taken in by Follow()
    FrameMarks frames_;                // doc_'s, kept while layouts may need them
    LineLayout layout_;                // shown
    std::unique_ptr<LineLayout> next_; // pending, from the first kept byte
    bool newestOnly_ = false;          // layout_ covers only the newest bytes
    bool skimming_ = false;            // Append() only stores
    bool restarted_ = false;           // the layout shown began anew
    qsizetype skimRows_ = 1;           // rows of the view following a flood
    qsizetype arrivalsFrom_ = 0;       // End() at the last LayOutArrivals()
    mutable struct {
        qsizetype begin = -1;
        qsizetype laid = -1;
        qsizetype line = 0;
    } first_;
};

} // namespace platform

#pragma once
// A read-only view of received bytes that stays fast however much arrives:
// bytes are stored as bytes, lines are indexed as they come (during a flood
// only the newest, the rest once it is over), and only the visible lines
// are painted. The text and its layout live in ByteText, the
// font's measures in ByteFont, the drawing of a row in RowPainter; this
// class handles events, selection, scrolling, flushing and the menu.

#include "ByteFont.h"
#include "ByteText.h"
#include "RowPainter.h"
#include "platform/Controls.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>

#include <functional>

namespace platform {

class TimeGutter;
class ViewScrollBar;

class TextArea : public QAbstractScrollArea, public RectControl, public Settable {
    Q_OBJECT
public:
    explicit TextArea(QWidget *parent);

    // Exactly the bytes shown: the newest KeepBytes() received.
    QByteArray Text() const { return text_.Bytes(); }
    // Shows the bytes another holds, sharing them (nullptr: its own again).
    // That holder adds to them, trims and clears them; Follow() after each
    // change shows it, and Clear in the menu asks the holder (ClearAsked).
    void Show(const ReceivedBytes *bytes);
    void Follow();
    // Its own bytes: what to keep, setting and adding to them.
    void SetKeepBytes(qsizetype bytes);
    qsizetype KeepBytes() const { return text_.KeepBytes(); }
    void SetText(QByteArrayView bytes);
    // Stores the bytes now; the scroll range and the paint follow within
    // one frame, so a flood of arrivals costs one paint per frame.
    // `frames`: where received frames begin in `bytes`, and when.
    void AppendText(QByteArrayView bytes, std::span<const FrameStart> frames = {});
    // Brings the scroll range and the picture up to date at once.
    void Flush();
    qsizetype Size() const { return text_.Size(); }
    // No layout or paint is waiting: what is on screen is the present state.
    bool LayoutSettled() const { return !framePending_ && !text_.LayoutPending(); }

    // Selection as byte offsets [start, end), counted from the first byte
    // ever received; the kept bytes are [Content().Begin(), Content().End()).
    void SetSelection(qsizetype anchor, qsizetype cursor);
    void SelectAll();
    qsizetype SelectionStart() const { return std::min(anchor_, cursor_); }
    qsizetype SelectionEnd() const { return std::max(anchor_, cursor_); }
    // As shown: text, or hex pairs in hex mode.
    QString SelectedText() const;
    // Hex mode is only a view: the bytes, Text() and the relay are untouched.
    void SetHexMode(bool on);
    bool HexMode() const { return hex_; }
    // Each frame on a row of its own, its time in a strip before the bytes.
    // Only a view too: Text(), Save and the record are untouched.
    void SetTimestamps(bool on);
    bool Timestamps() const { return timestamps_; }
    int LineHeight() const { return font_.lineHeight; }
    // The context menu's items: Copy, Select All, Show as Hex, Clear, and
    // what the window adds through ContextMenuAboutToShow.
    void FillContextMenu(QMenu *menu);
    // Copies the selection as shown. Past kAskBeforeCopyChars the text is
    // built only if `confirm` agrees: a copy that size takes seconds and
    // several times its size in memory.
    void Copy() const;
    static constexpr qsizetype kAskBeforeCopyChars = qsizetype(16) << 20;
    void SetLargeCopyCheck(std::function<bool(qsizetype chars)> confirm) { confirmLargeCopy_ = std::move(confirm); }

    bool AtBottom() const;
    // Scrolling in lines.
    qsizetype FirstVisibleLine() const;
    void ScrollToLine(qsizetype line);
    qsizetype VisibleLines() const;
    const ByteText &Content() const { return text_; }
    // Offset of the byte under a viewport point, and the cell of a byte.
    qsizetype OffsetAt(QPoint viewportPos) const;
    QRect ByteRect(qsizetype offset) const;

    // Screen readers hear of new text at most this often.
    static constexpr int kAnnounceMs = 500;
    // and of at most this much of it: a flood is not read out.
    static constexpr qsizetype kAnnounceBytes = 4096;
    // At most one repaint per frame: about 10 a second, a line a frame at
    // 9600 bit/s. Each costs a paint, a scroll and a flush to the screen,
    // most of what the window spends at line rate, and in a flood a paint
    // of every row. The first byte after a quiet while is painted at once.
    static constexpr int kFrameMs = 95;
    // A byte is on screen this soon at the latest. Within it, a frame waits
    // for a later arrival to be painted with, so that it costs no wake-up
    // of its own.
    static constexpr int kLatestMs = 100;
    // A new layout of a full area is built in steps of this much, for at
    // most this long before other events run.
    static constexpr qsizetype kLayoutStepBytes = 256 * 1024;
    static constexpr int kLayoutSliceMs = 4;
    // After a flood shown from its newest lines, the whole layout is built
    // on once no flood frame has come for this long.
    static constexpr int kFloodOverMs = 100;

    PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

signals:
    // New text, as told to screen readers.
    void Announced(const QString &text);
    // Room for the window's own items in the context menu.
    void ContextMenuAboutToShow(QMenu *menu);
    // Clear was chosen for bytes this view does not hold itself.
    void ClearAsked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // New bytes, or fewer: painted within one frame.
    void Arrived();
    // What is shown began anew: selection, scrolling and all.
    void ShowFromStart();
    void Relayout();
    void ContinueLayout();
    // Shows the layout last asked for: keeps the view at the bottom, or on
    // the byte that was at its top.
    void ShowNewLayout(bool followBottom, qsizetype topOffset);
    void UpdateScrollRange(bool followBottom, qsizetype topLine = -1);
    void MoveCursor(qsizetype offset, bool extend);
    void EnsureCursorVisible();
    void AnnounceNewText();
    bool SomeoneListens() const;
    // The rows of text, between the margins: what scrolling moves.
    QRect RowsRect() const;
    // The screen maps the view's pixels one to one: rows can be moved and
    // glyphs copied from their cells.
    bool WholePixels() const;

    // What is repainted; see the section in the source.
    void RepaintAll();
    void CatchUp();
    // The first line in view, counted from the first line ever.
    qsizetype ShownTop() const { return text_.DroppedLines() + FirstVisibleLine(); }
    // ShownTop() != shown_.top, told by where the bytes are trimmed from
    // rather than by finding the first kept line at every arrival.
    bool TopTrimmed();
    // What the picture on screen shows, or will once the pending paint is
    // done: its first line counted from the first line ever, and the bytes
    // [begin, end) it was painted from.
    struct Shown {
        qsizetype top = 0;
        qsizetype begin = 0;
        qsizetype end = 0;
        qsizetype nextStart = -1; // where the line after top begins, once known
        // Trimming took the first line in view: painted anew at the next
        // flush, not at every arrival of a flood.
        bool stale = false;
    } shown_;

    // Shows or hides the time strip and makes room for it.
    void PlaceGutter();

    ViewScrollBar *bar_;
    TimeGutter *gutter_;
    ByteText text_;
    ByteFont font_;        // of the layout shown
    ByteFont layoutFont_;  // of the layout asked for
    QTimer layoutSteps_;   // a new layout is being built
    QTimer floodOver_;     // and waits for a flood to end
    RowPainter rows_;
    qsizetype anchor_ = 0;
    qsizetype cursor_ = 0;
    bool hex_ = false;
    bool timestamps_ = false;
    bool hideSelection_ = false;
    bool framePending_ = false;     // scroll range and paint wait for the frame clock
    QElapsedTimer sinceFlush_;
    qsizetype droppedSeen_ = 0;     // trimmed lines the scroll bar's value counts from
    std::function<bool(qsizetype)> confirmLargeCopy_;
    QTimer announce_;               // pending word to screen readers
    qsizetype announcedEnd_ = 0;    // end of the text they have heard of
};

} // namespace platform

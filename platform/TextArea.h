#pragma once
// A read-only view of received bytes that stays fast however much arrives:
// bytes are stored as bytes, lines are indexed as they come, and only the
// visible lines are painted.

#include "ByteText.h"
#include "Controls.h"
#include "GlyphCells.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QMenu>
#include <QRawFont>
#include <QTimer>

namespace platform {

class ViewScrollBar;

class TextArea : public QAbstractScrollArea, public RectControl, public Settable {
    Q_OBJECT
public:
    explicit TextArea(QWidget *parent);

    // Exactly the bytes kept: the newest KeepBytes() received.
    QByteArray Text() const { return text_.Bytes(); }
    void SetKeepBytes(qsizetype bytes) { text_.SetKeepBytes(bytes); }
    qsizetype KeepBytes() const { return text_.KeepBytes(); }
    void SetText(QByteArrayView bytes);
    // Stores the bytes now; the scroll range and the paint follow within
    // one frame, so a flood of arrivals costs one paint per frame.
    void AppendText(QByteArrayView bytes);
    // Brings the scroll range and the picture up to date at once.
    void Flush();
    qsizetype Size() const { return text_.Size(); }

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
    // The context menu's items: Copy, Select All, Show as Hex, Clear, and
    // what the window adds through ContextMenuAboutToShow.
    void FillContextMenu(QMenu *menu);
    bool HexMode() const { return hex_; }
    void Copy() const;

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

    PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

signals:
    // New text, as told to screen readers.
    void Announced(const QString &text);
    // Room for the window's own items in the context menu.
    void ContextMenuAboutToShow(QMenu *menu);

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
    struct Selection {
        qsizetype start;
        qsizetype end;
    };
    // Columns [from, to) of the viewport being painted.
    struct Span {
        int from;
        int to;
    };
    struct LineGlyphs;
    void UpdateLayout();
    void PaintLine(QPainter &painter, qsizetype line, int top, Selection selection, Span span,
                   LineGlyphs &glyphs) const;
    void PaintBoxes(QPainter &painter, const LineGlyphs &glyphs) const;
    static void DrawGlyphs(QPainter &painter, const QRawFont &font, const QList<quint32> &glyphs,
                           const QList<QPointF> &at, const QColor &colour);
    void AnnounceNewText();
    bool SomeoneListens() const;
    void UpdateScrollRange(bool followBottom);
    void MoveCursor(qsizetype offset, bool extend);
    void EnsureCursorVisible();
    int LineHeight() const;
    // The rows of text, between the margins: what scrolling moves.
    QRect RowsRect() const;
    // Pixel x, in 1/64 px, where `offset` begins within its line.
    std::int32_t XOf(qsizetype offset) const;
    // The viewport column a glyph at x is drawn from: whole pixels, so that
    // glyphs can be copied from their cells.
    static int Column(std::int32_t x);
    // The screen maps the view's pixels one to one: rows can be moved and
    // glyphs copied from their cells.
    bool WholePixels() const;
    int InkReach() const;
    qsizetype OffsetAtX(qsizetype line, std::int32_t x64) const;

    ViewScrollBar *bar_;
    ByteText text_;
    qsizetype anchor_ = 0;
    qsizetype cursor_ = 0;
    // Per font: what each byte value is drawn with.
    QRawFont rawFont_;
    std::array<quint32, 256> glyphIndex_{};
    std::array<quint32, 16> hexGlyph_{};
    qreal hexDigitWidth_ = 0;
    bool hex_ = false;
    std::array<bool, 256> boxed_{}; // drawn as a boxed hex pair
    struct BoxGlyphs {
        QRawFont font;
        quint32 glyph[256][2] {};
        qreal offset[256][2] {};
        qreal width[256] {};
        qreal baseline = 0;
    } box_;
    mutable GlyphCells cells_;
    mutable QImage strip_;          // a row composed from cells
    bool useCells_ = false;         // set per paint: whole device pixels
    bool hideSelection_ = false;
    int lineHeight_ = 1;
    qreal ascent_ = 0;
    qreal breakMarkWidth_ = 1;
    bool framePending_ = false;     // scroll range and paint wait for the frame clock
    QElapsedTimer sinceFlush_;
    qsizetype droppedSeen_ = 0;     // trimmed lines the scroll position knows of
    qsizetype paintedEnd_ = 0;      // end of the text at the last flush
    QTimer announce_;               // pending word to screen readers
    qsizetype announcedEnd_ = 0;    // end of the text they have heard of
};

} // namespace platform

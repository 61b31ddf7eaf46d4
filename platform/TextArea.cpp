#include "TextArea.h"
#include "ControlProperties.h"
#include "TextAreaAccessible.h"

#include <QAccessible>
#include <QMetaMethod>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QGlyphRun>
#include <QPainter>
#include <QPointer>
#include <QPaintEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVarLengthArray>
#include <QStyleOptionSlider>

#include <cmath>

namespace platform {

namespace {

constexpr PropertyDecl kTextAreaProperties[] = {
    VISUAL_CONTROL_PROPERTIES,
    {"Text", T::String}, {"Border", T::Boolean}, {"Multiline", T::Boolean},
    {"ScrollbarVertical", T::Boolean}, {"ScrollbarHorizontal", T::Boolean}, {"Styled", T::Boolean},
    {"UseFocusRing", T::Boolean}, {"ReadOnly", T::Boolean}, {"AcceptTabs", T::Boolean},
    {"HideSelection", T::Boolean}, {"AllowSpellChecking", T::Boolean}, {"LimitText", T::Integer},
    {"Alignment", T::Integer}, {"TextColor", T::Color}, {"BackColor", T::Color},
    {"LineHeight", T::Double}, {"LineSpacing", T::Double}, {"Format", T::String}, {"Mask", T::String},
};

constexpr int kMarginPx = 3;         // text inset from the frame
constexpr int kSubpixel = 64;        // layout units per pixel
constexpr quint32 kNoGlyph = ~0u;   // a cell of background only
constexpr int kBoxPaddingPx = 3;     // room around a boxed hex pair
constexpr qreal kBoxFontScale = 0.7; // boxed hex digits, relative to the text
constexpr int kFrameMs = 16;         // at most one repaint per frame during a flood
constexpr int kQuietMs = kFrameMs / 2; // after this long without a paint, new bytes show at once
constexpr int kBarPictureMs = 250;   // a following view's scroll bar is repainted this often

// One frame timer for every view: views due in the same frame are brought
// up to date together, in one paint of the window.
class FrameClock : public QObject {
public:
    static void Schedule(TextArea *area, int dueInMs)
    {
        static FrameClock clock;
        clock.pending_.append(area);
        if (!clock.timer_.isActive() || clock.timer_.remainingTime() > dueInMs)
            clock.timer_.start(dueInMs);
    }

private:
    FrameClock()
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const QList<QPointer<TextArea>> due = std::exchange(pending_, {});
            for (const QPointer<TextArea> &area : due)
                if (area)
                    area->Flush();
        });
    }
    QTimer timer_;
    QList<QPointer<TextArea>> pending_;
};

QString HexPair(std::uint8_t b)
{
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

// A view's scroll bar, repainted only when its picture changes: in a long
// text a new line moves the slider by less than a pixel, and a styled bar
// costs more to paint than the new text. The range and value are always
// current; while arrivals move them, the picture catches up at most every
// kBarPictureMs. What the user does with the bar shows at once.
class ViewScrollBar : public QScrollBar {
public:
    explicit ViewScrollBar(QWidget *parent) : QScrollBar(Qt::Vertical, parent)
    {
        setSingleStep(1);
        setAttribute(Qt::WA_OpaquePaintEvent);
        due_.setSingleShot(true);
        due_.setInterval(kBarPictureMs);
        // A range grown past the value changes the picture until the value
        // follows: only where it ends up counts.
        connect(&due_, &QTimer::timeout, this, [this] {
            if (Look() != painted_)
                Repaint();
        });
    }
    template <typename Change> void Quietly(Change &&change)
    {
        quiet_ = true;
        change();
        quiet_ = false;
    }

protected:
    void sliderChange(SliderChange change) override
    {
        if (change != SliderOrientationChange && Look() == painted_)
            return;
        if (quiet_ && !isSliderDown()) {
            if (!due_.isActive())
                due_.start();
            return;
        }
        due_.stop();
        painted_ = Look();
        QScrollBar::sliderChange(change); // repaints
    }

private:
    void Repaint()
    {
        painted_ = Look();
        update();
    }
    // What the picture shows: where the slider is, and which ends it is at.
    struct Picture {
        QRect slider;
        bool atTop = false, atBottom = false;
        bool operator==(const Picture &) const = default;
    };
    Picture Look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }
    QTimer due_;
    Picture painted_;
    bool quiet_ = false;
};

TextArea::TextArea(QWidget *parent)
    : QAbstractScrollArea(parent), RectControl(static_cast<QWidget &>(*this)), bar_(new ViewScrollBar(this))
{
    setVerticalScrollBar(bar_);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    // The view and its scroll bar paint every pixel themselves: nothing
    // beneath them (frame, window backdrop) is repainted with them.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
    announce_.setSingleShot(true);
    announce_.setInterval(kAnnounceMs);
    connect(&announce_, &QTimer::timeout, this, &TextArea::AnnounceNewText);
    TextAreaAccessible::Install();
    UpdateLayout();
}

// Everything a paint needs from the fonts is worked out here, once per
// font: glyph indexes and advances for all 256 byte values, so painting
// places glyphs without shaping text.
void TextArea::UpdateLayout()
{
    const QFontMetricsF fm(font());
    rawFont_ = QRawFont::fromFont(font());
    lineHeight_ = std::max(1, QFontMetrics(font()).lineSpacing());
    ascent_ = fm.ascent();
    breakMarkWidth_ = fm.averageCharWidth() / 2;
    QFont boxFont = font();
    boxFont.setPointSizeF(std::max(4.0, font().pointSizeF() * kBoxFontScale));
    box_.font = QRawFont::fromFont(boxFont);
    const QFontMetricsF boxFm(boxFont);
    box_.baseline = (lineHeight_ - boxFm.height()) / 2 + boxFm.ascent();
    // Few fonts carry the control pictures; without them a control byte
    // is drawn boxed like the Latin-1 controls rather than as a blank box.
    const bool pictures = fm.inFontUcs4(0x2400) && fm.inFontUcs4(0x2421);
    ByteMetrics metrics;
    for (int b = 0; b < 256; ++b) {
        const auto byte = std::uint8_t(b);
        const bool control = (byte < 0x20 || byte == 0x7F) && byte != '\t' && !ByteGlyphs::IsLineBreak(byte);
        boxed_[b] = ByteGlyphs::IsBoxed(byte) || (control && !pictures);
        qreal advance = 0;
        if (!boxed_[b] && !ByteGlyphs::IsLineBreak(byte) && byte != '\t') {
            const QString shown(ByteGlyphs::DisplayChar(byte));
            const QList<quint32> glyph = rawFont_.glyphIndexesForString(shown);
            glyphIndex_[b] = glyph.value(0);
            advance = fm.horizontalAdvance(shown);
            // A glyph the font lacks, or one that takes no room (the soft
            // hyphen), would hide the byte: box it like a control byte.
            boxed_[b] = advance < 1 || glyphIndex_[b] == 0 || !fm.inFontUcs4(shown.at(0).unicode());
        }
        if (boxed_[b]) {
            const QList<quint32> digits = box_.font.glyphIndexesForString(HexPair(byte));
            const QList<QPointF> steps = box_.font.advancesForGlyphIndexes(digits);
            for (int d = 0; d < 2; ++d)
                box_.glyph[b][d] = digits.value(d);
            box_.offset[b][0] = 0;
            box_.offset[b][1] = steps.value(0).x();
            box_.width[b] = steps.value(0).x() + steps.value(1).x();
            advance = box_.width[b] + 2 * kBoxPaddingPx;
        }
        metrics.advance[b] = std::int32_t(std::lround(advance * kSubpixel));
    }
    metrics.tabStop = 8 * metrics.advance[' '];
    // Hex: two digits and a space a byte, each digit in a cell of the widest.
    const QList<quint32> digits = rawFont_.glyphIndexesForString(QStringLiteral("0123456789ABCDEF"));
    qreal digitWidth = 0;
    for (const QPointF &step : rawFont_.advancesForGlyphIndexes(digits))
        digitWidth = std::max(digitWidth, step.x());
    for (int d = 0; d < 16; ++d)
        hexGlyph_[d] = digits.value(d);
    hexDigitWidth_ = digitWidth;
    ByteMetrics hexMetrics;
    hexMetrics.advance.fill(std::int32_t(std::lround((2 * digitWidth + fm.horizontalAdvance(QLatin1Char(' '))) * kSubpixel)));
    // The scroll bar is always on, so the width is known before showing.
    const int width = contentsRect().width() - verticalScrollBar()->sizeHint().width() - 2 * kMarginPx;
    const bool follow = AtBottom();
    text_.SetLayout(hex_ ? hexMetrics : metrics, std::max(1, width) * kSubpixel, hex_);
    droppedSeen_ = text_.DroppedLines();
    UpdateScrollRange(follow);
    viewport()->update();
}

int TextArea::LineHeight() const
{
    return lineHeight_;
}

QRect TextArea::RowsRect() const
{
    return QRect(0, kMarginPx, viewport()->width(), int(VisibleLines()) * lineHeight_);
}

// Rows still in view keep their pixels: they are moved, and only the rows
// scrolled in are painted. The margins and whatever lies below the last
// whole row do not move with the rows, so they are painted afresh.
void TextArea::scrollContentsBy(int, int dy)
{
    const QRect rows = RowsRect();
    const int shift = dy * lineHeight_;
    if (dy == 0)
        return;
    // On a scaled screen Qt moves a part of a widget to the wrong place
    // (seen at a scale of 2 under X11), so there the view is painted anew.
    if (std::abs(shift) >= rows.height() || !WholePixels()) {
        viewport()->update();
        return;
    }
    viewport()->scroll(0, shift, rows);
    viewport()->update(QRect(0, rows.bottom() + 1, rows.width(), viewport()->height() - rows.bottom() - 1));
}

qsizetype TextArea::VisibleLines() const
{
    return std::max(1, (viewport()->height() - 2 * kMarginPx) / LineHeight());
}

qsizetype TextArea::FirstVisibleLine() const
{
    return verticalScrollBar()->value();
}

bool TextArea::AtBottom() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void TextArea::ScrollToLine(qsizetype line)
{
    if (framePending_)
        Flush();
    verticalScrollBar()->setValue(int(std::clamp<qsizetype>(line, 0, verticalScrollBar()->maximum())));
}

void TextArea::UpdateScrollRange(bool followBottom)
{
    // Lines trimmed off the top move the bytes in view up by as many.
    const qsizetype dropped = text_.DroppedLines() - droppedSeen_;
    droppedSeen_ = text_.DroppedLines();
    const int before = bar_->value();
    const int value = int(std::max<qsizetype>(0, before - dropped));
    const qsizetype visible = VisibleLines();
    const int max = int(std::min<qsizetype>(std::max<qsizetype>(0, text_.LineCount() - visible),
                                            std::numeric_limits<int>::max()));
    bar_->Quietly([&] {
        if (max != bar_->maximum()) {
            // Nothing to lay out when the range grows by a line: the bar
            // is always there. A range that shrinks under the value moves
            // the view without telling it, so the view is painted afresh.
            const QSignalBlocker unannounced(bar_);
            bar_->setRange(0, max);
            if (bar_->value() != before)
                viewport()->update();
        }
        if (bar_->pageStep() != visible)
            bar_->setPageStep(int(visible));
        bar_->setValue(followBottom ? max : value);
    });
}

void TextArea::SetText(QByteArrayView bytes)
{
    framePending_ = false;
    text_.Clear();
    text_.Append(bytes);
    anchor_ = cursor_ = text_.Begin();
    announcedEnd_ = text_.End();
    UpdateScrollRange(true);
    viewport()->update();
}

void TextArea::AppendText(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    text_.Append(bytes);
    if (!framePending_) {
        framePending_ = true;
        // A byte after a quiet spell is shown in this pass of the event loop,
        // with no wake-up of its own; during a flood, once a frame.
        const qint64 since = sinceFlush_.isValid() ? sinceFlush_.elapsed() : kFrameMs;
        FrameClock::Schedule(this, since >= kQuietMs ? 0 : int(kFrameMs - since));
    }
}

void TextArea::Flush()
{
    framePending_ = false;
    sinceFlush_.start();
    // The range has not moved since the last flush, so this is where the
    // user left the view: at the bottom, the view follows the new lines.
    // Rows still in view are moved as it scrolls; the new bytes are painted
    // from where they begin in their row, with the rows below.
    UpdateScrollRange(AtBottom());
    const qsizetype from = std::max(paintedEnd_, text_.Begin());
    const qsizetype row = text_.LineOf(from) - FirstVisibleLine();
    if (row >= 0 && row < VisibleLines() + 1) {
        // The row the new bytes begin in, from where they begin, and the
        // rows below it, taking in the ink a new glyph lays over the last.
        const int top = kMarginPx + int(row) * lineHeight_;
        const int left = std::max(0, kMarginPx + XOf(from) / kSubpixel - InkReach());
        QRegion dirty(left, top, viewport()->width() - left, lineHeight_);
        dirty += QRect(0, top + lineHeight_, viewport()->width(), viewport()->height() - top - lineHeight_);
        viewport()->update(dirty);
    } else if (row < 0) {
        viewport()->update();
    }
    paintedEnd_ = text_.End();
    if (!announce_.isActive() && SomeoneListens())
        announce_.start();
}

// A screen reader, or whoever watches Announced; nobody else pays for it.
bool TextArea::SomeoneListens() const
{
    return QAccessible::isActive() || isSignalConnected(QMetaMethod::fromSignal(&TextArea::Announced));
}

void TextArea::AnnounceNewText()
{
    const qsizetype to = text_.End();
    const qsizetype from = std::max({announcedEnd_, text_.Begin(), to - kAnnounceBytes});
    announcedEnd_ = to;
    if (from >= to)
        return;
    const QString shown = text_.DisplayText(from, to);
    emit Announced(shown);
    if (!QAccessible::isActive())
        return;
    const int at = int(std::min<qsizetype>(text_.CharsBefore(from), std::numeric_limits<int>::max()));
    QAccessibleTextInsertEvent inserted(this, at, shown);
    QAccessible::updateAccessibility(&inserted);
    QAccessibleTextCursorEvent caret(this, at + int(shown.size()));
    QAccessible::updateAccessibility(&caret);
}

void TextArea::SetSelection(qsizetype anchor, qsizetype cursor)
{
    anchor_ = std::clamp<qsizetype>(anchor, text_.Begin(), text_.End());
    cursor_ = std::clamp<qsizetype>(cursor, text_.Begin(), text_.End());
    viewport()->update();
}

void TextArea::SelectAll()
{
    SetSelection(text_.Begin(), text_.End());
}

QString TextArea::SelectedText() const
{
    return text_.DisplayText(SelectionStart(), SelectionEnd());
}

void TextArea::Copy() const
{
    if (SelectionEnd() > SelectionStart())
        QApplication::clipboard()->setText(SelectedText());
}

std::int32_t TextArea::XOf(qsizetype offset) const
{
    const qsizetype line = text_.LineOf(offset);
    std::int32_t x = 0;
    for (qsizetype i = text_.LineStart(line); i < offset && i < text_.LineEnd(line); ++i)
        x += text_.Metrics().AdvanceAt(text_.Store().At(i), x);
    return x;
}

qsizetype TextArea::OffsetAtX(qsizetype line, std::int32_t x64) const
{
    const qsizetype end = text_.LineEnd(line);
    std::int32_t x = 0;
    for (qsizetype i = text_.LineStart(line); i < end; ++i) {
        const std::int32_t advance = text_.Metrics().AdvanceAt(text_.Store().At(i), x);
        if (x64 < x + advance / 2)
            return i;
        x += advance;
    }
    return end;
}

qsizetype TextArea::OffsetAt(QPoint pos) const
{
    const int y = pos.y() - kMarginPx;
    const qsizetype row = y < 0 ? -1 : y / LineHeight();
    const qsizetype line = std::clamp<qsizetype>(FirstVisibleLine() + row, 0, text_.LineCount() - 1);
    return OffsetAtX(line, (pos.x() - kMarginPx) * kSubpixel);
}

QRect TextArea::ByteRect(qsizetype offset) const
{
    const qsizetype line = text_.LineOf(offset);
    const std::int32_t x = XOf(offset);
    const std::int32_t advance = offset < text_.End() ? text_.Metrics().AdvanceAt(text_.Store().At(offset), x) : 0;
    return QRect(Column(x), kMarginPx + int(line - FirstVisibleLine()) * LineHeight(),
                 std::max(1, Column(x + advance) - Column(x)), LineHeight());
}

void TextArea::MoveCursor(qsizetype offset, bool extend)
{
    if (framePending_)
        Flush();
    cursor_ = std::clamp<qsizetype>(offset, text_.Begin(), text_.End());
    if (!extend)
        anchor_ = cursor_;
    EnsureCursorVisible();
    viewport()->update();
}

void TextArea::EnsureCursorVisible()
{
    const qsizetype line = text_.LineOf(cursor_);
    const qsizetype first = FirstVisibleLine();
    if (line < first)
        ScrollToLine(line);
    else if (line >= first + VisibleLines())
        ScrollToLine(line - VisibleLines() + 1);
}

// Glyphs of a line, gathered for one draw call per colour.
struct TextArea::LineGlyphs {
    QList<quint32> plain, selected;
    QList<QPointF> plainAt, selectedAt;
    QList<QPointF> boxAt;          // top-left of each boxed byte's cell
    QList<std::uint8_t> boxByte;
    QList<bool> boxSelected;
};

void TextArea::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const QPalette &colours = palette();
    const bool showSelection = hasFocus() || !hideSelection_;
    const Selection selection {showSelection ? SelectionStart() : 0, showSelection ? SelectionEnd() : 0};
    // Cells hold device pixels: on a scaled screen glyphs are drawn instead.
    useCells_ = WholePixels();
    if (useCells_) {
        cells_.Prepare(rawFont_, lineHeight_, ascent_,
                       {colours.color(QPalette::Text).rgb(), colours.color(QPalette::Base).rgb()},
                       {colours.color(QPalette::HighlightedText).rgb(), colours.color(QPalette::Highlight).rgb()});
        if (strip_.width() != viewport()->width() || strip_.height() != lineHeight_)
            strip_ = GlyphCells::NewStrip(viewport()->width(), lineHeight_);
    }
    LineGlyphs glyphs;
    for (const QRect &dirty : event->region()) {
        // Only the rows, and the part of them, the update touches.
        const qsizetype first = FirstVisibleLine() + std::max(0, (dirty.top() - kMarginPx) / lineHeight_);
        const qsizetype last =
            std::min(text_.LineCount(), FirstVisibleLine() + (dirty.bottom() - kMarginPx) / lineHeight_ + 1);
        // Composed rows paint every pixel of theirs; the rest is background.
        QRegion background(dirty);
        if (useCells_ && last > first)
            background -= QRect(dirty.left(), kMarginPx + int(first - FirstVisibleLine()) * lineHeight_, dirty.width(),
                                int(last - first) * lineHeight_);
        for (const QRect &part : background)
            painter.fillRect(part, colours.color(QPalette::Base));
        painter.setClipRect(dirty);
        for (qsizetype line = first; line < last; ++line)
            PaintLine(painter, line, kMarginPx + int(line - FirstVisibleLine()) * lineHeight_, selection,
                      {std::max(0, dirty.left()), std::min(viewport()->width(), dirty.right() + 1)}, glyphs);
    }
    painter.setClipping(false);
    if (hasFocus()) {
        painter.setPen(QPen(colours.color(QPalette::Highlight), 1));
        painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
    }
}

bool TextArea::WholePixels() const
{
    return viewport()->devicePixelRatio() == 1.0;
}

// As far as a glyph's ink may reach past its own columns: the room glyph
// cells are drawn with.
int TextArea::InkReach() const
{
    return lineHeight_;
}

int TextArea::Column(std::int32_t x)
{
    return kMarginPx + (x + kSubpixel / 2) / kSubpixel;
}

// The row is composed in a strip, from cells where the glyph fits its
// columns, and drawn at once; glyphs that do not fit, and boxed bytes, are
// drawn over it.
void TextArea::PaintLine(QPainter &painter, qsizetype line, int top, Selection selection, Span span,
                         LineGlyphs &g) const
{
    g = {};
    const QColor highlight = palette().color(QPalette::Highlight);
    const QRgb base = palette().color(QPalette::Base).rgb();
    const ByteMetrics &metrics = text_.Metrics();
    // Columns [left, right) of the strip get the glyph's cell, which holds
    // its background too, or else its background, the glyph drawn later.
    // Ink past a glyph's own columns is added once its neighbours are in.
    struct Spilled {
        const GlyphCells::Cell *cell;
        int x;
        GlyphCells::Set set;
    };
    QVarLengthArray<Spilled, 32> spills;
    auto place = [&](quint32 glyph, int left, int right, bool selected) {
        const GlyphCells::Set set = selected ? GlyphCells::Selected : GlyphCells::Plain;
        const GlyphCells::Cell *cell = useCells_ && glyph != kNoGlyph ? cells_.Find(glyph, right - left, set) : nullptr;
        if (cell) {
            GlyphCells::Copy(strip_, left, *cell, span.from, span.to);
            if (cell->image.width() > cell->width)
                spills.append({cell, left, set});
            return;
        }
        if (useCells_)
            GlyphCells::Fill(strip_, std::max(left, span.from), std::min(right, span.to), selected ? highlight.rgb() : base);
        else if (selected)
            painter.fillRect(QRect(left, top, right - left, lineHeight_), highlight);
        if (glyph != kNoGlyph) {
            (selected ? g.selected : g.plain).append(glyph);
            (selected ? g.selectedAt : g.plainAt).append(QPointF(left, top + ascent_));
        }
    };
    const qsizetype end = text_.LineEnd(line);
    std::int32_t x = 0;
    if (useCells_)
        GlyphCells::Fill(strip_, span.from, std::min(span.to, Column(0)), base);
    for (qsizetype i = text_.LineStart(line); i < end; ++i) {
        const std::uint8_t b = text_.Store().At(i);
        const std::int32_t advance = metrics.AdvanceAt(b, x);
        const int left = Column(x), right = Column(x + advance);
        x += advance;
        if (right <= span.from - InkReach())
            continue;
        if (left >= span.to + InkReach())
            break;
        const bool selected = i >= selection.start && i < selection.end;
        if (text_.Hex()) {
            // The same whole-pixel offsets in every pair, so pairs look alike.
            const int digit = left + int(std::lround(hexDigitWidth_));
            const int digits = left + int(std::lround(2 * hexDigitWidth_));
            place(hexGlyph_[b >> 4], left, digit, selected);
            place(hexGlyph_[b & 15], digit, digits, selected);
            place(kNoGlyph, digits, right, selected);
        } else if (boxed_[b]) {
            place(kNoGlyph, left, right, selected);
            g.boxAt.append(QPointF(left, top));
            g.boxByte.append(b);
            g.boxSelected.append(selected);
        } else {
            place(b == '\t' ? kNoGlyph : glyphIndex_[b], left, right, selected);
        }
    }
    if (useCells_) {
        GlyphCells::Fill(strip_, std::max(span.from, Column(x)), span.to, base);
        for (const Spilled &spill : spills)
            cells_.Spill(strip_, spill.x, *spill.cell, spill.set, span.from, span.to);
        painter.drawImage(QPoint(span.from, top), strip_, QRect(span.from, 0, span.to - span.from, lineHeight_));
    }
    DrawGlyphs(painter, rawFont_, g.plain, g.plainAt, palette().color(QPalette::Text));
    DrawGlyphs(painter, rawFont_, g.selected, g.selectedAt, palette().color(QPalette::HighlightedText));
    PaintBoxes(painter, g);
    // A selected line break shows as a narrow mark at the line's end.
    const qsizetype next = line + 1 < text_.LineCount() ? text_.LineStart(line + 1) : end;
    if (next > end && end >= selection.start && end < selection.end)
        painter.fillRect(QRectF(Column(x), top, breakMarkWidth_, lineHeight_), highlight);
}

void TextArea::PaintBoxes(QPainter &painter, const LineGlyphs &g) const
{
    if (g.boxAt.isEmpty())
        return;
    QList<quint32> digits;
    QList<QPointF> digitsAt;
    for (bool selected : {false, true}) {
        digits.clear();
        digitsAt.clear();
        const QColor colour = palette().color(selected ? QPalette::HighlightedText : QPalette::Text);
        painter.setPen(colour);
        for (qsizetype k = 0; k < g.boxAt.size(); ++k) {
            if (g.boxSelected[k] != selected)
                continue;
            const std::uint8_t b = g.boxByte[k];
            const qreal width = qreal(text_.Metrics().advance[b]) / kSubpixel;
            painter.drawRect(QRectF(g.boxAt[k], QSizeF(width, lineHeight_)).adjusted(1, 2, -1, -2));
            for (int d = 0; d < 2; ++d) {
                digits.append(box_.glyph[b][d]);
                digitsAt.append(g.boxAt[k] + QPointF((width - box_.width[b]) / 2 + box_.offset[b][d], box_.baseline));
            }
        }
        DrawGlyphs(painter, box_.font, digits, digitsAt, colour);
    }
}

void TextArea::DrawGlyphs(QPainter &painter, const QRawFont &font, const QList<quint32> &glyphs,
                          const QList<QPointF> &at, const QColor &colour)
{
    if (glyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(font);
    run.setGlyphIndexes(glyphs);
    run.setPositions(at);
    painter.setPen(colour);
    painter.drawGlyphRun(QPointF(0, 0), run);
}

void TextArea::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateLayout();
}

void TextArea::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        UpdateLayout();
}

void TextArea::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::SelectAll) {
        SelectAll();
        return;
    }
    if (event == QKeySequence::Copy) {
        Copy();
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const qsizetype line = text_.LineOf(cursor_);
    auto toLine = [&](qsizetype target) {
        target = std::clamp<qsizetype>(target, 0, text_.LineCount() - 1);
        MoveCursor(OffsetAtX(target, XOf(cursor_)), extend);
    };
    switch (event->key()) {
    case Qt::Key_Left: MoveCursor(cursor_ - 1, extend); break;
    case Qt::Key_Right: MoveCursor(cursor_ + 1, extend); break;
    case Qt::Key_Up: toLine(line - 1); break;
    case Qt::Key_Down: toLine(line + 1); break;
    case Qt::Key_PageUp:
        ScrollToLine(FirstVisibleLine() - VisibleLines());
        toLine(line - VisibleLines());
        break;
    case Qt::Key_PageDown:
        ScrollToLine(FirstVisibleLine() + VisibleLines());
        toLine(line + VisibleLines());
        break;
    case Qt::Key_Home: MoveCursor(ctrl ? text_.Begin() : text_.LineStart(line), extend); break;
    case Qt::Key_End: MoveCursor(ctrl ? text_.End() : text_.LineEnd(line), extend); break;
    default:
        // Read-only: typing changes nothing.
        event->ignore();
        return;
    }
}

void TextArea::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        MoveCursor(OffsetAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
    else
        QAbstractScrollArea::mousePressEvent(event);
}

void TextArea::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        MoveCursor(OffsetAt(event->position().toPoint()), true);
}

void TextArea::mouseDoubleClickEvent(QMouseEvent *event)
{
    const qsizetype line = text_.LineOf(OffsetAt(event->position().toPoint()));
    SetSelection(text_.LineStart(line), text_.LineEnd(line));
    cursor_ = text_.LineEnd(line);
}

void TextArea::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    FillContextMenu(&menu);
    menu.exec(event->globalPos());
}

void TextArea::FillContextMenu(QMenu *menu)
{
    QAction *copy = menu->addAction(tr("&Copy"), QKeySequence::Copy, this, &TextArea::Copy);
    copy->setObjectName(QStringLiteral("CopyAction"));
    copy->setEnabled(SelectionEnd() > SelectionStart());
    menu->addAction(tr("Select &All"), QKeySequence::SelectAll, this, &TextArea::SelectAll)
        ->setObjectName(QStringLiteral("SelectAllAction"));
    menu->addSeparator();
    QAction *hex = menu->addAction(tr("Show as &Hex"), this, [this](bool on) { SetHexMode(on); });
    hex->setObjectName(QStringLiteral("HexAction"));
    hex->setCheckable(true);
    hex->setChecked(hex_);
    menu->addAction(tr("C&lear"), this, [this] { SetText({}); })->setObjectName(QStringLiteral("ClearAction"));
    emit ContextMenuAboutToShow(menu);
}

void TextArea::SetHexMode(bool on)
{
    if (on == hex_)
        return;
    hex_ = on;
    UpdateLayout();
}

void TextArea::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TextArea::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

PropertyTable TextArea::Properties() const { return kTextAreaProperties; }

void TextArea::ApplySetting(QByteArrayView name, const QVariant &value)
{
    if (ApplyRectSetting(name, value))
        return;
    if (name == "Text") {
        SetText(value.toByteArray());
    } else if (name == "Border") {
        setFrameShape(value.toBool() ? QFrame::StyledPanel : QFrame::NoFrame);
    } else if (name == "ScrollbarVertical") {
        setVerticalScrollBarPolicy(value.toBool() ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    } else if (name == "HideSelection") {
        hideSelection_ = value.toBool();
        KeepAsProperty(*this, name, value);
    } else if (name == "TextColor" || name == "BackColor") {
        QPalette p = palette();
        p.setColor(name == "TextColor" ? QPalette::Text : QPalette::Base, value.value<QColor>());
        setPalette(p);
    } else {
        KeepAsProperty(*this, name, value);
    }
}

} // namespace platform

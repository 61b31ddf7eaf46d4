#include "RowPainter.h"

#include <QGlyphRun>
#include <QPainter>
#include <QVarLengthArray>

#include <cmath>

namespace platform {

namespace {

constexpr quint32 kNoGlyph = ~0u; // a cell of background only

void DrawGlyphs(QPainter &painter, const QRawFont &font, const QList<quint32> &glyphs, const QList<QPointF> &at,
                const QColor &colour)
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

} // namespace

// Glyphs of a row left to draw, gathered for one draw call per colour.
struct RowPainter::Row {
    QList<quint32> glyphs[2];
    QList<QPointF> at[2];
    struct Boxed {
        QPointF at; // top-left of the byte's cell
        std::uint8_t byte;
        bool selected;
    };
    QList<Boxed> boxes;
    std::int32_t end = 0; // x past the last byte walked
    void Add(quint32 glyph, QPointF where, bool selected)
    {
        glyphs[selected].append(glyph);
        at[selected].append(where);
    }
};

void RowPainter::Begin(const ByteFont &font, const QPalette &palette, int width, bool wholePixels)
{
    font_ = &font;
    text_ = palette.color(QPalette::Text);
    highlightedText_ = palette.color(QPalette::HighlightedText);
    highlight_ = palette.color(QPalette::Highlight);
    base_ = palette.color(QPalette::Base).rgb();
    // Cells hold device pixels: on a scaled screen glyphs are drawn instead.
    paint_ = wholePixels ? &RowPainter::PaintFromCells : &RowPainter::PaintAsRuns;
    if (!wholePixels)
        return;
    cells_.Prepare(font.raw, font.lineHeight, font.ascent, {text_.rgb(), base_},
                   {highlightedText_.rgb(), highlight_.rgb()});
    if (strip_.width() != width || strip_.height() != font.lineHeight)
        strip_ = GlyphCells::NewStrip(width, font.lineHeight);
}

// Calls place(glyph, left, right, selected) for the columns each byte of
// the line takes within reach of the span; boxed bytes are noted in `row`.
template <typename Place>
void RowPainter::Walk(const ByteText &text, qsizetype line, int top, Selection selection, Span span, Place &&place,
                      Row &row) const
{
    const ByteFont &f = *font_;
    const ByteMetrics &metrics = text.Metrics();
    const qsizetype end = text.LineEnd(line);
    std::int32_t x = 0;
    for (qsizetype i = text.LineStart(line); i < end; ++i) {
        const std::uint8_t b = text.Store().At(i);
        const std::int32_t advance = metrics.AdvanceAt(b, x);
        const int left = Column(x), right = Column(x + advance);
        x += advance;
        if (right <= span.from - f.InkReach())
            continue;
        if (left >= span.to + f.InkReach())
            break;
        const bool selected = i >= selection.start && i < selection.end;
        if (text.Hex()) {
            // The same whole-pixel offsets in every pair, so pairs look alike.
            const int digit = left + int(std::lround(f.hexDigitWidth));
            const int digits = left + int(std::lround(2 * f.hexDigitWidth));
            place(f.hexGlyph[b >> 4], left, digit, selected);
            place(f.hexGlyph[b & 15], digit, digits, selected);
            place(kNoGlyph, digits, right, selected);
        } else if (f.boxed[b]) {
            place(kNoGlyph, left, right, selected);
            row.boxes.append({QPointF(left, top), b, selected});
        } else {
            place(b == '\t' ? kNoGlyph : f.glyph[b], left, right, selected);
        }
    }
    row.end = x;
}

// Columns get the glyph's cell, which holds its background too, or else
// their background, the glyph drawn later. Ink past a glyph's own columns
// is added once its neighbours are in.
void RowPainter::PaintFromCells(QPainter &painter, const ByteText &text, qsizetype line, int top, Selection selection,
                                Span span)
{
    struct Spilled {
        const GlyphCells::Cell *cell;
        int x;
        GlyphCells::Set set;
    };
    QVarLengthArray<Spilled, 32> spills;
    Row row;
    GlyphCells::Fill(strip_, span.from, std::min(span.to, Column(0)), base_);
    Walk(text, line, top, selection, span, [&](quint32 glyph, int left, int right, bool selected) {
        const GlyphCells::Set set = selected ? GlyphCells::Selected : GlyphCells::Plain;
        const GlyphCells::Cell *cell = glyph != kNoGlyph ? cells_.Find(glyph, right - left, set) : nullptr;
        if (cell) {
            GlyphCells::Copy(strip_, left, *cell, span.from, span.to);
            if (cell->image.width() > cell->width)
                spills.append({cell, left, set});
            return;
        }
        GlyphCells::Fill(strip_, std::max(left, span.from), std::min(right, span.to), selected ? highlight_.rgb() : base_);
        if (glyph != kNoGlyph)
            row.Add(glyph, QPointF(left, top + font_->ascent), selected);
    }, row);
    GlyphCells::Fill(strip_, std::max(span.from, Column(row.end)), span.to, base_);
    for (const Spilled &spill : spills)
        cells_.Spill(strip_, spill.x, *spill.cell, spill.set, span.from, span.to);
    painter.drawImage(QPoint(span.from, top), strip_, QRect(span.from, 0, span.to - span.from, font_->lineHeight));
    Finish(painter, text, line, top, selection, row);
}

// The background is already painted; only the selection is filled.
void RowPainter::PaintAsRuns(QPainter &painter, const ByteText &text, qsizetype line, int top, Selection selection,
                             Span span)
{
    Row row;
    Walk(text, line, top, selection, span, [&](quint32 glyph, int left, int right, bool selected) {
        if (selected)
            painter.fillRect(QRect(left, top, right - left, font_->lineHeight), highlight_);
        if (glyph != kNoGlyph)
            row.Add(glyph, QPointF(left, top + font_->ascent), selected);
    }, row);
    Finish(painter, text, line, top, selection, row);
}

// Glyphs not taken from cells, boxed bytes and a selected line break.
void RowPainter::Finish(QPainter &painter, const ByteText &text, qsizetype line, int top, Selection selection,
                        const Row &row) const
{
    const ByteFont &f = *font_;
    DrawGlyphs(painter, f.raw, row.glyphs[false], row.at[false], text_);
    DrawGlyphs(painter, f.raw, row.glyphs[true], row.at[true], highlightedText_);
    for (bool selected : {false, true}) {
        if (row.boxes.isEmpty())
            break; // most rows: nothing to draw, no pen to change
        QList<quint32> digits;
        QList<QPointF> digitsAt;
        const QColor &colour = selected ? highlightedText_ : text_;
        painter.setPen(colour);
        for (const Row::Boxed &box : row.boxes) {
            if (box.selected != selected)
                continue;
            const qreal width = qreal(text.Metrics().advance[box.byte]) / ByteMetrics::kUnitsPerPixel;
            painter.drawRect(QRectF(box.at, QSizeF(width, f.lineHeight)).adjusted(1, 2, -1, -2));
            for (int d = 0; d < 2; ++d) {
                digits.append(f.box.glyph[box.byte][d]);
                digitsAt.append(box.at + QPointF((width - f.box.width[box.byte]) / 2 + f.box.offset[box.byte][d],
                                                 f.box.baseline));
            }
        }
        DrawGlyphs(painter, f.box.raw, digits, digitsAt, colour);
    }
    // A selected line break shows as a narrow mark at the line's end.
    const qsizetype end = text.LineEnd(line);
    const qsizetype next = line + 1 < text.LineCount() ? text.LineStart(line + 1) : end;
    if (next > end && end >= selection.start && end < selection.end)
        painter.fillRect(QRectF(Column(row.end), top, f.breakMarkWidth, f.lineHeight), highlight_);
}

} // namespace platform

#pragma once
// Paints the rows of a byte view. Where the screen maps the view's pixels
// one to one, a row is composed in a strip from glyph cells drawn once and
// drawn at once; elsewhere its glyphs are drawn as runs. Which of the two
// is chosen once per paint, in Begin().

#include "ByteFont.h"
#include "GlyphCells.h"

#include <QImage>
#include <QPalette>

class QPainter;

namespace platform {

class RowPainter {
public:
    static constexpr int kMarginPx = 3; // text inset from the frame

    // Bytes [start, end) are drawn selected.
    struct Selection {
        qsizetype start = 0;
        qsizetype end = 0;
    };
    // Columns [from, to) of the viewport being painted.
    struct Span {
        int from;
        int to;
    };

    // The viewport column a glyph at x (1/64 px) is drawn from: whole
    // pixels, so that glyphs can be copied from their cells.
    static int Column(std::int32_t x) { return kMarginPx + (x + ByteMetrics::kUnitsPerPixel / 2) / ByteMetrics::kUnitsPerPixel; }

    // For one paint of a viewport `width` pixels wide.
    void Begin(const ByteFont &font, const QPalette &palette, int width, bool wholePixels);
    // Paints `line` of `text` with its top at `top`, within `span`.
    void Paint(QPainter &painter, const ByteText &text, qsizetype line, int top, Selection selection, Span span)
    {
        (this->*paint_)(painter, text, line, top, selection, span);
    }

private:
    struct Row;
    template <typename Place> void Walk(const ByteText &text, qsizetype line, int top, Selection selection, Span span,
                                        Place &&place, Row &row) const;
    void PaintFromCells(QPainter &painter, const ByteText &text, qsizetype line, int top, Selection selection,
                        Span span);
    void PaintAsRuns(QPainter &painter, const ByteText &text, qsizetype line, int top, Selection selection,
                     Span span);
    void Finish(QPainter &painter, const ByteText &text, qsizetype line, int top, Selection selection,
                const Row &row) const;

    using PaintRow = void (RowPainter::*)(QPainter &, const ByteText &, qsizetype, int, Selection, Span);
    PaintRow paint_ = &RowPainter::PaintAsRuns;
    const ByteFont *font_ = nullptr;
    QColor text_, highlightedText_, highlight_;
    QRgb base_ = 0;
    GlyphCells cells_;
    QImage strip_; // a row composed from cells
};

} // namespace platform

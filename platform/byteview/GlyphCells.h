#pragma once
// Glyphs drawn once per font and colours into cells of whole pixels, so a
// view paints new text by copying pixels instead of blending every glyph
// again: at a line rate of small arrivals, blending was most of the cost of
// showing them.

#include <QImage>
#include <QRawFont>

#include <array>
#include <unordered_map>

namespace platform {

class GlyphCells {
public:
    // What a cell is drawn in: the text on its background.
    struct Colours {
        QRgb text = 0;
        QRgb back = 0;
        bool operator==(const Colours &) const = default;
    };
    enum Set { Plain, Selected };
    // A glyph owning `width` columns from its origin, with the ink that
    // reaches past them on either side.
    struct Cell {
        QImage image;
        int width = 0;
        int spillLeft = 0; // columns of ink left of the origin
    };

    // Cells are kept while the font, row and colours stay as they were.
    void Prepare(const QRawFont &font, int rowHeight, qreal baseline, Colours plain, Colours selected);

    // The cell of `glyph` owning `width` columns; null when its ink reaches
    // further than a row's height past them, to be drawn as text instead.
    const Cell *Find(quint32 glyph, int width, Set set);

    // A strip of one row to compose in and then draw at once.
    static QImage NewStrip(int width, int rowHeight);
    // Fills columns [from, to) of the strip.
    static void Fill(QImage &strip, int from, int to, QRgb colour);
    // Copies the columns the cell owns to column x of the strip, keeping to
    // columns [from, to).
    static void Copy(QImage &strip, int x, const Cell &cell, int from, int to);
    // Adds the cell's ink past its own columns, once every neighbour is in
    // place: where two glyphs' ink meets, the stronger shows.
    void Spill(QImage &strip, int x, const Cell &cell, Set set, int from, int to) const;

private:
    Cell Draw(quint32 glyph, int width, Set set) const;
    int Ink(QRgb pixel, Set set) const;

    QRawFont font_;
    int rowHeight_ = 0;
    qreal baseline_ = 0;
    Colours colours_[2];
    int inkShift_[2] = {}; // the colour channel that tells text from background
    // Node-based, so a cell found stays put while others are added.
    std::unordered_map<quint64, Cell> cells_; // a null image: drawn as text
    // The cells found last, by key: a row uses few, over and over.
    struct Recent {
        quint64 key = ~quint64(0);
        const Cell *cell = nullptr;
    };
    std::array<Recent, 256> recent_;
};

} // namespace platform

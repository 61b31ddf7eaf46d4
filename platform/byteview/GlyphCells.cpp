#include "GlyphCells.h"

#include <QGlyphRun>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace platform {

void GlyphCells::Prepare(const QRawFont &font, int rowHeight, qreal baseline, Colours plain, Colours selected)
{
    rowHeight = std::max(1, rowHeight);
    if (font == font_ && rowHeight == rowHeight_ && baseline == baseline_ && plain == colours_[Plain] &&
        selected == colours_[Selected])
        return;
    font_ = font;
    rowHeight_ = rowHeight;
    baseline_ = baseline;
    colours_[Plain] = plain;
    colours_[Selected] = selected;
    for (Set set : {Plain, Selected}) {
        int best = -1;
        for (int shift : {16, 8, 0}) {
            const int contrast = std::abs(int(colours_[set].text >> shift & 0xff) - int(colours_[set].back >> shift & 0xff));
            if (contrast > best) {
                best = contrast;
                inkShift_[set] = shift;
            }
        }
    }
    cells_.clear();
    recent_.fill({});
}

const GlyphCells::Cell *GlyphCells::Find(quint32 glyph, int width, Set set)
{
    if (width <= 0)
        return nullptr;
    const quint64 key = glyph | quint64(width) << 32 | quint64(set) << 48;
    Recent &recent = recent_[(key * 0x9E3779B97F4A7C15ull) >> 56];
    if (recent.key == key)
        return recent.cell;
    auto it = cells_.find(key);
    if (it == cells_.end())
        it = cells_.emplace(key, Draw(glyph, width, set)).first;
    recent = {key, it->second.image.isNull() ? nullptr : &it->second};
    return recent.cell;
}

// Drawn with a row's height of room on both sides, to find where the ink
// ends.
GlyphCells::Cell GlyphCells::Draw(quint32 glyph, int width, Set set) const
{
    const int room = rowHeight_;
    const Colours colours = colours_[set];
    QImage scratch(width + 2 * room, rowHeight_, QImage::Format_RGB32);
    scratch.fill(colours.back);
    {
        QPainter painter(&scratch);
        QGlyphRun run;
        run.setRawFont(font_);
        run.setGlyphIndexes({glyph});
        run.setPositions({QPointF(room, baseline_)});
        painter.setPen(QColor::fromRgb(colours.text));
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
    int first = room, last = room + width; // columns [first, last) to keep
    for (int y = 0; y < scratch.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(scratch.constScanLine(y));
        for (int x = 0; x < scratch.width(); ++x) {
            if (line[x] != colours.back) {
                first = std::min(first, x);
                last = std::max(last, x + 1);
            }
        }
    }
    if (first == 0 || last == scratch.width())
        return {};
    return {scratch.copy(first, 0, last - first, rowHeight_), width, room - first};
}

int GlyphCells::Ink(QRgb pixel, Set set) const
{
    const int shift = inkShift_[set];
    return std::abs(int(pixel >> shift & 0xff) - int(colours_[set].back >> shift & 0xff));
}

QImage GlyphCells::NewStrip(int width, int rowHeight)
{
    return QImage(std::max(1, width), std::max(1, rowHeight), QImage::Format_RGB32);
}

// Rows are walked by stride: scanLine() checks for sharing on every call.
void GlyphCells::Fill(QImage &strip, int from, int to, QRgb colour)
{
    from = std::max(from, 0);
    to = std::min(to, strip.width());
    if (from >= to)
        return;
    const qsizetype stride = strip.bytesPerLine();
    uchar *row = strip.bits();
    for (int y = 0; y < strip.height(); ++y, row += stride)
        std::fill_n(reinterpret_cast<QRgb *>(row) + from, to - from, colour);
}

void GlyphCells::Copy(QImage &strip, int x, const Cell &cell, int from, int to)
{
    const int left = std::max({x, from, 0});
    const int right = std::min({x + cell.width, to, strip.width()});
    if (left >= right)
        return;
    const int rows = std::min(strip.height(), cell.image.height());
    const int width = right - left;
    const qsizetype toStride = strip.bytesPerLine(), fromStride = cell.image.bytesPerLine();
    uchar *toRow = strip.bits() + qsizetype(left) * qsizetype(sizeof(QRgb));
    const uchar *fromRow = cell.image.constBits() + qsizetype(left - x + cell.spillLeft) * qsizetype(sizeof(QRgb));
    // A glyph is a few pixels wide: copied in place rather than by call.
    for (int y = 0; y < rows; ++y, toRow += toStride, fromRow += fromStride)
        std::copy_n(reinterpret_cast<const QRgb *>(fromRow), width, reinterpret_cast<QRgb *>(toRow));
}

void GlyphCells::Spill(QImage &strip, int x, const Cell &cell, Set set, int from, int to) const
{
    const int begin = x - cell.spillLeft;
    const int end = begin + cell.image.width();
    const int rows = std::min(strip.height(), cell.image.height());
    for (auto [left, right] : {std::pair{begin, x}, std::pair{x + cell.width, end}}) {
        left = std::max({left, from, 0});
        right = std::min({right, to, strip.width()});
        for (int y = 0; left < right && y < rows; ++y) {
            auto *into = reinterpret_cast<QRgb *>(strip.scanLine(y));
            const auto *ink = reinterpret_cast<const QRgb *>(cell.image.constScanLine(y)) - begin;
            for (int c = left; c < right; ++c)
                if (Ink(ink[c], set) > Ink(into[c], set))
                    into[c] = ink[c];
        }
    }
}

} // namespace platform

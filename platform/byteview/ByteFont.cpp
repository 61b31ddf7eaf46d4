#include "ByteFont.h"

#include <QFontMetricsF>

#include <cmath>

namespace platform {

namespace {

std::int32_t Units(qreal px)
{
    return std::int32_t(std::lround(px * ByteMetrics::kUnitsPerPixel));
}

QString HexPair(std::uint8_t b)
{
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

ByteFont ByteFont::From(const QFont &font)
{
    ByteFont f;
    const QFontMetricsF fm(font);
    f.raw = QRawFont::fromFont(font);
    f.lineHeight = std::max(1, QFontMetrics(font).lineSpacing());
    f.ascent = fm.ascent();
    f.breakMarkWidth = fm.averageCharWidth() / 2;
    QFont boxFont = font;
    boxFont.setPointSizeF(std::max(4.0, font.pointSizeF() * kBoxFontScale));
    f.box.raw = QRawFont::fromFont(boxFont);
    const QFontMetricsF boxFm(boxFont);
    f.box.baseline = (f.lineHeight - boxFm.height()) / 2 + boxFm.ascent();
    // Few fonts carry the control pictures; without them a control byte
    // is drawn boxed like the Latin-1 controls rather than as a blank box.
    const bool pictures = fm.inFontUcs4(0x2400) && fm.inFontUcs4(0x2421);
    for (int b = 0; b < 256; ++b) {
        const auto byte = std::uint8_t(b);
        const bool control = (byte < 0x20 || byte == 0x7F) && byte != '\t' && !ByteGlyphs::IsLineBreak(byte);
        f.boxed[b] = ByteGlyphs::IsBoxed(byte) || (control && !pictures);
        qreal advance = 0;
        if (!f.boxed[b] && !ByteGlyphs::IsLineBreak(byte) && byte != '\t') {
            const QString shown(ByteGlyphs::DisplayChar(byte));
            f.glyph[b] = f.raw.glyphIndexesForString(shown).value(0);
            advance = fm.horizontalAdvance(shown);
            // A glyph the font lacks, or one that takes no room (the soft
            // hyphen), would hide the byte: box it like a control byte.
            f.boxed[b] = advance < 1 || f.glyph[b] == 0 || !fm.inFontUcs4(shown.at(0).unicode());
        }
        if (f.boxed[b]) {
            const QList<quint32> digits = f.box.raw.glyphIndexesForString(HexPair(byte));
            const QList<QPointF> steps = f.box.raw.advancesForGlyphIndexes(digits);
            for (int d = 0; d < 2; ++d)
                f.box.glyph[b][d] = digits.value(d);
            f.box.offset[b] = {0, steps.value(0).x()};
            f.box.width[b] = steps.value(0).x() + steps.value(1).x();
            advance = f.box.width[b] + 2 * kBoxPaddingPx;
        }
        f.text.advance[b] = Units(advance);
    }
    f.text.tabStop = kTabColumns * f.text.advance[' '];
    // Hex: two digits and a space a byte, each digit in a cell of the widest.
    const QList<quint32> digits = f.raw.glyphIndexesForString(QStringLiteral("0123456789ABCDEF"));
    for (const QPointF &step : f.raw.advancesForGlyphIndexes(digits))
        f.hexDigitWidth = std::max(f.hexDigitWidth, step.x());
    for (int d = 0; d < 16; ++d)
        f.hexGlyph[d] = digits.value(d);
    f.hex.advance.fill(Units(2 * f.hexDigitWidth + fm.horizontalAdvance(QLatin1Char(' '))));
    return f;
}

} // namespace platform

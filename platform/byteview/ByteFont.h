#pragma once
// Everything a byte view derives from its font, worked out once per font:
// the glyph and advance of each of the 256 byte values, which bytes are
// drawn as a boxed hex pair, the hex digits, and the row's measures. A
// plain value: built without a widget, compared, copied.

#include "ByteText.h"

#include <QFont>
#include <QRawFont>

#include <array>

namespace platform {

struct ByteFont {
    static constexpr int kBoxPaddingPx = 3;     // room around a boxed hex pair
    static constexpr qreal kBoxFontScale = 0.7; // boxed hex digits, relative to the text
    static constexpr int kTabColumns = 8;

    static ByteFont From(const QFont &font);

    // As far as a glyph's ink may reach past its own columns: the room
    // glyph cells are drawn with, and what a partial repaint takes in.
    int InkReach() const { return lineHeight; }

    QRawFont raw;
    std::array<quint32, 256> glyph{};
    std::array<bool, 256> boxed{};
    // Text and hex layouts, in 1/64 px.
    ByteMetrics text;
    ByteMetrics hex;
    // Hex digits 0-F, each in a cell as wide as the widest.
    std::array<quint32, 16> hexGlyph{};
    qreal hexDigitWidth = 0;
    // A boxed byte: its two digits in the smaller font, centred in the box.
    struct Box {
        QRawFont raw;
        std::array<std::array<quint32, 2>, 256> glyph{};
        std::array<std::array<qreal, 2>, 256> offset{};
        std::array<qreal, 256> width{};
        qreal baseline = 0;
    } box;
    int lineHeight = 1;
    qreal ascent = 0;
    qreal breakMarkWidth = 1; // a selected line break's mark
};

} // namespace platform

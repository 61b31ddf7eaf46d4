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
#include <QPainter>
#include <QScrollBar>

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
constexpr int kBoxPaddingPx = 3;     // room around a boxed hex pair
constexpr qreal kBoxFontScale = 0.7; // boxed hex digits, relative to the text
constexpr int kFrameMs = 16;         // at most one repaint per frame during a flood

QString HexPair(std::uint8_t b)
{
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

TextArea::TextArea(QWidget *parent) : QAbstractScrollArea(parent), RectControl(static_cast<QWidget &>(*this))
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
    frame_.setSingleShot(true);
    frame_.setInterval(kFrameMs);
    connect(&frame_, &QTimer::timeout, this, &TextArea::Flush);
    announce_.setSingleShot(true);
    announce_.setInterval(kAnnounceMs);
    connect(&announce_, &QTimer::timeout, this, &TextArea::AnnounceNewText);
    TextAreaAccessible::Install();
    UpdateLayout();
}

void TextArea::UpdateLayout()
{
    const QFontMetricsF fm(font());
    boxFont_ = font();
    boxFont_.setPointSizeF(std::max(4.0, font().pointSizeF() * kBoxFontScale));
    const QFontMetricsF boxFm(boxFont_);
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
            glyphs_[b] = QString(ByteGlyphs::DisplayChar(byte));
            advance = fm.horizontalAdvance(glyphs_[b]);
            // A glyph the font lacks, or one that takes no room (the soft
            // hyphen), would hide the byte: box it like a control byte.
            boxed_[b] = advance < 1 || !fm.inFontUcs4(glyphs_[b].at(0).unicode());
        }
        if (boxed_[b]) {
            glyphs_[b] = HexPair(byte);
            advance = boxFm.horizontalAdvance(glyphs_[b]) + 2 * kBoxPaddingPx;
        }
        metrics.advance[b] = std::int32_t(std::lround(advance * kSubpixel));
    }
    metrics.tabStop = 8 * metrics.advance[' '];
    // The scroll bar is always on, so the width is known before showing.
    const int width = contentsRect().width() - verticalScrollBar()->sizeHint().width() - 2 * kMarginPx;
    const bool follow = AtBottom();
    text_.SetLayout(metrics, std::max(1, width) * kSubpixel);
    droppedSeen_ = text_.DroppedLines();
    UpdateScrollRange(follow);
    viewport()->update();
}

int TextArea::LineHeight() const
{
    return std::max(1, QFontMetrics(font()).lineSpacing());
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
    if (frame_.isActive())
        Flush();
    verticalScrollBar()->setValue(int(std::clamp<qsizetype>(line, 0, verticalScrollBar()->maximum())));
}

void TextArea::UpdateScrollRange(bool followBottom)
{
    QScrollBar *bar = verticalScrollBar();
    // Lines trimmed off the top move the bytes in view up by as many.
    const qsizetype dropped = text_.DroppedLines() - droppedSeen_;
    droppedSeen_ = text_.DroppedLines();
    const int value = int(std::max<qsizetype>(0, bar->value() - dropped));
    const qsizetype visible = VisibleLines();
    const qsizetype max = std::max<qsizetype>(0, text_.LineCount() - visible);
    bar->setRange(0, int(std::min<qsizetype>(max, std::numeric_limits<int>::max())));
    bar->setPageStep(int(visible));
    bar->setSingleStep(1);
    bar->setValue(followBottom ? bar->maximum() : value);
}

void TextArea::SetText(QByteArrayView bytes)
{
    frame_.stop();
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
    if (!frame_.isActive())
        frame_.start();
}

void TextArea::Flush()
{
    frame_.stop();
    // The range has not moved since the last flush, so this is where the
    // user left the view: at the bottom, the view follows the new lines.
    UpdateScrollRange(AtBottom());
    viewport()->update();
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
    return QRect(kMarginPx + x / kSubpixel, kMarginPx + int(line - FirstVisibleLine()) * LineHeight(),
                 std::max(1, advance / kSubpixel), LineHeight());
}

void TextArea::MoveCursor(qsizetype offset, bool extend)
{
    if (frame_.isActive())
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

void TextArea::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QRect area = viewport()->rect();
    painter.fillRect(area, palette().color(QPalette::Base));

    const QFontMetricsF fm(font());
    const QFontMetricsF boxFm(boxFont_);
    const int lineHeight = LineHeight();
    const qsizetype first = FirstVisibleLine();
    const qsizetype last = std::min(text_.LineCount(), first + VisibleLines() + 1);
    const bool showSelection = hasFocus() || !property("HideSelection").toBool();
    const qsizetype selStart = showSelection ? SelectionStart() : 0;
    const qsizetype selEnd = showSelection ? SelectionEnd() : 0;
    const QColor textColor = palette().color(QPalette::Text);
    const QColor selectedText = palette().color(QPalette::HighlightedText);
    const QColor highlight = palette().color(QPalette::Highlight);
    const ByteMetrics &metrics = text_.Metrics();

    for (qsizetype line = first; line < last; ++line) {
        const qreal top = kMarginPx + qreal(line - first) * lineHeight;
        const qsizetype end = text_.LineEnd(line);
        std::int32_t x = 0;
        for (qsizetype i = text_.LineStart(line); i < end; ++i) {
            const std::uint8_t b = text_.Store().At(i);
            const std::int32_t advance = metrics.AdvanceAt(b, x);
            const QRectF cell(kMarginPx + qreal(x) / kSubpixel, top, qreal(advance) / kSubpixel, lineHeight);
            const bool selected = i >= selStart && i < selEnd;
            if (selected)
                painter.fillRect(cell, highlight);
            painter.setPen(selected ? selectedText : textColor);
            if (boxed_[b]) {
                painter.setFont(boxFont_);
                const QRectF box = cell.adjusted(1, 2, -1, -2);
                painter.drawRect(box);
                painter.drawText(box, Qt::AlignCenter, glyphs_[b]);
                painter.setFont(font());
            } else if (b != '\t') {
                painter.drawText(QPointF(cell.left(), top + fm.ascent()), glyphs_[b]);
            }
            x += advance;
        }
        // A selected line break shows as a narrow mark at the line's end.
        const qsizetype next = line + 1 < text_.LineCount() ? text_.LineStart(line + 1) : end;
        if (next > end && end >= selStart && end < selEnd)
            painter.fillRect(QRectF(kMarginPx + qreal(x) / kSubpixel, top, fm.averageCharWidth() / 2, lineHeight),
                             highlight);
    }
    if (hasFocus()) {
        painter.setPen(QPen(highlight, 1));
        painter.drawRect(area.adjusted(0, 0, -1, -1));
    }
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
    QAction *copy = menu.addAction(tr("&Copy"), QKeySequence::Copy, this, &TextArea::Copy);
    copy->setEnabled(SelectionEnd() > SelectionStart());
    menu.addAction(tr("Select &All"), QKeySequence::SelectAll, this, &TextArea::SelectAll);
    menu.exec(event->globalPos());
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
    } else if (name == "TextColor" || name == "BackColor") {
        QPalette p = palette();
        p.setColor(name == "TextColor" ? QPalette::Text : QPalette::Base, value.value<QColor>());
        setPalette(p);
    } else {
        KeepAsProperty(*this, name, value);
    }
}

} // namespace platform

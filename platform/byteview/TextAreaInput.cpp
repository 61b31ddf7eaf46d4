// The text area's selection, keyboard, mouse, context menu and settings.

#include "TextArea.h"

#include "platform/ControlProperties.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

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

constexpr int kMarginPx = RowPainter::kMarginPx;
constexpr int kUnits = ByteMetrics::kUnitsPerPixel;

} // namespace

void TextArea::SetSelection(qsizetype anchor, qsizetype cursor)
{
    anchor_ = std::clamp<qsizetype>(anchor, text_.Begin(), text_.End());
    cursor_ = std::clamp<qsizetype>(cursor, text_.Begin(), text_.End());
    RepaintAll();
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
    const qsizetype bytes = SelectionEnd() - SelectionStart();
    if (bytes <= 0)
        return;
    const qsizetype chars = hex_ ? 3 * bytes : bytes; // "XX " a byte in hex
    if (chars > kAskBeforeCopyChars && confirmLargeCopy_ && !confirmLargeCopy_(chars))
        return;
    QApplication::clipboard()->setText(SelectedText());
}

qsizetype TextArea::OffsetAt(QPoint pos) const
{
    const int y = pos.y() - kMarginPx;
    const qsizetype row = y < 0 ? -1 : y / font_.lineHeight;
    const qsizetype line = std::clamp<qsizetype>(FirstVisibleLine() + row, 0, text_.LineCount() - 1);
    return text_.OffsetAtX(line, (pos.x() - kMarginPx) * kUnits);
}

QRect TextArea::ByteRect(qsizetype offset) const
{
    const qsizetype line = text_.LineOf(offset);
    const std::int32_t x = text_.XOf(offset);
    const std::int32_t advance = offset < text_.End() ? text_.Metrics().AdvanceAt(text_.Store().At(offset), x) : 0;
    const int left = RowPainter::Column(x);
    return QRect(left, kMarginPx + int(line - FirstVisibleLine()) * font_.lineHeight,
                 std::max(1, RowPainter::Column(x + advance) - left), font_.lineHeight);
}

void TextArea::MoveCursor(qsizetype offset, bool extend)
{
    if (framePending_)
        Flush();
    cursor_ = std::clamp<qsizetype>(offset, text_.Begin(), text_.End());
    if (!extend)
        anchor_ = cursor_;
    EnsureCursorVisible();
    RepaintAll();
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

// ---- Input and menu --------------------------------------------------------

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
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        // The menu's other key, as on most desktops.
        const QPoint at = viewport()->rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, viewport()->mapToGlobal(at));
        contextMenuEvent(&menu);
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const qsizetype line = text_.LineOf(cursor_);
    auto toLine = [&](qsizetype target) {
        target = std::clamp<qsizetype>(target, 0, text_.LineCount() - 1);
        MoveCursor(text_.OffsetAtX(target, text_.XOf(cursor_)), extend);
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
    QAction *times = menu->addAction(tr("Show &Timestamps"), this, [this](bool on) { SetTimestamps(on); });
    times->setObjectName(QStringLiteral("TimestampsAction"));
    times->setCheckable(true);
    times->setChecked(timestamps_);
    // Bytes the view does not hold itself are cleared by their holder.
    menu->addAction(tr("Cl&ear"), this, [this] { text_.ShowsOwn() ? SetText({}) : emit ClearAsked(); })->setObjectName(QStringLiteral("ClearAction"));
    emit ContextMenuAboutToShow(menu);
}

void TextArea::SetHexMode(bool on)
{
    if (on == hex_)
        return;
    hex_ = on;
    Relayout();
}

void TextArea::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    RepaintAll();
}

void TextArea::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    RepaintAll();
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

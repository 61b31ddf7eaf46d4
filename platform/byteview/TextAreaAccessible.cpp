#include "TextAreaAccessible.h"

#include "TextArea.h"

#include <QScrollBar>

#include <limits>

namespace platform {

namespace {

QAccessibleInterface *MakeInterface(const QString &, QObject *object)
{
    if (auto *area = qobject_cast<TextArea *>(object))
        return new TextAreaAccessible(area);
    return nullptr;
}

int Clamped(qsizetype n)
{
    return int(std::min<qsizetype>(n, std::numeric_limits<int>::max()));
}

} // namespace

TextAreaAccessible::TextAreaAccessible(TextArea *area) : QAccessibleWidget(area, QAccessible::EditableText) {}

void TextAreaAccessible::Install()
{
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}

TextArea *TextAreaAccessible::Area() const { return static_cast<TextArea *>(widget()); }

QAccessible::State TextAreaAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

void *TextAreaAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

void TextAreaAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || selectionCount() == 0)
        return;
    const ByteText &t = Area()->Content();
    *startOffset = Clamped(t.CharsBefore(Area()->SelectionStart()));
    *endOffset = Clamped(t.CharsBefore(Area()->SelectionEnd()));
}

int TextAreaAccessible::selectionCount() const
{
    return Area()->SelectionEnd() > Area()->SelectionStart() ? 1 : 0;
}

void TextAreaAccessible::addSelection(int startOffset, int endOffset) { setSelection(0, startOffset, endOffset); }

void TextAreaAccessible::removeSelection(int)
{
    Area()->SetSelection(Area()->Content().End(), Area()->Content().End());
}

void TextAreaAccessible::setSelection(int, int startOffset, int endOffset)
{
    const ByteText &t = Area()->Content();
    Area()->SetSelection(t.OffsetOfChar(startOffset), t.OffsetOfChar(endOffset));
}

int TextAreaAccessible::cursorPosition() const
{
    // New text comes at the end, and that is where a reader follows it.
    return characterCount();
}

void TextAreaAccessible::setCursorPosition(int) {}

QString TextAreaAccessible::text(int startOffset, int endOffset) const
{
    const ByteText &t = Area()->Content();
    return t.DisplayText(t.OffsetOfChar(startOffset), t.OffsetOfChar(endOffset));
}

int TextAreaAccessible::characterCount() const
{
    return Clamped(Area()->Content().CharsBefore(Area()->Content().End()));
}

QRect TextAreaAccessible::characterRect(int offset) const
{
    const QRect local = Area()->ByteRect(Area()->Content().OffsetOfChar(offset));
    return QRect(Area()->viewport()->mapToGlobal(local.topLeft()), local.size());
}

int TextAreaAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = Area()->viewport()->mapFromGlobal(point);
    return Clamped(Area()->Content().CharsBefore(Area()->OffsetAt(local)));
}

void TextAreaAccessible::scrollToSubstring(int startIndex, int)
{
    const ByteText &t = Area()->Content();
    Area()->ScrollToLine(t.LineOf(t.OffsetOfChar(startIndex)));
}

QString TextAreaAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = offset;
    return {};
}

} // namespace platform

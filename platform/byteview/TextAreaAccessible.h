#pragma once
// What a screen reader gets from a text area: the text as shown and copied,
// its length, the selection and a caret at the end, and word of new text at
// most twice a second however fast bytes arrive.

#include <QAccessibleWidget>

namespace platform {

class TextArea;

class TextAreaAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TextAreaAccessible(TextArea *area);

    // Makes screen readers see every TextArea through this interface.
    static void Install();

    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    TextArea *Area() const;
};

} // namespace platform

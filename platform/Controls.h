#pragma once
// The controls the window's handlers work with: push buttons, labels,
// popup menus and timers, each with the properties and events the
// handlers rely on, and each configurable from a settings record.

#include "SettingsRecord.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace platform {

// Properties every visible control shares.
class RectControl {
public:
    explicit RectControl(QWidget &self) : self_(self) {}
    bool Enabled() const { return self_.isEnabled(); }
    void SetEnabled(bool on) { self_.setEnabled(on); }
    // Whether the control itself is shown; true even while its window is.
    bool Visible() const { return !self_.isHidden(); }
    void SetVisible(bool on) { self_.setHidden(!on); }
    int TabIndex() const { return tabIndex_; }
    // The geometry its settings gave it, before any growing to fit.
    QRect DeclaredGeometry() const { return declared_; }

protected:
    // Applies a property every control has; false for any other name.
    bool ApplyRectSetting(QByteArrayView name, const QVariant &value);

private:
    QWidget &self_;
    QRect declared_;
    int tabIndex_ = -1;
};

// Keys that press a focused button: Return, Enter and Space.
inline bool IsPressKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space || key == Qt::Key_Select;
}

class PushButton : public QPushButton, public RectControl, public Settable {
    Q_OBJECT
public:
    explicit PushButton(QWidget *parent);
    QString Caption() const { return text(); }
    void SetCaption(const QString &caption);
    // The caption the person saw when pressing: the window may change it
    // between press and release. The caption now for a press by code.
    QString PressedCaption() const { return pressedCaption_.isNull() ? text() : pressedCaption_; }
    // What a screen reader says after the caption, e.g. ", channel 1".
    void SetAccessibleContext(const QString &context);

    PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

signals:
    void Action(platform::PushButton *button);

protected:
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FitCaption();
    QString context_;
    QString pressedCaption_;
};

class Label : public QLabel, public RectControl, public Settable {
    Q_OBJECT
public:
    explicit Label(QWidget *parent);
    PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

    // Where neighbours leave no more room, a longer text is set smaller,
    // and past the smallest face it is cut with an ellipsis: text() stays
    // whole, for whoever reads it.
    void SetMaximumTextWidth(int pixels);
    // A new text, fitted afresh: smaller only as far as it needs.
    void SetText(const QString &text);
    // The text as drawn, each line within the label's width.
    QString ShownText() const;

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void FitText();
    bool fitting_ = false;
    QFont unshrunk_;
};

class PopupMenu : public QComboBox, public RectControl, public Settable {
    Q_OBJECT
public:
    explicit PopupMenu(QWidget *parent);
    int ListCount() const { return count(); }
    int ListIndex() const { return currentIndex(); }
    // Selects the row and reports it like a user's pick. An index that
    // names no row leaves no row selected.
    void SetListIndex(int index);
    void AddRow(const QString &text);
    // Quiet: the passing empty state is not reported as a change.
    void DeleteAllRows();
    QString RowText(int row) const { return itemText(row); }

    PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

signals:
    void Change(platform::PopupMenu *menu);
};

class Timer : public QObject, public Settable {
    Q_OBJECT
public:
    static constexpr int kModeOff = 0;
    static constexpr int kModeSingle = 1;
    static constexpr int kModeMultiple = 2;

    explicit Timer(QObject *parent);
    int Mode() const { return mode_; }
    void SetMode(int mode);
    int Period() const { return timer_.interval(); }
    void SetPeriod(int periodMs);

    PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

signals:
    void Action(platform::Timer *timer);

private:
    void Restart();
    QTimer timer_;
    int mode_ = kModeOff;
};

} // namespace platform

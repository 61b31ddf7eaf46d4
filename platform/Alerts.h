#pragma once
// The alert sound and the modal message box, behind one interface so the
// window can be driven without a person to dismiss boxes.

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>

class QWidget;

namespace platform {

class Alerts {
public:
    virtual ~Alerts() = default;
    virtual void Beep() = 0;
    // Modal; returns when dismissed. `detail` is the secondary text.
    virtual void MsgBox(const QString &text, const QString &detail = {}) = 0;
    // Modal; the index of the button chosen, -1 when the box was closed
    // without a choice. The last button is the one Escape presses.
    virtual int Ask(const QString &text, const QString &detail, const QStringList &buttons) = 0;
    // Not modal: says it and returns at once.
    virtual void Notice(const QString &text, const QString &detail) = 0;
    // Closes a box that says `text` with `detail` and is still open, as OK
    // would; another box with the same text stays.
    virtual void Dismiss(const QString &text, const QString &detail) = 0;
};

class SystemAlerts : public Alerts {
public:
    void Beep() override;
    void MsgBox(const QString &text, const QString &detail = {}) override;
    int Ask(const QString &text, const QString &detail, const QStringList &buttons) override;
    void Notice(const QString &text, const QString &detail) override;
    void Dismiss(const QString &text, const QString &detail) override;

private:
    QList<QPointer<QMessageBox>> open_;
};

} // namespace platform

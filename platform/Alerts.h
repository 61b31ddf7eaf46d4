#pragma once
// The alert sound and the modal message box, behind one interface so the
// window can be driven without a person to dismiss boxes.

#include <QString>

class QWidget;

namespace platform {

class Alerts {
public:
    virtual ~Alerts() = default;
    virtual void Beep() = 0;
    // Modal; returns when dismissed. `detail` is the secondary text.
    virtual void MsgBox(const QString &text, const QString &detail = {}) = 0;
};

class SystemAlerts : public Alerts {
public:
    void Beep() override;
    void MsgBox(const QString &text, const QString &detail = {}) override;
};

} // namespace platform

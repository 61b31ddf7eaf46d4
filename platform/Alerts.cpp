#include "Alerts.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

void SystemAlerts::Beep()
{
    QApplication::beep();
}

void SystemAlerts::MsgBox(const QString &text, const QString &detail)
{
    QMessageBox box(QApplication::activeWindow());
    box.setObjectName(QStringLiteral("MsgBox"));
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setText(text);
    box.setInformativeText(detail);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace platform

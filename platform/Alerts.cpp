#include "Alerts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

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

int SystemAlerts::Ask(const QString &text, const QString &detail, const QStringList &buttons)
{
    QMessageBox box(QApplication::activeWindow());
    box.setObjectName(QStringLiteral("AskBox"));
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setText(text);
    box.setInformativeText(detail);
    QList<QPushButton *> added;
    for (const QString &caption : buttons)
        added.append(box.addButton(caption, QMessageBox::AcceptRole));
    if (!added.isEmpty())
        box.setEscapeButton(added.last());
    box.exec();
    return int(added.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
}

} // namespace platform

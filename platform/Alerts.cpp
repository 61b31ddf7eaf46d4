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
    open_.append(&box);
    box.exec();
    open_.removeAll(&box);
}

void SystemAlerts::Dismiss(const QString &text, const QString &detail)
{
    for (const QPointer<QMessageBox> &box : std::as_const(open_))
        if (box && box->text() == text && box->informativeText() == detail)
            box->done(QMessageBox::Ok);
}

void SystemAlerts::Notice(const QString &text, const QString &detail)
{
    auto *box = new QMessageBox(QMessageBox::Information, QApplication::applicationDisplayName(), text,
                                QMessageBox::Ok, QApplication::activeWindow());
    box->setObjectName(QStringLiteral("NoticeBox"));
    box->setInformativeText(detail);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    open_.removeAll(nullptr); // notices closed since
    open_.append(box);
    box->show();
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

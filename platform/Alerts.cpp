#include "Alerts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace platform {

namespace {

// A box takes the keyboard when it opens, with or without a window
// manager: Return then answers it, never a control behind it.
// When it closes, the window that had the keyboard has it back.
void TakeKeyboard(QMessageBox &box)
{
    if (QPointer<QWidget> before = QApplication::activeWindow(); before && before != &box)
        QObject::connect(&box, &QDialog::finished, before, [before] {
            if (!QApplication::activeWindow() && before->isVisible())
                before->activateWindow();
        });
    box.show();
    box.raise();
    box.activateWindow();
}

} // namespace

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
    TakeKeyboard(box);
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
    open_.removeAll(nullptr); // notices closed since
    // The same words again bring the open box forward rather than stack a copy.
    for (const QPointer<QMessageBox> &open : std::as_const(open_))
        if (open->objectName() == QLatin1String("NoticeBox") && open->text() == text &&
            open->informativeText() == detail) {
            TakeKeyboard(*open);
            return;
        }
    auto *box = new QMessageBox(QMessageBox::Information, QApplication::applicationDisplayName(), text,
                                QMessageBox::Ok, QApplication::activeWindow());
    box->setObjectName(QStringLiteral("NoticeBox"));
    box->setInformativeText(detail);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    open_.append(box);
    TakeKeyboard(*box);
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
    TakeKeyboard(box);
    box.exec();
    return int(added.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
}

} // namespace platform

#include "NetworkPortDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ui {

using platform::net::NetworkAddress;

NetworkPortDialog::NetworkPortDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Add Network Port"));
    address_ = new QLineEdit(this);
    address_->setObjectName(QStringLiteral("Address"));
    address_->setPlaceholderText(QStringLiteral("rfc2217://192.168.1.20:2000"));
    address_->setMinimumWidth(address_->fontMetrics().horizontalAdvance(QLatin1Char('m')) * 28);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("AddressProblem"));
    problem_->setWordWrap(true);
    problem_->hide();
    auto *hint = new QLabel(tr("A port server's address: rfc2217:// sets the remote line from here, "
                               "tcp:// carries the bytes only."),
                            this);
    hint->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(tr("&Address:"), address_);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(problem_);
    layout->addWidget(buttons);

    // What is typed is kept as typed; a wrong address is said, not mended.
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        const QString problem = Problem();
        problem_->setText(problem);
        problem_->setVisible(!problem.isEmpty());
        if (problem.isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(address_, &QLineEdit::textEdited, problem_, &QLabel::hide);
    address_->setFocus();
}

std::optional<NetworkAddress> NetworkPortDialog::Chosen() const
{
    return NetworkAddress::Parse(address_->text());
}

QString NetworkPortDialog::Problem() const
{
    QString problem;
    if (address_->text().trimmed().isEmpty())
        return tr("Write the port server's address, such as rfc2217://192.168.1.20:2000.");
    NetworkAddress::Parse(address_->text(), &problem);
    return problem;
}

std::optional<NetworkAddress> DialogNetworkAddressChooser::Choose(QWidget *parent)
{
    NetworkPortDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Chosen();
}

} // namespace ui

#include "LineSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

namespace ui {

using platform::LineSettings;

namespace {

constexpr int kMaxRate = 40'000'000; // room for custom rates past the standard ones

QComboBox *Choices(QWidget *parent, const char *name, std::initializer_list<std::pair<QString, int>> items)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    for (const auto &[text, value] : items)
        box->addItem(text, value);
    return box;
}

void Pick(QComboBox *box, int value)
{
    box->setCurrentIndex(std::max(0, box->findData(value)));
}

} // namespace

LineSettingsDialog::LineSettingsDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("LineSettingsDialog"));
    speed_ = new QComboBox(this);
    speed_->setObjectName(QStringLiteral("Speed"));
    speed_->setEditable(true);
    speed_->setInsertPolicy(QComboBox::NoInsert);
    // Completion would turn a typed 250000 into the listed 2500000. No
    // validator either: it would drop what it dislikes ("4e6" became 46)
    // rather than say so. What is typed stays, and a sentence says why it
    // is not a speed.
    speed_->setCompleter(nullptr);
    speedProblem_ = new QLabel(this);
    speedProblem_->setObjectName(QStringLiteral("SpeedProblem"));
    speedProblem_->setWordWrap(true);
    speedProblem_->hide();
    for (qint32 rate : LineSettings::StandardRates())
        speed_->addItem(QString::number(rate));
    dataBits_ = Choices(this, "DataBits", {{QStringLiteral("5"), QSerialPort::Data5}, {QStringLiteral("6"), QSerialPort::Data6},
                                           {QStringLiteral("7"), QSerialPort::Data7}, {QStringLiteral("8"), QSerialPort::Data8}});
    parity_ = Choices(this, "Parity", {});
    for (QSerialPort::Parity p : {QSerialPort::NoParity, QSerialPort::EvenParity, QSerialPort::OddParity,
                                  QSerialPort::MarkParity, QSerialPort::SpaceParity})
        parity_->addItem(LineSettings::ParityName(p), int(p));
    stopBits_ = Choices(this, "StopBits", {});
    for (QSerialPort::StopBits s : {QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop})
        stopBits_->addItem(LineSettings::StopBitsName(s), int(s));
    flow_ = Choices(this, "FlowControl", {});
    for (QSerialPort::FlowControl f : {QSerialPort::NoFlowControl, QSerialPort::HardwareControl, QSerialPort::SoftwareControl})
        flow_->addItem(LineSettings::FlowName(f), int(f));

    // The silence that ends a received frame, in ms, or "auto".
    gap_ = new QComboBox(this);
    gap_->setObjectName(QStringLiteral("FrameGap"));
    gap_->setEditable(true);
    gap_->setInsertPolicy(QComboBox::NoInsert);
    gap_->setCompleter(nullptr);
    for (const char *ms : {"auto", "2", "5", "10", "20", "50", "100"})
        gap_->addItem(QString::fromLatin1(ms));
    gap_->setToolTip(tr("A silence longer than this ends a received frame. Auto: 3.5 characters at this speed, "
                        "at least 1.75 ms."));
    gapProblem_ = new QLabel(this);
    gapProblem_->setObjectName(QStringLiteral("GapProblem"));
    gapProblem_->setWordWrap(true);
    gapProblem_->hide();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *form = new QFormLayout(this);
    form->addRow(tr("&Speed (bit/s):"), speed_);
    form->addRow(speedProblem_);
    form->addRow(tr("&Data bits:"), dataBits_);
    form->addRow(tr("&Parity:"), parity_);
    form->addRow(tr("S&top bits:"), stopBits_);
    form->addRow(tr("&Flow control:"), flow_);
    form->addRow(tr("Frame &gap (ms):"), gap_);
    form->addRow(gapProblem_);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // OK only while the speed is a rate; otherwise the sentence says why.
    auto check = [this, ok = buttons->button(QDialogButtonBox::Ok)] {
        const QString speed = SpeedProblem(), gap = GapProblem();
        speedProblem_->setText(speed);
        speedProblem_->setVisible(!speed.isEmpty());
        speed_->setAccessibleDescription(speed);
        gapProblem_->setText(gap);
        gapProblem_->setVisible(!gap.isEmpty());
        gap_->setAccessibleDescription(gap);
        ok->setEnabled(speed.isEmpty() && gap.isEmpty());
    };
    connect(speed_, &QComboBox::currentTextChanged, this, check);
    connect(gap_, &QComboBox::currentTextChanged, this, check);
}

QString LineSettingsDialog::SpeedProblem() const
{
    const QString typed = speed_->currentText().trimmed();
    bool ok = false;
    const qlonglong baud = typed.toLongLong(&ok);
    if (!ok || baud <= 0)
        return tr("\"%1\" is not a speed: type a whole number of bits per second, such as 115200.").arg(typed);
    if (baud > kMaxRate)
        return tr("%1 bit/s is more than any serial port here takes (at most %2).")
            .arg(typed, QLocale().toString(kMaxRate));
    return {};
}

std::optional<qint32> LineSettingsDialog::TypedGapUs() const
{
    const QString typed = gap_->currentText().trimmed();
    if (typed.compare(QStringLiteral("auto"), Qt::CaseInsensitive) == 0)
        return 0;
    // In the user's own way of writing numbers, or with a point.
    bool ok = false;
    double ms = QLocale().toDouble(typed, &ok);
    if (!ok)
        ms = typed.toDouble(&ok);
    if (!ok || ms <= 0 || ms * 1000 > LineSettings::kMaxFrameGapUs)
        return std::nullopt;
    return std::max<qint32>(1, qint32(ms * 1000 + 0.5));
}

QString LineSettingsDialog::GapProblem() const
{
    if (TypedGapUs())
        return {};
    return tr("\"%1\" is not a gap: type \"auto\" or a number of milliseconds from 0.001 to %2.")
        .arg(gap_->currentText().trimmed(), QLocale().toString(LineSettings::kMaxFrameGapUs / 1000));
}

void LineSettingsDialog::Show(const LineSettings &line)
{
    gap_->setCurrentText(line.frameGapUs > 0 ? QLocale().toString(line.frameGapUs / 1000.0) : QStringLiteral("auto"));
    speed_->setCurrentText(QString::number(line.baud));
    Pick(dataBits_, line.dataBits);
    Pick(parity_, line.parity);
    Pick(stopBits_, line.stopBits);
    Pick(flow_, line.flow);
    // Focus starts on the speed, ready to be typed over.
    speed_->setFocus();
    speed_->lineEdit()->selectAll();
}

std::optional<LineSettings> LineSettingsDialog::Chosen() const
{
    if (!SpeedProblem().isEmpty() || !GapProblem().isEmpty())
        return std::nullopt;
    const qint32 baud = speed_->currentText().trimmed().toInt();
    return LineSettings {baud,
                         QSerialPort::DataBits(dataBits_->currentData().toInt()),
                         QSerialPort::Parity(parity_->currentData().toInt()),
                         QSerialPort::StopBits(stopBits_->currentData().toInt()),
                         QSerialPort::FlowControl(flow_->currentData().toInt()),
                         *TypedGapUs()};
}

std::optional<LineSettings> DialogLineSettingsChooser::Choose(QWidget *parent, const QString &channel,
                                                       const LineSettings &current)
{
    LineSettingsDialog dialog(parent);
    dialog.setWindowTitle(LineSettingsDialog::tr("Line Settings: %1").arg(channel));
    dialog.Show(current);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Chosen();
}

} // namespace ui

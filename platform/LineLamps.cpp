#include "LineLamps.h"

namespace platform {

namespace {

constexpr int kGapPx = 1;
// Lit inputs green, lit outputs amber; off ones only outlined.
const QString kInputOn = QStringLiteral("QLabel{background:#2e8b57;color:white;border:1px solid #2e8b57;border-radius:3px}");
const QString kOutputOn = QStringLiteral("QLabel{background:#c77700;color:white;border:1px solid #c77700;border-radius:3px}");
const QString kOff = QStringLiteral("QLabel{color:#555;border:1px solid #999;border-radius:3px}");
const QString kUnknown = QStringLiteral("QLabel{color:#777;border:1px dashed #999;border-radius:3px}");

} // namespace

LineLamps::LineLamps(QWidget *parent) : QWidget(parent), text_(this)
{
    text_.setWordWrap(true);
    text_.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    text_.hide();
}

void LineLamps::ShowLamps(const QList<Lamp> &lamps, const QString &toolTip)
{
    text_.hide();
    setToolTip(toolTip);
    while (cells_.size() < lamps.size()) {
        auto *cell = new QLabel(this);
        cell->setAlignment(Qt::AlignCenter);
        cells_.append(cell);
    }
    for (qsizetype i = 0; i < cells_.size(); ++i) {
        QLabel *cell = cells_[i];
        if (i >= lamps.size()) {
            cell->hide();
            continue;
        }
        const Lamp &lamp = lamps[i];
        const bool changed = i >= lamps_.size() || lamps_[i] != lamp || cell->isHidden();
        if (changed) {
            cell->setText(lamp.known ? lamp.name : lamp.name + QLatin1Char('?'));
            cell->setStyleSheet(!lamp.known ? kUnknown : !lamp.on ? kOff : lamp.output ? kOutputOn : kInputOn);
            const QString state = !lamp.known ? tr("not told yet") : lamp.on ? tr("on") : tr("off");
            cell->setAccessibleName(tr("%1 %2%3").arg(lamp.name, state, context_));
            cell->show();
        }
        cell->setToolTip(toolTip);
    }
    lamps_ = lamps;
    Place();
}

void LineLamps::ShowText(const QString &text)
{
    for (QLabel *cell : cells_)
        cell->hide();
    lamps_.clear();
    setToolTip({});
    text_.setText(text);
    text_.setAccessibleName(text + context_);
    text_.setGeometry(rect());
    text_.show();
}

void LineLamps::resizeEvent(QResizeEvent *)
{
    text_.setGeometry(rect());
    Place();
}

// One above the other, as tall as the room allows, no taller than a line
// of text needs.
void LineLamps::Place()
{
    const int rows = int(lamps_.size());
    if (rows == 0)
        return;
    const int height = std::min((this->height() - kGapPx * (rows - 1)) / rows, fontMetrics().height() + 4);
    for (int row = 0; row < rows; ++row)
        cells_[row]->setGeometry(0, row * (height + kGapPx), width(), height);
}

} // namespace platform

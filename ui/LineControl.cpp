// Each channel's line settings: chosen from its text area's menu, shown
// below its Connect button, noted in the record. A loopback pair shares
// one port, and so one setting, also while it waits for that port.

#include "MainWindow.h"
#include "Texts.h"

#include <QLocale>

namespace ui {

using namespace platform;

void MainWindow::ChangeLineSettings(int channel)
{
    SerialController &port = Own(channel).Port();
    const LineSettings now = port.Line();
    const std::optional<LineSettings> chosen = services_.lines->Choose(this, View(channel).heading.text(), now);
    if (!chosen || *chosen == now)
        return;
    // On a closed port (idle or waiting) it is kept for the next open.
    if (!bridge_->SetLine(channel, *chosen)) {
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kLineNotSet, port.ErrorText());
    }
}

// As the record says it, except that a line the server confirmed reads
// as plainly as one a driver took.
QString MainWindow::LineText(const SerialController &port)
{
    if (port.LineStatus() == SerialController::LineState::Confirmed)
        return port.Line().Summary();
    return bridge::Bridge::RecordedLine(port);
}

void MainWindow::ShowLineSettings(int channel)
{
    const bridge::Channel &own = Own(channel);
    Label &line = View(channel).line;
    const QString heading = View(channel).heading.text();
    // In place of the line: what the channel is waiting for, on one line
    // for the tooltip and a screen reader.
    const auto showWait = [&](const QString &text) {
        line.SetText(text);
        const QString said = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
        line.setToolTip(said);
        line.setAccessibleName(tr("%1: %2").arg(heading, said));
    };
    if (own.Waits()) {
        const bridge::Loss &loss = own.Waiting();
        showWait(loss.undelivered > 0
                     ? texts::kWaitingUndelivered.arg(loss.device.Name, QLocale().toString(loss.undelivered))
                     : texts::kWaitingFor.arg(loss.device.Name));
        return;
    }
    if (own.Connecting()) {
        showWait(texts::kConnectingTo.arg(own.controller.Port()->Name).arg(net::NetworkPort::kConnectTimeoutMs / 1000));
        return;
    }
    const QString counts = LineCountsText(own);
    const QString summary = counts.isEmpty() ? LineText(own.Port()) : LineText(own.Port()) + QStringLiteral(", ") + counts;
    line.SetText(summary);
    line.setToolTip({});
    line.setAccessibleName(tr("%1, line settings: %2").arg(heading, summary));
}

} // namespace ui

// Each channel's line settings: chosen from its text area's menu, shown
// below its Connect button, noted in the record. A loopback pair shares
// one port, and so one setting, also while it waits for that port.

#include "MainWindow.h"
#include "Texts.h"

#include <QLocale>

namespace ui {

using namespace platform;

namespace {

bool OnOneDevice(const Channel &a, const Channel &b)
{
    if (&a.Port() == &b.Port())
        return true;
    return a.Waits() && b.Waits() && a.Waiting().route == Route::Loopback && b.Waiting().route == Route::Loopback &&
           a.Waiting().device == b.Waiting().device;
}

} // namespace

void MainWindow::ChangeLineSettings(int channel)
{
    Channel &own = Own(channel);
    SerialController &port = own.Port();
    const LineSettings now = port.Line();
    const std::optional<LineSettings> chosen = services_.lines->Choose(this, own.heading.text(), now);
    if (!chosen || *chosen == now)
        return;
    // On a closed port (idle or waiting) it is kept for the next open.
    if (!port.SetLine(*chosen)) {
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kLineNotSet, port.ErrorText());
        return;
    }
    // Each side keeps its own copy, for when it opens the port itself.
    for (Channel *c : {&own, &own.Other()})
        if (&c->controller != &port && OnOneDevice(*c, own))
            c->controller.SetLine(*chosen);
    Draw();
    Own(1).toldOfPossibleLoss = Own(2).toldOfPossibleLoss = false;
    recorder_.LineChanged(channel, RecordedLine(port));
}

void MainWindow::SerialController1_LineAnswered(SerialController *) { LineAnswered(Own(1)); }
void MainWindow::SerialController2_LineAnswered(SerialController *) { LineAnswered(Own(2)); }

// A network port's server has answered: the label says what stands, and a
// refusal is said once, as a driver's would be.
void MainWindow::LineAnswered(Channel &own)
{
    Draw();
    if (own.controller.LineStatus() == SerialController::LineState::Refused)
        ReportLater(texts::kLineNotSet, own.controller.ErrorText());
}

QString MainWindow::LineText(const SerialController &port)
{
    const QString summary = RecordedLine(port);
    switch (port.LineStatus()) {
    case SerialController::LineState::Applied: break;
    case SerialController::LineState::Asked: return texts::kLineAsked.arg(summary);
    case SerialController::LineState::Refused: return texts::kLineNotConfirmed.arg(summary);
    case SerialController::LineState::AtServer: break;
    }
    return summary;
}

// Without the server's answer, which comes later: a capture's interface
// is not renamed when it does.
QString MainWindow::RecordedLine(const SerialController &port)
{
    return port.LineStatus() == SerialController::LineState::AtServer ? texts::kLineAtServer
                                                                      : port.Line().Summary();
}

void MainWindow::ShowLineSettings(const Channel &own)
{
    // In place of the line: what the channel is waiting for, on one line
    // for the tooltip and a screen reader.
    const auto showWait = [&](const QString &text) {
        own.line.SetText(text);
        const QString said = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
        own.line.setToolTip(said);
        own.line.setAccessibleName(tr("%1: %2").arg(own.heading.text(), said));
    };
    if (own.Waits()) {
        const Loss &loss = own.Waiting();
        showWait(loss.undelivered > 0
                     ? texts::kWaitingUndelivered.arg(loss.device.Name, QLocale().toString(loss.undelivered))
                     : texts::kWaitingFor.arg(loss.device.Name));
        return;
    }
    if (own.Connecting()) {
        showWait(texts::kConnectingTo.arg(own.controller.Port()->Name).arg(net::NetworkPort::kConnectTimeoutMs / 1000));
        return;
    }
    const QString summary = LineText(own.Port());
    own.line.SetText(summary);
    own.line.setToolTip({});
    own.line.setAccessibleName(tr("%1, line settings: %2").arg(own.heading.text(), summary));
}

} // namespace ui

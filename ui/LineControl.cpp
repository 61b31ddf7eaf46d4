// Each channel's line settings: chosen from its text area's menu, shown
// below its Connect button, noted in the record. A loopback pair shares
// one port, and so one setting.

#include "MainWindow.h"
#include "Texts.h"

namespace ui {

using namespace platform;

void MainWindow::ChangeLineSettings(int channel)
{
    SerialController &port = LineOwner(channel);
    const LineSettings now = port.Line();
    const std::optional<LineSettings> chosen = services_.lines->Choose(this, Own(channel).heading.text(), now);
    if (!chosen || *chosen == now)
        return;
    if (!port.SetLine(*chosen)) {
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kLineNotSet, port.ErrorText());
        return;
    }
    // A sharer keeps its opener's setting, for when it opens the port itself.
    for (int c : {1, 2})
        if (&LineOwner(c) == &port && &Own(c).controller != &port)
            Own(c).controller.SetLine(*chosen);
    ShowLineSettings();
    toldOfLoss_[0] = toldOfLoss_[1] = false;
    recorder_.Event(tr("%1 line settings: %2").arg(channel).arg(chosen->Summary()));
}

// The controller whose port a channel's bytes come through.
SerialController &MainWindow::LineOwner(int channel) const
{
    const Channel own = Own(channel);
    if (own.connect.Caption() == texts::kDisconnect && !own.controller.IsHeld())
        return Other(channel).controller;
    return own.controller;
}

void MainWindow::ShowLineSettings()
{
    for (int channel : {1, 2}) {
        const Channel own = Own(channel);
        if (const std::optional<Lost> &lost = waiting_[channel - 1]) {
            own.line.setText(texts::kWaitingFor.arg(lost->port.Name));
            own.line.setAccessibleName(tr("%1: waiting for %2 to come back").arg(own.heading.text(), lost->port.Name));
            continue;
        }
        const QString summary = LineOwner(channel).Line().Summary();
        own.line.setText(summary);
        own.line.setAccessibleName(tr("%1, line settings: %2").arg(own.heading.text(), summary));
    }
}

} // namespace ui

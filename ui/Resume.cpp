// A channel whose device is lost waits for that device to come back, and
// then carries on as it was: the same port and line settings, linked or in
// loopback mode as before. Picking another port, or pressing Connect or
// Disconnect, ends the waiting. Nothing of it is kept on disk.

#include "MainWindow.h"
#include "Texts.h"

#include <QScopedValueRollback>

namespace ui {

using namespace platform;

void MainWindow::RememberLost(int channel)
{
    const SerialController &port = LineOwner(channel);
    if (!port.Port())
        return;
    // A pair lost together was linked if the first of them was: the first
    // loss has already taken the link down.
    const std::optional<Lost> &other = waiting_[2 - channel];
    const bool linked = LinkedTxt().Visible() || (other && other->linked);
    waiting_[channel - 1] = Lost {*port.Port(), port.Line(), linked};
    recorder_.Event(tr("%1 waiting for %2").arg(channel).arg(port.Port()->Path));
}

void MainWindow::StopWaiting(int channel)
{
    if (!waiting_[channel - 1])
        return;
    waiting_[channel - 1].reset();
    ShowLineSettings();
}

// On every tick of the channel's port list: is the same device back?
void MainWindow::TryResume(int channel)
{
    if (!waiting_[channel - 1])
        return;
    const Lost lost = *waiting_[channel - 1];
    const Channel own = Own(channel);
    PortEnumerator &ports = *services_.ports;
    int row = -1;
    for (int i = 0; i < ports.SerialPortCount() && row == -1; ++i)
        if (const std::optional<SerialPortInfo> port = ports.SerialPort(i); port && port->SameDevice(lost.port))
            row = own.menu.RowText(i) == port->Name ? i : -2; // -2: the menu does not show it yet
    if (row < 0 || row >= own.menu.ListCount())
        return;
    {
        const QScopedValueRollback<bool> byWindow(windowMovesMenus_, true);
        own.menu.SetListIndex(row);
    }
    own.controller.SetLine(lost.line);
    waiting_[channel - 1].reset();
    if (!ConnectSteps(channel, own.connect, ConnectHow::Resuming)) {
        waiting_[channel - 1] = lost; // not ready yet: the next tick tries again
        return;
    }
    recorder_.Event(tr("%1 resumed on %2").arg(channel).arg(own.controller.Port() ? own.controller.Port()->Path
                                                                                  : lost.port.Path));
    services_.alerts->Dismiss(texts::kSerialError);
    // The link comes back once both ends are there again.
    if (lost.linked && Other(channel).connect.Caption() == texts::kDisconnect && !LinkedTxt().Visible())
        LinkBtn_Action(&LinkBtn());
}

} // namespace ui

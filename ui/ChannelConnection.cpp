// Opening and closing each channel's port, and its port's events.

#include "MainWindow.h"
#include "Texts.h"

namespace ui {

using namespace platform;

void MainWindow::ConnectSerial1_Action(PushButton *button) { ConnectPressed(1, *button); }
void MainWindow::ConnectSerial2_Action(PushButton *button) { ConnectPressed(2, *button); }
void MainWindow::SerialController1_Error(SerialController *) { bridge_->PortLost(1); }
void MainWindow::SerialController2_Error(SerialController *) { bridge_->PortLost(2); }
void MainWindow::SerialController1_DataAvailable(SerialController *) { bridge_->Relay(1); }
void MainWindow::SerialController2_DataAvailable(SerialController *) { bridge_->Relay(2); }

// The press means what the caption said when it was pressed: a device
// lost or resumed between press and release does not turn it round.
void MainWindow::ConnectPressed(int channel, PushButton &button)
{
    const bool disconnect = button.PressedCaption() == texts::kDisconnect;
    bridge_->UserTakesOver(channel);
    if (disconnect && Own(channel).HoldsPort())
        bridge_->Disconnect(channel);
    else if (!disconnect && !Own(channel).HoldsPort())
        ConnectSteps(channel);
}

// The port the selected row names, looked up by name in the list as it is
// now: rows are only as fresh as the last tick. A row whose port has gone
// gives a port without a path, which does not open.
std::optional<SerialPortInfo> MainWindow::SelectedPort(const PopupMenu &menu) const
{
    const int row = menu.ListIndex();
    if (row < 0 || row >= menu.ListCount())
        return std::nullopt;
    const QString name = menu.RowText(row);
    if (std::optional<SerialPortInfo> port = Ports().FindByName(name, row))
        return port;
    return SerialPortInfo {name, QString()};
}

void MainWindow::ConnectSteps(int channel)
{
    const ChannelControls &view = View(channel);
    bridge_->ClearReceived(channel);

    const int index = view.menu.ListIndex();
    if (index < 0 || index >= view.menu.ListCount())
        view.menu.SetListIndex(0);

    if (bridge_->Connect(channel, SelectedPort(view.menu)) == bridge::Bridge::Opened::Failed) {
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kCouldNotOpen, Own(channel).controller.ErrorText());
    }
}

} // namespace ui

// Opening and closing each channel's port, and reporting port errors.

#include "MainWindow.h"
#include "Texts.h"

namespace ui {

using namespace platform;

void MainWindow::ConnectSerial1_Action(PushButton *button) { ConnectPressed(1, *button); }
void MainWindow::ConnectSerial2_Action(PushButton *button) { ConnectPressed(2, *button); }
void MainWindow::SerialController1_Error(SerialController *controller) { ReportSerialError(*controller); }
void MainWindow::SerialController2_Error(SerialController *controller) { ReportSerialError(*controller); }

void MainWindow::ConnectPressed(int channel, PushButton &button)
{
    if (button.Caption() == texts::kDisconnect)
        DisconnectSteps(channel, button);
    else
        ConnectSteps(channel, button);
}

// A channel shares when both menus select the same row and the other
// channel is connected: it counts as connected on the other's port.
bool MainWindow::SharesOtherPort(int channel) const
{
    return Loopback() && Other(channel).connect.Caption() != texts::kConnect;
}

void MainWindow::ConnectSteps(int channel, PushButton &button)
{
    const Channel own = Own(channel);
    const Channel other = Other(channel);

    own.text.SetText({});

    const int index = own.menu.ListIndex();
    if (index < 0 || index >= own.menu.ListCount())
        own.menu.SetListIndex(0);

    bool connected = true;
    if (!SharesOtherPort(channel)) {
        own.controller.SetSerialPort(services_.ports->SerialPort(own.menu.ListIndex()));
        connected = own.controller.Open();
    }
    if (!connected) {
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kCouldNotOpen, own.controller.ErrorText());
        return;
    }

    button.SetCaption(texts::kDisconnect);
    own.menu.SetEnabled(false);
    own.timer.SetMode(Timer::kModeOff);

    if (!SharesOtherPort(channel)) {
        own.controller.SetRequestToSend(true);
        own.controller.SetDataTerminalReady(true);
        own.controller.Reset();
    }

    if (other.connect.Caption() == texts::kDisconnect) {
        LinkBtn().SetEnabled(true);
        LinkBtn().SetVisible(true);
        if (Loopback()) {
            LoopbackTxt().SetVisible(true);
            LinkedTxt().SetVisible(true);
            LinkBtn().SetVisible(false);
            LinkBtn().SetCaption(texts::kUnlink);
        }
    }
}

void MainWindow::DisconnectSteps(int channel, PushButton &button)
{
    const Channel other = Other(channel);
    // A channel connected by sharing has no port once the channel that
    // opened it lets go, so it is disconnected along with it.
    const bool otherSharesOurs = other.connect.Caption() == texts::kDisconnect && !other.controller.IsHeld() &&
                                 Own(channel).controller.IsHeld();

    CloseChannel(Own(channel), button, /*resetLink=*/true);
    if (otherSharesOurs)
        CloseChannel(other, other.connect, /*resetLink=*/false);
}

void MainWindow::CloseChannel(Channel channel, PushButton &button, bool resetLink)
{
    channel.controller.Close();
    if (resetLink) {
        LinkBtn().SetCaption(texts::kLink);
        LinkBtn().SetEnabled(false);
        LinkBtn().SetVisible(false);
        LinkedTxt().SetVisible(false);
        LoopbackTxt().SetVisible(false);
    }
    button.SetCaption(texts::kConnect);
    channel.menu.SetEnabled(true);
    channel.timer.SetMode(Timer::kModeMultiple);
}

void MainWindow::ReportSerialError(SerialController &controller)
{
    services_.alerts->Beep();
    services_.alerts->MsgBox(texts::kSerialError, controller.ErrorText());
}

} // namespace ui

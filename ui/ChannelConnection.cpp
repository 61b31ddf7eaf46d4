// Opening and closing each channel's port, and reporting port errors.

#include "MainWindow.h"
#include "Texts.h"

#include "platform/OsSeam.h"

namespace ui {

using namespace platform;

void MainWindow::ConnectSerial1_Action(PushButton *button) { ConnectPressed(1, *button); }
void MainWindow::ConnectSerial2_Action(PushButton *button) { ConnectPressed(2, *button); }
void MainWindow::SerialController1_Error(SerialController *) { ReportSerialError(1); }
void MainWindow::SerialController2_Error(SerialController *) { ReportSerialError(2); }

void MainWindow::ConnectPressed(int channel, PushButton &button)
{
    StopWaiting(channel); // the user decides now
    if (button.Caption() == texts::kDisconnect)
        DisconnectSteps(channel, button);
    else
        ConnectSteps(channel, button);
}

// A channel shares when the other channel is connected and holds open the
// very device this channel's row names: it counts as connected on it.
bool MainWindow::SharesOtherPort(int channel, const std::optional<SerialPortInfo> &port) const
{
    const Channel other = Other(channel);
    return other.connect.Caption() != texts::kConnect && port && other.controller.HoldsDevice(port->Path);
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
    if (std::optional<SerialPortInfo> port = services_.ports->FindByName(name, row))
        return port;
    return SerialPortInfo {name, QString()};
}

bool MainWindow::ConnectSteps(int channel, PushButton &button, ConnectHow how)
{
    const Channel own = Own(channel);
    const Channel other = Other(channel);

    if (how == ConnectHow::ByPerson)
        own.text.SetText({});

    const int index = own.menu.ListIndex();
    if (index < 0 || index >= own.menu.ListCount())
        own.menu.SetListIndex(0);

    const std::optional<SerialPortInfo> port = SelectedPort(own.menu);
    const bool shares = SharesOtherPort(channel, port);
    bool connected = true;
    if (!shares) {
        own.controller.SetSerialPort(port);
        connected = own.controller.Open();
    }
    if (!connected) {
        if (how == ConnectHow::ByPerson) {
            services_.alerts->Beep();
            services_.alerts->MsgBox(texts::kCouldNotOpen, own.controller.ErrorText());
        }
        return false;
    }

    button.SetCaption(texts::kDisconnect);
    own.menu.SetEnabled(false);
    own.timer.SetMode(Timer::kModeOff);

    if (!shares) {
        own.controller.SetRequestToSend(true);
        own.controller.SetDataTerminalReady(true);
        own.controller.Reset();
    }

    if (other.connect.Caption() == texts::kDisconnect) {
        LinkBtn().SetEnabled(true);
        LinkBtn().SetVisible(true);
        if (shares) {
            LoopbackTxt().SetVisible(true);
            LinkedTxt().SetVisible(true);
            LinkBtn().SetVisible(false);
            LinkBtn().SetCaption(texts::kUnlink);
        }
    }
    // Recorded once the steps are done: a failing record cannot cut them short.
    ShowLineSettings();
    recorder_.Event(shares ? tr("%1 connected, sharing %2 (loopback)").arg(channel).arg(port->Path)
                           : tr("%1 connected to %2 at %3")
                                 .arg(channel)
                                 .arg(own.controller.Port()->Path, own.controller.Line().Summary()));
    if (!shares)
        TellOfOtherReaders(channel, own.controller.Port()->Path);
    return true;
}

// A program that takes no lock (a terminal, cat) may hold the device open
// too, and the two readers split its bytes: said once, without a box.
void MainWindow::TellOfOtherReaders(int channel, const QString &path)
{
    const QList<os::Process> others = os::OtherOpeners(path);
    if (others.isEmpty())
        return;
    QStringList names;
    for (const os::Process &p : others)
        names.append(tr("process %1 (%2)").arg(p.pid).arg(p.name));
    const QString who = names.join(QStringLiteral(", "));
    const QString text = texts::kAlsoOpen.arg(path);
    recorder_.Event(tr("%1: %2 %3").arg(channel).arg(text, who));
    services_.alerts->Notice(text, tr("It is open in %1; bytes read there do not reach this window.").arg(who));
}

void MainWindow::DisconnectSteps(int channel, PushButton &button)
{
    const Channel other = Other(channel);
    // A channel connected by sharing has no port once the channel that
    // opened it lets go, so it is disconnected along with it.
    const bool otherSharesOurs = other.connect.Caption() == texts::kDisconnect && !other.controller.IsHeld() &&
                                 Own(channel).controller.IsHeld();

    CloseChannel(channel, button, /*resetLink=*/true);
    if (otherSharesOurs)
        CloseChannel(3 - channel, other.connect, /*resetLink=*/false);
}

void MainWindow::CloseChannel(int number, PushButton &button, bool resetLink)
{
    const Channel channel = Own(number);
    recorder_.Event(tr("%1 disconnected").arg(number));
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
    ShowLineSettings();
    toldOfLoss_[number - 1] = false;
    PaceReading();
}

// Raised only when a port's device is lost: the channel lets go of it as
// Disconnect would, so its menu follows the ports again, then says why.
void MainWindow::ReportSerialError(int channel)
{
    const Channel own = Own(channel);
    recorder_.Event(tr("%1 lost: %2").arg(channel).arg(own.controller.ErrorText()));
    if (own.connect.Caption() == texts::kDisconnect) {
        // Every channel on the device waits for it: a loopback pair both.
        for (int c : {channel, 3 - channel})
            if (Own(c).connect.Caption() == texts::kDisconnect && &LineOwner(c) == &own.controller)
                RememberLost(c);
        DisconnectSteps(channel, own.connect);
    }
    ReportLater(texts::kSerialError, own.controller.ErrorText());
}

} // namespace ui

// Opening and closing each channel's port, and reporting port errors.

#include "MainWindow.h"
#include "Texts.h"

#include "ports/OsSeam.h"

namespace ui {

using namespace platform;

void MainWindow::ConnectSerial1_Action(PushButton *button) { ConnectPressed(Own(1), *button); }
void MainWindow::ConnectSerial2_Action(PushButton *button) { ConnectPressed(Own(2), *button); }
void MainWindow::SerialController1_Error(SerialController *) { ReportSerialError(Own(1)); }
void MainWindow::SerialController2_Error(SerialController *) { ReportSerialError(Own(2)); }
void MainWindow::SerialController1_Connected(SerialController *) { NetworkConnected(Own(1)); }
void MainWindow::SerialController2_Connected(SerialController *) { NetworkConnected(Own(2)); }
void MainWindow::SerialController1_ConnectFailed(SerialController *) { ConnectFailed(Own(1)); }
void MainWindow::SerialController2_ConnectFailed(SerialController *) { ConnectFailed(Own(2)); }

// The press means what the caption said when it was pressed: a device
// lost or resumed between press and release does not turn it round.
void MainWindow::ConnectPressed(Channel &own, PushButton &button)
{
    const bool disconnect = button.PressedCaption() == texts::kDisconnect;
    UserTakesOver(own);
    if (disconnect && own.HoldsPort())
        DisconnectSteps(own);
    else if (!disconnect && !own.HoldsPort())
        ConnectSteps(own);
}

// A channel shares when the other channel holds open the very device this
// channel's row names: it counts as connected on it.
bool MainWindow::SharesOtherPort(const Channel &own, const std::optional<SerialPortInfo> &port) const
{
    return port && own.Other().Now() == Channel::State::Open && own.Other().Holds(*port);
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

bool MainWindow::OpenPort(Channel &own, const std::optional<SerialPortInfo> &port)
{
    own.controller.SetSerialPort(port);
    if (!own.controller.Open())
        return false;
    if (own.controller.Connecting())
        return true; // a network port: its server sets the modem lines
    own.controller.SetRequestToSend(true);
    own.controller.SetDataTerminalReady(true);
    own.controller.Reset();
    return true;
}

void MainWindow::ConnectSteps(Channel &own)
{
    own.text.SetText({});

    const int index = own.menu.ListIndex();
    if (index < 0 || index >= own.menu.ListCount())
        own.menu.SetListIndex(0);

    const std::optional<SerialPortInfo> port = SelectedPort(own.menu);
    const bool shares = SharesOtherPort(own, port);
    if (!shares && !OpenPort(own, port)) {
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kCouldNotOpen, own.controller.ErrorText());
        return;
    }
    if (!shares && own.controller.Connecting()) {
        own.BecomeConnecting();
        Draw();
        return;
    }
    FinishConnect(own, shares);
}

void MainWindow::FinishConnect(Channel &own, bool shares)
{
    if (shares) {
        // One device, one setting: kept for when this side opens it itself.
        own.controller.SetLine(own.Other().controller.Line());
        own.BecomeSharing();
    } else {
        own.BecomeOpen();
    }
    // Both ends held: ready to link, or, on one device, loopback at once.
    if (own.Other().HoldsPort())
        route_ = shares ? Route::Loopback : Route::None;
    Draw();
    // Recorded once the steps are done: a failing record cannot cut them short.
    const QString path = own.Port().Port()->Path;
    if (shares)
        recorder_.ConnectedSharing(own.number, path);
    else
        recorder_.Connected(own.number, path, RecordedLine(own.controller));
    if (!shares)
        TellOfOtherReaders(own);
    own.toldOfPossibleLoss = false;
}

void MainWindow::NetworkConnected(Channel &own)
{
    if (own.Connecting()) {
        FinishConnect(own, false);
    } else if (own.Waits()) {
        const Loss loss = own.Waiting(); // a copy: the wait ends on the way
        CompleteResume(own, loss, loss.device);
    }
}

// Said once, after the handler: the server may be slow to refuse, and
// nothing here waits for a person.
void MainWindow::ConnectFailed(Channel &own)
{
    if (own.Waits()) {
        RetryLater(own);
        return;
    }
    if (!own.Connecting())
        return;
    StopConnecting(own);
    ReportLater(texts::kCouldNotOpen, own.controller.ErrorText());
}

// A connect that failed or was given up: the channel is idle again, its
// button as it was when pressed.
void MainWindow::StopConnecting(Channel &own)
{
    own.controller.Close();
    own.BecomeIdle();
    own.connect.SetEnabled(true);
    Draw();
}

// A program that takes no lock (a terminal, cat) may hold the device open
// too, and the two readers split its bytes: said once, without a box.
void MainWindow::TellOfOtherReaders(const Channel &own)
{
    if (own.controller.OnNetwork())
        return; // the server's business
    const QString path = own.controller.Port()->Path;
    const QList<os::Process> others = os::OtherOpeners(path);
    if (others.isEmpty())
        return;
    QStringList names;
    for (const os::Process &p : others)
        names.append(tr("process %1 (%2)").arg(p.pid).arg(p.name));
    const QString who = names.join(QStringLiteral(", "));
    const QString text = texts::kAlsoOpen.arg(path);
    recorder_.AlsoOpen(own.number, text, who);
    services_.alerts->Notice(text, tr("It is open in %1; bytes read there do not reach this window.").arg(who));
}

// Any disconnect ends the link. A channel sharing this one's port has no
// port once it is let go, so it is disconnected along with it.
void MainWindow::DisconnectSteps(Channel &own)
{
    Channel &other = own.Other();
    const bool otherSharesOurs = own.Now() == Channel::State::Open && other.Now() == Channel::State::Sharing;
    CloseChannel(own);
    if (otherSharesOurs)
        CloseChannel(other);
    route_ = Route::None;
    Draw();
    PaceReading();
}

void MainWindow::CloseChannel(Channel &channel)
{
    recorder_.Disconnected(channel.number);
    channel.controller.Release();
    channel.BecomeIdle();
    channel.toldOfPossibleLoss = false;
}

// Raised only when a port's device is lost: the channel lets go of it as
// Disconnect would, so its menu follows the ports again, says why, and
// waits for the device to come back.
void MainWindow::ReportSerialError(Channel &own)
{
    const QString reason = own.controller.ErrorText();
    recorder_.Lost(own.number, reason);
    if (own.Now() != Channel::State::Open) {
        ReportLater(texts::kSerialError, reason);
        return;
    }
    StartWaiting(own, reason);
}

} // namespace ui

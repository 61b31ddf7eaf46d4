// A channel whose device is lost waits for that very device to come back,
// and then carries on as the user left it: the same port with the line
// settings the channel has now, and the link or loopback mode only with
// the same devices as before. It never guesses: a device that was present
// at the loss, or that the other side holds, is not the lost one, and any
// choice the user makes meanwhile replaces what would have come back.

#include "MainWindow.h"
#include "Texts.h"

#include <QScopedValueRollback>

#include <algorithm>


namespace ui {

using namespace platform;

void MainWindow::StartWaiting(Channel &own, const QString &reason)
{
    Channel &other = own.Other();
    const SerialPortInfo device = *own.controller.Port();
    Loss loss {device, {}, route_, std::nullopt, 0, {}, kFirstRetryMs, QDeadlineTimer(kFirstRetryMs)};
    if (route_ == Route::Linked) {
        loss.partner = other.Device();
    } else if (other.Waits() && other.Waiting().route == Route::Linked && other.Waiting().partner &&
               other.Waiting().partner->SameDevice(device)) {
        // A pair lost together (a hub): the first loss took the link down.
        loss.route = Route::Linked;
        loss.partner = other.Waiting().device;
    }
    if (loss.partner) {
        loss.from = loss.partner->Path;
        loss.undelivered = own.controller.DroppedAtLoss();
    }
    loss.presentAtLoss = Ports().All();
    loss.presentAtLoss.removeIf([&](const SerialPortInfo &p) { return p.Path == device.Path; });

    // Every channel on the device waits for it: a loopback pair both.
    const bool pair = other.Now() == Channel::State::Sharing;
    own.BecomeWaiting(loss);
    if (pair)
        other.BecomeWaiting(loss);
    route_ = Route::None;
    for (const Channel *c : {&own, &other})
        if (c->WaitsFor(device))
            recorder_.Waiting(c->number, device.Path);

    const int quick = own.LostSoonAfterResume(services_.quickLossMs);
    if (quick >= kQuickLossesToGiveUp) {
        for (Channel *c : {&own, &other})
            if (c->WaitsFor(device)) {
                StopWaiting(*c);
                recorder_.GaveUp(c->number, device.Path);
            }
        own.ForgetResumes();
        ReportLater(texts::kKeepsFailing.arg(device.Name), reason);
    } else if (quick == 0) {
        // Lost again right after a resume: it was said at the first loss.
        own.lossDetail = reason;
        ReportLater(
            texts::kSerialError, reason,
            [this, number = own.number, device] { return Own(number).WaitsFor(device); },
            kLossBoxAfterMs);
    }
    Draw();
    PaceReading();
}

// However a wait ends, the record settles what did not reach the device.
void MainWindow::EndWait(const Channel &own)
{
    const Loss &loss = own.Waiting();
    if (!loss.from.isEmpty())
        recorder_.NotDelivered(loss.undelivered, loss.from, loss.device.Path);
}

void MainWindow::StopWaiting(Channel &own)
{
    if (!own.Waits())
        return;
    if (own.controller.Connecting())
        own.controller.Close(); // a network port tried again: no longer wanted
    EndWait(own);
    own.BecomeIdle();
    Draw();
}

void MainWindow::UserTakesOver(Channel &own)
{
    StopWaiting(own);
    if (own.Connecting())
        StopConnecting(own);
    own.ForgetResumes();
    if (Channel &other = own.Other(); other.Waits()) {
        other.Waiting().route = Route::None;
        other.Waiting().partner.reset();
    }
}

// At every look at the port list while the channel waits: is its device back?
void MainWindow::TryResume(Channel &own)
{
    // A press under way is the user's, and is not overtaken.
    if (!own.Waits() || own.connect.isDown() || own.Other().connect.isDown())
        return;
    if (net::NetworkAddress::Names(own.Waiting().device.Path)) {
        TryReconnect(own);
        return;
    }
    const QList<SerialPortInfo> now = Ports().All();
    const std::optional<int> row =
        own.Waiting().Returned(now, [&](const SerialPortInfo &port) { return own.Other().Holds(port); });
    if (!row || own.menu.RowText(*row) != now[*row].Name)
        return; // not back, or the menu does not show it yet
    const Loss loss = own.Waiting();
    const SerialPortInfo &found = now[*row];
    {
        const QScopedValueRollback<bool> byWindow(windowMovesMenus_, true);
        own.menu.SetListIndex(*row);
    }
    // With the line settings the channel has now: the user may have
    // changed them while it waited.
    if (!OpenPort(own, found))
        return; // not ready yet: the next look tries again
    CompleteResume(own, loss, found);
}

void MainWindow::CompleteResume(Channel &own, const Loss &loss, const SerialPortInfo &found)
{
    EndWait(own);
    own.BecomeOpen();
    own.NoteResumed();
    recorder_.Resumed(own.number, found.Path);
    services_.alerts->Dismiss(texts::kSerialError, std::exchange(own.lossDetail, QString()));
    // The route is back before the event loop reads the device's first byte.
    RestoreRoute(own, loss, found.Name);
    Draw();
    PaceReading();
    TellOfOtherReaders(own);
}

// Tried at the port list's ticks, from kFirstRetryMs after the loss, then
// at intervals that double up to kMaxRetryMs.
void MainWindow::TryReconnect(Channel &own)
{
    const Loss &loss = own.Waiting();
    if (own.controller.Connecting() || !loss.nextTry.hasExpired())
        return;
    const int row = own.menu.findText(loss.device.Name);
    if (row < 0)
        return; // the menu does not show it yet
    {
        const QScopedValueRollback<bool> byWindow(windowMovesMenus_, true);
        own.menu.SetListIndex(row);
    }
    if (!OpenPort(own, loss.device))
        RetryLater(own);
}

void MainWindow::RetryLater(Channel &own)
{
    Loss &loss = own.Waiting();
    loss.nextTry = QDeadlineTimer(loss.retryMs);
    loss.retryMs = std::min(loss.retryMs * 2, kMaxRetryMs);
}

void MainWindow::RestoreRoute(Channel &resumed, const Loss &loss, const QString &name)
{
    Channel &other = resumed.Other();
    if (loss.route == Route::Loopback && other.Waits() && other.Waiting().route == Route::Loopback &&
        other.Waiting().device.SameDevice(loss.device)) {
        {
            const QScopedValueRollback<bool> byWindow(windowMovesMenus_, true);
            if (const int row = other.menu.findText(name); row >= 0)
                other.menu.SetListIndex(row);
        }
        EndWait(other);
        other.BecomeSharing();
        recorder_.ResumedSharing(other.number, resumed.controller.Port()->Path);
        services_.alerts->Dismiss(texts::kSerialError, std::exchange(other.lossDetail, QString()));
        route_ = Route::Loopback;
    } else if (loss.route == Route::Linked && loss.partner && other.Now() == Channel::State::Open &&
               other.Device()->SameDevice(*loss.partner)) {
        route_ = Route::Linked;
        recorder_.Linked();
    }
}

} // namespace ui

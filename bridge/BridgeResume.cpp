// A channel whose device is lost waits for that very device to come back,
// and then carries on as the user left it: the same port with the line
// settings the channel has now, and the link or loopback mode only with
// the same devices as before. It never guesses: a device that was present
// at the loss, or that the other side holds, is not the lost one, and any
// choice the user makes meanwhile replaces what would have come back.
// Nothing here opens, closes or sets the other channel's device.

#include "Bridge.h"
#include "Texts.h"

#include "ports/network/NetworkPort.h"

#include <algorithm>

namespace bridge {

using namespace platform;

// Raised only when a port's device is lost: the channel lets go of it as
// Disconnect would, says why, and waits for the device to come back.
void Bridge::PortLost(Channel &own)
{
    Disengage();
    const QString reason = own.controller.ErrorText();
    recorder_.Lost(own.number, reason);
    if (own.Now() != Channel::State::Open) {
        ReportLater(texts::kSerialError, reason);
        return;
    }
    StartWaiting(own, reason);
}

void Bridge::StartWaiting(Channel &own, const QString &reason)
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
    loss.presentAtLoss = ports_.All();
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

    const int quick = own.LostSoonAfterResume(quickLossMs_);
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
            [this, number = own.number, device] { return Own(number).WaitsFor(device); }, kLossBoxAfterMs);
    }
    Settle();
    PaceReading();
}

// However a wait ends, the record settles what did not reach the device.
void Bridge::EndWait(const Channel &own)
{
    const Loss &loss = own.Waiting();
    if (!loss.from.isEmpty())
        recorder_.NotDelivered(loss.undelivered, loss.from, loss.device.Path);
}

void Bridge::StopWaiting(Channel &own)
{
    if (!own.Waits())
        return;
    if (own.controller.Connecting())
        own.controller.Close(); // a network port tried again: no longer wanted
    EndWait(own);
    own.BecomeIdle();
    Settle();
}

void Bridge::TryResume(int number)
{
    Channel &own = Own(number);
    if (!own.Waits())
        return;
    if (net::NetworkAddress::Names(own.Waiting().device.Path)) {
        TryReconnect(own);
        return;
    }
    const QList<SerialPortInfo> now = ports_.All();
    const std::optional<int> row =
        own.Waiting().Returned(now, [&](const SerialPortInfo &port) { return own.Other().Holds(port); });
    if (!row)
        return;
    const Loss loss = own.Waiting();
    const SerialPortInfo found = now[*row];
    // With the line settings the channel has now: the user may have
    // changed them while it waited.
    if (!OpenPort(own, found))
        return; // not ready yet: the next look tries again
    CompleteResume(own, loss, found);
}

void Bridge::CompleteResume(Channel &own, const Loss &loss, const SerialPortInfo &found)
{
    EndWait(own);
    own.BecomeOpen();
    own.NoteResumed();
    recorder_.Resumed(own.number, found.Path);
    emit Dismiss(texts::kSerialError, std::exchange(own.lossDetail, QString()));
    emit Resumed(own.number, found.Name);
    // The route is back before the event loop reads the device's first byte.
    RestoreRoute(own, loss, found.Name);
    Settle();
    PaceReading();
    TellOfOtherReaders(own);
}

// Tried at the looks, from kFirstRetryMs after the loss, then at
// intervals that double up to kMaxRetryMs.
void Bridge::TryReconnect(Channel &own)
{
    const Loss &loss = own.Waiting();
    if (own.controller.Connecting() || !loss.nextTry.hasExpired())
        return;
    if (!ports_.FindByName(loss.device.Name, 0))
        return; // removed from the list meanwhile
    if (!OpenPort(own, loss.device))
        RetryLater(own);
}

void Bridge::RetryLater(Channel &own)
{
    Loss &loss = own.Waiting();
    loss.nextTry = QDeadlineTimer(loss.retryMs);
    loss.retryMs = std::min(loss.retryMs * 2, kMaxRetryMs);
}

void Bridge::RestoreRoute(Channel &resumed, const Loss &loss, const QString &name)
{
    Channel &other = resumed.Other();
    if (loss.route == Route::Loopback && other.Waits() && other.Waiting().route == Route::Loopback &&
        other.Waiting().device.SameDevice(loss.device)) {
        EndWait(other);
        other.BecomeSharing();
        recorder_.ResumedSharing(other.number, resumed.controller.Port()->Path);
        emit Dismiss(texts::kSerialError, std::exchange(other.lossDetail, QString()));
        emit Resumed(other.number, name);
        route_ = Route::Loopback;
    } else if (loss.route == Route::Linked && loss.partner && other.Now() == Channel::State::Open &&
               other.Device()->SameDevice(*loss.partner)) {
        route_ = Route::Linked;
        recorder_.Linked();
    }
}

void Bridge::NetworkConnected(Channel &own)
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
void Bridge::ConnectFailed(Channel &own)
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

} // namespace bridge

// Moving arrived bytes on: to the channel's view, then as the route says,
// nowhere further, to the other port, or back to the own port; and holding
// a side's reading while its destination cannot take more.

#include "Bridge.h"
#include "Pacing.h"
#include "Texts.h"

#include <array>

namespace bridge {

using namespace platform;

// What the line did goes between the bytes it came between.
void Bridge::RelayArrival(Channel &own)
{
    const qint64 start = own.controller.ReadCount();
    const QByteArray bytes = own.controller.ReadAll();
    InOrder(own, bytes, start, own.controller.TakeLineEvents(),
            [this, &own](const QByteArray &piece) { RelayBytes(own, piece); });
}

void Bridge::RelayBytes(Channel &own, const QByteArray &bytes)
{
    Channel &other = own.Other();
    const ReadFrames frames = Heard(own, bytes.size(), MonotonicUs());
    SerialController *destination = Destination(own);
    // Onward first: the device waits for no view.
    if (destination)
        destination->Write(bytes);

    if (!destination) {
        Receive(own.number, bytes, frames);
        recorder_.Arrival(own.number, ui::Recorder::Route::Shown, bytes, frames);
        // A linked partner that is away hears none of it: counted, and told.
        if (other.Waits() && other.Waiting().route == Route::Linked && !bytes.isEmpty()) {
            other.Waiting().undelivered += bytes.size();
            emit WaitGrew(other.number);
        }
        return;
    }
    ShowCrossed(own, bytes, frames, destination == &own.controller);
    PaceReading(); // the destination's own queue has grown too
    EngageLater();
}

ReadFrames Bridge::Heard(Channel &own, qsizetype bytes, qint64 readUs)
{
    own.NoteArrival();
    return own.frames.Split(bytes, readUs, own.Port().Line());
}

void Bridge::ShowCrossed(Channel &own, QByteArrayView bytes, const ReadFrames &frames, bool echoed)
{
    Receive(own.number, bytes, frames);
    if (echoed) {
        Receive(own.Other().number, bytes, frames);
        recorder_.Arrival(own.number, ui::Recorder::Route::Echoed, bytes, frames);
    } else {
        recorder_.Arrival(own.number, ui::Recorder::Route::Forwarded, bytes, frames);
    }
}

void Bridge::Receive(int number, QByteArrayView bytes, const ReadFrames &frames)
{
    Own(number).received.Append(bytes, frames.starts);
    if (deferShown_)
        shownDeferred_[number - 1] = true;
    else
        emit Shown(number);
}

void Bridge::ClearReceived(int number)
{
    CatchUp(); // what came before the clear goes with it
    Own(number).received.Clear();
    emit Shown(number);
}

// Where a channel's arrivals are written now, if anywhere.
SerialController *Bridge::Destination(const Channel &own)
{
    switch (route_) {
    case Route::Linked: return &own.Other().controller;
    case Route::Loopback: return &own.controller;
    case Route::None: break;
    }
    return nullptr;
}

void Bridge::PaceReading()
{
    if (engaged_)
        return; // the relay paces itself
    const auto side = [this](int number) {
        const SerialController &port = Own(number).controller;
        return Pacing::Side {port.BytesToWrite(), port.ReadingHeld()};
    };
    const std::array<bool, 2> hold = Pacing::Holds(route_, {side(1), side(2)});
    for (int number : {1, 2}) {
        Channel &own = Own(number);
        // A port let go of stays held while it delivers: what it reads
        // then is no longer its channel's.
        if (own.controller.Releasing() || hold[number - 1] == own.controller.ReadingHeld())
            continue;
        own.controller.HoldReading(hold[number - 1]);
        if (hold[number - 1])
            TellOfPossibleLoss(own);
    }
}

// A device with flow control waits while its channel is held; one without
// goes on sending, and its driver drops what does not fit. Said once, not
// at every hold, with the driver's count where it keeps one.
void Bridge::TellOfPossibleLoss(Channel &own)
{
    SerialController &source = own.controller;
    if (own.toldOfPossibleLoss || source.Line().flow != QSerialPort::NoFlowControl)
        return;
    const std::optional<qint64> dropped = source.DriverOverruns();
    if (!dropped)
        return; // the driver cannot drop (a pty holds the sender)
    own.toldOfPossibleLoss = true;
    const QString text = texts::kFasterThanOnward.arg(own.number).arg(own.Other().number);
    const QString detail = texts::kMayLoseBytes.arg(*dropped);
    recorder_.Held(own.number, text, detail);
    emit Notice(text, detail);
}

} // namespace bridge

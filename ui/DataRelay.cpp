// Moving arrived bytes on: to the own text area, then as the route says,
// nowhere further, to the other port, or back to the own port.

#include "MainWindow.h"
#include "Texts.h"

#include <algorithm>
#include <array>

namespace ui {

using namespace platform;

void MainWindow::SerialController1_DataAvailable(SerialController *controller) { RelayArrival(Own(1), *controller); }
void MainWindow::SerialController2_DataAvailable(SerialController *controller) { RelayArrival(Own(2), *controller); }

void MainWindow::RelayArrival(Channel &own, SerialController &controller)
{
    Channel &other = own.Other();
    const QByteArray bytes = controller.ReadAll();
    const ReadFrames frames = own.frames.Split(bytes.size(), MonotonicUs(), own.Port().Line());
    own.NoteArrival();
    SerialController *destination = Destination(own);
    // Onward first: the device waits for no view.
    if (destination)
        destination->Write(bytes);
    own.text.AppendText(bytes, frames.starts);

    if (!destination) {
        recorder_.Arrival(own.number, Recorder::Route::Shown, bytes, frames);
        // A linked partner that is away hears none of it: counted, and told.
        if (other.Waits() && other.Waiting().route == Route::Linked && !bytes.isEmpty()) {
            other.Waiting().undelivered += bytes.size();
            ShowLineSettings(other);
        }
        return;
    }
    if (destination == &own.controller) {
        other.text.AppendText(bytes, frames.starts);
        recorder_.Arrival(own.number, Recorder::Route::Echoed, bytes, frames);
    } else {
        recorder_.Arrival(own.number, Recorder::Route::Forwarded, bytes, frames);
    }
    PaceReading(); // the destination's own queue has grown too
}

// Where a channel's arrivals are written now, if anywhere.
SerialController *MainWindow::Destination(const Channel &own) const
{
    switch (route_) {
    case Route::Linked: return &own.Other().controller;
    case Route::Loopback: return &own.controller;
    case Route::None: break;
    }
    return nullptr;
}

// A source reads only as fast as its destination sends: past the high-water
// mark it stops reading, so the device and its driver hold the bytes, and
// it reads again once the queue is down to a quarter of that mark or the
// route has gone. Nothing is dropped either way.
//
// Some senders take in what is queued for them only once their own write
// is through: a relay serving both ways on one thread, a loopback peer
// writing a block before it reads. Holding such a sender's own port could
// stop the traffic for good, so a loopback is held only at a far higher
// mark, and of two linked sources that are both due a hold one reads on
// until both queues are that full.
void MainWindow::PaceReading()
{
    std::array<bool, 2> hold {DueAHold(Own(1)), DueAHold(Own(2))};
    if (hold[0] && hold[1] && route_ == Route::Linked) {
        const qint64 to2 = Own(2).controller.BytesToWrite(); // channel 1's destination
        const qint64 to1 = Own(1).controller.BytesToWrite();
        if (std::min(to1, to2) <= SerialController::kBothWaysHighWaterBytes) {
            // The one with less waiting toward its destination, and the
            // one reading now until its lead is gone by a margin, so that
            // a link does not switch at every arrival.
            const bool oneReads = Own(1).controller.ReadingHeld() != Own(2).controller.ReadingHeld();
            const qint64 margin = oneReads ? SerialController::kWriteLowWaterBytes : 0;
            const bool firstReads = oneReads && !Own(1).controller.ReadingHeld() ? to2 <= to1 + margin
                                                                                 : to2 + margin < to1;
            hold[firstReads ? 0 : 1] = false;
        }
    }
    for (int channel : {1, 2}) {
        Channel &own = Own(channel);
        if (hold[channel - 1] == own.controller.ReadingHeld())
            continue;
        own.controller.HoldReading(hold[channel - 1]);
        if (hold[channel - 1])
            TellOfPossibleLoss(own);
    }
}

// Whether a source should be held now, by its destination's queue alone.
bool MainWindow::DueAHold(const Channel &own) const
{
    const SerialController *destination = Destination(own);
    if (!destination)
        return false;
    const qint64 high = destination == &own.controller ? SerialController::kBothWaysHighWaterBytes
                                                        : SerialController::kWriteHighWaterBytes;
    const qint64 queued = destination->BytesToWrite();
    return own.controller.ReadingHeld() ? queued > high / 4 : queued > high;
}

// A device with flow control waits while its channel is held; one without
// goes on sending, and its driver drops what does not fit. Said once, not
// at every hold, with the driver's count where it keeps one.
void MainWindow::TellOfPossibleLoss(Channel &own)
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
    services_.alerts->Notice(text, detail);
}

} // namespace ui

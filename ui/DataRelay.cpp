// Moving arrived bytes on: to the own text area, then as the route says,
// nowhere further, to the other port, or back to the own port.

#include "MainWindow.h"
#include "Texts.h"

#include "bridge/Pacing.h"

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

void MainWindow::PaceReading()
{
    const auto side = [this](int channel) {
        const SerialController &port = Own(channel).controller;
        return bridge::Pacing::Side {port.BytesToWrite(), port.ReadingHeld()};
    };
    const std::array<bool, 2> hold = bridge::Pacing::Holds(route_, {side(1), side(2)});
    for (int channel : {1, 2}) {
        Channel &own = Own(channel);
        if (hold[channel - 1] == own.controller.ReadingHeld())
            continue;
        own.controller.HoldReading(hold[channel - 1]);
        if (hold[channel - 1])
            TellOfPossibleLoss(own);
    }
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

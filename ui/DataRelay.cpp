// Moving arrived bytes on: to the own text area, then as the link labels
// say, nowhere further, to the other port, or back to the own port.

#include "MainWindow.h"

namespace ui {

using namespace platform;

void MainWindow::SerialController1_DataAvailable(SerialController *controller) { RelayArrival(1, *controller); }
void MainWindow::SerialController2_DataAvailable(SerialController *controller) { RelayArrival(2, *controller); }

void MainWindow::RelayArrival(int channel, SerialController &controller)
{
    const Channel own = Own(channel);
    const Channel other = Other(channel);

    const QByteArray bytes = controller.ReadAll();
    own.text.AppendText(bytes);

    SerialController *destination = Destination(channel);
    if (!destination) {
        recorder_.Arrival(channel, Recorder::Route::Shown, bytes);
        return;
    }
    destination->Write(bytes);
    if (destination == &own.controller) {
        other.text.AppendText(bytes);
        recorder_.Arrival(channel, Recorder::Route::Echoed, bytes);
    } else {
        recorder_.Arrival(channel, Recorder::Route::Forwarded, bytes);
    }
    Pace(own.controller, destination);
}

// Where a channel's arrivals are written now, if anywhere.
SerialController *MainWindow::Destination(int channel) const
{
    if (!LinkedTxt().Visible())
        return nullptr;
    return LoopbackTxt().Visible() ? &Own(channel).controller : &Other(channel).controller;
}

// A source reads only as fast as its destination sends: past the high-water
// mark it stops reading, so the device and its driver hold the bytes, and
// it reads again once the queue is down to the low-water mark or the route
// has gone. Nothing is dropped either way.
void MainWindow::PaceReading()
{
    for (int channel : {1, 2})
        Pace(Own(channel).controller, Destination(channel));
}

void MainWindow::Pace(SerialController &source, const SerialController *destination)
{
    const qint64 queued = destination ? destination->BytesToWrite() : 0;
    if (!source.ReadingHeld() && queued > SerialController::kWriteHighWaterBytes)
        source.HoldReading(true);
    else if (source.ReadingHeld() && queued <= SerialController::kWriteLowWaterBytes)
        source.HoldReading(false);
}

} // namespace ui

// Moving arrived bytes on: to the own text area, then as the link labels
// say, nowhere further, to the other port, or back to the own port.

#include "MainWindow.h"
#include "Texts.h"

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
    Pace(channel, destination);
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
        Pace(channel, Destination(channel));
}

void MainWindow::Pace(int channel, const SerialController *destination)
{
    SerialController &source = Own(channel).controller;
    const qint64 queued = destination ? destination->BytesToWrite() : 0;
    if (!source.ReadingHeld() && queued > SerialController::kWriteHighWaterBytes) {
        source.HoldReading(true);
        TellOfPossibleLoss(channel);
    } else if (source.ReadingHeld() && queued <= SerialController::kWriteLowWaterBytes) {
        source.HoldReading(false);
    }
}

// A device with flow control waits while its channel is held; one without
// goes on sending, and its driver drops what does not fit. Said once, not
// at every hold, with the driver's count where it keeps one.
void MainWindow::TellOfPossibleLoss(int channel)
{
    SerialController &source = Own(channel).controller;
    if (toldOfLoss_[channel - 1] || source.Line().flow != QSerialPort::NoFlowControl)
        return;
    const std::optional<qint64> dropped = source.DriverOverruns();
    if (!dropped)
        return; // the driver cannot drop (a pty holds the sender)
    toldOfLoss_[channel - 1] = true;
    const QString text = texts::kFasterThanOnward.arg(channel).arg(3 - channel);
    const QString detail = texts::kMayLoseBytes.arg(*dropped);
    recorder_.Event(tr("%1 held: %2 %3").arg(channel).arg(text, detail));
    services_.alerts->Notice(text, detail);
}

} // namespace ui

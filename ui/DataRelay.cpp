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

    const QByteArray data = controller.ReadAll();
    own.text.AppendText(data);

    if (!LinkedTxt().Visible())
        return;
    if (LoopbackTxt().Visible()) {
        own.controller.Write(data);
        other.text.AppendText(data);
    } else {
        other.controller.Write(data);
    }
}

} // namespace ui

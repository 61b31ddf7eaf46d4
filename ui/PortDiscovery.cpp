// Keeping each channel's port menu in step with the ports present, and the
// Connect buttons with the menus' selections.

#include "MainWindow.h"
#include "Texts.h"

#include <QScopedValueRollback>

namespace ui {

using namespace platform;

void MainWindow::PortListUpdater1_Action(Timer *) { RefreshPortList(1); }
void MainWindow::PortListUpdater2_Action(Timer *) { RefreshPortList(2); }

void MainWindow::RefreshPortList(int channel)
{
    PopupMenu &menu = Own(channel).menu;
    PortEnumerator &ports = Ports();
    const QScopedValueRollback<bool> byWindow(windowMovesMenus_, true);

    const int oldRowCount = menu.ListCount();
    // Rows that no longer name the ports present, in number or by name.
    if (!MenuMatchesPorts(menu)) {
        menu.DeleteAllRows();
        // The count is read before every row, so a list that changes
        // during the rebuild is followed.
        for (int i = 0; i <= ports.SerialPortCount() - 1; ++i) {
            const std::optional<SerialPortInfo> port = ports.SerialPort(i);
            if (!port)
                break; // gone since the count was read: one row per port present
            menu.AddRow(port->Name);
        }
        if (ports.SerialPortCount() < oldRowCount)
            menu.SetListIndex(0);
        else
            menu.SetListIndex(ports.SerialPortCount() - 1);
    }
    const int index1 = SerialPortsPopupMenu1().ListIndex();
    const int index2 = SerialPortsPopupMenu2().ListIndex();
    SetLoopback(index1 == index2);
    TryResume(Own(channel));
}

void MainWindow::DevicesChanged()
{
    Ports().Invalidate();
    for (int channel : {1, 2})
        if (Own(channel).Waits())
            RefreshPortList(channel);
}

bool MainWindow::MenuMatchesPorts(const PopupMenu &menu) const
{
    PortEnumerator &ports = Ports();
    if (ports.SerialPortCount() != menu.ListCount())
        return false;
    for (int i = 0; i < menu.ListCount(); ++i) {
        const std::optional<SerialPortInfo> port = ports.SerialPort(i);
        if (!port || port->Name != menu.RowText(i))
            return false;
    }
    return true;
}

void MainWindow::SerialPortsPopupMenu1_Change(PopupMenu *menu)
{
    if (!windowMovesMenus_)
        UserTakesOver(Own(1)); // the user picked another port
    EnableConnectButtons(*menu, {&Own(1)});
}

void MainWindow::SerialPortsPopupMenu2_Change(PopupMenu *menu)
{
    if (!windowMovesMenus_)
        UserTakesOver(Own(2));
    // Channel 2's menu governs both buttons, channel 1's first.
    EnableConnectButtons(*menu, {&Own(1), &Own(2)});
}

void MainWindow::EnableConnectButtons(PopupMenu &changed, std::initializer_list<const Channel *> channels)
{
    // A channel holding a port can always let go of it, whatever the menus show.
    const bool chosen = changed.ListIndex() != -1;
    for (const Channel *channel : channels)
        channel->connect.SetEnabled(chosen || channel->HoldsPort());
}

} // namespace ui

// Keeping each channel's port menu in step with the ports present, and the
// Connect buttons with the menus' selections.

#include "MainWindow.h"
#include "Texts.h"

#include <QScopedValueRollback>

namespace ui {

using namespace platform;

void MainWindow::PortListUpdater1_Action(Timer *) { RefreshPortList(1); }
void MainWindow::PortListUpdater2_Action(Timer *) { RefreshPortList(2); }

void MainWindow::RefreshPortList(int channel, bool keepChoice)
{
    PopupMenu &menu = View(channel).menu;
    PortEnumerator &ports = Ports();
    const QScopedValueRollback<bool> byWindow(windowMovesMenus_, true);

    const int oldRowCount = menu.ListCount();
    const QString chosen = menu.currentText();
    // Rows that no longer name the ports present, in number or by name.
    if (!MenuMatchesPorts(menu)) {
        RebuildRows(menu);
        if (const int row = menu.findText(chosen); keepChoice && row >= 0)
            menu.SetListIndex(row);
        else if (ports.SerialPortCount() < oldRowCount)
            menu.SetListIndex(0);
        else
            menu.SetListIndex(ports.SerialPortCount() - 1);
    }
    const int index1 = SerialPortsPopupMenu1().ListIndex();
    const int index2 = SerialPortsPopupMenu2().ListIndex();
    SetLoopback(index1 == index2);
    TryResume(channel);
}

void MainWindow::RebuildRows(PopupMenu &menu)
{
    PortEnumerator &ports = Ports();
    menu.DeleteAllRows();
    // The count is read before every row, so a list that changes during
    // the rebuild is followed.
    for (int i = 0; i <= ports.SerialPortCount() - 1; ++i) {
        const std::optional<SerialPortInfo> port = ports.SerialPort(i);
        if (!port)
            break; // gone since the count was read: one row per port present
        menu.AddRow(port->Name);
    }
}

void MainWindow::TryResume(int channel)
{
    if (View(1).connect.isDown() || View(2).connect.isDown())
        return;
    bridge_->TryResume(channel);
}

// The rows are made to show the port if they do not yet: a channel that
// holds a port no longer follows the list.
void MainWindow::ShowResumed(int channel, const QString &name)
{
    PopupMenu &menu = View(channel).menu;
    const QScopedValueRollback<bool> byWindow(windowMovesMenus_, true);
    if (menu.findText(name) < 0)
        RebuildRows(menu);
    if (const int row = menu.findText(name); row >= 0)
        menu.SetListIndex(row);
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
        bridge_->UserTakesOver(1); // the user picked another port
    EnableConnectButtons(*menu, {1});
}

void MainWindow::SerialPortsPopupMenu2_Change(PopupMenu *menu)
{
    if (!windowMovesMenus_)
        bridge_->UserTakesOver(2);
    // Channel 2's menu governs both buttons, channel 1's first.
    EnableConnectButtons(*menu, {1, 2});
}

void MainWindow::EnableConnectButtons(PopupMenu &changed, std::initializer_list<int> channels)
{
    // A channel holding a port can always let go of it, whatever the menus show.
    const bool chosen = changed.ListIndex() != -1;
    for (int channel : channels)
        View(channel).connect.SetEnabled(chosen || Own(channel).HoldsPort());
}

} // namespace ui

// Serial ports on other machines, reached through a port server: added
// and removed from the text areas' menus, then rows of both port menus
// after the system's own, for as long as the window is open.

#include "MainWindow.h"

#include <QMenu>

namespace ui {

using namespace platform;

void MainWindow::AddNetworkItems(int, QMenu *menu)
{
    menu->addSeparator();
    menu->addAction(tr("Add &Network Port…"), this, &MainWindow::AddNetworkPort)
        ->setObjectName(QStringLiteral("AddNetworkPortAction"));
    const QList<SerialPortInfo> &added = ports_->Added();
    if (added.isEmpty())
        return;
    QMenu *remove = menu->addMenu(tr("Remo&ve Network Port"));
    remove->setObjectName(QStringLiteral("RemoveNetworkPortMenu"));
    for (const SerialPortInfo &port : added) {
        QAction *row = remove->addAction(port.Name, this, [this, name = port.Name] { RemoveNetworkPort(name); });
        row->setEnabled(!NetworkPortInUse(port.Name)); // a channel on it lets go first
    }
}

void MainWindow::AddNetworkPort()
{
    const std::optional<net::NetworkAddress> address = services_.addresses->Choose(this);
    if (!address || !ports_->Add(*address))
        return; // cancelled, or listed already
    FollowNewPortList();
}

void MainWindow::RemoveNetworkPort(const QString &name)
{
    if (NetworkPortInUse(name))
        return; // taken up since the menu was drawn
    ports_->Remove(name);
    FollowNewPortList();
}

bool MainWindow::NetworkPortInUse(const QString &name) const
{
    return bridge_->PortInUse(name);
}

// Menus that follow the ports take the new list now, as at a plug-in;
// one whose channel holds or is getting a port keeps its rows until then,
// and one whose channel waits keeps the row it shows: adding a port is
// not a choice of it.
void MainWindow::FollowNewPortList()
{
    for (int number : {1, 2})
        if (!Own(number).HoldsPort() && !Own(number).Connecting())
            RefreshPortList(number, Own(number).Waits());
}

} // namespace ui

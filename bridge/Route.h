#pragma once
// Where the relay sends what arrives, and what a channel remembers of a
// lost device while it waits for it.

#include "ports/OsSeam.h"

#include <QDeadlineTimer>
#include <QList>

#include <optional>

namespace bridge {

// Nowhere further, to the other port, or back to the port it came from.
enum class Route { None, Linked, Loopback };

struct Loss {
    platform::SerialPortInfo device;
    // The ports listed when it was lost, itself aside: none of them is the
    // lost device coming back.
    QList<platform::SerialPortInfo> presentAtLoss;
    // What comes back with it: a link only to the very device it was
    // linked with, loopback only on the same device. The user's own choice
    // while waiting takes this back (None).
    Route route = Route::None;
    std::optional<platform::SerialPortInfo> partner;
    // What the linked partner sent meanwhile, which reached nobody, and
    // that partner's path; empty when it was not linked.
    qint64 undelivered = 0;
    QString from;
    // A network port is tried again at intervals that grow.
    int retryMs = 0;
    QDeadlineTimer nextTry;

    // The row of `now` that is the lost device back, if any: the same
    // device, not one that was there at the loss, and not one `heldElsewhere`
    // (the other channel's) says is open already. Ports that were there at
    // the loss and are gone now are forgotten, so that, when they come
    // back, they are no longer told apart from the lost one.
    template <typename HeldElsewhere>
    std::optional<int> Returned(const QList<platform::SerialPortInfo> &now, HeldElsewhere heldElsewhere)
    {
        presentAtLoss.removeIf([&](const platform::SerialPortInfo &p) { return !now.contains(p); });
        for (int row = 0; row < now.size(); ++row) {
            const platform::SerialPortInfo &port = now[row];
            if (port.SameDevice(device) && !presentAtLoss.contains(port) && !heldElsewhere(port))
                return row;
        }
        return std::nullopt;
    }
};

} // namespace bridge

#pragma once
// The system's ports, then the network ports added while the window is
// open, in the order they were added. Nothing of them is kept on disk.

#include "NetworkPort.h"
#include "ports/PortEnumerator.h"

namespace platform::net {

class NetworkPortList : public PortEnumerator {
public:
    explicit NetworkPortList(PortEnumerator &system) : system_(system) {}
    int SerialPortCount() override { return system_.SerialPortCount() + int(added_.size()); }
    std::optional<SerialPortInfo> SerialPort(int index) override;
    void Invalidate() override { system_.Invalidate(); }

    // False when it is there already.
    bool Add(const NetworkAddress &address);
    void Remove(const QString &name);
    const QList<SerialPortInfo> &Added() const { return added_; }

private:
    PortEnumerator &system_;
    QList<SerialPortInfo> added_;
};

} // namespace platform::net

#include "NetworkPortList.h"

namespace platform::net {

namespace {

// Named by its address, opened by it.
SerialPortInfo Row(const NetworkAddress &address)
{
    const QString text = address.Text();
    return SerialPortInfo {text, text};
}

} // namespace

std::optional<SerialPortInfo> NetworkPortList::SerialPort(int index)
{
    const int system = system_.SerialPortCount();
    if (index < system)
        return system_.SerialPort(index);
    if (index - system < added_.size())
        return added_[index - system];
    return std::nullopt;
}

bool NetworkPortList::Add(const NetworkAddress &address)
{
    const SerialPortInfo row = Row(address);
    if (added_.contains(row))
        return false;
    added_.append(row);
    return true;
}

void NetworkPortList::Remove(const QString &name)
{
    added_.removeIf([&](const SerialPortInfo &p) { return p.Name == name; });
}

} // namespace platform::net

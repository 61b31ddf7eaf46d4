#include "PortEnumerator.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace platform {

QString DeviceIdentity(std::optional<quint16> vendor, std::optional<quint16> product, const QString &serial,
                       const QString &location)
{
    if (!(vendor && product) && serial.isEmpty())
        return {};
    const auto hex = [](std::optional<quint16> id) {
        return id ? QStringLiteral("%1").arg(*id, 4, 16, QLatin1Char('0')) : QStringLiteral("-");
    };
    return QStringLiteral("usb:%1:%2:%3@%4").arg(hex(vendor), hex(product), serial, location);
}

std::optional<SerialPortInfo> PortEnumerator::FindByName(const QString &name, int hint)
{
    if (std::optional<SerialPortInfo> at = SerialPort(hint); at && at->Name == name)
        return at;
    for (int i = 0; i < SerialPortCount(); ++i) {
        if (std::optional<SerialPortInfo> port = SerialPort(i); port && port->Name == name)
            return port;
    }
    return std::nullopt;
}

QList<SerialPortInfo> PortEnumerator::All()
{
    QList<SerialPortInfo> all;
    for (int i = 0; i < SerialPortCount(); ++i)
        if (std::optional<SerialPortInfo> port = SerialPort(i))
            all.append(*port);
    return all;
}

std::optional<SerialPortInfo> ListPortEnumerator::SerialPort(int index)
{
    if (index < 0 || index >= ports_.size())
        return std::nullopt;
    return ports_.at(index);
}

SystemPortEnumerator::SystemPortEnumerator(QString devDir, int minRescanMs)
    : devDir_(std::move(devDir)), minRescanMs_(minRescanMs)
{
}

bool SystemPortEnumerator::Stale()
{
    if (scans_ == 0 || invalidated_)
        return true;
    if (sinceScan_.elapsed() < minRescanMs_)
        return false;
    const std::optional<os::FolderStamp> now = os::DeviceFolderStamp(devDir_);
    if (!now || !seen_)
        return sinceScan_.elapsed() >= kUnwatchedRescanMs;
    // A pty going away changes /dev/pts, not the link to it in /dev.
    return *now != *seen_ || !std::all_of(virtualPaths_.cbegin(), virtualPaths_.cend(), os::VirtualPortPresent);
}

const QList<SerialPortInfo> &SystemPortEnumerator::Current()
{
    if (!Stale())
        return ports_;
    seen_ = os::DeviceFolderStamp(devDir_);
    invalidated_ = false;
    ports_.clear();
    virtualPaths_.clear();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const auto id = [](bool has, quint16 value) { return has ? std::optional<quint16>(value) : std::nullopt; };
        const QString usb = os::UsbLocation(info.portName());
        const QString identity = DeviceIdentity(id(info.hasVendorIdentifier(), info.vendorIdentifier()),
                                                id(info.hasProductIdentifier(), info.productIdentifier()),
                                                info.serialNumber(), usb.isEmpty() ? info.systemLocation() : usb);
        ports_.append({info.portName(), info.systemLocation(), identity});
    }
    for (const SerialPortInfo &link : os::ScanVirtualPorts(devDir_)) {
        const bool listed = std::any_of(ports_.cbegin(), ports_.cend(),
                                        [&](const SerialPortInfo &p) { return p.Path == link.Path; });
        if (!listed) {
            ports_.append({link.Name, link.Path, QStringLiteral("link:") + link.Path});
            virtualPaths_.append(link.Path);
        }
    }
    sinceScan_.start();
    ++scans_;
    return ports_;
}

int SystemPortEnumerator::SerialPortCount() { return int(Current().size()); }

std::optional<SerialPortInfo> SystemPortEnumerator::SerialPort(int index)
{
    const QList<SerialPortInfo> &ports = Current();
    if (index < 0 || index >= ports.size())
        return std::nullopt;
    return ports.at(index);
}

} // namespace platform

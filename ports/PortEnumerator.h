#pragma once
// The system's serial ports, by position.

#include <QList>
#include <QString>

#include "OsSeam.h"

#include <QElapsedTimer>

#include <optional>

namespace platform {

// A device's identity from all the system tells of it together: vendor,
// product, serial number and where it is plugged in. Cheap adapters share
// factory serial numbers, so no one of them alone tells two apart. Empty
// when the system tells neither vendor and product nor a serial number.
QString DeviceIdentity(std::optional<quint16> vendor, std::optional<quint16> product, const QString &serial,
                       const QString &location);

class PortEnumerator {
public:
    virtual ~PortEnumerator() = default;
    virtual int SerialPortCount() = 0;
    // The port at that position of the current list; none past its end.
    virtual std::optional<SerialPortInfo> SerialPort(int index) = 0;
    // The port a menu row shows now: by name in the current list, the one
    // at `hint` first. None when no port of that name is present.
    std::optional<SerialPortInfo> FindByName(const QString &name, int hint);
    // The whole list as it stands now.
    QList<SerialPortInfo> All();
    // The system said its devices changed: the next read looks afresh.
    virtual void Invalidate() {}
};

// A fixed list, replaced at will: for tests and benchmarks.
class ListPortEnumerator : public PortEnumerator {
public:
    ListPortEnumerator() = default;
    explicit ListPortEnumerator(QList<SerialPortInfo> ports) : ports_(std::move(ports)) {}
    void SetPorts(QList<SerialPortInfo> ports) { ports_ = std::move(ports); }
    int SerialPortCount() override { return int(ports_.size()); }
    std::optional<SerialPortInfo> SerialPort(int index) override;

private:
    QList<SerialPortInfo> ports_;
};

// The system's list as Qt sees it, then the virtual ports in /dev. A full
// scan costs milliseconds, so the list is kept and scanned again only when
// /dev has changed or a virtual port's target has gone, and never more
// often than `minRescanMs` (a rebuild reads the list once per row). Where
// the system offers no cheap change check, the list is scanned again at
// most every kUnwatchedRescanMs.
class SystemPortEnumerator : public PortEnumerator {
public:
    static constexpr int kMinRescanMs = 50;
    static constexpr int kUnwatchedRescanMs = 400;

    explicit SystemPortEnumerator(QString devDir = QStringLiteral("/dev"), int minRescanMs = kMinRescanMs);
    int SerialPortCount() override;
    std::optional<SerialPortInfo> SerialPort(int index) override;
    void Invalidate() override { invalidated_ = true; }
    int ScanCount() const { return scans_; }

private:
    bool Stale();
    const QList<SerialPortInfo> &Current();
    QString devDir_;
    int minRescanMs_;
    QList<SerialPortInfo> ports_;
    QList<QString> virtualPaths_;
    std::optional<os::FolderStamp> seen_;
    QElapsedTimer sinceScan_;
    int scans_ = 0;
    bool invalidated_ = false;
};

} // namespace platform

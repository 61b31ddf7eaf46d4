#pragma once
// Everything that differs between POSIX systems and Windows, in one place:
// telling a lost device from a passing error, finding virtual ports, and
// noticing that the device folder changed.

#include <QList>
#include <QSerialPort>
#include <QString>

#include <optional>

namespace platform {

struct SerialPortInfo {
    QString Name; // what the menu shows
    QString Path; // what is opened
    bool operator==(const SerialPortInfo &) const = default;
};

} // namespace platform

namespace platform::os {

// Whether an open port's device is gone (unplugged, hung up), as opposed
// to a passing condition that Qt reports with the same error code.
bool DeviceLost(const QSerialPort &port, QSerialPort::SerialPortError error);

// Links in `dir` to pseudo-terminals (/dev/pts/<n>), sorted by name: the
// virtual serial ports people make with socat. Empty where there are none.
QList<SerialPortInfo> ScanVirtualPorts(const QString &dir);
// Whether a virtual port's target still exists.
bool VirtualPortPresent(const QString &path);

// Changes whenever an entry of `dir` is added or removed; none where the
// system cannot tell cheaply.
struct FolderStamp {
    qint64 modified[2] {};
    qint64 changed[2] {};
    bool operator==(const FolderStamp &) const = default;
};
std::optional<FolderStamp> DeviceFolderStamp(const QString &dir);

// Whether the open file `fd` is still the file `path` names: false once
// it was removed, or another file put in its place.
bool SameFile(int fd, const QString &path);

// A process, as the system names it.
struct Process {
    qint64 pid = 0;
    QString name;
};
// The live process that holds the lock file of the serial device at
// `path`, as serial ports are locked here (LCK..<name>); none if unlocked.
std::optional<Process> LockHolder(const QString &path);
// Other processes that have the device at `path` open, where the system
// tells (on Linux, /proc/*/fd).
QList<Process> OtherOpeners(const QString &path);

} // namespace platform::os

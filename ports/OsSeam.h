#pragma once
// Everything that differs between POSIX systems and Windows, in one place:
// telling a lost device from a passing error, finding virtual ports, and
// noticing that the device folder changed.

#include "LineSettings.h"
#include "ModemLines.h"

#include <QList>
#include <QSerialPort>
#include <QString>

#include <optional>
#include <utility>

namespace platform {

struct SerialPortInfo {
    QString Name; // what the menu shows
    QString Path; // what is opened
    // Which device it is: everything the system tells of it together
    // (DeviceIdentity), or a virtual port's link; empty where it tells
    // nothing.
    QString Identity {};
    bool operator==(const SerialPortInfo &) const = default;
    // The same device, plugged in again: by the whole identity where there
    // is one, else by path.
    bool SameDevice(const SerialPortInfo &other) const
    {
        return Identity.isEmpty() && other.Identity.isEmpty() ? Path == other.Path : Identity == other.Identity;
    }
};

} // namespace platform

namespace platform::os {

// A port's system handle: a file descriptor, or a Windows HANDLE.
using PortHandle = decltype(std::declval<QSerialPort>().handle());

// Whether an open port's device is gone (unplugged, hung up), as opposed
// to a passing condition that Qt reports with the same error code.
bool DeviceLost(const QSerialPort &port, QSerialPort::SerialPortError error);

// Links in `dir` to pseudo-terminals (/dev/pts/<n>), sorted by name: the
// virtual serial ports people make with socat. Empty where there are none.
QList<SerialPortInfo> ScanVirtualPorts(const QString &dir);
// Whether a virtual port's target still exists.
bool VirtualPortPresent(const QString &path);
// Where on the USB tree the port's device is plugged in ("1-1.2": bus 1,
// port 1, then port 2 of a hub); empty for a device not on USB, or where
// the system does not tell.
QString UsbLocation(const QString &portName);

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

// Asks the serial driver to pass received bytes on at once (Linux's
// low-latency flag); false where it refuses or has no such flag.
bool RequestLowLatency(PortHandle handle);

// A connected socket's descriptor as a relay reads and writes it; none
// where a socket is not a file descriptor.
std::optional<PortHandle> SocketAsPort(qintptr descriptor);

// The line settings the open device really has, where the system tells;
// a driver may keep some of its own (a pty: always 8 bits, no parity).
std::optional<LineSettings> DeviceLine(PortHandle handle);
// Bytes the serial driver has dropped since the port opened (its overrun
// counts); none where the driver keeps no count (a pty drops nothing).
std::optional<qint64> DriverOverruns(PortHandle handle);

// Software flow control pauses and resumes on ^S and ^Q: set them, as a
// device opened with its control characters cleared lacks them.
void SetFlowCharacters(PortHandle handle);

// The modem lines of an open device, read at once; none where it has none
// (a pty says so).
struct ModemLineStates {
    ModemInputs inputs;
    ModemOutputs outputs;
};
std::optional<ModemLineStates> ReadModemLines(PortHandle handle);
// Both outputs in one call where the system allows it, so that they
// change together; false where the device refused.
bool WriteModemOutputs(PortHandle handle, const ModemOutputs &lines);
// The driver's counts of input transitions; none where it keeps none.
std::optional<InputCounts> ReadInputCounts(PortHandle handle);
// Waits until an input changes, for a watcher of its own thread. A signal
// (or, on Windows, a tenth of a second) ends it early; Unsupported at once
// where the system cannot wait so, and when the device is gone.
enum class InputWait { Changed, Interrupted, Unsupported };
InputWait WaitInputChange(PortHandle handle);
// The line held in break, or let go.
bool SetBreak(PortHandle handle, bool on);
// Breaks and bytes in error reach the reader marked (PARMRK: FF 00 00 and
// FF 00 b, a data FF doubled; see MarkedBytes) rather than as a plain 0x00
// or not at all; false where the system cannot. Serial settings written
// afterwards may clear it: it is set again after each.
bool MarkLineErrors(PortHandle handle);

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

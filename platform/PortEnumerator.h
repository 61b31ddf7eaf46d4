#pragma once
// The system's serial ports, by position.

#include <QList>
#include <QString>

#include <optional>
#include <sys/types.h>
#include <ctime>

namespace platform {

struct SerialPortInfo {
    QString Name; // what the menu shows
    QString Path; // what is opened
    bool operator==(const SerialPortInfo &) const = default;
};

class PortEnumerator {
public:
    virtual ~PortEnumerator() = default;
    virtual int SerialPortCount() = 0;
    // The port at that position of the current list; none past its end.
    virtual std::optional<SerialPortInfo> SerialPort(int index) = 0;
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

// Links in `dir` whose target is a pseudo-terminal, sorted by name: the
// virtual serial ports people make with socat.
QList<SerialPortInfo> ScanPtyLinks(const QString &dir);

// The system's list as Qt sees it, then the virtual ports in /dev. A full
// scan costs tens of milliseconds, so the list is kept and scanned again
// only when /dev itself has changed since.
class SystemPortEnumerator : public PortEnumerator {
public:
    explicit SystemPortEnumerator(QString devDir = QStringLiteral("/dev"));
    int SerialPortCount() override;
    std::optional<SerialPortInfo> SerialPort(int index) override;
    int ScanCount() const { return scans_; }

private:
    const QList<SerialPortInfo> &Current();
    QString devDir_;
    QList<SerialPortInfo> ports_;
    std::optional<std::pair<timespec, timespec>> seen_; // mtime, ctime of devDir_
    int scans_ = 0;
};

} // namespace platform

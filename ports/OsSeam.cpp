#include "OsSeam.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include <windows.h>

// Windows reports a removed device as a resource error of its own and has
// no pseudo-terminals.
namespace platform::os {

bool DeviceLost(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    return !port.isOpen() || error == QSerialPort::ResourceError;
}

QList<SerialPortInfo> ScanVirtualPorts(const QString &) { return {}; }
bool VirtualPortPresent(const QString &) { return false; }
QString UsbLocation(const QString &) { return {}; }
std::optional<FolderStamp> DeviceFolderStamp(const QString &) { return std::nullopt; }
// An open file cannot be removed there; only its name can be missing.
bool SameFile(int, const QString &path) { return QFileInfo::exists(path); }
bool RequestLowLatency(PortHandle) { return false; }
std::optional<PortHandle> SocketAsPort(qintptr) { return std::nullopt; }
std::optional<LineSettings> DeviceLine(PortHandle) { return std::nullopt; }
std::optional<qint64> DriverOverruns(PortHandle) { return std::nullopt; }
void SetFlowCharacters(PortHandle) {}
std::optional<Process> LockHolder(const QString &) { return std::nullopt; }
QList<Process> OtherOpeners(const QString &) { return {}; }

std::optional<ModemLineStates> ReadModemLines(PortHandle handle)
{
    DWORD status = 0;
    if (!::GetCommModemStatus(handle, &status))
        return std::nullopt;
    ModemLineStates lines;
    lines.inputs = {(status & MS_CTS_ON) != 0, (status & MS_DSR_ON) != 0, (status & MS_RLSD_ON) != 0,
                    (status & MS_RING_ON) != 0};
    // Windows does not tell the outputs back: what was last set stands.
    return lines;
}

// Two calls: Windows has no way to set both lines at once.
bool WriteModemOutputs(PortHandle handle, const ModemOutputs &lines)
{
    return ::EscapeCommFunction(handle, lines.dtr ? SETDTR : CLRDTR) &&
           ::EscapeCommFunction(handle, lines.rts ? SETRTS : CLRRTS);
}

std::optional<InputCounts> ReadInputCounts(PortHandle) { return std::nullopt; }

InputWait WaitInputChange(PortHandle handle)
{
    DWORD mask = 0;
    if (!::GetCommMask(handle, &mask) ||
        !::SetCommMask(handle, mask | EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR))
        return InputWait::Unsupported;
    OVERLAPPED overlapped {};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent)
        return InputWait::Unsupported;
    // At most a tenth of a second, so that the watcher can be stopped.
    DWORD events = 0, unused = 0;
    bool changed = ::WaitCommEvent(handle, &events, &overlapped) != 0;
    if (!changed && ::GetLastError() == ERROR_IO_PENDING) {
        changed = ::WaitForSingleObject(overlapped.hEvent, 100) == WAIT_OBJECT_0 &&
                  ::GetOverlappedResult(handle, &overlapped, &unused, FALSE);
        if (!changed) {
            ::CancelIoEx(handle, &overlapped);
            ::GetOverlappedResult(handle, &overlapped, &unused, TRUE);
        }
    }
    ::CloseHandle(overlapped.hEvent);
    return changed ? InputWait::Changed : InputWait::Interrupted;
}

bool SetBreak(PortHandle handle, bool on) { return on ? ::SetCommBreak(handle) : ::ClearCommBreak(handle); }
// Windows tells of breaks and errors through ClearCommError, not in the bytes.
bool MarkLineErrors(PortHandle) { return false; }

} // namespace platform::os

#else
#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif
#include <sys/stat.h>

namespace platform::os {

bool DeviceLost(const QSerialPort &port, QSerialPort::SerialPortError)
{
    if (!port.isOpen())
        return true;
    pollfd p {int(port.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

namespace {

bool IsCharDevice(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

} // namespace

QList<SerialPortInfo> ScanVirtualPorts(const QString &dir)
{
    // Only numbered terminals: /dev/ptmx -> pts/ptmx, as container and
    // sandbox layouts have it, is the multiplexer, not a port.
    static const QRegularExpression kPty(QStringLiteral("^/dev/pts/[0-9]+$"));
    QList<SerialPortInfo> found;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (!entry.isSymLink())
            continue;
        const QString target = entry.canonicalFilePath(); // empty when dangling
        if (kPty.match(target).hasMatch() && IsCharDevice(target))
            found.append({entry.fileName(), entry.absoluteFilePath()});
    }
    return found;
}

bool VirtualPortPresent(const QString &path) { return IsCharDevice(path); }

QString UsbLocation(const QString &portName)
{
    // /sys/class/tty/ttyUSB0/device leads into the USB tree, e.g.
    // .../usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0; the last "bus-port[.port]" is
    // the socket the device sits in.
    static const QRegularExpression kUsbPort(QStringLiteral("^[0-9]+-[0-9]+(\\.[0-9]+)*$"));
    const QString device = QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(portName)).canonicalFilePath();
    const QStringList parts = device.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (auto part = parts.crbegin(); part != parts.crend(); ++part)
        if (kUsbPort.match(*part).hasMatch())
            return *part;
    return {};
}

std::optional<FolderStamp> DeviceFolderStamp(const QString &dir)
{
    struct stat st {};
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0)
        return std::nullopt;
#ifdef Q_OS_MACOS
    return FolderStamp {{st.st_mtimespec.tv_sec, st.st_mtimespec.tv_nsec}, {st.st_ctimespec.tv_sec, st.st_ctimespec.tv_nsec}};
#else
    return FolderStamp {{st.st_mtim.tv_sec, st.st_mtim.tv_nsec}, {st.st_ctim.tv_sec, st.st_ctim.tv_nsec}};
#endif
}

namespace {

QString ProcessName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
}

} // namespace

std::optional<Process> LockHolder(const QString &path)
{
    // Locks are named after the device's name below /dev, '/' as '_'.
    QString name = path.startsWith(QStringLiteral("/dev/")) ? path.mid(5) : QFileInfo(path).fileName();
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *dir : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                            "/var/tmp"}) {
        QFile lock(QString::fromLatin1(dir) + QStringLiteral("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const qint64 pid = lock.readLine().trimmed().toLongLong();
        if (pid > 0 && ::kill(pid_t(pid), 0) == 0)
            return Process {pid, ProcessName(pid)};
    }
    return std::nullopt;
}

// The process that holds a pseudo-terminal's master end is the device
// itself (socat keeps the other end open too), not a second reader.
bool HoldsMasterOf(const QDir &process, const QFileInfoList &fds, const QString &ptyNumber)
{
    for (const QFileInfo &fd : fds) {
        if (!fd.symLinkTarget().endsWith(QStringLiteral("ptmx")))
            continue;
        QFile info(process.filePath(QStringLiteral("fdinfo/") + fd.fileName()));
        if (info.open(QIODevice::ReadOnly) && info.readAll().contains("tty-index:\t" + ptyNumber.toLatin1() + '\n'))
            return true;
    }
    return false;
}

QList<Process> OtherOpeners(const QString &path)
{
    const QString device = QFileInfo(path).canonicalFilePath();
    QList<Process> found;
    if (device.isEmpty())
        return found;
    static const QRegularExpression kPty(QStringLiteral("^/dev/pts/([0-9]+)$"));
    const QString ptyNumber = kPty.match(device).captured(1);
    const qint64 self = QCoreApplication::applicationPid();
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == self)
            continue;
        const QDir process(proc.filePath(entry));
        const QFileInfoList fds = QDir(process.filePath(QStringLiteral("fd"))).entryInfoList(QDir::System | QDir::NoDotAndDotDot);
        const bool opens = std::any_of(fds.begin(), fds.end(), [&](const QFileInfo &fd) { return fd.symLinkTarget() == device; });
        if (opens && (ptyNumber.isEmpty() || !HoldsMasterOf(process, fds, ptyNumber)))
            found.append({pid, ProcessName(pid)});
    }
    return found;
}

std::optional<PortHandle> SocketAsPort(qintptr descriptor)
{
    return descriptor >= 0 ? std::optional(PortHandle(descriptor)) : std::nullopt;
}

bool RequestLowLatency(PortHandle handle)
{
#ifdef Q_OS_LINUX
    serial_struct serial {};
    if (::ioctl(handle, TIOCGSERIAL, &serial) != 0)
        return false; // a pty, or a driver without the flag
    serial.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(handle, TIOCSSERIAL, &serial) == 0;
#else
    (void)handle;
    return false;
#endif
}

std::optional<LineSettings> DeviceLine(PortHandle handle)
{
    termios t {};
    if (::tcgetattr(handle, &t) != 0)
        return std::nullopt;
    LineSettings line;
    line.baud = 0;
#ifdef Q_OS_LINUX
    // The speed as a number, custom rates too (termios2).
    struct {
        tcflag_t iflag, oflag, cflag, lflag;
        cc_t line;
        cc_t cc[19];
        speed_t ispeed, ospeed;
    } t2 {};
    if (::ioctl(handle, _IOR('T', 0x2A, decltype(t2)), &t2) == 0) // TCGETS2
        line.baud = qint32(t2.ospeed);
#endif
    static const std::pair<speed_t, qint32> kSpeeds[] = {
        {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300}, {B600, 600},
        {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    for (const auto &[code, rate] : kSpeeds)
        if (line.baud == 0 && ::cfgetospeed(&t) == code)
            line.baud = rate;
    switch (t.c_cflag & CSIZE) {
    case CS5: line.dataBits = QSerialPort::Data5; break;
    case CS6: line.dataBits = QSerialPort::Data6; break;
    case CS7: line.dataBits = QSerialPort::Data7; break;
    default: line.dataBits = QSerialPort::Data8; break;
    }
    const bool odd = t.c_cflag & PARODD;
#ifdef CMSPAR
    if ((t.c_cflag & PARENB) && (t.c_cflag & CMSPAR))
        line.parity = odd ? QSerialPort::MarkParity : QSerialPort::SpaceParity;
    else
#endif
        line.parity = !(t.c_cflag & PARENB) ? QSerialPort::NoParity : odd ? QSerialPort::OddParity : QSerialPort::EvenParity;
    line.stopBits = (t.c_cflag & CSTOPB) ? QSerialPort::TwoStop : QSerialPort::OneStop;
    line.flow = (t.c_cflag & CRTSCTS) ? QSerialPort::HardwareControl
                : (t.c_iflag & IXON)  ? QSerialPort::SoftwareControl
                                      : QSerialPort::NoFlowControl;
    return line;
}

std::optional<qint64> DriverOverruns(PortHandle handle)
{
#ifdef Q_OS_LINUX
    serial_icounter_struct counts {};
    if (::ioctl(handle, TIOCGICOUNT, &counts) == 0)
        return qint64(counts.overrun) + qint64(counts.buf_overrun);
#else
    (void)handle;
#endif
    return std::nullopt;
}

void SetFlowCharacters(PortHandle handle)
{
    termios t {};
    if (::tcgetattr(handle, &t) != 0)
        return;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    ::tcsetattr(handle, TCSANOW, &t);
}

std::optional<ModemLineStates> ReadModemLines(PortHandle handle)
{
    int bits = 0;
    if (::ioctl(handle, TIOCMGET, &bits) != 0)
        return std::nullopt;
    ModemLineStates lines;
    lines.inputs = {(bits & TIOCM_CTS) != 0, (bits & TIOCM_DSR) != 0, (bits & TIOCM_CAR) != 0, (bits & TIOCM_RNG) != 0};
    lines.outputs = {(bits & TIOCM_RTS) != 0, (bits & TIOCM_DTR) != 0};
    return lines;
}

// One TIOCMSET: both lines change in the same driver call.
bool WriteModemOutputs(PortHandle handle, const ModemOutputs &lines)
{
    int bits = 0;
    if (::ioctl(handle, TIOCMGET, &bits) != 0)
        return false;
    bits = (bits & ~(TIOCM_RTS | TIOCM_DTR)) | (lines.rts ? TIOCM_RTS : 0) | (lines.dtr ? TIOCM_DTR : 0);
    return ::ioctl(handle, TIOCMSET, &bits) == 0;
}

std::optional<InputCounts> ReadInputCounts(PortHandle handle)
{
#ifdef Q_OS_LINUX
    serial_icounter_struct counts {};
    if (::ioctl(handle, TIOCGICOUNT, &counts) == 0)
        return InputCounts {std::uint32_t(counts.cts), std::uint32_t(counts.dsr), std::uint32_t(counts.dcd),
                            std::uint32_t(counts.rng)};
#else
    (void)handle;
#endif
    return std::nullopt;
}

InputWait WaitInputChange(PortHandle handle)
{
#ifdef Q_OS_LINUX
    if (::ioctl(handle, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG) == 0)
        return InputWait::Changed;
    return errno == EINTR ? InputWait::Interrupted : InputWait::Unsupported;
#else
    (void)handle;
    return InputWait::Unsupported;
#endif
}

bool SetBreak(PortHandle handle, bool on) { return ::ioctl(handle, on ? TIOCSBRK : TIOCCBRK) == 0; }

bool MarkLineErrors(PortHandle handle)
{
    termios t {};
    if (::tcgetattr(handle, &t) != 0)
        return false;
    // INPCK too: without it a byte in error comes unmarked.
    t.c_iflag |= PARMRK | INPCK;
    t.c_iflag &= ~tcflag_t(IGNPAR | IGNBRK | BRKINT | ISTRIP);
    return ::tcsetattr(handle, TCSANOW, &t) == 0;
}

bool SameFile(int fd, const QString &path)
{
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

} // namespace platform::os
#endif

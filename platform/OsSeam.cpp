#include "OsSeam.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_WIN
// Windows reports a removed device as a resource error of its own and has
// no pseudo-terminals.
namespace platform::os {

bool DeviceLost(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    return !port.isOpen() || error == QSerialPort::ResourceError;
}

QList<SerialPortInfo> ScanVirtualPorts(const QString &) { return {}; }
bool VirtualPortPresent(const QString &) { return false; }
std::optional<FolderStamp> DeviceFolderStamp(const QString &) { return std::nullopt; }
// An open file cannot be removed there; only its name can be missing.
bool SameFile(int, const QString &path) { return QFileInfo::exists(path); }

} // namespace platform::os

#else
#include <poll.h>
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

bool SameFile(int fd, const QString &path)
{
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

} // namespace platform::os
#endif

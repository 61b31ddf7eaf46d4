#include "PortEnumerator.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <sys/stat.h>

namespace platform {

std::optional<SerialPortInfo> ListPortEnumerator::SerialPort(int index)
{
    if (index < 0 || index >= ports_.size())
        return std::nullopt;
    return ports_.at(index);
}

QList<SerialPortInfo> ScanPtyLinks(const QString &dir)
{
    static const QString kPtyDir = QStringLiteral("/dev/pts/");
    QList<SerialPortInfo> found;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (!entry.isSymLink())
            continue;
        const QString target = entry.canonicalFilePath(); // empty when dangling
        if (!target.startsWith(kPtyDir))
            continue;
        struct stat st {};
        if (::stat(QFile::encodeName(target).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
            continue;
        found.append({entry.fileName(), entry.absoluteFilePath()});
    }
    return found;
}

SystemPortEnumerator::SystemPortEnumerator(QString devDir) : devDir_(std::move(devDir)) {}

const QList<SerialPortInfo> &SystemPortEnumerator::Current()
{
    struct stat st {};
    std::optional<std::pair<timespec, timespec>> now;
    if (::stat(QFile::encodeName(devDir_).constData(), &st) == 0)
        now = std::pair{st.st_mtim, st.st_ctim};
    auto same = [](const timespec &a, const timespec &b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    const bool unchanged = scans_ > 0 && now && seen_ && same(now->first, seen_->first) && same(now->second, seen_->second);
    if (unchanged)
        return ports_;

    ports_.clear();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports_.append({info.portName(), info.systemLocation()});
    for (const SerialPortInfo &link : ScanPtyLinks(devDir_)) {
        const bool listed = std::any_of(ports_.cbegin(), ports_.cend(),
                                        [&](const SerialPortInfo &p) { return p.Path == link.Path; });
        if (!listed)
            ports_.append(link);
    }
    seen_ = now;
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

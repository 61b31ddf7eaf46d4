#include "DeviceWatch.h"

#include <QDir>

namespace platform {

QStringList FolderDeviceWatch::DeviceFolders()
{
    return {QStringLiteral("/dev"), QStringLiteral("/dev/pts"), QStringLiteral("/dev/serial/by-id")};
}

FolderDeviceWatch::FolderDeviceWatch(const QStringList &folders, QObject *parent) : DeviceWatch(parent)
{
    for (const QString &dir : folders)
        if (QDir(dir).exists())
            watcher_.addPath(dir);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &DeviceWatch::Changed);
}

} // namespace platform

#include "DeviceWatch.h"

#include <QDir>

namespace platform {

FolderDeviceWatch::FolderDeviceWatch(QObject *parent) : DeviceWatch(parent)
{
    for (const char *dir : {"/dev", "/dev/pts", "/dev/serial/by-id"})
        if (QDir(QString::fromLatin1(dir)).exists())
            watcher_.addPath(QString::fromLatin1(dir));
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &DeviceWatch::Changed);
}

} // namespace platform

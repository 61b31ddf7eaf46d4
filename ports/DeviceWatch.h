#pragma once
// Says when the system's devices may have changed, so that a channel
// waiting for its device looks at once rather than at its next tick.

#include <QFileSystemWatcher>
#include <QObject>

namespace platform {

class DeviceWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // What the system's notice does; tests announce changes by hand.
    void Announce() { emit Changed(); }

signals:
    void Changed();
};

// Watches the folders device nodes appear in (/dev, /dev/pts,
// /dev/serial/by-id). Where none can be watched nothing is said, and the
// port lists' ticks are all there is.
class FolderDeviceWatch : public DeviceWatch {
    Q_OBJECT
public:
    static QStringList DeviceFolders();
    explicit FolderDeviceWatch(const QStringList &folders = DeviceFolders(), QObject *parent = nullptr);

private:
    QFileSystemWatcher watcher_;
};

} // namespace platform

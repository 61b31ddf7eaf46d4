#include "FileChecks.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>

namespace platform {

QString NotARegularFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    return QObject::tr("%1 is not a regular file (it is a device, pipe, socket or folder). Choose a file name.")
        .arg(QDir::toNativeSeparators(path));
}

QString FailureReason(const QFileDevice &file, int code)
{
    const QString path = QDir::toNativeSeparators(file.fileName());
    const QString folder = QDir::toNativeSeparators(QFileInfo(file.fileName()).absolutePath());
    if (!QFileInfo(file.fileName()).absoluteDir().exists())
        return QObject::tr("%1 cannot be written: the folder %2 does not exist.").arg(path, folder);
    QString reason = file.errorString();
    if (code != 0 && (reason.isEmpty() || reason == QStringLiteral("Unknown error")))
        reason = qt_error_string(code);
    // Which file it was, whatever the system's words.
    return reason.contains(path) ? reason : QStringLiteral("%1: %2").arg(path, reason);
}

} // namespace platform

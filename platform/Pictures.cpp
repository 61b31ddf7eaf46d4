#include "Pictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace platform {

QStringList PictureFolders()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    return {exeDir, QDir::cleanPath(exeDir + QStringLiteral("/../share/vardelolink")),
            QDir::cleanPath(exeDir + QStringLiteral("/../Resources"))}; // macOS bundle
}

QPixmap OpenShippedPicture(const QStringList &names)
{
    for (const QString &folder : PictureFolders()) {
        for (const QString &name : names) {
            const QString path = QDir(folder).filePath(name);
            if (QFileInfo::exists(path)) {
                QPixmap picture(path);
                if (!picture.isNull())
                    return picture;
            }
        }
    }
    return {};
}

} // namespace platform

#pragma once

#include <QPixmap>
#include <QStringList>

namespace platform {

// Folders searched for pictures shipped with the program: beside the
// executable, then the installed share folder.
QStringList PictureFolders();

// Opens the first of `names` found in PictureFolders(); a null picture
// when none is there.
QPixmap OpenShippedPicture(const QStringList &names);

} // namespace platform

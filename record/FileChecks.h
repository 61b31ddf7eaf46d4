#pragma once
// What a file the program writes may be, and why writing it failed.

#include <QFileDevice>
#include <QString>

namespace platform {

// Files are written only where a regular file is or may be made: the
// sentence saying why `path` is refused (a device, pipe, socket or
// folder), or empty.
QString NotARegularFile(const QString &path);

// Why an operation on `file` failed, naming the file: a missing folder,
// or the system's reason (errno `code`) where Qt's text says nothing more
// than "Unknown error".
QString FailureReason(const QFileDevice &file, int code);

} // namespace platform

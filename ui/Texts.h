#pragma once
// The window's fixed texts. Captions double as state (a channel is
// connected exactly when its button reads "Disconnect"), so every test of
// state compares against these.

#include <QString>

namespace ui::texts {

inline const QString kConnect = QStringLiteral("Connect");
inline const QString kDisconnect = QStringLiteral("Disconnect");
inline const QString kLink = QStringLiteral("Link");
inline const QString kUnlink = QStringLiteral("Unlink");
inline const QString kCouldNotOpen = QStringLiteral("The selected serial port could not be opened.");
inline const QString kSerialError = QStringLiteral("A serial port error occurred.");
inline const QString kSaveFailed = QStringLiteral("The received bytes could not be saved.");
inline const QString kRecordingFailed = QStringLiteral("The recording could not go on.");
inline const QString kRecordingNotStarted = QStringLiteral("The recording could not be started.");

} // namespace ui::texts

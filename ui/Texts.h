#pragma once
// The window's fixed texts. Captions double as state (a channel is
// connected exactly when its button reads "Disconnect"), so every test of
// state compares against these.

#include "bridge/Texts.h"

#include <QString>

namespace ui::texts {

// The bridge's own, said by the window too.
using namespace bridge::texts;

inline const QString kConnect = QStringLiteral("Connect");
inline const QString kDisconnect = QStringLiteral("Disconnect");
inline const QString kLink = QStringLiteral("Link");
inline const QString kUnlink = QStringLiteral("Unlink");
inline const QString kSaveFailed = QStringLiteral("The received bytes could not be saved.");
inline const QString kRecordingFailed = QStringLiteral("The recording could not go on.");
inline const QString kRecordingNotStarted = QStringLiteral("The recording could not be started.");
inline const QString kRecordExists = QStringLiteral("%1 already exists.");
inline const QString kRecordExistsDetail = QStringLiteral("Add the new record at its end, or replace what it holds?");
inline const QString kCaptureExistsDetail = QStringLiteral("A capture is not added to: replace what it holds?");
inline const QString kAppend = QStringLiteral("Append");
inline const QString kReplace = QStringLiteral("Replace");
inline const QString kCancel = QStringLiteral("Cancel");
inline const QString kCopy = QStringLiteral("Copy");
inline const QString kConnectingTo = QStringLiteral("connecting to %1,\nat most %2 s");
inline const QString kWaitingFor = QStringLiteral("waiting for %1");
inline const QString kWaitingUndelivered = QStringLiteral("waiting for %1,\n%2 bytes not delivered");
inline const QString kKeepsFailing = QStringLiteral("%1 keeps failing right after it opens; it is no longer waited for.");
inline const QString kLargeCopy = QStringLiteral("Copy %1 MiB of text to the clipboard?");
inline const QString kLargeCopyDetail = QStringLiteral("A copy this large takes a few seconds and much memory.");
inline const QString kPassLines = QStringLiteral("&Pass Lines Across the Link (%1)");
inline const QString kLineMapping = QStringLiteral("Line &Mapping");
inline const QString kNoLines = QStringLiteral("no modem lines");
inline const QString kLinesCross = QStringLiteral("Lines cross the link: %1");
inline const QString kLinesStay = QStringLiteral("Lines do not cross the link");
inline const QString kBreaks = QStringLiteral("breaks: %1");
inline const QString kLineErrors = QStringLiteral("errors: %1");
inline const QString kOverruns = QStringLiteral("overruns: %1");

} // namespace ui::texts

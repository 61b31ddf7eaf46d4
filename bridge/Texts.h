#pragma once
// What the bridge says of itself, in its boxes, notices and record.

#include <QString>

namespace bridge::texts {

inline const QString kCouldNotOpen = QStringLiteral("The selected serial port could not be opened.");
inline const QString kSerialError = QStringLiteral("A serial port error occurred.");
inline const QString kLineNotSet = QStringLiteral("The line settings could not be changed.");
inline const QString kFasterThanOnward = QStringLiteral("Channel %1 receives faster than channel %2 can send on.");
inline const QString kMayLoseBytes = QStringLiteral("Its line has no flow control, so its device cannot be held back: "
                                                    "what it sends meanwhile may be lost by the driver (%1 bytes so far).");
inline const QString kLineAtServer = QStringLiteral("line as the server sets it");
// What a port server made of the line asked of it.
inline const QString kLineAsked = QStringLiteral("%1, asked");
inline const QString kLineConfirmed = QStringLiteral("%1, confirmed");
inline const QString kLineNotConfirmed = QStringLiteral("%1 not confirmed");
inline const QString kKeepsFailing = QStringLiteral("%1 keeps failing right after it opens; it is no longer waited for.");
inline const QString kAlsoOpen = QStringLiteral("Another program also has %1 open.");
inline const QString kBreakReceived = QStringLiteral("break received");
inline const QString kFramingError = QStringLiteral("framing error");
inline const QString kParityError = QStringLiteral("parity error");
inline const QString kByteError = QStringLiteral("byte received in error");
inline const QString kOverrun = QStringLiteral("overrun: bytes lost before the port could take them");

} // namespace bridge::texts

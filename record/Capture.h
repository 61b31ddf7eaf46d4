#pragma once
// The blocks of a pcapng capture, as Wireshark reads it: a section header,
// one interface per channel and port, and one packet per received frame.
// Each block is whole on its own, so a capture cut short is readable up
// to its last complete block.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace ui::capture {

// Wireshark's first user link type: decoded by whatever protocol the
// user assigns to it (Modbus RTU, DNP3).
constexpr quint16 kLinkTypeUser0 = 147;
// The window's events, as packets of their text on an interface of their own.
constexpr quint16 kLinkTypeUser1 = 148;

QByteArray SectionHeader(const QString &application, const QString &comment);
QByteArray Interface(quint16 linkType, const QString &name, const QString &description);
// A frame as received on interface `id`, stamped in microseconds since the epoch.
QByteArray Packet(quint32 id, qint64 wallUs, QByteArrayView bytes, bool inbound, const QString &comment = {});

} // namespace ui::capture

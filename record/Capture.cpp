#include "Capture.h"

#include <QtEndian>

namespace ui::capture {

namespace {

constexpr quint32 kSectionHeaderType = 0x0A0D0D0A;
constexpr quint32 kInterfaceType = 1;
constexpr quint32 kEnhancedPacketType = 6;
constexpr quint32 kByteOrderMagic = 0x1A2B3C4D;
constexpr quint16 kOptEnd = 0;
constexpr quint16 kOptComment = 1;
constexpr quint16 kShbUserAppl = 4;
constexpr quint16 kIfName = 2;
constexpr quint16 kIfDescription = 3;
constexpr quint16 kIfTsResol = 9;
constexpr quint16 kEpbFlags = 2;
constexpr quint32 kInbound = 1; // direction bits of epb_flags

// Little-endian throughout: the section header's magic tells readers so.
template <typename T>
void Put(QByteArray &out, T value)
{
    const T le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), sizeof le);
}

void Pad(QByteArray &out)
{
    out.append((4 - out.size() % 4) % 4, '\0');
}

void Option(QByteArray &out, quint16 code, QByteArrayView value)
{
    if (value.isEmpty())
        return;
    Put(out, code);
    Put(out, quint16(std::min<qsizetype>(value.size(), 0xFFFF)));
    out.append(value.first(std::min<qsizetype>(value.size(), 0xFFFF)));
    Pad(out);
}

// type, total length, body (padded), options' end, total length again.
QByteArray Block(quint32 type, const QByteArray &body, bool hasOptions)
{
    QByteArray block;
    const qsizetype length = 12 + body.size() + (hasOptions ? 4 : 0);
    block.reserve(length);
    Put(block, type);
    Put(block, quint32(length));
    block += body;
    if (hasOptions) {
        Put(block, kOptEnd);
        Put(block, quint16(0));
    }
    Put(block, quint32(length));
    return block;
}

} // namespace

QByteArray SectionHeader(const QString &application, const QString &comment)
{
    QByteArray body;
    Put(body, kByteOrderMagic);
    Put(body, quint16(1)); // version 1.0
    Put(body, quint16(0));
    Put(body, qint64(-1)); // section length not known: written as it goes
    Option(body, kOptComment, comment.toUtf8());
    Option(body, kShbUserAppl, application.toUtf8());
    return Block(kSectionHeaderType, body, true);
}

QByteArray Interface(quint16 linkType, const QString &name, const QString &description)
{
    QByteArray body;
    Put(body, linkType);
    Put(body, quint16(0));
    Put(body, quint32(0)); // no snap length: frames are whole
    Option(body, kIfName, name.toUtf8());
    Option(body, kIfDescription, description.toUtf8());
    const char microseconds = 6;
    Option(body, kIfTsResol, QByteArrayView(&microseconds, 1));
    return Block(kInterfaceType, body, true);
}

QByteArray Packet(quint32 id, qint64 wallUs, QByteArrayView bytes, bool inbound, const QString &comment)
{
    QByteArray body;
    body.reserve(20 + bytes.size() + 3 + 12 + comment.size() * 3);
    Put(body, id);
    Put(body, quint32(quint64(wallUs) >> 32));
    Put(body, quint32(quint64(wallUs) & 0xFFFFFFFFu));
    Put(body, quint32(bytes.size()));
    Put(body, quint32(bytes.size()));
    body.append(bytes);
    Pad(body);
    if (inbound) {
        Put(body, kEpbFlags);
        Put(body, quint16(4));
        Put(body, kInbound);
    }
    Option(body, kOptComment, comment.toUtf8());
    return Block(kEnhancedPacketType, body, inbound || !comment.isEmpty());
}

} // namespace ui::capture

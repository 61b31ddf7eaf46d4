#include "SettingsRecord.h"

#include <QtEndian>

#include <bit>
#include <cstring>

namespace platform {

namespace {

template <typename T>
void AppendLE(QByteArray &out, T v)
{
    const T le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&le), sizeof le);
}

template <typename T>
T ReadLE(const char *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return qFromLittleEndian(v);
}

const PropertyDecl *Find(PropertyTable table, QByteArrayView name)
{
    for (const PropertyDecl &decl : table) {
        if (name == QByteArrayView(decl.name))
            return &decl;
    }
    return nullptr;
}

bool IsNameByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

[[noreturn]] void Refuse(qsizetype offset, const QString &what)
{
    throw SettingsError(QStringLiteral("settings record refused at byte %1: %2").arg(offset).arg(what).toStdString());
}

} // namespace

RecordWriter &RecordWriter::Key(const char *name)
{
    bytes_.append(name);
    bytes_.append(' ');
    return *this;
}

RecordWriter &RecordWriter::Int(const char *name, std::int64_t v)
{
    AppendLE<std::int64_t>(Key(name).bytes_, v);
    return *this;
}

RecordWriter &RecordWriter::Bool(const char *name, bool v)
{
    Key(name).bytes_.append(char(v ? 1 : 0));
    return *this;
}

RecordWriter &RecordWriter::Str(const char *name, QByteArrayView v)
{
    AppendLE<std::uint32_t>(Key(name).bytes_, std::uint32_t(v.size()));
    bytes_.append(v);
    return *this;
}

RecordWriter &RecordWriter::Color(const char *name, QColor v)
{
    Key(name);
    bytes_.append(char(v.red()));
    bytes_.append(char(v.green()));
    bytes_.append(char(v.blue()));
    bytes_.append('\0');
    return *this;
}

RecordWriter &RecordWriter::TextSize(const char *name, float v)
{
    AppendLE<std::uint32_t>(Key(name).bytes_, std::bit_cast<std::uint32_t>(v));
    return *this;
}

RecordWriter &RecordWriter::Double(const char *name, double v)
{
    AppendLE<std::uint64_t>(Key(name).bytes_, std::bit_cast<std::uint64_t>(v));
    return *this;
}

RecordWriter &RecordWriter::TextUnit(const char *name, std::uint8_t v)
{
    Key(name).bytes_.append(char(v));
    return *this;
}

void ApplySettings(Settable &object, QByteArrayView record)
{
    const char *const data = record.data();
    const qsizetype size = record.size();
    qsizetype pos = 0;
    while (pos < size) {
        const qsizetype nameStart = pos;
        while (pos < size && IsNameByte(data[pos]))
            ++pos;
        if (pos == nameStart)
            Refuse(pos, QStringLiteral("expected a property name"));
        if (pos >= size)
            Refuse(pos, QStringLiteral("truncated after a property name"));
        if (data[pos] != ' ')
            Refuse(pos, QStringLiteral("expected a space after the property name"));
        const QByteArrayView name(data + nameStart, pos - nameStart);
        ++pos;

        const PropertyDecl *decl = Find(object.Properties(), name);
        if (!decl)
            Refuse(nameStart, QStringLiteral("unknown property \"%1\"").arg(QString::fromLatin1(name)));

        const qsizetype left = size - pos;
        auto need = [&](qsizetype n) {
            if (left < n)
                Refuse(pos, QStringLiteral("value of \"%1\" truncated: %2 of %3 bytes")
                                .arg(QString::fromLatin1(name)).arg(left).arg(n));
        };
        QVariant value;
        switch (decl->type) {
        case SettingType::Integer:
            need(8);
            value = qlonglong(ReadLE<std::int64_t>(data + pos));
            pos += 8;
            break;
        case SettingType::Boolean:
            need(1);
            if (data[pos] != 0 && data[pos] != 1)
                Refuse(pos, QStringLiteral("Boolean \"%1\" is neither 0 nor 1").arg(QString::fromLatin1(name)));
            value = data[pos] == 1;
            pos += 1;
            break;
        case SettingType::String: {
            need(4);
            const std::uint32_t len = ReadLE<std::uint32_t>(data + pos);
            pos += 4;
            if (std::uint64_t(size - pos) < len)
                Refuse(pos, QStringLiteral("string \"%1\" claims %2 bytes, %3 remain")
                                .arg(QString::fromLatin1(name)).arg(len).arg(size - pos));
            value = QByteArray(data + pos, qsizetype(len));
            pos += qsizetype(len);
            break;
        }
        case SettingType::Color:
            need(4);
            value = QColor(quint8(data[pos]), quint8(data[pos + 1]), quint8(data[pos + 2]));
            pos += 4;
            break;
        case SettingType::TextSize:
            need(4);
            value = std::bit_cast<float>(ReadLE<std::uint32_t>(data + pos));
            pos += 4;
            break;
        case SettingType::Double:
            need(8);
            value = std::bit_cast<double>(ReadLE<std::uint64_t>(data + pos));
            pos += 8;
            break;
        case SettingType::TextUnit:
            need(1);
            value = int(quint8(data[pos]));
            pos += 1;
            break;
        }
        object.ApplySetting(name, value);
    }
}

} // namespace platform

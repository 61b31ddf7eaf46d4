#pragma once
// Initial-settings records: "Name" SP value, value width given by the
// property's declared type. One record per object, applied in bulk.

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>

namespace platform {

enum class SettingType : std::uint8_t {
    Integer,   // 8 bytes, little-endian, signed
    Boolean,   // 1 byte, 0 or 1
    String,    // 4-byte little-endian length, then the bytes
    Color,     // 4 bytes: red, green, blue, reserved
    TextSize,  // 4-byte IEEE single
    Double,    // 8-byte IEEE double
    TextUnit,  // 1 byte
};

struct PropertyDecl {
    const char *name;
    SettingType type;
};
using PropertyTable = std::span<const PropertyDecl>;

// Index of a control that belongs to no control array.
inline constexpr std::int64_t kNoControlIndex = std::numeric_limits<std::int32_t>::min();

class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An object whose initial values come from a settings record.
class Settable {
public:
    virtual ~Settable() = default;
    virtual PropertyTable Properties() const = 0;
    // Called once per entry, in record order, with the decoded value.
    virtual void ApplySetting(QByteArrayView name, const QVariant &value) = 0;
};

// Builds a record; the encoding of each value follows the method used.
class RecordWriter {
public:
    RecordWriter &Int(const char *name, std::int64_t v);
    RecordWriter &Bool(const char *name, bool v);
    RecordWriter &Str(const char *name, QByteArrayView v);
    RecordWriter &Color(const char *name, QColor v);
    RecordWriter &TextSize(const char *name, float v);
    RecordWriter &Double(const char *name, double v);
    RecordWriter &TextUnit(const char *name, std::uint8_t v);
    QByteArray Bytes() const { return bytes_; }

private:
    RecordWriter &Key(const char *name);
    QByteArray bytes_;
};

// Decodes every entry of the record against the object's declared
// properties and hands each to the object. A truncated or malformed
// record throws SettingsError before anything past its end is read.
void ApplySettings(Settable &object, QByteArrayView record);

} // namespace platform

#include "SerialSettings.h"

namespace ui {

using namespace platform;

namespace {

using T = SettingType;
constexpr PropertyDecl kSerialProperties[] = {
    {"Baud", T::Integer}, {"Bits", T::Integer}, {"Parity", T::Integer}, {"Stop", T::Integer},
    {"XON", T::Boolean},  {"CTS", T::Boolean},  {"DTR", T::Boolean},
};

// The framework's line-setting codes.
constexpr qint32 kBaudRates[] = {300,   600,   1200,  1800,  2400,  3600,   4800,   7200,
                                 9600,  14400, 19200, 28800, 38400, 57600, 115200, 230400};
constexpr QSerialPort::DataBits kDataBits[] = {QSerialPort::Data5, QSerialPort::Data6, QSerialPort::Data7,
                                               QSerialPort::Data8};
constexpr QSerialPort::Parity kParities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                             QSerialPort::EvenParity, QSerialPort::MarkParity,
                                             QSerialPort::SpaceParity};
constexpr QSerialPort::StopBits kStopBits[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                               QSerialPort::TwoStop};

template <typename V, std::size_t N>
V Code(const V (&table)[N], const QVariant &code, const char *what)
{
    const qlonglong c = code.toLongLong();
    if (c < 0 || std::size_t(c) >= N)
        throw SettingsError(std::string("unknown ") + what + " code " + std::to_string(c));
    return table[c];
}

} // namespace

PropertyTable SerialSettings::Properties() const { return kSerialProperties; }

void SerialSettings::ApplySetting(QByteArrayView name, const QVariant &value)
{
    LineSettings line = controller_.Line();
    if (name == "Baud")
        line.baud = Code(kBaudRates, value, "baud rate");
    else if (name == "Bits")
        line.dataBits = Code(kDataBits, value, "data bits");
    else if (name == "Parity")
        line.parity = Code(kParities, value, "parity");
    else if (name == "Stop")
        line.stopBits = Code(kStopBits, value, "stop bits");
    else if (name == "XON" && value.toBool())
        line.flow = QSerialPort::SoftwareControl;
    else if (name == "CTS" && value.toBool())
        line.flow = QSerialPort::HardwareControl;
    else if (name == "DTR")
        controller_.setProperty("DTR", value); // the line is raised at connect, not here
    // XON or CTS off: the other flow-control setting stays as it is.
    controller_.SetLine(line);
}

} // namespace ui

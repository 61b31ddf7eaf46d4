#pragma once
// How a serial line is set: speed, character size, parity, stop bits and
// flow control, with the short form people read ("115200 8N1").

#include <QList>
#include <QSerialPort>
#include <QString>

namespace platform {

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
    // A silence longer than this ends a received frame; 0: automatic,
    // 3.5 character times and at least kMinFrameGapUs. Not the device's.
    qint32 frameGapUs = 0;

    static constexpr qint32 kMinFrameGapUs = 1750; // Modbus RTU's fixed gap past 19200 bit/s
    static constexpr qint32 kMaxFrameGapUs = 60'000'000;
    // One character on the wire, start bit and a bit of idle included (11
    // bits at 8N1, as Modbus counts), in microseconds.
    double CharacterUs() const;
    // The gap in force: the one set, or the automatic one.
    qint64 FrameGapUs() const;

    // The rates a speed menu offers, 50 to 4,000,000 bit/s; any other
    // whole number may be asked for too.
    static const QList<qint32> &StandardRates();
    static QString ParityName(QSerialPort::Parity parity);
    static QString StopBitsName(QSerialPort::StopBits stopBits);
    static QString FlowName(QSerialPort::FlowControl flow);

    // "9600 8N1", "19200 8E1", "115200 8N1 RTS/CTS", "9600 7O1.5".
    QString Summary() const;
    bool operator==(const LineSettings &) const = default;

    static LineSettings Of(const QSerialPort &port);
    // Sets them on the port; false when the port (its driver) refuses one.
    bool ApplyTo(QSerialPort &port) const;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::LineSettings)

#include "LineSettings.h"

#include <algorithm>

#include <QCoreApplication>

namespace platform {

const QList<qint32> &LineSettings::StandardRates()
{
    static const QList<qint32> rates = {50,     75,     110,    134,    150,    200,     300,     600,
                                        1200,   1800,   2400,   4800,   9600,   19200,   38400,   57600,
                                        115200, 230400, 460800, 500000, 576000, 921600,  1000000, 1152000,
                                        1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
    return rates;
}

QString LineSettings::ParityName(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity: return QCoreApplication::translate("LineSettings", "Even");
    case QSerialPort::OddParity: return QCoreApplication::translate("LineSettings", "Odd");
    case QSerialPort::MarkParity: return QCoreApplication::translate("LineSettings", "Mark");
    case QSerialPort::SpaceParity: return QCoreApplication::translate("LineSettings", "Space");
    default: return QCoreApplication::translate("LineSettings", "None");
    }
}

QString LineSettings::StopBitsName(QSerialPort::StopBits stopBits)
{
    switch (stopBits) {
    case QSerialPort::OneAndHalfStop: return QStringLiteral("1.5");
    case QSerialPort::TwoStop: return QStringLiteral("2");
    default: return QStringLiteral("1");
    }
}

QString LineSettings::FlowName(QSerialPort::FlowControl flow)
{
    switch (flow) {
    case QSerialPort::HardwareControl: return QStringLiteral("RTS/CTS");
    case QSerialPort::SoftwareControl: return QStringLiteral("XON/XOFF");
    default: return QCoreApplication::translate("LineSettings", "None");
    }
}

QString LineSettings::Summary() const
{
    QString s = QStringLiteral("%1 %2%3%4").arg(baud).arg(int(dataBits)).arg(ParityName(parity).at(0)).arg(StopBitsName(stopBits));
    if (flow != QSerialPort::NoFlowControl)
        s += QLatin1Char(' ') + FlowName(flow);
    return s;
}

double LineSettings::CharacterUs() const
{
    const double stop = stopBits == QSerialPort::OneStop ? 1 : 2; // 1.5 takes the room of 2
    const double bits = 2 + int(dataBits) + (parity == QSerialPort::NoParity ? 0 : 1) + stop;
    return bits * 1e6 / std::max(1, baud);
}

qint64 LineSettings::FrameGapUs() const
{
    if (frameGapUs > 0)
        return frameGapUs;
    return std::max<qint64>(kMinFrameGapUs, qint64(3.5 * CharacterUs() + 0.5));
}

LineSettings LineSettings::Of(const QSerialPort &port)
{
    return {port.baudRate(), port.dataBits(), port.parity(), port.stopBits(), port.flowControl()};
}

bool LineSettings::ApplyTo(QSerialPort &port) const
{
    // Each call goes to the driver at once on an open port.
    return port.setBaudRate(baud) && port.setDataBits(dataBits) && port.setParity(parity) &&
           port.setStopBits(stopBits) && port.setFlowControl(flow);
}

} // namespace platform

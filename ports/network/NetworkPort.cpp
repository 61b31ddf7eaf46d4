#include "NetworkPort.h"

#include <QUrl>
#include <QtEndian>

namespace platform::net {

namespace {

// RFC 2217 client commands; a server answers with the command plus 100.
constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5;
constexpr std::uint8_t kServerOffset = 100;

QByteArray Value(std::uint8_t b) { return QByteArray(1, char(b)); }

// What each part of the line is called on the wire.
QList<std::pair<std::uint8_t, QByteArray>> Requests(const LineSettings &line)
{
    QByteArray baud(4, '\0');
    qToBigEndian(quint32(line.baud), baud.data());
    std::uint8_t parity = 1;
    switch (line.parity) {
    case QSerialPort::OddParity: parity = 2; break;
    case QSerialPort::EvenParity: parity = 3; break;
    case QSerialPort::MarkParity: parity = 4; break;
    case QSerialPort::SpaceParity: parity = 5; break;
    default: break;
    }
    const std::uint8_t stop = line.stopBits == QSerialPort::TwoStop ? 2 : line.stopBits == QSerialPort::OneAndHalfStop ? 3 : 1;
    const std::uint8_t flow = line.flow == QSerialPort::SoftwareControl ? 2 : line.flow == QSerialPort::HardwareControl ? 3 : 1;
    return {{kSetBaudRate, baud},
            {kSetDataSize, Value(std::uint8_t(line.dataBits))},
            {kSetParity, Value(parity)},
            {kSetStopSize, Value(stop)},
            {kSetControl, Value(flow)}};
}

} // namespace

QString NetworkAddress::Text() const
{
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1://%2:%3")
        .arg(protocol == Protocol::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp"), shown)
        .arg(port);
}

bool NetworkAddress::Names(const QString &text)
{
    return text.startsWith(QStringLiteral("rfc2217://"), Qt::CaseInsensitive) ||
           text.startsWith(QStringLiteral("tcp://"), Qt::CaseInsensitive);
}

std::optional<NetworkAddress> NetworkAddress::Parse(const QString &text, QString *error)
{
    QString unused;
    if (!error)
        error = &unused;
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    NetworkAddress a;
    const QString scheme = url.scheme().toLower();
    if (scheme == QStringLiteral("rfc2217"))
        a.protocol = Protocol::Rfc2217;
    else if (scheme == QStringLiteral("tcp"))
        a.protocol = Protocol::RawTcp;
    else {
        *error = QObject::tr("\"%1\" is not a network port: write rfc2217://host:port or tcp://host:port.").arg(text);
        return std::nullopt;
    }
    if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 || !url.path().isEmpty()) {
        *error = QObject::tr("\"%1\" needs a host and a port from 1 to 65535, such as %2://192.168.1.20:2000.")
                     .arg(text, scheme);
        return std::nullopt;
    }
    a.host = url.host();
    a.port = quint16(url.port());
    return a;
}

NetworkPort::NetworkPort(QObject *parent) : Port(parent)
{
    connectTimeout_.setSingleShot(true);
    connectTimeout_.setInterval(kConnectTimeoutMs);
    answerTimeout_.setSingleShot(true);
    answerTimeout_.setInterval(kAnswerTimeoutMs);
    connect(&connectTimeout_, &QTimer::timeout, this, [this] {
        Fail(tr("%1 did not answer within %2 s.").arg(address_.Text()).arg(kConnectTimeoutMs / 1000));
    });
    connect(&answerTimeout_, &QTimer::timeout, this, [this] {
        awaited_.clear();
        emit LineRefused(tr("%1 did not confirm %2 within %3 s.")
                             .arg(address_.Text(), line_.Summary())
                             .arg(kAnswerTimeoutMs / 1000));
    });
    connect(&socket_, &QTcpSocket::connected, this, &NetworkPort::OnConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkPort::OnReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkPort::OnError);
    connect(&socket_, &QTcpSocket::bytesWritten, this, &NetworkPort::BytesWritten);
}

void NetworkPort::Open(const NetworkAddress &address, const LineSettings &line)
{
    Close();
    address_ = address;
    line_ = line;
    codec_ = {};
    received_.clear();
    HoldReading(false);
    connecting_ = true;
    connectTimeout_.start();
    socket_.connectToHost(address.host, address.port); // resolves and connects without waiting here
}

bool NetworkPort::Open(const QString &path, const LineSettings &line, QString *error)
{
    const std::optional<NetworkAddress> address = NetworkAddress::Parse(path, error);
    if (!address)
        return false;
    Open(*address, line);
    return true;
}

void NetworkPort::Close()
{
    connecting_ = false;
    connectTimeout_.stop();
    answerTimeout_.stop();
    awaited_.clear();
    open_ = false;
    socket_.abort();
}

void NetworkPort::OnConnected()
{
    connectTimeout_.stop();
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    open_ = true;
    connecting_ = false;
    if (address_.protocol == NetworkAddress::Protocol::Rfc2217) {
        socket_.write(TelnetCodec::Command(TelnetCodec::kWill, TelnetCodec::kBinary) +
                      TelnetCodec::Command(TelnetCodec::kDo, TelnetCodec::kBinary) +
                      TelnetCodec::Command(TelnetCodec::kWill, TelnetCodec::kComPort));
        SetLine(line_);
    }
    emit Opened();
}

void NetworkPort::SetLine(const LineSettings &line)
{
    line_ = line;
    if (!open_ || address_.protocol != NetworkAddress::Protocol::Rfc2217)
        return;
    awaited_ = Requests(line);
    for (const auto &[command, value] : awaited_)
        socket_.write(TelnetCodec::Subnegotiation(TelnetCodec::kComPort, Value(command) + value));
    answerTimeout_.start();
}

qint64 NetworkPort::Write(QByteArrayView data)
{
    if (!open_)
        return -1;
    if (address_.protocol == NetworkAddress::Protocol::Rfc2217)
        socket_.write(TelnetCodec::Escape(data));
    else
        socket_.write(data.constData(), data.size());
    return data.size();
}

QByteArray NetworkPort::ReadAll()
{
    return std::exchange(received_, {});
}

void NetworkPort::HoldReading(bool hold)
{
    if (hold == held_)
        return;
    held_ = hold;
    // Qt reads from the socket into its buffer only while there is room.
    socket_.setReadBufferSize(hold ? kHeldReadBufferBytes : 0);
    if (!hold)
        QMetaObject::invokeMethod(this, &NetworkPort::OnReadyRead, Qt::QueuedConnection);
}

void NetworkPort::OnReadyRead()
{
    if (held_)
        return;
    const QByteArray in = socket_.readAll();
    if (address_.protocol == NetworkAddress::Protocol::RawTcp) {
        received_ += in;
    } else {
        QList<TelnetCodec::Event> events;
        received_ += codec_.Decode(in, events);
        for (const TelnetCodec::Event &e : events)
            Answer(e);
    }
    if (!received_.isEmpty())
        emit DataAvailable();
}

// The server's side of the negotiation, and its answers to the line.
void NetworkPort::Answer(const TelnetCodec::Event &e)
{
    using T = TelnetCodec;
    if (e.verb == T::kDo && e.option != T::kBinary && e.option != T::kComPort)
        socket_.write(T::Command(T::kWont, e.option));
    else if (e.verb == T::kWill && e.option != T::kBinary)
        socket_.write(T::Command(T::kDont, e.option));
    if (e.verb != T::kSb || e.option != T::kComPort || e.payload.isEmpty() || awaited_.isEmpty())
        return;
    const auto command = std::uint8_t(e.payload[0]);
    for (qsizetype i = 0; i < awaited_.size(); ++i) {
        if (awaited_[i].first + kServerOffset != command)
            continue;
        if (e.payload.mid(1) != awaited_[i].second) {
            awaited_.clear();
            answerTimeout_.stop();
            emit LineRefused(tr("%1 does not take %2.").arg(address_.Text(), line_.Summary()));
            return;
        }
        awaited_.removeAt(i);
        break;
    }
    if (awaited_.isEmpty()) {
        answerTimeout_.stop();
        emit LineConfirmed(line_);
    }
}

void NetworkPort::OnError()
{
    if (socket_.error() == QAbstractSocket::RemoteHostClosedError && open_) {
        open_ = false;
        emit Lost(tr("%1 closed the connection.").arg(address_.Text()));
        return;
    }
    const QString reason = tr("%1: %2").arg(address_.Text(), socket_.errorString());
    if (open_) {
        open_ = false;
        emit Lost(reason);
    } else {
        Fail(reason);
    }
}

void NetworkPort::Fail(const QString &reason)
{
    Close();
    emit Failed(reason);
}

} // namespace platform::net

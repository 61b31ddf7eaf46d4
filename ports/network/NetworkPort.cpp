#include "NetworkPort.h"

#include <QUrl>
#include <QtEndian>

namespace platform::net {

namespace {

// RFC 2217 client commands; a server answers with the command plus 100.
constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5;
constexpr std::uint8_t kNotifyLineState = 6, kNotifyModemState = 7, kSetLineStateMask = 10, kSetModemStateMask = 11;
constexpr std::uint8_t kServerOffset = 100;
// SET-CONTROL values: 0-3 ask for or set flow control, the rest the lines.
constexpr std::uint8_t kLastFlowValue = 3, kBreakOn = 5, kBreakOff = 6, kDtrOn = 8, kDtrOff = 9, kRtsOn = 11,
                       kRtsOff = 12;
constexpr std::uint8_t kAllModemState = 0xFF;
constexpr std::uint8_t kLineErrors = rfc2217::kLineOverrun | rfc2217::kLineParity | rfc2217::kLineFraming |
                                     rfc2217::kLineBreak;

QByteArray Value(std::uint8_t b) { return QByteArray(1, char(b)); }

QByteArray ComPort(std::uint8_t command, std::uint8_t value)
{
    return TelnetCodec::Subnegotiation(TelnetCodec::kComPort, Value(command) + Value(value));
}

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
    breakTimer_.setSingleShot(true);
    breakTimer_.setTimerType(Qt::PreciseTimer);
    connect(&breakTimer_, &QTimer::timeout, this, &NetworkPort::EndBreak);
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
    unread_.clear();
    decoded_ = 0;
    ResetReadCount();
    outputs_ = {};
    rtsSent_.reset();
    dtrSent_.reset();
    inputs_ = {};
    heardInputs_ = false;
    lineEvents_.clear();
    HoldReading(false);
    connecting_ = true;
    rtsAsked_ = dtrAsked_ = false;
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
    breakTimer_.stop();
    afterBreak_.clear();
    unread_.clear();
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
        socket_.write(ComPort(kSetModemStateMask, kAllModemState) + ComPort(kSetLineStateMask, kLineErrors));
        SendOutputs(rtsAsked_, dtrAsked_);
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

void NetworkPort::SetRequestToSend(bool on)
{
    outputs_.rts = on;
    rtsAsked_ = true;
    if (open_)
        SendOutputs(true, false);
}

void NetworkPort::SetDataTerminalReady(bool on)
{
    outputs_.dtr = on;
    dtrAsked_ = true;
    if (open_)
        SendOutputs(false, true);
}

void NetworkPort::SetOutputs(const ModemOutputs &lines)
{
    outputs_ = lines;
    rtsAsked_ = dtrAsked_ = true;
    if (open_)
        SendOutputs(true, true);
}

// In one write: the server sets them one right after the other.
void NetworkPort::SendOutputs(bool rts, bool dtr)
{
    if (address_.protocol != NetworkAddress::Protocol::Rfc2217)
        return;
    QByteArray commands;
    if (dtr && dtrSent_ != outputs_.dtr)
        commands += ComPort(kSetControl, outputs_.dtr ? kDtrOn : kDtrOff);
    if (rts && rtsSent_ != outputs_.rts)
        commands += ComPort(kSetControl, outputs_.rts ? kRtsOn : kRtsOff);
    if (dtr)
        dtrSent_ = outputs_.dtr;
    if (rts)
        rtsSent_ = outputs_.rts;
    if (breakTimer_.isActive())
        afterBreak_ += commands; // in order with the bytes held for the break's end
    else if (!commands.isEmpty())
        socket_.write(commands);
}

void NetworkPort::SendBreak(int ms)
{
    if (!open_ || address_.protocol != NetworkAddress::Protocol::Rfc2217 || breakTimer_.isActive())
        return;
    socket_.write(ComPort(kSetControl, kBreakOn));
    breakTimer_.start(std::max(1, ms));
}

void NetworkPort::EndBreak()
{
    if (!open_)
        return;
    socket_.write(ComPort(kSetControl, kBreakOff) + std::exchange(afterBreak_, {}));
    emit BytesWritten();
}

qint64 NetworkPort::Write(QByteArrayView data)
{
    if (!open_)
        return -1;
    if (breakTimer_.isActive()) {
        afterBreak_ += address_.protocol == NetworkAddress::Protocol::Rfc2217 ? TelnetCodec::Escape(data)
                                                                             : data.toByteArray();
        return data.size();
    }
    if (address_.protocol == NetworkAddress::Protocol::Rfc2217)
        socket_.write(TelnetCodec::Escape(data));
    else
        socket_.write(data.constData(), data.size());
    return data.size();
}

std::optional<os::PortHandle> NetworkPort::Lend()
{
    if (lentReader_ || !open_ || held_ || breakTimer_.isActive() || !codec_.BetweenCommands() || BytesWaiting() > 0 ||
        socket_.bytesToWrite() > 0)
        return std::nullopt;
    const std::optional<os::PortHandle> handle = os::SocketAsPort(socket_.socketDescriptor());
    if (!handle)
        return std::nullopt;
    QSocketNotifier *reader = QtReaderOf(socket_, socket_.socketDescriptor());
    if (!reader || !reader->isEnabled())
        return std::nullopt;
    lentReader_ = reader;
    lentReader_->setEnabled(false);
    return handle;
}

Framing NetworkPort::ReadFraming() const
{
    if (address_.protocol == NetworkAddress::Protocol::Rfc2217)
        return {{}, codec_};
    return {};
}

void NetworkPort::Reclaim(const Framing &framing, QByteArray unread, QByteArrayView unwritten)
{
    // Gone with the socket when it was closed meanwhile.
    if (QSocketNotifier *reader = std::exchange(lentReader_, nullptr))
        reader->setEnabled(true);
    if (!open_)
        return;
    if (framing.telnet)
        codec_ = *framing.telnet;
    if (!unwritten.isEmpty())
        socket_.write(unwritten.data(), unwritten.size());
    // Decoded and answered in a later pass, as if just read.
    if (!unread.isEmpty()) {
        unread_ += unread;
        QMetaObject::invokeMethod(this, &NetworkPort::OnReadyRead, Qt::QueuedConnection);
    }
}

QByteArray NetworkPort::ReadAll()
{
    return Counted(std::exchange(received_, {}));
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
    const QByteArray in = std::exchange(unread_, {}) + socket_.readAll();
    const qsizetype heard = lineEvents_.size();
    if (address_.protocol == NetworkAddress::Protocol::RawTcp) {
        received_ += in;
        decoded_ += in.size();
    } else {
        QList<TelnetCodec::Event> events;
        const QByteArray data = codec_.Decode(in, events);
        for (const TelnetCodec::Event &e : events) {
            Answer(e);
            HearLine(e, decoded_ + e.at);
        }
        received_ += data;
        decoded_ += data.size();
    }
    if (!received_.isEmpty())
        emit DataAvailable();
    if (lineEvents_.size() > heard)
        emit LineEvents();
}

// The server's news of its lines: modem inputs that changed, and breaks
// and errors on the line.
void NetworkPort::HearLine(const TelnetCodec::Event &e, qint64 at)
{
    if (e.verb != TelnetCodec::kSb || e.option != TelnetCodec::kComPort || e.payload.size() < 2)
        return;
    const auto command = std::uint8_t(e.payload[0]);
    const auto state = std::uint8_t(e.payload[1]);
    if (command == kNotifyModemState + kServerOffset) {
        const ModemInputs inputs = rfc2217::InputsFromModemState(state);
        if (heardInputs_) {
            // A line whose change the server marks but whose state is as
            // before went and came back between two of its looks.
            const ModemInputs between = rfc2217::PulsedBetween(inputs_, inputs, state);
            if (between != inputs_ && between != inputs)
                lineEvents_.append({LineEvent::Kind::Inputs, between, at});
            else if (inputs == inputs_)
                return;
        }
        heardInputs_ = true;
        inputs_ = inputs;
        lineEvents_.append({LineEvent::Kind::Inputs, inputs, at});
    } else if (command == kNotifyLineState + kServerOffset) {
        for (const LineEvent::Kind kind : rfc2217::EventsFromLineState(state))
            lineEvents_.append({kind, {}, at});
    }
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
    // An answer to a line's SET-CONTROL is not one to the flow control.
    if (command == kSetControl + kServerOffset && e.payload.size() > 1 && std::uint8_t(e.payload[1]) > kLastFlowValue)
        return;
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

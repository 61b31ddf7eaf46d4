#pragma once
// An emulated RFC 2217 port server on 127.0.0.1 with a device's modem
// lines: it answers the line settings as asked, notes every SET-CONTROL
// with its time among the bytes it receives, and sends the inputs (modem
// state), line-state breaks and bytes when the test says. No hardware is
// behind it: it stands in for a device whose lines a test can move.

#include "ports/ModemLines.h"
#include "ports/network/TelnetCodec.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <memory>

namespace testing {

class LineServer : public QObject {
public:
    // One thing the server heard, in the order it came.
    struct Heard {
        enum class Kind { Data, Control };
        Kind kind = Kind::Data;
        QByteArray bytes;     // Data
        std::uint8_t value = 0; // Control: the SET-CONTROL value
        qint64 us = 0;        // monotonic, when it was read
    };
    static constexpr std::uint8_t kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12, kBreakOn = 5, kBreakOff = 6;

    LineServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            client_.reset(server_.nextPendingConnection());
            client_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(client_.get(), &QTcpSocket::readyRead, this, &LineServer::Read);
        });
    }
    quint16 Port() const { return server_.serverPort(); }
    QString Address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(Port()); }
    bool Connected() const { return client_ && client_->state() == QAbstractSocket::ConnectedState; }
    // Whether the client has asked to be told of the inputs.
    bool ToldOfInputs() const { return modemMask_ != 0; }

    const QList<Heard> &Log() const { return log_; }
    QList<Heard> Controls() const
    {
        QList<Heard> c;
        for (const Heard &h : log_)
            if (h.kind == Heard::Kind::Control)
                c.append(h);
        return c;
    }
    QByteArray Data() const
    {
        QByteArray d;
        for (const Heard &h : log_)
            if (h.kind == Heard::Kind::Data)
                d += h.bytes;
        return d;
    }
    void ClearLog() { log_.clear(); }

    void SendData(const QByteArray &bytes) { Send(platform::net::TelnetCodec::Escape(bytes)); }
    void SendInputs(const platform::ModemInputs &inputs)
    {
        Send(ComPort(107, platform::rfc2217::ModemState(inputs, inputs_)));
        inputs_ = inputs;
    }
    void SendLineState(std::uint8_t state) { Send(ComPort(106, state)); }
    // Holds the test here for a gap too short for the event loop's timers.
    static void Hold(std::chrono::microseconds gap)
    {
        const auto until = std::chrono::steady_clock::now() + gap;
        while (std::chrono::steady_clock::now() < until) {
        }
    }

    static qint64 NowUs()
    {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }

private:
    static QByteArray ComPort(std::uint8_t command, std::uint8_t value)
    {
        return platform::net::TelnetCodec::Subnegotiation(platform::net::TelnetCodec::kComPort,
                                                          QByteArray(1, char(command)) + char(value));
    }
    void Send(const QByteArray &wire)
    {
        if (!Connected())
            return;
        client_->write(wire);
        client_->flush();
    }
    void Read()
    {
        using T = platform::net::TelnetCodec;
        const qint64 us = NowUs();
        QList<T::Event> events;
        const QByteArray data = codec_.Decode(client_->readAll(), events);
        qsizetype done = 0;
        auto dataUpTo = [&](qsizetype at) {
            if (at > done)
                log_.append({Heard::Kind::Data, data.mid(done, at - done), 0, us});
            done = std::max(done, at);
        };
        for (const T::Event &e : events) {
            dataUpTo(e.at);
            if (e.verb == T::kWill)
                client_->write(T::Command(T::kDo, e.option));
            else if (e.verb == T::kDo)
                client_->write(T::Command(T::kWill, e.option));
            if (e.verb != T::kSb || e.option != T::kComPort || e.payload.size() < 2)
                continue;
            const auto command = std::uint8_t(e.payload[0]);
            const auto value = std::uint8_t(e.payload[1]);
            if (command == 5 && value >= 5)
                log_.append({Heard::Kind::Control, {}, value, us});
            if (command == 11)
                modemMask_ = value;
            client_->write(T::Subnegotiation(T::kComPort, QByteArray(1, char(command + 100)) + e.payload.mid(1)));
        }
        dataUpTo(data.size());
        client_->flush();
    }

    QTcpServer server_;
    std::unique_ptr<QTcpSocket> client_;
    platform::net::TelnetCodec codec_;
    QList<Heard> log_;
    platform::ModemInputs inputs_;
    std::uint8_t modemMask_ = 0;
};

} // namespace testing

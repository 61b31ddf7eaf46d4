#pragma once
// A serial port on another machine, reached through a port server: raw
// TCP carries the bytes only; RFC 2217 (Telnet COM Port Control) also
// sets the remote line and reads back what the server made of it. One
// socket on the window's event loop; connecting and every answer are
// waited for with timers, never in a call.

#include "TelnetCodec.h"
#include "ports/LineSettings.h"
#include "ports/Port.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

namespace platform::net {

struct NetworkAddress {
    enum class Protocol { Rfc2217, RawTcp };
    Protocol protocol = Protocol::RawTcp;
    QString host;
    quint16 port = 0;
    // "rfc2217://host:2000", "tcp://[::1]:2001"
    QString Text() const;
    // Nothing, and the reason, when `text` is not such an address.
    static std::optional<NetworkAddress> Parse(const QString &text, QString *error = nullptr);
    // Whether `text` is meant as one, well written or not.
    static bool Names(const QString &text);
    bool operator==(const NetworkAddress &) const = default;
};

class NetworkPort : public Port {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kAnswerTimeoutMs = 3000;

    explicit NetworkPort(QObject *parent = nullptr);
    // Connects; Opened or Failed follows. With RFC 2217 the line is sent
    // as soon as the connection stands.
    void Open(const NetworkAddress &address, const LineSettings &line);
    // `path` is an address; false when it is not a well-written one.
    bool Open(const QString &path, const LineSettings &line, QString *error) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    bool Connecting() const override { return connecting_; }
    // Raw TCP sets nothing: the line is the server's.
    LineState LineWhenOpened() const override
    {
        return address_.protocol == NetworkAddress::Protocol::Rfc2217 ? LineState::Asked : LineState::AtServer;
    }
    const NetworkAddress &Address() const { return address_; }

    qint64 Write(QByteArrayView data) override;
    QByteArray ReadAll() override;
    qint64 BytesWaiting() const override { return received_.size() + unread_.size() + socket_.bytesAvailable(); }
    qint64 BytesToWrite() const override { return socket_.bytesToWrite() + afterBreak_.size(); }
    // While held, what waits beyond the program's bound waits in the
    // network and the server, which stop the device in turn.
    void HoldReading(bool hold) override;

    // RFC 2217: asks the server for `line`; LineConfirmed once it has
    // answered every part as asked, LineRefused when it answers otherwise
    // or not within kAnswerTimeoutMs. Raw TCP sets nothing.
    void SetLine(const LineSettings &line);
    bool SetLine(const LineSettings &line, QString *) override
    {
        SetLine(line);
        return true;
    }
    // RFC 2217 sets the server's lines (both in one write when both
    // change) and reads its inputs once the server tells them; raw TCP
    // has no lines. Asked before the connection stands, they are sent
    // as soon as it does.
    void SetRequestToSend(bool on) override;
    void SetDataTerminalReady(bool on) override;
    void SetOutputs(const ModemOutputs &lines) override;
    bool HasModemLines() const override { return open_ && address_.protocol == NetworkAddress::Protocol::Rfc2217; }
    bool InputsKnown() const override { return heardInputs_; }
    ModemInputs Inputs() const override { return inputs_; }
    void SendBreak(int ms) override;
    QList<LineEvent> TakeLineEvents() override { return std::exchange(lineEvents_, {}); }
    std::optional<qint64> DriverOverruns() const override { return std::nullopt; }
    // The server's business.
    QList<os::Process> OtherOpeners() const override { return {}; }
    // Qt stops reading the socket until Reclaim(). A relay decodes Telnet's
    // data and leaves its commands here, to be answered.
    std::optional<os::PortHandle> Lend() override;
    Framing ReadFraming() const override;
    void Reclaim(const Framing &framing, QByteArray unread, QByteArrayView unwritten) override;

private:
    void OnConnected();
    void OnReadyRead();
    void OnError();
    void Answer(const TelnetCodec::Event &event);
    void Fail(const QString &reason);
    // The lines named that differ from what the server was last told.
    void SendOutputs(bool rts, bool dtr);
    void EndBreak();
    void HearLine(const TelnetCodec::Event &event, qint64 at);

    QTcpSocket socket_;
    QPointer<QSocketNotifier> lentReader_; // Qt's reader of the socket, off while lent
    QTimer connectTimeout_;
    QTimer answerTimeout_;
    TelnetCodec codec_;
    NetworkAddress address_;
    LineSettings line_;
    bool open_ = false;
    bool connecting_ = false;
    bool held_ = false;
    QByteArray received_;
    QByteArray unread_; // read off the socket by a relay, not yet decoded
    qint64 decoded_ = 0; // data bytes received since the connection stood
    ModemOutputs outputs_;
    bool rtsAsked_ = false; // since Open(): sent once the connection stands
    bool dtrAsked_ = false;
    std::optional<bool> rtsSent_;
    std::optional<bool> dtrSent_;
    ModemInputs inputs_;
    bool heardInputs_ = false;
    QList<LineEvent> lineEvents_;
    QTimer breakTimer_;
    QByteArray afterBreak_; // written while the line is in break
    // The line asked for, by RFC 2217 command, and what each answer must say.
    QList<std::pair<std::uint8_t, QByteArray>> awaited_;
};

} // namespace platform::net

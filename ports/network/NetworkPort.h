#pragma once
// A serial port on another machine, reached through a port server: raw
// TCP carries the bytes only; RFC 2217 (Telnet COM Port Control) also
// sets the remote line and reads back what the server made of it. One
// socket on the window's event loop; connecting and every answer are
// waited for with timers, never in a call.

#include "TelnetCodec.h"
#include "ports/LineSettings.h"

#include <QObject>
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

class NetworkPort : public QObject {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kAnswerTimeoutMs = 3000;

    explicit NetworkPort(QObject *parent = nullptr);
    // Connects; Opened or Failed follows. With RFC 2217 the line is sent
    // as soon as the connection stands.
    void Open(const NetworkAddress &address, const LineSettings &line);
    void Close();
    bool IsOpen() const { return open_; }
    const NetworkAddress &Address() const { return address_; }

    qint64 Write(QByteArrayView data);
    QByteArray ReadAll();
    qint64 BytesToWrite() const { return socket_.bytesToWrite(); }
    // While held, at most this much waits in the program; the rest waits
    // in the network and the server, which stop the device in turn.
    static constexpr qint64 kHeldReadBufferBytes = 64 * 1024;
    // Stops and resumes DataAvailable; resuming reports what waits.
    void HoldReading(bool hold);

    // RFC 2217: asks the server for `line`; LineConfirmed once it has
    // answered every part as asked, LineRefused when it answers otherwise
    // or not within kAnswerTimeoutMs. Raw TCP sets nothing.
    void SetLine(const LineSettings &line);

signals:
    void Opened();
    void Failed(const QString &reason); // before Opened
    void Lost(const QString &reason);   // after Opened
    void DataAvailable();
    void BytesWritten();
    void LineConfirmed(const platform::LineSettings &line);
    void LineRefused(const QString &reason);

private:
    void OnConnected();
    void OnReadyRead();
    void OnError();
    void Answer(const TelnetCodec::Event &event);
    void Fail(const QString &reason);

    QTcpSocket socket_;
    QTimer connectTimeout_;
    QTimer answerTimeout_;
    TelnetCodec codec_;
    NetworkAddress address_;
    LineSettings line_;
    bool open_ = false;
    bool held_ = false;
    QByteArray received_;
    // The line asked for, by RFC 2217 command, and what each answer must say.
    QList<std::pair<std::uint8_t, QByteArray>> awaited_;
};

} // namespace platform::net

#pragma once
// What the bridge reads from and writes to: a device on this machine or a
// port on another, behind one face. Which one is chosen where a port is
// opened, by its path; nothing past that asks which kind it is.

#include "LineSettings.h"
#include "ModemLines.h"
#include "OsSeam.h"
#include "network/TelnetCodec.h"

#include <QByteArrayView>
#include <QObject>
#include <QSocketNotifier>

#include <optional>

namespace platform {

// How a device frames what it sends, and where decoding it stands: a relay
// that reads a lent device goes on from there, and gives it back. A tty
// may mark breaks and errors; a port server may speak Telnet.
struct Framing {
    std::optional<MarkedBytes> marks;
    std::optional<net::TelnetCodec> telnet;
};

class Port : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Where the line in force stands.
    enum class LineState {
        Applied,   // what the driver took
        Asked,     // sent to the server, not answered yet
        Confirmed, // the server answered that it took it
        Refused,  // the server did not confirm it
        AtServer, // the server's own, not set from here
    };

    // Opens `path` with `line`. A device here is open, or not (`error`
    // says why), when this returns; a port elsewhere connects in the
    // background, Opened or Failed following.
    virtual bool Open(const QString &path, const LineSettings &line, QString *error) = 0;
    // Harmless when not open; what is queued is dropped.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Between Open() and Opened or Failed.
    virtual bool Connecting() const = 0;
    // The line's state once open.
    virtual LineState LineWhenOpened() const = 0;

    virtual QByteArray ReadAll() = 0;
    virtual qint64 BytesWaiting() const = 0;
    // What was queued; -1 when the port is not open.
    virtual qint64 Write(QByteArrayView data) = 0;
    virtual qint64 BytesToWrite() const = 0;
    // While held, at most this much waits inside the program; the rest
    // stays in the driver, the network or the server, which throttle the
    // sender. DataAvailable stops; resuming reports what waits.
    static constexpr qint64 kHeldReadBufferBytes = 64 * 1024;
    virtual void HoldReading(bool hold) = 0;

    // On the open port. A device here takes it or not (`error` says why,
    // and the old line stays); a server is asked, and LineConfirmed or
    // LineRefused follows.
    virtual bool SetLine(const LineSettings &line, QString *error) = 0;
    // The modem lines, each on its own: a board may reset on a DTR edge.
    virtual void SetRequestToSend(bool on) = 0;
    virtual void SetDataTerminalReady(bool on) = 0;
    // Both at once: lines that change together change together (a board's
    // boot loader tells a reset from a flash request by it).
    virtual void SetOutputs(const ModemOutputs &lines) = 0;
    // Whether the port has modem lines to show: a pty and raw TCP have none.
    virtual bool HasModemLines() const { return false; }
    virtual ModemInputs Inputs() const { return {}; }
    // Whether Inputs() says how they stand: a port server tells them only
    // once it has looked.
    virtual bool InputsKnown() const { return HasModemLines(); }
    // Holds the line in break for `ms`; bytes written meanwhile follow it.
    virtual void SendBreak(int ms) = 0;
    // What the line did since the last call, in order; each placed by
    // ReadCount() in the bytes ReadAll() gives. LineEvents tells of more.
    virtual QList<LineEvent> TakeLineEvents() { return {}; }
    // Lends the descriptor to a relay on another thread, which is then its
    // only reader and writer until Reclaim(). None while anything waits
    // here in either direction, reading is held or a command is half read.
    virtual std::optional<os::PortHandle> Lend() { return std::nullopt; }
    virtual Framing ReadFraming() const { return {}; }
    // Back from the relay: where its decoding stands, what it read and left
    // to the port to decode (from a command on), and what it had not yet
    // written, already framed for the wire, which goes out first.
    virtual void Reclaim(const Framing &, QByteArray unread, QByteArrayView unwritten) = 0;
    // Bytes ReadAll() has given since the port opened.
    qint64 ReadCount() const { return readCount_; }
    // Bytes the driver dropped, where it counts them.
    virtual std::optional<qint64> DriverOverruns() const = 0;
    // Other programs here that hold the open device too, and split its bytes.
    virtual QList<os::Process> OtherOpeners() const = 0;

signals:
    void Opened();
    void Failed(const QString &reason); // before Opened
    // After it was open: the device went, with its queue still counted.
    void Lost(const QString &reason);
    void DataAvailable();
    void BytesWritten();
    void LineConfirmed(const platform::LineSettings &line);
    void LineRefused(const QString &reason);
    void LineEvents();

protected:
    // The socket notifier through which Qt reads `descriptor` for `io`;
    // while it is off, a relay the port is lent to is the only reader.
    static QSocketNotifier *QtReaderOf(const QObject &io, qintptr descriptor)
    {
        QSocketNotifier *reader = nullptr;
        for (QSocketNotifier *n : io.findChildren<QSocketNotifier *>())
            if (n->type() == QSocketNotifier::Read && n->socket() == descriptor)
                reader = n;
        return reader;
    }
    QByteArray Counted(QByteArray read)
    {
        readCount_ += read.size();
        return read;
    }
    void ResetReadCount() { readCount_ = 0; }

private:
    qint64 readCount_ = 0;
};

} // namespace platform

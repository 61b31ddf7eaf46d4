#pragma once
// One serial port, opened by the handlers and reporting through events.
// Open failures are Open()'s result, never an Error event; a port whose
// device is lost while open is closed and reported once. Passing errors
// are cleared and reading goes on. A port on another machine, whose path
// is an address (rfc2217://host:2000, tcp://host:2001), is reached the
// same way, except that it connects in the background.

#include "LineSettings.h"
#include "PortEnumerator.h"
#include "SerialDevicePort.h"
#include "network/NetworkPort.h"

#include <QObject>
#include <QTimer>

#include <functional>

#include <optional>

namespace platform {

class SerialController : public QObject {
    Q_OBJECT
public:
    explicit SerialController(QObject *parent);
    ~SerialController() override;

    void SetSerialPort(const std::optional<SerialPortInfo> &port);
    std::optional<SerialPortInfo> Port() const { return port_; }

    // True once the port is open, or, for a network port, while it is
    // being connected: Connecting() says so until Connected or
    // ConnectFailed (ErrorText() says why) is raised.
    bool Open();
    bool Connecting() const { return active_->Connecting(); }
    // Harmless on a controller that is not open; raises nothing. What is
    // still queued is dropped: Release() delivers it first.
    void Close();
    // Lets go of the port once what is queued for it has gone out, or
    // after `drainMs` (a device may be slow or stopped), whichever comes
    // first; meanwhile nothing is passed on, and at most the held buffer
    // is read. Released then says how many queued bytes never went out,
    // and how many came in meanwhile and were not passed on. At once when
    // nothing is queued.
    static constexpr int kDrainMs = 2000;
    void Release(int drainMs = kDrainMs);
    bool Releasing() const { return releasing_; }
    // Bytes that were queued for the device when it was lost.
    qint64 DroppedAtLoss() const { return droppedAtLoss_; }
    bool IsOpen() const { return active_->IsOpen(); }
    // Open() succeeded and Close() has not been called since, even if a
    // failure of the port has closed it in the meantime.
    bool IsHeld() const { return held_; }
    // Whether this controller holds the device that `path` names open
    // (the same device under another name counts).
    bool HoldsDevice(const QString &path) const;

    QByteArray ReadAll();
    // Queues the bytes; does nothing when the port is not open.
    void Write(QByteArrayView data);
    qint64 BytesToWrite() const;
    // Received, not yet read.
    qint64 BytesWaiting() const { return active_->BytesWaiting(); }

    // A destination whose queue passes the high-water mark holds back its
    // sources until it drains to the low-water mark; WriteQueueLow says so.
    static constexpr qint64 kWriteHighWaterBytes = 1 << 20;
    static constexpr qint64 kWriteLowWaterBytes = kWriteHighWaterBytes / 4;
    // The mark where a sender may be waiting on the window itself: a
    // loopback, or both sides of a link due a hold.
    static constexpr qint64 kBothWaysHighWaterBytes = 16 * kWriteHighWaterBytes;
    // While reading is held, at most this much waits inside the program;
    // the rest stays in the device and the driver, which throttle the sender.
    static constexpr qint64 kHeldReadBufferBytes = platform::Port::kHeldReadBufferBytes;
    // Stops and resumes DataAvailable. Resuming reports bytes that wait.
    void HoldReading(bool hold);
    bool ReadingHeld() const;
    // The device here, for what only it can tell.
    const QSerialPort &Serial() const { return serial_.Device(); }
    LineSettings Line() const { return line_; }
    // Sets the line, on an open port at once. When the driver refuses a
    // setting the old ones stay in force and ErrorText() says why.
    // A network port's line is asked of its server, which answers later:
    // LineAnswered then, and ErrorText() says why when it did not take it.
    bool SetLine(const LineSettings &line);
    using LineState = platform::Port::LineState;
    LineState LineStatus() const { return lineState_; }
    // See SerialDevicePort.
    using LowLatencyRequest = SerialDevicePort::LowLatencyRequest;
    static void SetLowLatencyRequest(LowLatencyRequest request) { SerialDevicePort::SetLowLatencyRequest(request); }
    // Bytes the driver has dropped, where it counts them; a device with no
    // flow control drops what arrives while reading is held.
    std::optional<qint64> DriverOverruns() const { return active_->DriverOverruns(); }
    // Other programs that hold the open device too.
    QList<os::Process> OtherOpeners() const { return active_->OtherOpeners(); }
    using OverrunCount = SerialDevicePort::OverrunCount;
    static void SetOverrunCount(OverrunCount count) { SerialDevicePort::SetOverrunCount(count); }

    // What the handlers asked of the modem lines since the port opened;
    // a device without them (a pty) cannot show it.
    void SetRequestToSend(bool on);
    void SetDataTerminalReady(bool on);
    bool RequestToSend() const { return rts_; }
    bool DataTerminalReady() const { return dtr_; }
    // Both at once, as a board's reset needs.
    void SetOutputs(const ModemOutputs &lines);
    ModemOutputs Outputs() const { return {rts_, dtr_}; }
    // Whether the open port has lines to show (a pty and raw TCP do not;
    // a port server tells once it has sent their state).
    bool HasModemLines() const { return IsOpen() && active_->HasModemLines(); }
    ModemInputs Inputs() const { return active_->Inputs(); }
    bool InputsKnown() const { return HasModemLines() && active_->InputsKnown(); }
    void SendBreak(int ms);
    // See Port: what the line did, placed among the bytes by ReadCount().
    QList<LineEvent> TakeLineEvents() { return active_->TakeLineEvents(); }
    qint64 ReadCount() const { return active_->ReadCount(); }
    void Reset();

    // The open port's descriptor, lent to a relay on another thread while
    // nothing waits here in either direction: a device here, or a port
    // elsewhere (see Port::Lend). Anything done here with the port first
    // calls `takeBack`, whose owner stops the relay and calls Reclaim()
    // with what it did not deliver, which goes out first (see Port).
    // While lent, what waits to go out and whether reading is held are
    // the relay's, as `queued` and `held` tell.
    struct Lender {
        std::function<void()> takeBack;
        std::function<qint64(const SerialController &)> queued;
        std::function<bool(const SerialController &)> held;
    };
    std::optional<os::PortHandle> Lend(const Lender &lender);
    Framing ReadFraming() const { return active_->ReadFraming(); }
    void Reclaim(const Framing &framing = {}, QByteArray unread = {}, QByteArrayView unwritten = {});
    bool Lent() const { return bool(lender_.takeBack); }

    // Why the last Open() failed or the port was closed on an error.
    QString ErrorText() const { return errorText_; }


signals:
    void DataAvailable(platform::SerialController *controller);
    void Error(platform::SerialController *controller);
    // The write queue has fallen to the low-water mark after passing the high one.
    void WriteQueueLow(platform::SerialController *controller);
    // A Release() is done: `dropped` of the queued bytes never reached
    // `path`, and `unread` bytes that came from it meanwhile went nowhere.
    void Released(platform::SerialController *controller, qint64 dropped, const QString &path, qint64 unread);
    // A network port: the connection stands, or could not be made.
    void Connected(platform::SerialController *controller);
    void ConnectFailed(platform::SerialController *controller);
    // The server has answered a line request, taking it or not.
    void LineAnswered(platform::SerialController *controller);
    // The line did something: TakeLineEvents().
    void LineEvents(platform::SerialController *controller);

private:
    // The port is about to be used here: back from a relay first.
    void TakeBack();
    void NoteQueueGrew();
    void TakeDevice(const QString &device);
    void OnLost(const QString &reason);
    void OnQueueDrained();
    void ReleaseDevice();
    void FinishRelease();

    // The two kinds of port; the one in use is chosen by the path at Open().
    SerialDevicePort serial_;
    net::NetworkPort net_;
    platform::Port *active_ = &serial_;
    LineSettings line_;
    std::optional<SerialPortInfo> port_;
    QString errorText_;
    QString device_; // canonical path while held open
    bool held_ = false;
    bool readingHeld_ = false;
    bool rts_ = false;
    bool dtr_ = false;
    bool aboveHighWater_ = false;
    bool releasing_ = false;
    QString releasePath_;
    qint64 droppedAtLoss_ = 0;
    QTimer releaseDeadline_;
    LineState lineState_ = LineState::Applied;
    Lender lender_;
};

} // namespace platform

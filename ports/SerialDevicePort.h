#pragma once
// A serial device on this machine. Passing errors are cleared and reading
// goes on; a device that is gone is closed and reported once, as Lost.

#include "LineWatch.h"
#include "OsSeam.h"
#include "Port.h"

#include <QSerialPort>
#include <QTimer>

#include <memory>

namespace platform {

class SerialDevicePort : public Port {
    Q_OBJECT
public:
    explicit SerialDevicePort(QObject *parent = nullptr);

    bool Open(const QString &path, const LineSettings &line, QString *error) override;
    void Close() override;
    bool IsOpen() const override { return serial_.isOpen(); }
    bool Connecting() const override { return false; }
    LineState LineWhenOpened() const override { return LineState::Applied; }
    // Unmarked where the device marks breaks and errors.
    QByteArray ReadAll() override;
    qint64 BytesWaiting() const override { return serial_.bytesAvailable(); }
    qint64 Write(QByteArrayView data) override;
    qint64 BytesToWrite() const override { return serial_.bytesToWrite() + afterBreak_.size(); }
    void HoldReading(bool hold) override;
    bool SetLine(const LineSettings &line, QString *error) override;
    void SetRequestToSend(bool on) override { serial_.setRequestToSend(on); }
    void SetDataTerminalReady(bool on) override { serial_.setDataTerminalReady(on); }
    // One driver call for both, where the device has the lines.
    void SetOutputs(const ModemOutputs &lines) override;
    bool HasModemLines() const override { return hasLines_; }
    // As the line watch last told.
    ModemInputs Inputs() const override { return inputs_; }
    QList<LineEvent> TakeLineEvents() override { return std::exchange(lineEvents_, {}); }
    // Bytes written during the break wait for its end: a transmitter
    // held in break would lose them.
    void SendBreak(int ms) override;
    std::optional<qint64> DriverOverruns() const override;
    QList<os::Process> OtherOpeners() const override
    {
        return serial_.isOpen() ? os::OtherOpeners(path_) : QList<os::Process> {};
    }

    // Asked of the driver on every open: hand received bytes on at once
    // rather than at a USB adapter's latency timer. A refusal (a pty)
    // changes nothing. Replaceable, so that the request can be seen.
    using LowLatencyRequest = bool (*)(os::PortHandle handle);
    static void SetLowLatencyRequest(LowLatencyRequest request);
    // Replaceable, as no pty drops anything.
    using OverrunCount = std::optional<qint64> (*)(os::PortHandle handle);
    static void SetOverrunCount(OverrunCount count);

    // Whether breaks and bytes in error come marked, and are unmarked
    // here: on a device with modem lines (a real port), not on a pty,
    // unless a test asks for every device (a pty then marks too).
    bool Marked() const { return marked_; }
    static void SetMarkEveryDevice(bool on);

    // The device itself, for what only it can tell.
    const QSerialPort &Device() const { return serial_; }

    // Qt stops reading the device until Reclaim().
    std::optional<os::PortHandle> Lend() override;
    Framing ReadFraming() const override { return {marked_ ? std::optional(marks_) : std::nullopt, {}}; }
    void Reclaim(const Framing &framing, QByteArray unread, QByteArrayView unwritten) override;
    bool Lent() const { return lent_; }

private:
    void OnReadyRead();
    void OnSerialError(QSerialPort::SerialPortError error);
    void FailAfterError();
    void RearmReading();
    void ReportWaitingBytes();

    void EndBreak();

    QSerialPort serial_;
    void HearInputs(const QList<ModemInputs> &states);
    bool hasLines_ = false;
    bool marked_ = false;
    MarkedBytes marks_;
    ModemInputs inputs_;
    QList<LineEvent> lineEvents_;
    std::unique_ptr<LineWatch> watch_;
    QTimer breakTimer_;
    QByteArray afterBreak_;
    QString path_;
    quint64 opens_ = 0; // tells a port opened again from the one that failed
    bool opening_ = false;
    bool failing_ = false;
    bool held_ = false;
    bool lent_ = false;
    QSerialPort::SerialPortError pendingError_ = QSerialPort::NoError;
};

} // namespace platform

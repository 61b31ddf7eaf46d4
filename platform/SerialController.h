#pragma once
// One serial port, opened by the handlers and reporting through events.
// Open failures are Open()'s result, never an Error event; a port that
// fails while open is closed and reported once.

#include "PortEnumerator.h"
#include "SettingsRecord.h"

#include <QObject>
#include <QSerialPort>

#include <optional>

namespace platform {

class SerialController : public QObject, public Settable {
    Q_OBJECT
public:
    explicit SerialController(QObject *parent);
    ~SerialController() override;

    void SetSerialPort(const std::optional<SerialPortInfo> &port);
    std::optional<SerialPortInfo> Port() const { return port_; }

    bool Open();
    // Harmless on a controller that is not open; raises nothing.
    void Close();
    bool IsOpen() const { return serial_.isOpen(); }
    // Open() succeeded and Close() has not been called since, even if a
    // failure of the port has closed it in the meantime.
    bool IsHeld() const { return held_; }

    QByteArray ReadAll();
    // Queues the bytes; does nothing when the port is not open.
    void Write(QByteArrayView data);
    qint64 BytesToWrite() const { return serial_.bytesToWrite(); }
    // Line settings and state, read-only.
    const QSerialPort &Serial() const { return serial_; }

    void SetRequestToSend(bool on);
    void SetDataTerminalReady(bool on);
    void Reset();

    // Why the last Open() failed or the port was closed on an error.
    QString ErrorText() const { return errorText_; }

    PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

signals:
    void DataAvailable(platform::SerialController *controller);
    void Error(platform::SerialController *controller);

private:
    void OnSerialError(QSerialPort::SerialPortError error);
    void FailAfterError();
    void ReleaseDevice();
    bool DeviceLost() const;

    QSerialPort serial_;
    std::optional<SerialPortInfo> port_;
    QString errorText_;
    QString device_; // canonical path while held open
    bool held_ = false;
    bool opening_ = false;
    bool failing_ = false;
};

} // namespace platform

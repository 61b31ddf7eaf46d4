#include "SerialController.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>

#include "OsSeam.h"

namespace platform {

namespace {

QString OpenFailureReason(QSerialPort::SerialPortError error, const QString &path, const QString &qtText)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QCoreApplication::translate("SerialController", "%1 is not present (it may have been unplugged).").arg(path);
    case QSerialPort::PermissionError:
        if (const std::optional<os::Process> holder = os::LockHolder(path))
            return QCoreApplication::translate("SerialController", "%1 is in use by another program (process %2, %3).")
                .arg(path)
                .arg(holder->pid)
                .arg(holder->name);
#ifdef Q_OS_LINUX
        return QCoreApplication::translate("SerialController",
                   "%1 is in use by another program, or you may not use it. On Linux, serial ports belong to "
                   "the dialout group: add yourself with \"sudo usermod -aG dialout $USER\", then log in again.")
            .arg(path);
#else
        return QCoreApplication::translate("SerialController", "%1 is in use by another program, or you may not use it.").arg(path);
#endif
    default:
        return QStringLiteral("%1: %2").arg(path, qtText);
    }
}

// Devices held open by controllers of this process, and by which. Root
// may open a port twice despite the exclusive flag; two readers would
// split its bytes.
QHash<QString, SerialController *> &HeldDevices()
{
    static QHash<QString, SerialController *> held;
    return held;
}

SerialController::OverrunCount &Overruns()
{
    static SerialController::OverrunCount count = &os::DriverOverruns;
    return count;
}

SerialController::LowLatencyRequest &LowLatency()
{
    static SerialController::LowLatencyRequest request = &os::RequestLowLatency;
    return request;
}

QString DeviceKey(const QString &path)
{
    if (net::NetworkAddress::Names(path))
        return path; // not a file
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

} // namespace

SerialController::~SerialController()
{
    Close();
}

SerialController::SerialController(QObject *parent) : QObject(parent)
{
    connect(&serial_, &QSerialPort::readyRead, this, &SerialController::OnReadyRead);
    connect(&serial_, &QSerialPort::bytesWritten, this, &SerialController::OnQueueDrained);
    connect(&serial_, &QSerialPort::errorOccurred, this, &SerialController::OnSerialError);
    releaseDeadline_.setSingleShot(true);
    connect(&releaseDeadline_, &QTimer::timeout, this, &SerialController::FinishRelease);

    connect(&net_, &net::NetworkPort::Opened, this, [this] {
        held_ = true;
        lineState_ = net_.Address().protocol == net::NetworkAddress::Protocol::Rfc2217 ? LineState::Asked
                                                                                       : LineState::AtServer;
        emit Connected(this);
    });
    connect(&net_, &net::NetworkPort::Failed, this, [this](const QString &reason) {
        network_ = false; // a local port may be opened next
        errorText_ = reason;
        ReleaseDevice();
        emit ConnectFailed(this);
    });
    connect(&net_, &net::NetworkPort::Lost, this, &SerialController::OnNetworkLost);
    connect(&net_, &net::NetworkPort::DataAvailable, this, [this] {
        if (!readingHeld_)
            emit DataAvailable(this);
    });
    connect(&net_, &net::NetworkPort::BytesWritten, this, &SerialController::OnQueueDrained);
    connect(&net_, &net::NetworkPort::LineConfirmed, this, [this] {
        lineState_ = LineState::Applied;
        emit LineAnswered(this);
    });
    connect(&net_, &net::NetworkPort::LineRefused, this, [this](const QString &reason) {
        lineState_ = LineState::Refused;
        errorText_ = reason;
        emit LineAnswered(this);
    });
}

void SerialController::Release(int drainMs)
{
    if (!IsOpen() || BytesToWrite() == 0) {
        Close();
        return;
    }
    held_ = false;
    releasing_ = true;
    releasePath_ = port_ ? port_->Path : serial_.portName();
    HoldReading(true);
    releaseDeadline_.start(drainMs);
}

void SerialController::FinishRelease()
{
    if (!releasing_)
        return;
    const qint64 dropped = BytesToWrite();
    Close();
    emit Released(this, dropped, releasePath_);
}

bool SerialController::HoldsDevice(const QString &path) const
{
    return !device_.isEmpty() && (IsOpen() || Connecting()) && DeviceKey(path) == device_;
}

void SerialController::OnReadyRead()
{
    if (readingHeld_)
        return;
    emit DataAvailable(this);
    // Qt does not report bytes that came while a handler ran its own event
    // loop; they are reported now rather than with the next byte.
    if (serial_.isOpen() && !readingHeld_ && serial_.bytesAvailable() > 0)
        ReportWaitingBytes();
}

void SerialController::HoldReading(bool hold)
{
    if (hold == readingHeld_)
        return;
    readingHeld_ = hold;
    if (network_) {
        net_.HoldReading(hold);
        return;
    }
    // Bounded while held: once full, Qt stops reading the device. Setting
    // the size also starts Qt reading again.
    serial_.setReadBufferSize(hold ? kHeldReadBufferBytes : 0);
    if (!hold)
        ReportWaitingBytes();
}

// Qt stops watching a port whose read failed or whose buffer filled up;
// setting the buffer size starts it again.
void SerialController::RearmReading()
{
    if (!serial_.isOpen())
        return;
    serial_.setReadBufferSize(serial_.readBufferSize());
    ReportWaitingBytes();
}

// Bytes already waiting get no readyRead of their own, so they are
// reported here, from the event loop.
void SerialController::ReportWaitingBytes()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (serial_.isOpen() && !readingHeld_ && serial_.bytesAvailable() > 0)
                emit DataAvailable(this);
        },
        Qt::QueuedConnection);
}

void SerialController::OnQueueDrained()
{
    if (releasing_ && BytesToWrite() == 0) {
        FinishRelease();
        return;
    }
    if (aboveHighWater_ && BytesToWrite() <= kWriteLowWaterBytes) {
        aboveHighWater_ = false;
        emit WriteQueueLow(this);
    }
}

void SerialController::SetSerialPort(const std::optional<SerialPortInfo> &port)
{
    port_ = port;
    if (port_ && !serial_.isOpen() && !net::NetworkAddress::Names(port_->Path))
        serial_.setPortName(port_->Path);
}

bool SerialController::Open()
{
    if (!port_) {
        errorText_ = tr("No serial port is selected.");
        return false;
    }
    if (port_->Path.isEmpty()) {
        errorText_ = OpenFailureReason(QSerialPort::DeviceNotFoundError, port_->Name, {});
        return false;
    }
    // This controller's, or another's, port still delivering: what it has
    // not delivered by now is given up for the new use.
    FinishRelease();
    if (IsOpen() || Connecting()) {
        errorText_ = tr("%1 is already open.").arg(port_->Path);
        return false;
    }
    const QString device = DeviceKey(port_->Path);
    if (SerialController *holder = HeldDevices().value(device); holder && holder->Releasing())
        holder->FinishRelease();
    if (HeldDevices().contains(device)) {
        errorText_ = tr("%1 is already open in this window.").arg(port_->Path);
        return false;
    }
    if (net::NetworkAddress::Names(port_->Path)) {
        const std::optional<net::NetworkAddress> address = net::NetworkAddress::Parse(port_->Path, &errorText_);
        return address && OpenNetwork(*address, device);
    }
    serial_.setPortName(port_->Path);
    opening_ = true;
    const bool ok = serial_.open(QIODevice::ReadWrite);
    opening_ = false;
    if (!ok) {
        errorText_ = OpenFailureReason(serial_.error(), port_->Path, serial_.errorString());
        serial_.clearError();
        return false;
    }
    TakeDevice(device);
    held_ = true;
    lineState_ = LineState::Applied;
    LowLatency()(serial_.handle());
    os::SetFlowCharacters(serial_.handle());
    return true;
}

// Open, or being connected: the device is this controller's from now on.
void SerialController::TakeDevice(const QString &device)
{
    errorText_.clear();
    device_ = device;
    HeldDevices().insert(device_, this);
    droppedAtLoss_ = 0;
    failing_ = false;
}

bool SerialController::OpenNetwork(const net::NetworkAddress &address, const QString &device)
{
    TakeDevice(device);
    network_ = true;
    net_.Open(address, Line());
    return true;
}

// A dropped connection is a lost device: what was queued for it is counted.
void SerialController::OnNetworkLost(const QString &reason)
{
    if (releasing_) {
        FinishRelease();
        return;
    }
    errorText_ = reason;
    droppedAtLoss_ = net_.BytesToWrite();
    ReleaseDevice();
    net_.Close();
    network_ = false;
    if (readingHeld_) {
        readingHeld_ = false;
        net_.HoldReading(false);
    }
    emit Error(this);
}

void SerialController::SetOverrunCount(OverrunCount count)
{
    Overruns() = count ? count : &os::DriverOverruns;
}

std::optional<qint64> SerialController::DriverOverruns() const
{
    return serial_.isOpen() ? Overruns()(serial_.handle()) : std::nullopt; // none over the network
}

void SerialController::SetLowLatencyRequest(LowLatencyRequest request)
{
    LowLatency() = request ? request : &os::RequestLowLatency;
}

bool SerialController::SetLine(const LineSettings &line)
{
    const LineSettings old = Line();
    // Stored for the next open on a closed port; on an open one, only
    // what the device really took counts (1.5 stop bits read back as 2).
    // A network port's server answers later (LineAnswered).
    bool taken = line.ApplyTo(serial_);
    if (taken && serial_.isOpen()) {
        // Qt writes back its own copy of the terminal settings, control
        // characters too: ^S and ^Q are set again.
        os::SetFlowCharacters(serial_.handle());
        if (const std::optional<LineSettings> device = os::DeviceLine(serial_.handle())) {
            LineSettings expected = line;
            expected.frameGapUs = device->frameGapUs;
            if (expected.stopBits == QSerialPort::OneAndHalfStop)
                expected.stopBits = QSerialPort::TwoStop;
            taken = *device == expected;
        }
    }
    if (taken) {
        frameGapUs_ = line.frameGapUs;
        errorText_.clear();
        if (net_.IsOpen()) {
            net_.SetLine(line);
            if (lineState_ != LineState::AtServer)
                lineState_ = LineState::Asked;
        }
        return true;
    }
    errorText_ = tr("%1 does not take %2; %3 stays in force.")
                     .arg(port_ ? port_->Path : serial_.portName(), line.Summary(), old.Summary());
    old.ApplyTo(serial_);
    serial_.clearError();
    return false;
}

void SerialController::Close()
{
    releasing_ = false;
    releaseDeadline_.stop();
    held_ = false;
    rts_ = dtr_ = false;
    // An error noticed before the close is no longer this port's news.
    failing_ = false;
    aboveHighWater_ = false;
    ReleaseDevice();
    if (serial_.isOpen())
        serial_.close();
    serial_.clearError();
    if (readingHeld_) {
        readingHeld_ = false;
        serial_.setReadBufferSize(0);
        net_.HoldReading(false);
    }
    net_.Close();
    network_ = false;
    lineState_ = LineState::Applied;
}

void SerialController::ReleaseDevice()
{
    if (!device_.isEmpty())
        HeldDevices().remove(device_);
    device_.clear();
}

QByteArray SerialController::ReadAll()
{
    return network_ ? net_.ReadAll() : serial_.readAll();
}

void SerialController::Write(QByteArrayView data)
{
    if (!IsOpen() || data.isEmpty())
        return;
    if (network_) {
        net_.Write(data);
        aboveHighWater_ = aboveHighWater_ || net_.BytesToWrite() > kWriteHighWaterBytes;
        return;
    }
    const bool idle = serial_.bytesToWrite() == 0;
    serial_.write(data.data(), data.size());
    if (serial_.bytesToWrite() > kWriteHighWaterBytes)
        aboveHighWater_ = true;
    // With nothing queued before, hand the bytes to the driver now rather
    // than a loop pass later; otherwise Qt sends them as the port drains.
    // A full driver buffer here is a passing error (see DeviceLost).
    if (idle)
        serial_.flush();
}

void SerialController::SetRequestToSend(bool on)
{
    if (!IsOpen())
        return;
    rts_ = on;
    if (!network_)
        serial_.setRequestToSend(on);
}

void SerialController::SetDataTerminalReady(bool on)
{
    if (!IsOpen())
        return;
    dtr_ = on;
    if (!network_)
        serial_.setDataTerminalReady(on);
}

void SerialController::Reset()
{
    // Clears the error state only: discarding buffers would lose bytes.
    serial_.clearError();
}

void SerialController::OnSerialError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError: // no modem lines, e.g. a pty
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
        return;
    default:
        break;
    }
    if (opening_ || failing_ || !serial_.isOpen())
        return;
    // A hang-up makes Qt report the same error on every loop pass while the
    // port stays open; look once, from the event loop, whether it is one.
    failing_ = true;
    pendingError_ = error;
    QMetaObject::invokeMethod(this, &SerialController::FailAfterError, Qt::QueuedConnection);
}

void SerialController::FailAfterError()
{
    if (!failing_)
        return; // closed in the meantime
    if (!os::DeviceLost(serial_, pendingError_)) {
        // Passing: a full driver buffer, or another program that read the
        // bytes first. Bytes after it must still arrive.
        serial_.clearError();
        failing_ = false;
        RearmReading();
        return;
    }
    if (releasing_) {
        FinishRelease(); // let go already: the rest cannot be delivered now
        return;
    }
    errorText_ = tr("%1 was unplugged or closed.").arg(port_ ? port_->Path : serial_.portName());
    // Bytes that arrived before the failure still go to the handlers, held or not.
    if (serial_.bytesAvailable() > 0)
        emit DataAvailable(this);
    droppedAtLoss_ = serial_.bytesToWrite();
    ReleaseDevice();
    if (serial_.isOpen())
        serial_.close();
    serial_.clearError();
    failing_ = false;
    emit Error(this);
}

} // namespace platform

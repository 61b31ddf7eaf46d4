#include "SerialDevicePort.h"

#include <QSocketNotifier>

#include <QCoreApplication>

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

SerialDevicePort::OverrunCount &Overruns()
{
    static SerialDevicePort::OverrunCount count = &os::DriverOverruns;
    return count;
}

SerialDevicePort::LowLatencyRequest &LowLatency()
{
    static SerialDevicePort::LowLatencyRequest request = &os::RequestLowLatency;
    return request;
}

} // namespace

SerialDevicePort::SerialDevicePort(QObject *parent) : Port(parent)
{
    connect(&serial_, &QSerialPort::readyRead, this, &SerialDevicePort::OnReadyRead);
    connect(&serial_, &QSerialPort::bytesWritten, this, &Port::BytesWritten);
    connect(&serial_, &QSerialPort::errorOccurred, this, &SerialDevicePort::OnSerialError);
    breakTimer_.setSingleShot(true);
    breakTimer_.setTimerType(Qt::PreciseTimer);
    connect(&breakTimer_, &QTimer::timeout, this, &SerialDevicePort::EndBreak);
}

void SerialDevicePort::SetLowLatencyRequest(LowLatencyRequest request)
{
    LowLatency() = request ? request : &os::RequestLowLatency;
}

namespace {
bool &MarkEvery()
{
    static bool every = false;
    return every;
}
} // namespace

void SerialDevicePort::SetMarkEveryDevice(bool on) { MarkEvery() = on; }

QByteArray SerialDevicePort::ReadAll()
{
    QByteArray read = serial_.readAll();
    if (marked_)
        read = marks_.Decode(read, ReadCount(), lineEvents_);
    return Counted(std::move(read));
}

void SerialDevicePort::SetOverrunCount(OverrunCount count)
{
    Overruns() = count ? count : &os::DriverOverruns;
}

bool SerialDevicePort::Open(const QString &path, const LineSettings &line, QString *error)
{
    path_ = path;
    serial_.setPortName(path);
    line.ApplyTo(serial_); // a closed port keeps them for the open
    opening_ = true;
    const bool ok = serial_.open(QIODevice::ReadWrite);
    opening_ = false;
    if (!ok) {
        *error = OpenFailureReason(serial_.error(), path, serial_.errorString());
        serial_.clearError();
        return false;
    }
    failing_ = false;
    ++opens_;
    ResetReadCount();
    const std::optional<os::ModemLineStates> lines = LineWatch::Used().read(serial_.handle());
    hasLines_ = lines.has_value();
    inputs_ = lines ? lines->inputs : ModemInputs {};
    lineEvents_.clear();
    marks_ = {};
    marked_ = (hasLines_ || MarkEvery()) && os::MarkLineErrors(serial_.handle());
    if (hasLines_) {
        watch_ = std::make_unique<LineWatch>(serial_.handle(), inputs_, this,
                                             [this, open = opens_](const QList<ModemInputs> &states) {
                                                 if (open == opens_ && serial_.isOpen())
                                                     HearInputs(states);
                                             });
    }
    LowLatency()(serial_.handle());
    os::SetFlowCharacters(serial_.handle());
    return true;
}

void SerialDevicePort::Close()
{
    lent_ = false;
    watch_.reset(); // before the descriptor goes
    hasLines_ = false;
    marked_ = false;
    breakTimer_.stop();
    afterBreak_.clear();
    // An error noticed before the close is no longer this port's news.
    failing_ = false;
    if (serial_.isOpen())
        serial_.close();
    serial_.clearError();
    if (held_) {
        held_ = false;
        serial_.setReadBufferSize(0);
    }
}

qint64 SerialDevicePort::Write(QByteArrayView data)
{
    if (!serial_.isOpen())
        return -1;
    if (breakTimer_.isActive()) {
        afterBreak_ += data;
        return data.size();
    }
    const bool idle = serial_.bytesToWrite() == 0;
    const qint64 queued = serial_.write(data.data(), data.size());
    // With nothing queued before, hand the bytes to the driver now rather
    // than a loop pass later; otherwise Qt sends them as the port drains.
    // A full driver buffer here is a passing error (see DeviceLost).
    if (idle)
        serial_.flush();
    return queued;
}

void SerialDevicePort::SetOutputs(const ModemOutputs &lines)
{
    // A device without lines (a pty) has nothing to drive.
    if (!serial_.isOpen() || !hasLines_)
        return;
    if (!LineWatch::Used().write(serial_.handle(), lines)) {
        serial_.setRequestToSend(lines.rts);
        serial_.setDataTerminalReady(lines.dtr);
    }
}

// Placed after what Qt has read so far; what the driver still holds
// came later.
void SerialDevicePort::HearInputs(const QList<ModemInputs> &states)
{
    const qint64 at = ReadCount() + serial_.bytesAvailable();
    for (const ModemInputs &state : states)
        lineEvents_.append({LineEvent::Kind::Inputs, state, at});
    inputs_ = states.last();
    emit LineEvents();
}

void SerialDevicePort::SendBreak(int ms)
{
    if (!serial_.isOpen() || breakTimer_.isActive() || lent_)
        return;
    serial_.flush(); // what came before the break goes before it
    if (!os::SetBreak(serial_.handle(), true))
        return;
    breakTimer_.start(std::max(1, ms));
}

void SerialDevicePort::EndBreak()
{
    if (!serial_.isOpen())
        return;
    os::SetBreak(serial_.handle(), false);
    const QByteArray waiting = std::exchange(afterBreak_, {});
    if (!waiting.isEmpty())
        Write(waiting);
}

void SerialDevicePort::HoldReading(bool hold)
{
    if (hold == held_)
        return;
    held_ = hold;
    // Bounded while held: once full, Qt stops reading the device. Setting
    // the size also starts Qt reading again.
    serial_.setReadBufferSize(hold ? kHeldReadBufferBytes : 0);
    if (!hold)
        ReportWaitingBytes();
}

std::optional<os::PortHandle> SerialDevicePort::Lend()
{
    if (lent_ || !serial_.isOpen() || held_ || failing_ || serial_.bytesToWrite() > 0 || serial_.bytesAvailable() > 0)
        return std::nullopt;
    QSocketNotifier *reader = QtReaderOf(serial_, qintptr(serial_.handle()));
    if (!reader)
        return std::nullopt;
    reader->setEnabled(false);
    lent_ = true;
    return serial_.handle();
}

void SerialDevicePort::Reclaim(const Framing &framing, QByteArray, QByteArrayView unwritten)
{
    if (std::exchange(lent_, false)) {
        if (framing.marks)
            marks_ = *framing.marks;
        // Setting the size starts Qt reading again.
        serial_.setReadBufferSize(0);
    }
    if (!unwritten.isEmpty())
        Write(unwritten);
}

void SerialDevicePort::OnReadyRead()
{
    if (held_)
        return;
    emit DataAvailable();
    // Qt does not report bytes that came while a handler ran its own event
    // loop; they are reported now rather than with the next byte.
    if (serial_.isOpen() && !held_ && serial_.bytesAvailable() > 0)
        ReportWaitingBytes();
}

// Qt stops watching a port whose read failed or whose buffer filled up;
// setting the buffer size starts it again.
void SerialDevicePort::RearmReading()
{
    if (!serial_.isOpen())
        return;
    serial_.setReadBufferSize(serial_.readBufferSize());
    ReportWaitingBytes();
}

// Bytes already waiting get no readyRead of their own, so they are
// reported here, from the event loop.
void SerialDevicePort::ReportWaitingBytes()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (serial_.isOpen() && !held_ && serial_.bytesAvailable() > 0)
                emit DataAvailable();
        },
        Qt::QueuedConnection);
}

bool SerialDevicePort::SetLine(const LineSettings &line, QString *)
{
    const LineSettings old = LineSettings::Of(serial_);
    // Only what the device really took counts (1.5 stop bits read back as 2).
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
    if (!taken) {
        old.ApplyTo(serial_);
        serial_.clearError();
    }
    if (marked_)
        os::MarkLineErrors(serial_.handle()); // Qt wrote its own copy of the settings
    return taken;
}

std::optional<qint64> SerialDevicePort::DriverOverruns() const
{
    return serial_.isOpen() ? Overruns()(serial_.handle()) : std::nullopt;
}

void SerialDevicePort::OnSerialError(QSerialPort::SerialPortError error)
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
    QMetaObject::invokeMethod(this, &SerialDevicePort::FailAfterError, Qt::QueuedConnection);
}

void SerialDevicePort::FailAfterError()
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
    // Bytes that arrived before the failure still go on, held or not; the
    // queue is still counted when Lost is raised.
    if (serial_.bytesAvailable() > 0)
        emit DataAvailable();
    if (!failing_)
        return; // closed by a handler of those bytes
    failing_ = false;
    const quint64 opened = opens_;
    emit Lost(tr("%1 was unplugged or closed.").arg(path_));
    if (opens_ == opened)
        Close();
}

} // namespace platform

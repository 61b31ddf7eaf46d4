#include "SerialController.h"

#include <QFileInfo>
#include <QHash>

#include "OsSeam.h"

namespace platform {

namespace {

// Devices held open by controllers of this process, and by which. Root
// may open a port twice despite the exclusive flag; two readers would
// split its bytes.
QHash<QString, SerialController *> &HeldDevices()
{
    static QHash<QString, SerialController *> held;
    return held;
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
    releaseDeadline_.setSingleShot(true);
    connect(&releaseDeadline_, &QTimer::timeout, this, &SerialController::FinishRelease);
    // Only the port in use is heard.
    for (platform::Port *port : {static_cast<platform::Port *>(&serial_), static_cast<platform::Port *>(&net_)}) {
        connect(port, &platform::Port::DataAvailable, this, [this, port] {
            // What comes after a Release() is no longer this channel's.
            if (port == active_ && !releasing_)
                emit DataAvailable(this);
        });
        connect(port, &platform::Port::BytesWritten, this, [this, port] {
            if (port == active_)
                OnQueueDrained();
        });
        connect(port, &platform::Port::LineEvents, this, [this, port] {
            if (port == active_ && !releasing_)
                emit LineEvents(this);
        });
        connect(port, &platform::Port::Lost, this, [this, port](const QString &reason) {
            if (port == active_)
                OnLost(reason);
        });
        connect(port, &platform::Port::Opened, this, [this, port] {
            if (port != active_)
                return;
            held_ = true;
            lineState_ = port->LineWhenOpened();
            emit Connected(this);
        });
        connect(port, &platform::Port::Failed, this, [this, port](const QString &reason) {
            if (port != active_)
                return;
            errorText_ = reason;
            ReleaseDevice();
            active_ = &serial_; // a local port may be opened next
            emit ConnectFailed(this);
        });
        connect(port, &platform::Port::LineConfirmed, this, [this, port] {
            if (port != active_)
                return;
            lineState_ = LineState::Confirmed;
            emit LineAnswered(this);
        });
        connect(port, &platform::Port::LineRefused, this, [this, port](const QString &reason) {
            if (port != active_)
                return;
            lineState_ = LineState::Refused;
            errorText_ = reason;
            emit LineAnswered(this);
        });
    }
}

std::optional<os::PortHandle> SerialController::Lend(const Lender &lender)
{
    if (Lent() || releasing_ || readingHeld_)
        return std::nullopt;
    const std::optional<os::PortHandle> handle = active_->Lend();
    if (handle)
        lender_ = lender;
    return handle;
}

void SerialController::Reclaim(const Framing &framing, QByteArray unread, QByteArrayView unwritten)
{
    lender_ = {};
    active_->Reclaim(framing, std::move(unread), unwritten);
    NoteQueueGrew();
}

void SerialController::TakeBack()
{
    if (Lent())
        std::exchange(lender_, {}).takeBack();
}

qint64 SerialController::BytesToWrite() const
{
    const qint64 here = active_->BytesToWrite();
    return Lent() ? here + lender_.queued(*this) : here;
}

bool SerialController::ReadingHeld() const
{
    return readingHeld_ || (Lent() && lender_.held(*this));
}

void SerialController::Release(int drainMs)
{
    TakeBack();
    if (!IsOpen() || BytesToWrite() == 0) {
        Close();
        return;
    }
    held_ = false;
    releasing_ = true;
    releasePath_ = port_ ? port_->Path : QString();
    HoldReading(true);
    releaseDeadline_.start(drainMs);
}

void SerialController::FinishRelease()
{
    if (!releasing_)
        return;
    const qint64 dropped = BytesToWrite();
    const qint64 unread = BytesWaiting();
    Close();
    emit Released(this, dropped, releasePath_, unread);
}

bool SerialController::HoldsDevice(const QString &path) const
{
    return !device_.isEmpty() && (IsOpen() || Connecting()) && DeviceKey(path) == device_;
}

void SerialController::HoldReading(bool hold)
{
    TakeBack();
    if (hold == readingHeld_)
        return;
    readingHeld_ = hold;
    active_->HoldReading(hold);
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
}

bool SerialController::Open()
{
    if (!port_) {
        errorText_ = tr("No serial port is selected.");
        return false;
    }
    if (port_->Path.isEmpty()) {
        errorText_ = tr("%1 is not present (it may have been unplugged).").arg(port_->Name);
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
    // Taken first: a server refused at once says so during Open().
    TakeDevice(device);
    platform::Port *port = net::NetworkAddress::Names(port_->Path) ? static_cast<platform::Port *>(&net_) : static_cast<platform::Port *>(&serial_);
    active_ = port;
    if (!port->Open(port_->Path, line_, &errorText_)) {
        ReleaseDevice();
        active_ = &serial_;
        return false;
    }
    if (active_ == port && port->IsOpen()) {
        held_ = true;
        lineState_ = port->LineWhenOpened();
    }
    return true;
}

// Open, or being connected: the device is this controller's from now on.
void SerialController::TakeDevice(const QString &device)
{
    errorText_.clear();
    device_ = device;
    HeldDevices().insert(device_, this);
    droppedAtLoss_ = 0;
}

// A lost device, here or on a server: what was queued for it is counted.
void SerialController::OnLost(const QString &reason)
{
    if (releasing_) {
        FinishRelease(); // let go already: the rest cannot be delivered now
        return;
    }
    errorText_ = reason;
    droppedAtLoss_ = BytesToWrite();
    ReleaseDevice();
    active_->Close();
    if (readingHeld_) {
        readingHeld_ = false;
        active_->HoldReading(false);
    }
    active_ = &serial_;
    emit Error(this);
}

bool SerialController::SetLine(const LineSettings &line)
{
    TakeBack();
    // Stored for the next open on a closed port; on an open one, only
    // what the device really took counts. A network port's server
    // answers later (LineAnswered).
    if (IsOpen() && !active_->SetLine(line, &errorText_)) {
        errorText_ = tr("%1 does not take %2; %3 stays in force.")
                         .arg(port_ ? port_->Path : QString(), line.Summary(), line_.Summary());
        return false;
    }
    line_ = line;
    errorText_.clear();
    if (IsOpen() && lineState_ != LineState::AtServer)
        lineState_ = active_->LineWhenOpened();
    return true;
}

void SerialController::Close()
{
    TakeBack();
    releasing_ = false;
    releaseDeadline_.stop();
    held_ = false;
    rts_ = dtr_ = false;
    aboveHighWater_ = false;
    ReleaseDevice();
    if (readingHeld_) {
        readingHeld_ = false;
        active_->HoldReading(false);
    }
    active_->Close();
    active_ = &serial_;
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
    TakeBack();
    return active_->ReadAll();
}

void SerialController::Write(QByteArrayView data)
{
    TakeBack();
    if (!IsOpen() || data.isEmpty())
        return;
    active_->Write(data);
    NoteQueueGrew();
}

// Past the high water mark, the queue's fall below the low one is told.
void SerialController::NoteQueueGrew()
{
    if (BytesToWrite() > kWriteHighWaterBytes)
        aboveHighWater_ = true;
}

// A port still connecting sets them once it stands.
void SerialController::SetRequestToSend(bool on)
{
    TakeBack();
    if (!IsOpen() && !Connecting())
        return;
    rts_ = on;
    active_->SetRequestToSend(on);
}

void SerialController::SetDataTerminalReady(bool on)
{
    TakeBack();
    if (!IsOpen() && !Connecting())
        return;
    dtr_ = on;
    active_->SetDataTerminalReady(on);
}

void SerialController::SetOutputs(const ModemOutputs &lines)
{
    TakeBack();
    if (!IsOpen() && !Connecting())
        return;
    const bool rtsChanges = lines.rts != rts_, dtrChanges = lines.dtr != dtr_;
    rts_ = lines.rts;
    dtr_ = lines.dtr;
    if (rtsChanges && dtrChanges)
        active_->SetOutputs(lines);
    else if (rtsChanges)
        active_->SetRequestToSend(lines.rts);
    else if (dtrChanges)
        active_->SetDataTerminalReady(lines.dtr);
}

void SerialController::SendBreak(int ms)
{
    TakeBack();
    if (IsOpen())
        active_->SendBreak(ms);
}

void SerialController::Reset()
{
    // Nothing to clear: each port clears its passing errors as it meets
    // them, and discarding buffers would lose bytes.
}

} // namespace platform

// Opening and closing each channel's port, the link between them, and
// their line settings.

#include "Bridge.h"
#include "Texts.h"

#include "ports/OsSeam.h"

#include <QTimer>

namespace bridge {

using namespace platform;

Bridge::Bridge(SerialController &port1, SerialController &port2, PortEnumerator &ports, ui::Recorder::Clock clock,
               int quickLossMs, QObject *parent)
    : QObject(parent), ports_(ports), recorder_(std::move(clock)), quickLossMs_(quickLossMs)
{
    channels_[0] = std::make_unique<Channel>(1, port1);
    channels_[1] = std::make_unique<Channel>(2, port2);
    Own(1).SetOther(Own(2));
    Own(2).SetOther(Own(1));
    for (int number : {1, 2}) {
        SerialController &port = Own(number).controller;
        connect(&port, &SerialController::WriteQueueLow, this, &Bridge::PaceReading);
        connect(&port, &SerialController::Connected, this, [this, number] { NetworkConnected(Own(number)); });
        connect(&port, &SerialController::ConnectFailed, this, [this, number] { ConnectFailed(Own(number)); });
        connect(&port, &SerialController::LineAnswered, this, [this, number] { LineAnswered(Own(number)); });
        connect(&port, &SerialController::LineEvents, this, [this, number] { RelayArrival(Own(number)); });
        // What a port let go of could not deliver, and what it was sent
        // after the press, which is no longer its channel's.
        connect(&port, &SerialController::Released, this,
                [this, number](SerialController *, qint64 dropped, const QString &path, qint64 unread) {
                    if (unread > 0)
                        recorder_.UnreadAtRelease(number, unread, path);
                    if (dropped > 0)
                        recorder_.DroppedAtRelease(number, dropped, path);
                });
    }
    // A capture names each channel's interface by its port and line settings.
    recorder_.SetDescriber([this](int number) {
        const Channel &own = Own(number);
        const std::optional<SerialPortInfo> device = own.Device();
        const QString port = device ? device->Path : tr("channel %1").arg(number);
        return QStringLiteral("%1 %2").arg(port, RecordedLine(own.Port()));
    });
}

Bridge::~Bridge()
{
    ReturnDevices(); // before the ports close
}

void Bridge::Settle()
{
    // A route needs both ends.
    if (!Own(1).HoldsPort() || !Own(2).HoldsPort())
        route_ = Route::None;
    FollowLines();
    emit Changed();
    EngageLater();
}

void Bridge::ReportLater(const QString &text, const QString &detail, std::function<bool()> stillTrue, int afterMs)
{
    emit Beep();
    QTimer::singleShot(afterMs, this, [this, text, detail, stillTrue = std::move(stillTrue)] {
        if (!stillTrue || stillTrue())
            emit Report(text, detail);
    });
}

// A channel shares when the other channel holds open the very device this
// channel's row names: it counts as connected on it.
bool Bridge::SharesOtherPort(const Channel &own, const std::optional<SerialPortInfo> &port)
{
    return port && own.Other().Now() == Channel::State::Open && own.Other().Holds(*port);
}

bool Bridge::OpenPort(Channel &own, const std::optional<SerialPortInfo> &port)
{
    own.controller.SetSerialPort(port);
    if (!own.controller.Open())
        return false;
    // A network port being connected sets them once the connection stands.
    own.controller.SetRequestToSend(true);
    own.controller.SetDataTerminalReady(true);
    own.controller.Reset();
    return true;
}

Bridge::Opened Bridge::Connect(int number, const std::optional<SerialPortInfo> &port)
{
    Disengage(); // what the relay read is shown before anything changes
    Channel &own = Own(number);
    const bool shares = SharesOtherPort(own, port);
    if (!shares && !OpenPort(own, port))
        return Opened::Failed;
    if (!shares && own.controller.Connecting()) {
        own.BecomeConnecting();
        Settle();
        return Opened::Connecting;
    }
    FinishConnect(own, shares);
    return Opened::Done;
}

// The rest of Connect once the port is held: at once, or when a network
// port's connection stands.
void Bridge::FinishConnect(Channel &own, bool shares)
{
    if (shares) {
        // One device, one setting: kept for when this side opens it itself.
        own.controller.SetLine(own.Other().controller.Line());
        own.BecomeSharing();
    } else {
        own.BecomeOpen();
    }
    // Both ends held: ready to link, or, on one device, loopback at once.
    if (own.Other().HoldsPort())
        route_ = shares ? Route::Loopback : Route::None;
    Settle();
    // Recorded once the steps are done: a failing record cannot cut them short.
    const QString path = own.Port().Port()->Path;
    if (shares)
        recorder_.ConnectedSharing(own.number, path);
    else
        recorder_.Connected(own.number, path, RecordedLine(own.controller));
    if (!shares)
        TellOfOtherReaders(own);
    own.toldOfPossibleLoss = false;
}

// A connect that failed or was given up: the channel is idle again, its
// button as it was when pressed.
void Bridge::StopConnecting(Channel &own)
{
    own.controller.Close();
    own.BecomeIdle();
    emit ConnectStopped(own.number);
    Settle();
}

// A program that takes no lock (a terminal, cat) may hold the device open
// too, and the two readers split its bytes: said once, without a box.
void Bridge::TellOfOtherReaders(const Channel &own)
{
    const QList<os::Process> others = own.controller.OtherOpeners();
    if (others.isEmpty())
        return;
    const QString path = own.controller.Port()->Path;
    QStringList names;
    for (const os::Process &p : others)
        names.append(tr("process %1 (%2)").arg(p.pid).arg(p.name));
    const QString who = names.join(QStringLiteral(", "));
    const QString text = texts::kAlsoOpen.arg(path);
    recorder_.AlsoOpen(own.number, text, who);
    emit Notice(text, tr("It is open in %1; bytes read there do not reach this window.").arg(who));
}

void Bridge::Disconnect(int number)
{
    Disengage(); // what the relay read is shown before anything changes
    Channel &own = Own(number);
    if (!own.HoldsPort())
        return;
    Channel &other = own.Other();
    const bool otherSharesOurs = own.Now() == Channel::State::Open && other.Now() == Channel::State::Sharing;
    CloseChannel(own);
    if (otherSharesOurs)
        CloseChannel(other);
    route_ = Route::None;
    Settle();
    PaceReading();
}

void Bridge::CloseChannel(Channel &channel)
{
    recorder_.Disconnected(channel.number);
    channel.controller.Release();
    channel.BecomeIdle();
    channel.toldOfPossibleLoss = false;
}

void Bridge::UserTakesOver(int number)
{
    Channel &own = Own(number);
    StopWaiting(own);
    if (own.Connecting())
        StopConnecting(own);
    own.ForgetResumes();
    if (Channel &other = own.Other(); other.Waits()) {
        other.Waiting().route = Route::None;
        other.Waiting().partner.reset();
    }
}

bool Bridge::Link()
{
    if (!Own(1).HoldsPort() || !Own(2).HoldsPort() || route_ != Route::None)
        return false;
    route_ = Route::Linked;
    recorder_.Linked();
    Settle();
    Own(1).toldOfPossibleLoss = Own(2).toldOfPossibleLoss = false;
    PaceReading();
    return true;
}

bool Bridge::Unlink()
{
    Disengage(); // what the relay read is shown before anything changes
    if (route_ == Route::None)
        return false;
    route_ = Route::None;
    recorder_.Unlinked();
    Settle();
    Own(1).toldOfPossibleLoss = Own(2).toldOfPossibleLoss = false;
    PaceReading();
    return true;
}

namespace {

// A loopback pair shares one port, and so one setting, also while it
// waits for that port.
bool OnOneDevice(const Channel &a, const Channel &b)
{
    if (&a.Port() == &b.Port())
        return true;
    return a.Waits() && b.Waits() && a.Waiting().route == Route::Loopback && b.Waiting().route == Route::Loopback &&
           a.Waiting().device == b.Waiting().device;
}

} // namespace

bool Bridge::SetLine(int number, const LineSettings &line)
{
    Disengage(); // what the relay read is shown before anything changes
    Channel &own = Own(number);
    SerialController &port = own.Port();
    if (!port.SetLine(line))
        return false;
    // Each side keeps its own copy, for when it opens the port itself.
    for (Channel *c : {&own, &own.Other()})
        if (&c->controller != &port && OnOneDevice(*c, own))
            c->controller.SetLine(line);
    Settle();
    Own(1).toldOfPossibleLoss = Own(2).toldOfPossibleLoss = false;
    recorder_.LineChanged(number, RecordedLine(port));
    return true;
}

// A network port's server has answered: the label says what stands, the
// record notes the answer as an event of its own, and a refusal is said
// once, as a driver's would be.
void Bridge::LineAnswered(Channel &own)
{
    Settle();
    const bool refused = own.controller.LineStatus() == SerialController::LineState::Refused;
    recorder_.LineAnswered(own.number, RecordedLine(own.controller), refused ? own.controller.ErrorText() : QString());
    if (refused)
        ReportLater(texts::kLineNotSet, own.controller.ErrorText());
}

// As it stands when recorded: a capture's interface is not renamed when a
// server answers later.
QString Bridge::RecordedLine(const SerialController &port)
{
    const QString summary = port.Line().Summary();
    switch (port.LineStatus()) {
    case SerialController::LineState::Applied: break;
    case SerialController::LineState::Asked: return texts::kLineAsked.arg(summary);
    case SerialController::LineState::Confirmed: return texts::kLineConfirmed.arg(summary);
    case SerialController::LineState::Refused: return texts::kLineNotConfirmed.arg(summary);
    case SerialController::LineState::AtServer: return texts::kLineAtServer;
    }
    return summary;
}

void Bridge::LetGo()
{
    Disengage(); // what the relay read is shown before anything changes
    for (int number : {1, 2}) {
        Disconnect(number);
        if (Own(number).Connecting())
            UserTakesOver(number);
        StopWaiting(Own(number));
    }
}

bool Bridge::PortInUse(const QString &path) const
{
    for (int number : {1, 2}) {
        const Channel &c = Own(number);
        const std::optional<SerialPortInfo> held = c.Device();
        if ((held && held->Path == path) || (c.Connecting() && c.controller.Port()->Path == path) ||
            (c.Waits() && c.Waiting().device.Path == path))
            return true;
    }
    return false;
}

} // namespace bridge

#pragma once
// The bridge between two ports, with no window: its two channels, the
// route between them, the relay and its pacing, the loss of a device and
// its resume, and the record of all of it. Driven by plain calls; it tells
// of every change by signals, and a view draws from its state.
//
// Everything here runs on the thread that owns it, except the relay of a
// link between devices here, which runs on its own (BridgeDirect.cpp), so
// that no byte waits for the window. Boxes are never shown from inside a
// call: Report is raised once the handler running now has returned, so
// nothing in the data path waits for a person.

#include "Channel.h"
#include "Route.h"
#include "ports/DirectRelay.h"
#include "ports/PortEnumerator.h"
#include "ports/SerialController.h"
#include "record/Recorder.h"

#include <QObject>

#include <functional>

namespace bridge {

class Bridge : public QObject {
    Q_OBJECT
public:
    // A device lost this soon after each of kQuickLossesToGiveUp resumes,
    // with nothing received from it in between, is no longer waited for.
    static constexpr int kQuickLossMs = 5000;
    static constexpr int kQuickLossesToGiveUp = 3;
    // A lost device's box waits this long: one back by then needs none
    // (the beep and the record tell of it), and a flapping one gives no
    // flashing boxes.
    static constexpr int kLossBoxAfterMs = 700;
    // A lost network port is tried again after this, then after twice as
    // long each time it fails, up to kMaxRetryMs.
    static constexpr int kFirstRetryMs = 500;
    static constexpr int kMaxRetryMs = 4000;

    Bridge(platform::SerialController &port1, platform::SerialController &port2, platform::PortEnumerator &ports,
           ui::Recorder::Clock clock = {}, int quickLossMs = kQuickLossMs, QObject *parent = nullptr);
    ~Bridge() override;

    Channel &Own(int number) { return *channels_[number - 1]; }
    const Channel &Own(int number) const { return *channels_[number - 1]; }
    Route Now() const { return route_; }
    ui::Recorder &Record() { return recorder_; }
    const ui::Recorder &Record() const { return recorder_; }

    // Connect: opens the port, or shares it when the other channel holds
    // that very device. Failed leaves the channel as it was, its port's
    // error saying why.
    enum class Opened { Failed, Connecting, Done };
    Opened Connect(int number, const std::optional<platform::SerialPortInfo> &port);
    // Any disconnect ends the route; a channel sharing this one's port is
    // let go along with it.
    void Disconnect(int number);
    // The user decides now: the channel waits no more, a connect under way
    // is given up, and nothing remembered comes back by itself on either side.
    void UserTakesOver(int number);
    // The forward route between two held ports, on and off; false when
    // the ports do not allow it now.
    bool Link();
    bool Unlink();
    // On a closed port it is kept for the next open; false when the port
    // refused it, its error saying why.
    bool SetLine(int number, const platform::LineSettings &line);
    // A look at the port list while the channel waits: is its device back?
    void TryResume(int number);
    // The port's own events, hooked by whoever made the ports (the window
    // names its handlers after them): its device is lost, and bytes arrived.
    void PortLost(int number) { PortLost(Own(number)); }
    void Relay(int number) { RelayArrival(Own(number)); }
    // What a channel's view shows: bytes it received, or its loopback
    // partner's echoed ones, kept in its ReceivedBytes and told by Shown.
    void Receive(int number, QByteArrayView bytes, const platform::ReadFrames &frames = {});
    // Its received bytes cleared, as at Connect or at the user's Clear.
    void ClearReceived(int number);
    // What the relay thread passed on so far is shown and recorded now:
    // before a record starts or stops and before bytes are saved.
    void CatchUp() { TakeFromRelay(); }
    // Whether the relay thread carries the bytes now.
    bool Engaged() const { return engaged_; }
    // The modem lines across a link, off by default: each side's inputs
    // drive the other side's outputs as `mapping` says, every edge in
    // order with the bytes around it, and a break received is sent on.
    // Off, or with no link, both ports' RTS and DTR are raised.
    void SetLinesPass(bool on);
    bool LinesPass() const { return linesPass_; }
    void SetLineMapping(platform::LineMapping mapping);
    platform::LineMapping Mapping() const { return mapping_; }
    // Whether lines cross now: passing, and linked.
    bool LinesCross() const { return linesCrossing_; }
    // A break whose length the port did not tell is sent on this long.
    static constexpr int kBreakMs = 250;

    // Every channel lets go, as at the window's close.
    void LetGo();
    // Whether a channel holds, opens or waits for the port at that path.
    bool PortInUse(const QString &path) const;

    // The line as recorded, without a server's later answer.
    static QString RecordedLine(const platform::SerialController &port);
    // Beeps now; Report follows once the handler running now has
    // returned, after `afterMs`, and only if it is still true then.
    void ReportLater(const QString &text, const QString &detail, std::function<bool()> stillTrue = {},
                     int afterMs = 0);

signals:
    // A channel's state, the route or a line changed: draw again.
    void Changed();
    // A channel's received bytes changed: bytes came, or they were cleared.
    // The relay thread's batch is told once, after all of its bytes.
    void Shown(int number);
    // The channel resumed on the port of that name: its menu shows it.
    void Resumed(int number, const QString &name);
    // A connect under way was given up: its Connect can be pressed again.
    void ConnectStopped(int number);
    // A channel's line did something: its indicators may change.
    void LinesChanged(int number);
    // A waiting channel's count of what did not reach it grew.
    void WaitGrew(int number);
    void Beep();
    void Report(const QString &text, const QString &detail);
    void Notice(const QString &text, const QString &detail);
    void Dismiss(const QString &text, const QString &detail);

private:
    // Route and states settled after a change, then Changed.
    void Settle();

    // Bridge.cpp
    bool SharesOtherPort(const Channel &own, const std::optional<platform::SerialPortInfo> &port);
    bool OpenPort(Channel &own, const std::optional<platform::SerialPortInfo> &port);
    void FinishConnect(Channel &own, bool shares);
    void StopConnecting(Channel &own);
    void CloseChannel(Channel &channel);
    void TellOfOtherReaders(const Channel &own);
    void LineAnswered(Channel &own);

    // BridgeResume.cpp
    void PortLost(Channel &own);
    void StartWaiting(Channel &own, const QString &reason);
    void StopWaiting(Channel &own);
    void EndWait(const Channel &own);
    void CompleteResume(Channel &own, const Loss &loss, const platform::SerialPortInfo &found);
    void RestoreRoute(Channel &resumed, const Loss &loss, const QString &name);
    void TryReconnect(Channel &own);
    void RetryLater(Channel &own);
    void NetworkConnected(Channel &own);
    void ConnectFailed(Channel &own);

    // BridgeDirect.cpp
    void EngageLater();
    void Engage();
    void Disengage();
    void ReturnDevices();
    void TakeFromRelay();
    void Deliver(const platform::DirectRelay::News &news);
    int SideOf(const platform::SerialController &controller) const;

    // BridgeLines.cpp
    void HearLine(Channel &own, const platform::LineEvent &event);
    // `bytes`, the first of them `start` into the port's stream, in the
    // pieces between `events`, each event heard where it fell; all of
    // them at once when there are none.
    void InOrder(Channel &own, const QByteArray &bytes, qint64 start, const QList<platform::LineEvent> &events,
                 const std::function<void(const QByteArray &)> &piece);
    // Lines start or stop crossing as the route and the choice say.
    void FollowLines();

    // BridgeRelay.cpp
    void RelayArrival(Channel &own);
    void RelayBytes(Channel &own, const QByteArray &bytes);
    // Bytes read on a channel's port: noted, and timed into its frames.
    platform::ReadFrames Heard(Channel &own, qsizetype bytes, qint64 readUs);
    // Bytes that went on from a channel: shown, on its loopback partner
    // too when echoed, and recorded as forwarded or echoed.
    void ShowCrossed(Channel &own, QByteArrayView bytes, const platform::ReadFrames &frames, bool echoed);
    platform::SerialController *Destination(const Channel &own);
    void PaceReading();
    void TellOfPossibleLoss(Channel &own);

    platform::PortEnumerator &ports_;
    ui::Recorder recorder_;
    std::unique_ptr<Channel> channels_[2];
    Route route_ = Route::None;
    const int quickLossMs_;
    // The relay thread and this one meet in `relay_` alone (see DirectRelay.h).
    platform::DirectRelay relay_ {[this] { TakeFromRelay(); }};
    bool engaged_ = false;
    bool engageQueued_ = false;
    Route engagedRoute_ = Route::None;
    Channel *sides_[2] = {}; // whose device each relay side is
    // While the relay thread's batch is delivered, each channel's view is
    // told once, after all of it, rather than once a read.
    bool deferShown_ = false;
    bool shownDeferred_[2] = {};
    bool linesPass_ = false;
    bool linesCrossing_ = false;
    platform::LineMapping mapping_ = platform::LineMapping::CtsToRtsDsrToDtr;
};

} // namespace bridge

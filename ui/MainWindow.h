#pragma once
// The one window: two channels of a menu, a Connect button and a text area
// each, and the link controls between them. Each channel's state is its
// Channel object's, the route is the relay's; the handlers below change
// them and Draw() shows them.

#include "Channel.h"
#include "LineSettingsDialog.h"
#include "NetworkPortDialog.h"
#include "record/Recorder.h"

#include "platform/Alerts.h"
#include "platform/Controls.h"
#include "ports/DeviceWatch.h"
#include "platform/Files.h"
#include "ports/PortEnumerator.h"
#include "ports/network/NetworkPortList.h"
#include "ports/SerialController.h"
#include "platform/byteview/TextArea.h"
#include "platform/Window.h"

#include <functional>
#include <memory>
#include <optional>

namespace ui {

class MainWindow : public platform::Window {
    Q_OBJECT
    Q_PROPERTY(bool Loopback READ Loopback WRITE SetLoopback)
public:
    static constexpr char kImplicitClassName[] = "MainWindow.MainWindow";

    struct Services {
        platform::PortEnumerator *ports;
        platform::Alerts *alerts;
        platform::FileChooser *files = nullptr; // the system's dialog when none
        Recorder::Clock clock = {};              // the local time when none
        LineSettingsChooser *lines = nullptr;   // the Line Settings dialog when none
        platform::DeviceWatch *watch = nullptr; // no early looks when none
        NetworkAddressChooser *addresses = nullptr; // the Add Network Port dialog when none
        // A device lost this soon after each of kQuickLossesToGiveUp resumes,
        // with nothing received from it in between, is no longer waited for.
        int quickLossMs = kQuickLossMs;
    };
    static constexpr int kQuickLossMs = 5000;
    // After the system says devices changed, a waiting channel looks again
    // this much later: a new node may not open at once, and a port list
    // rescans at most every 50 ms.
    static constexpr int kLookAgainMs = 80;
    // A lost device's box waits this long: one back by then needs none
    // (the beep and the record tell of it), and a flapping one gives no
    // flashing boxes.
    static constexpr int kLossBoxAfterMs = 700;
    static constexpr int kQuickLossesToGiveUp = 3;
    // A lost network port is tried again after this, then after twice as
    // long each time it fails, up to kMaxRetryMs.
    static constexpr int kFirstRetryMs = 500;
    static constexpr int kMaxRetryMs = 4000;
    // The system's port list and real alerts, made on first use.
    static Services SystemServices();

    explicit MainWindow(Services services = SystemServices());

    // The open window, or a new one, created and shown.
    static MainWindow *ImplicitInstance();

    bool Loopback() const { return loopback_; }
    void SetLoopback(bool on) { loopback_ = on; }

    // Controls, looked up by name.
    platform::Timer &PortListUpdater1() const { return Control<platform::Timer>(QStringLiteral("PortListUpdater1")); }
    platform::Timer &PortListUpdater2() const { return Control<platform::Timer>(QStringLiteral("PortListUpdater2")); }
    platform::PopupMenu &SerialPortsPopupMenu1() const { return Control<platform::PopupMenu>(QStringLiteral("SerialPortsPopupMenu1")); }
    platform::PopupMenu &SerialPortsPopupMenu2() const { return Control<platform::PopupMenu>(QStringLiteral("SerialPortsPopupMenu2")); }
    platform::PushButton &ConnectSerial1() const { return Control<platform::PushButton>(QStringLiteral("ConnectSerial1")); }
    platform::PushButton &ConnectSerial2() const { return Control<platform::PushButton>(QStringLiteral("ConnectSerial2")); }
    platform::SerialController &SerialController1() const { return Control<platform::SerialController>(QStringLiteral("SerialController1")); }
    platform::SerialController &SerialController2() const { return Control<platform::SerialController>(QStringLiteral("SerialController2")); }
    platform::TextArea &Serialcomms1() const { return Control<platform::TextArea>(QStringLiteral("Serialcomms1")); }
    platform::TextArea &Serialcomms2() const { return Control<platform::TextArea>(QStringLiteral("Serialcomms2")); }
    platform::Label &Label2() const { return Control<platform::Label>(QStringLiteral("Label2")); }
    platform::Label &Label3() const { return Control<platform::Label>(QStringLiteral("Label3")); }
    platform::PushButton &LinkBtn() const { return Control<platform::PushButton>(QStringLiteral("LinkBtn")); }
    platform::Label &LoopbackTxt() const { return Control<platform::Label>(QStringLiteral("LoopbackTxt")); }
    platform::Label &LinkedTxt() const { return Control<platform::Label>(QStringLiteral("LinkedTxt")); }
    platform::Label &RecordingTxt() const { return Control<platform::Label>(QStringLiteral("RecordingTxt")); }
    platform::Label &LineTxt1() const { return Control<platform::Label>(QStringLiteral("LineTxt1")); }
    platform::Label &LineTxt2() const { return Control<platform::Label>(QStringLiteral("LineTxt2")); }

    // Port discovery.
    void PortListUpdater1_Action(platform::Timer *timer);
    void PortListUpdater2_Action(platform::Timer *timer);
    void SerialPortsPopupMenu1_Change(platform::PopupMenu *menu);
    void SerialPortsPopupMenu2_Change(platform::PopupMenu *menu);
    // Channel connection.
    void ConnectSerial1_Action(platform::PushButton *button);
    void ConnectSerial2_Action(platform::PushButton *button);
    void SerialController1_Error(platform::SerialController *controller);
    void SerialController2_Error(platform::SerialController *controller);
    void SerialController1_Connected(platform::SerialController *controller);
    void SerialController2_Connected(platform::SerialController *controller);
    void SerialController1_ConnectFailed(platform::SerialController *controller);
    void SerialController2_ConnectFailed(platform::SerialController *controller);
    void SerialController1_LineAnswered(platform::SerialController *controller);
    void SerialController2_LineAnswered(platform::SerialController *controller);
    // Data relay.
    void SerialController1_DataAvailable(platform::SerialController *controller);
    void SerialController2_DataAvailable(platform::SerialController *controller);
    // Link control.
    void LinkBtn_Action(platform::PushButton *button);
    // Keeping the traffic: from the text areas' context menus.
    void SaveReceivedBytes(int channel);
    void StartRecording();
    void StopRecording();
    const Recorder &Recording() const { return recorder_; }
    // Line settings: from the text areas' context menus.
    void ChangeLineSettings(int channel);
    // Network ports: from the text areas' context menus.
    void AddNetworkPort();
    void RemoveNetworkPort(const QString &name);

    // Channel 1 or 2: what the window shows of it is drawn from it.
    const Channel &ChannelOf(int number) const { return *channels_[number - 1]; }

private:
    Channel &Own(int number) const { return *channels_[number - 1]; }
    // The system's ports, then the network ports added.
    platform::PortEnumerator &Ports() const { return *ports_; }
    std::unique_ptr<platform::net::NetworkPortList> ports_;
    std::unique_ptr<Channel> channels_[2];
    // The captions, the link controls, the timers and the status lines,
    // from the channels' states and the route: the one place they are set.
    void Draw();

    // MainWindow.cpp: controls and their layout.
    template <typename C>
    C &Create(const char *name, const QByteArray &record);
    void CreateControls();
    void DescribeForScreenReaders();
    void LayOut();
    // Enter on a closed port menu presses that channel's Connect.
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The record ends with the channels' own disconnect lines.
    void closeEvent(QCloseEvent *event) override;
    // Closing waits for the ports to deliver what they were given.
    void Released(platform::SerialController *controller, qint64 dropped, const QString &path);
    bool closing_ = false;

    // PortDiscovery.cpp
    void RefreshPortList(int channel);
    // The system says devices changed: a waiting channel looks now, and
    // once more a moment later (a new node may not open at once).
    void DevicesChanged();
    QTimer lookAgain_;
    void EnableConnectButtons(platform::PopupMenu &changed, std::initializer_list<const Channel *> channels);
    bool MenuMatchesPorts(const platform::PopupMenu &menu) const;

    // ChannelConnection.cpp
    void ConnectPressed(Channel &own, platform::PushButton &button);
    void ConnectSteps(Channel &own);
    // The rest of Connect once the port is held: at once, or when a
    // network port's connection stands.
    void FinishConnect(Channel &own, bool shares);
    void ConnectFailed(Channel &own);
    void StopConnecting(Channel &own);
    void NetworkConnected(Channel &own);
    void DisconnectSteps(Channel &own);
    void CloseChannel(Channel &channel);
    bool SharesOtherPort(const Channel &own, const std::optional<platform::SerialPortInfo> &port) const;
    std::optional<platform::SerialPortInfo> SelectedPort(const platform::PopupMenu &menu) const;
    // Opens the channel's own controller on the port, lines raised.
    bool OpenPort(Channel &own, const std::optional<platform::SerialPortInfo> &port);
    void ReportSerialError(Channel &own);
    void TellOfOtherReaders(const Channel &own);

    // Resume.cpp: a channel whose device was lost waits for it to return.
    void StartWaiting(Channel &own, const QString &reason);
    void TryResume(Channel &own);
    // The user decides now: the channel waits no more, and nothing the
    // window remembered comes back by itself on either side.
    void UserTakesOver(Channel &own);
    void StopWaiting(Channel &own);
    void EndWait(const Channel &own);
    void RestoreRoute(Channel &resumed, const Loss &loss, const QString &name);
    void CompleteResume(Channel &own, const Loss &loss, const platform::SerialPortInfo &found);
    // A network port is not listed when it comes back: it is connected again.
    void TryReconnect(Channel &own);
    void RetryLater(Channel &own);

    // LineControl.cpp
    void ShowLineSettings(const Channel &own);
    // The line as it stands on the port, as the window and record say it.
    static QString LineText(const platform::SerialController &port);
    static QString RecordedLine(const platform::SerialController &port);
    void LineAnswered(Channel &own);

    // NetworkPorts.cpp
    void AddNetworkItems(int channel, QMenu *menu);
    bool NetworkPortInUse(const QString &name) const;
    void FollowNewPortList();

    // DataRelay.cpp
    void RelayArrival(Channel &own, platform::SerialController &controller);
    platform::SerialController *Destination(const Channel &own) const;
    void PaceReading();
    // Said once per link: a held source whose line has no flow control.
    void TellOfPossibleLoss(Channel &own);

    // Traffic.cpp
    void AddTrafficItems(int channel, QMenu *menu);
    void RecordingFailed(const QString &error);
    // Beeps now; the box follows once the handler running now has
    // returned, so no serial or timer handler waits for a person, and only
    // if it is still true then.
    void ReportLater(const QString &text, const QString &detail, std::function<bool()> stillTrue = {}, int afterMs = 0);

    Services services_;
    Recorder recorder_;
    bool loopback_ = false;
    Route route_ = Route::None;
    bool windowMovesMenus_ = false; // a menu change made by the window, not by the user
};

} // namespace ui

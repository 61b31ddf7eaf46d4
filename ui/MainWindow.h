#pragma once
// The one window: two channels of a menu, a Connect button and a text area
// each, and the link controls between them. What the channels do and the
// route between them are the bridge's; the handlers below call into it,
// and Draw() shows its state.

#include "ChannelControls.h"
#include "bridge/Bridge.h"
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
    static constexpr int kQuickLossMs = bridge::Bridge::kQuickLossMs;
    static constexpr int kQuickLossesToGiveUp = bridge::Bridge::kQuickLossesToGiveUp;
    // After the system says devices changed, a waiting channel looks again
    // this much later: a new node may not open at once, and a port list
    // rescans at most every 50 ms.
    static constexpr int kLookAgainMs = 80;
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
    // Data relay.
    void SerialController1_DataAvailable(platform::SerialController *controller);
    void SerialController2_DataAvailable(platform::SerialController *controller);
    // Link control.
    void LinkBtn_Action(platform::PushButton *button);
    // Keeping the traffic: from the text areas' context menus.
    void SaveReceivedBytes(int channel);
    void StartRecording();
    void StopRecording();
    const Recorder &Recording() const { return bridge_->Record(); }
    // Line settings: from the text areas' context menus.
    void ChangeLineSettings(int channel);
    // Network ports: from the text areas' context menus.
    void AddNetworkPort();
    void RemoveNetworkPort(const QString &name);

    // Channel 1 or 2: what the window shows of it is drawn from it.
    const bridge::Channel &ChannelOf(int number) const { return bridge_->Own(number); }
    // The bridge the window shows, for driving it without the controls.
    bridge::Bridge &Core() const { return *bridge_; }

private:
    const bridge::Channel &Own(int number) const { return bridge_->Own(number); }
    const ChannelControls &View(int number) const { return *views_[number - 1]; }
    // The system's ports, then the network ports added.
    platform::PortEnumerator &Ports() const { return *ports_; }
    std::unique_ptr<platform::net::NetworkPortList> ports_;
    std::unique_ptr<bridge::Bridge> bridge_;
    std::unique_ptr<ChannelControls> views_[2];
    // The captions, the link controls, the timers and the status lines,
    // from the channels' states and the route: the one place they are set.
    void Draw();
    void ShowBridge(); // its signals, shown

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
    void Released();
    bool closing_ = false;

    // PortDiscovery.cpp
    // `keepChoice`: the row chosen stays chosen while it is listed, rather
    // than the plug rule's newest row or row 0.
    void RefreshPortList(int channel, bool keepChoice = false);
    // The system says devices changed: a waiting channel looks now, and
    // once more a moment later (a new node may not open at once).
    void DevicesChanged();
    QTimer lookAgain_;
    void EnableConnectButtons(platform::PopupMenu &changed, std::initializer_list<int> channels);
    bool MenuMatchesPorts(const platform::PopupMenu &menu) const;
    void RebuildRows(platform::PopupMenu &menu);
    // A waiting channel looks for its device, unless a press is under way:
    // that is the user's, and is not overtaken.
    void TryResume(int channel);
    // The menu shows the port a channel resumed on.
    void ShowResumed(int channel, const QString &name);

    // ChannelConnection.cpp
    void ConnectPressed(int channel, platform::PushButton &button);
    void ConnectSteps(int channel);
    std::optional<platform::SerialPortInfo> SelectedPort(const platform::PopupMenu &menu) const;

    // LineControl.cpp
    void ShowLineSettings(int channel);
    // The line as it stands on the port, as the window says it.
    static QString LineText(const platform::SerialController &port);

    // NetworkPorts.cpp
    void AddNetworkItems(int channel, QMenu *menu);
    bool NetworkPortInUse(const QString &name) const;
    void FollowNewPortList();

    // LinesView.cpp
    void AddLineItems(int channel, QMenu *menu);
    void ShowLines(int channel);
    static QString LineCountsText(const bridge::Channel &own);

    // Traffic.cpp
    void AddTrafficItems(int channel, QMenu *menu);
    void RecordingFailed(const QString &error);

    Services services_;
    bool loopback_ = false;
    bool windowMovesMenus_ = false; // a menu change made by the window, not by the user
};

} // namespace ui

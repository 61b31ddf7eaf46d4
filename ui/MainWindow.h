#pragma once
// The one window: two channels of a menu, a Connect button and a text area
// each, and the link controls between them. All state lives in the
// controls; the handlers below are the only code that changes it.

#include "LineSettingsDialog.h"
#include "Recorder.h"

#include "platform/Alerts.h"
#include "platform/Controls.h"
#include "platform/Files.h"
#include "platform/PortEnumerator.h"
#include "platform/SerialController.h"
#include "platform/byteview/TextArea.h"
#include "platform/Window.h"

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
    };
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
    const Recorder &Recording() const { return recorder_; }
    // Line settings: from the text areas' context menus.
    void ChangeLineSettings(int channel);

private:
    // One side of the window; "own" is the side that raised the event.
    struct Channel {
        platform::SerialController &controller;
        platform::PopupMenu &menu;
        platform::PushButton &connect;
        platform::TextArea &text;
        platform::Timer &timer;
        platform::Label &heading; // names the channel, above its menu
        platform::Label &line;    // its line settings, below Connect
    };
    const Channel &Own(int channel) const;
    const Channel &Other(int channel) const { return Own(3 - channel); }
    Channel LookUpChannel(int channel) const;
    mutable std::optional<Channel> channels_[2]; // looked up once, on first use

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

    // PortDiscovery.cpp
    void RefreshPortList(int channel);
    void EnableConnectButtons(platform::PopupMenu &changed, std::initializer_list<platform::PushButton *> buttons);
    bool MenuMatchesPorts(const platform::PopupMenu &menu) const;

    // ChannelConnection.cpp
    void ConnectPressed(int channel, platform::PushButton &button);
    // By a person: the text area starts afresh and a failure is said. On
    // resuming: the text stays and a failure waits for the next tick.
    enum class ConnectHow { ByPerson, Resuming };
    bool ConnectSteps(int channel, platform::PushButton &button, ConnectHow how = ConnectHow::ByPerson);
    void DisconnectSteps(int channel, platform::PushButton &button);
    void CloseChannel(int channel, platform::PushButton &button, bool resetLink);
    bool SharesOtherPort(int channel, const std::optional<platform::SerialPortInfo> &port) const;
    std::optional<platform::SerialPortInfo> SelectedPort(const platform::PopupMenu &menu) const;
    void ReportSerialError(int channel);
    void TellOfOtherReaders(int channel, const QString &path);

    // Resume.cpp: a channel whose device was lost waits for it to return.
    struct Lost {
        platform::SerialPortInfo port;
        platform::LineSettings line;
        bool linked = false;
    };
    void RememberLost(int channel);
    void TryResume(int channel);
    void StopWaiting(int channel);

    // LineControl.cpp
    platform::SerialController &LineOwner(int channel) const;
    void ShowLineSettings();

    // DataRelay.cpp
    void RelayArrival(int channel, platform::SerialController &controller);
    platform::SerialController *Destination(int channel) const;
    void PaceReading();
    void Pace(int channel, const platform::SerialController *destination);
    // Said once per link: a held source whose line has no flow control.
    void TellOfPossibleLoss(int channel);

    // Traffic.cpp
    void AddTrafficItems(int channel, QMenu *menu);
    void RecordingFailed(const QString &error);
    // Beeps now; the box follows once the handler running now has
    // returned, so no serial or timer handler waits for a person.
    void ReportLater(const QString &text, const QString &detail);

    Services services_;
    Recorder recorder_;
    bool loopback_ = false;
    bool toldOfLoss_[2] = {}; // since the last Link, Unlink, connect or line change
    std::optional<Lost> waiting_[2];
    bool windowMovesMenus_ = false; // a menu change made by the window, not by the user
};

} // namespace ui

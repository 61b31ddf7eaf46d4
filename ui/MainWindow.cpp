#include "MainWindow.h"

#include "InitialSettings.h"
#include "SerialSettings.h"
#include "Texts.h"

#include "platform/Pictures.h"

#include <QKeyEvent>

namespace ui {

using namespace platform;

namespace {

constexpr char kBackdropFile[] = "VardeloLinkcopy.png";
constexpr int kColumnGapPx = 2; // between a status label and a text area

// Loaded on first use and kept for the life of the program.
const QPixmap &BackdropPicture()
{
    static const QPixmap picture = OpenShippedPicture({QString::fromLatin1(kBackdropFile)});
    return picture;
}

} // namespace

MainWindow::Services MainWindow::SystemServices()
{
    static SystemPortEnumerator ports;
    static SystemAlerts alerts;
    static FolderDeviceWatch watch;
    Services services {&ports, &alerts};
    services.watch = &watch;
    return services;
}

MainWindow::MainWindow(Services services)
    : ports_(std::make_unique<net::NetworkPortList>(*services.ports)), services_(services), recorder_(services.clock)
{
    if (!services_.addresses) {
        static DialogNetworkAddressChooser addresses;
        services_.addresses = &addresses;
    }
    if (!services_.files) {
        static SystemFileChooser files;
        services_.files = &files;
    }
    if (!services_.lines) {
        static DialogLineSettingsChooser lines;
        services_.lines = &lines;
    }
    setObjectName(QStringLiteral("MainWindow"));
    RegisterImplicit(QString::fromLatin1(kImplicitClassName));
    CreateControls();
    LayOut();
    lookAgain_.setSingleShot(true);
    lookAgain_.setInterval(kLookAgainMs);
    connect(&lookAgain_, &QTimer::timeout, this, &MainWindow::DevicesChanged);
    if (services_.watch)
        connect(services_.watch, &DeviceWatch::Changed, this, [this] {
            DevicesChanged();
            lookAgain_.start();
        });
}

MainWindow *MainWindow::ImplicitInstance()
{
    if (auto *open = qobject_cast<MainWindow *>(FindImplicit(QString::fromLatin1(kImplicitClassName))))
        return open;
    auto *window = new MainWindow();
    // Nobody holds the window; it goes when it is closed.
    window->setAttribute(Qt::WA_DeleteOnClose);
    return window;
}

template <typename C>
C &MainWindow::Create(const char *name, const QByteArray &record)
{
    auto *control = new C(this);
    RegisterControl(QString::fromLatin1(name), control);
    if constexpr (std::is_same_v<C, SerialController>) {
        SerialSettings settings(*control); // the port has no widget to take them itself
        ApplySettings(settings, record);
    } else {
        ApplySettings(Control<C>(QString::fromLatin1(name)), record);
    }
    return *control;
}

void MainWindow::CreateControls()
{
    using settings::ControlRecord;
    // In creation order; each control's handlers are attached right after
    // its settings, a serial controller's error handler first.
    auto &updater1 = Create<Timer>("PortListUpdater1", settings::TimerRecord());
    connect(&updater1, &Timer::Action, this, &MainWindow::PortListUpdater1_Action);

    auto &menu2 = Create<PopupMenu>("SerialPortsPopupMenu2", ControlRecord("SerialPortsPopupMenu2"));
    connect(&menu2, &PopupMenu::Change, this, &MainWindow::SerialPortsPopupMenu2_Change);

    auto &connect2 = Create<PushButton>("ConnectSerial2", ControlRecord("ConnectSerial2"));
    connect(&connect2, &PushButton::Action, this, &MainWindow::ConnectSerial2_Action);

    Create<Label>("Label2", ControlRecord("Label2"));

    auto &controller1 = Create<SerialController>("SerialController1", settings::SerialRecord());
    connect(&controller1, &SerialController::Error, this, &MainWindow::SerialController1_Error);
    connect(&controller1, &SerialController::DataAvailable, this, &MainWindow::SerialController1_DataAvailable);
    connect(&controller1, &SerialController::WriteQueueLow, this, &MainWindow::PaceReading);
    connect(&controller1, &SerialController::Released, this, &MainWindow::Released);
    connect(&controller1, &SerialController::Connected, this, &MainWindow::SerialController1_Connected);
    connect(&controller1, &SerialController::ConnectFailed, this, &MainWindow::SerialController1_ConnectFailed);
    connect(&controller1, &SerialController::LineAnswered, this, &MainWindow::SerialController1_LineAnswered);

    Create<TextArea>("Serialcomms2", ControlRecord("Serialcomms2"));

    auto &menu1 = Create<PopupMenu>("SerialPortsPopupMenu1", ControlRecord("SerialPortsPopupMenu1"));
    connect(&menu1, &PopupMenu::Change, this, &MainWindow::SerialPortsPopupMenu1_Change);

    Create<Label>("Label3", ControlRecord("Label3"));

    auto &connect1 = Create<PushButton>("ConnectSerial1", ControlRecord("ConnectSerial1"));
    connect(&connect1, &PushButton::Action, this, &MainWindow::ConnectSerial1_Action);

    auto &link = Create<PushButton>("LinkBtn", ControlRecord("LinkBtn"));
    connect(&link, &PushButton::Action, this, &MainWindow::LinkBtn_Action);

    Create<TextArea>("Serialcomms1", ControlRecord("Serialcomms1"));

    auto &updater2 = Create<Timer>("PortListUpdater2", settings::TimerRecord());
    connect(&updater2, &Timer::Action, this, &MainWindow::PortListUpdater2_Action);

    auto &controller2 = Create<SerialController>("SerialController2", settings::SerialRecord());
    connect(&controller2, &SerialController::Error, this, &MainWindow::SerialController2_Error);
    connect(&controller2, &SerialController::DataAvailable, this, &MainWindow::SerialController2_DataAvailable);
    connect(&controller2, &SerialController::WriteQueueLow, this, &MainWindow::PaceReading);
    connect(&controller2, &SerialController::Released, this, &MainWindow::Released);
    connect(&controller2, &SerialController::Connected, this, &MainWindow::SerialController2_Connected);
    connect(&controller2, &SerialController::ConnectFailed, this, &MainWindow::SerialController2_ConnectFailed);
    connect(&controller2, &SerialController::LineAnswered, this, &MainWindow::SerialController2_LineAnswered);

    Create<Label>("LoopbackTxt", ControlRecord("LoopbackTxt"));
    Create<Label>("LinkedTxt", ControlRecord("LinkedTxt"));
    Create<Label>("RecordingTxt", ControlRecord("RecordingTxt"));
    Create<Label>("LineTxt1", ControlRecord("LineTxt1"));
    Create<Label>("LineTxt2", ControlRecord("LineTxt2"));
    channels_[0] = std::make_unique<Channel>(1, Channel::Controls {SerialController1(), SerialPortsPopupMenu1(),
                                                                   ConnectSerial1(), Serialcomms1(), PortListUpdater1(),
                                                                   Label3(), LineTxt1()});
    channels_[1] = std::make_unique<Channel>(2, Channel::Controls {SerialController2(), SerialPortsPopupMenu2(),
                                                                   ConnectSerial2(), Serialcomms2(), PortListUpdater2(),
                                                                   Label2(), LineTxt2()});
    Own(1).SetOther(Own(2));
    Own(2).SetOther(Own(1));
    for (int channel : {1, 2}) {
        connect(&Own(channel).text, &TextArea::ContextMenuAboutToShow, this,
                [this, channel](QMenu *menu) {
                    AddTrafficItems(channel, menu);
                    AddNetworkItems(channel, menu);
                });
        Own(channel).text.SetLargeCopyCheck([this](qsizetype chars) {
            const QString mib = QString::number(double(chars) / (1 << 20), 'f', 0);
            return services_.alerts->Ask(texts::kLargeCopy.arg(mib), texts::kLargeCopyDetail,
                                         {texts::kCopy, texts::kCancel}) == 0;
        });
    }
    connect(&recorder_, &Recorder::Failed, this, &MainWindow::RecordingFailed);
    // A capture names each channel's interface by its port and line settings.
    recorder_.SetDescriber([this](int channel) {
        const Channel &own = Own(channel);
        const std::optional<SerialPortInfo> device = own.Device();
        const QString port = device ? device->Path : tr("channel %1").arg(channel);
        return QStringLiteral("%1 %2").arg(port, RecordedLine(own.Port()));
    });

    ApplyTabOrder();
    DescribeForScreenReaders();
    for (int channel : {1, 2})
        Own(channel).menu.installEventFilter(this);
    Draw();
    SerialPortsPopupMenu1().setFocus(); // where a reader of the window starts
}

// What a screen reader says for each control: the channel it belongs to,
// not only its caption ("Connect" is on both sides).
void MainWindow::DescribeForScreenReaders()
{
    for (int channel : {1, 2}) {
        const Channel &own = Own(channel);
        const QString heading = own.heading.text();
        // Screen readers on Linux name a menu by its label relation.
        own.heading.setBuddy(&own.menu);
        own.menu.setAccessibleName(tr("%1, port").arg(heading));
        own.connect.SetAccessibleContext(tr(", channel %1").arg(channel));
        own.text.setAccessibleName(tr("Received on channel %1").arg(channel));
    }
    LinkBtn().SetAccessibleContext({});
    for (Label *label : {&Label2(), &Label3(), &LoopbackTxt(), &LinkedTxt(), &RecordingTxt()})
        label->setAccessibleName(label->text());
}

void MainWindow::LayOut()
{
    // The status labels grow about the centre line, but not into the text
    // areas on either side.
    const int column = Serialcomms2().x() - (Serialcomms1().x() + Serialcomms1().width()) - 2 * kColumnGapPx;
    for (Label *centred : {&LinkedTxt(), &LoopbackTxt(), &RecordingTxt()})
        centred->SetMaximumTextWidth(column);
    // A heading is as wide as its column at most: the menu below it.
    for (int channel : {1, 2}) {
        Own(channel).heading.SetMaximumTextWidth(Own(channel).menu.width());
        Own(channel).line.SetMaximumTextWidth(Own(channel).line.width());
    }
    SetBackdrop(BackdropPicture());
    ApplySettings(*this, settings::WindowRecord());
}

void MainWindow::Draw()
{
    // A route needs both ends.
    if (!Own(1).HoldsPort() || !Own(2).HoldsPort())
        route_ = Route::None;
    for (int number : {1, 2}) {
        const Channel &own = Own(number);
        const bool holds = own.HoldsPort();
        const bool connecting = own.Connecting();
        own.connect.SetCaption(holds ? texts::kDisconnect : texts::kConnect);
        if (holds)
            own.connect.SetEnabled(true); // a channel holding a port can always let go of it
        else if (connecting)
            own.connect.SetEnabled(false); // for a few seconds at most
        own.menu.SetEnabled(!holds && !connecting);
        // A channel that holds a port keeps its rows; one that waits looks for its device.
        const int mode = holds || connecting ? Timer::kModeOff : Timer::kModeMultiple;
        if (own.timer.Mode() != mode)
            own.timer.SetMode(mode);
        ShowLineSettings(own);
    }
    const bool both = Own(1).HoldsPort() && Own(2).HoldsPort();
    LinkBtn().SetCaption(route_ == Route::None ? texts::kLink : texts::kUnlink);
    LinkBtn().SetEnabled(both);
    LinkBtn().SetVisible(both && route_ != Route::Loopback);
    LinkedTxt().SetVisible(route_ != Route::None);
    LoopbackTxt().SetVisible(route_ == Route::Loopback);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *press = static_cast<QKeyEvent *>(event);
        const int key = press->key();
        for (int channel : {1, 2}) {
            const Channel &own = Own(channel);
            if (watched == &own.menu && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
                // A held key presses once: its repeats are swallowed.
                if (!press->isAutoRepeat() && own.connect.isEnabled())
                    own.connect.click();
                return true;
            }
        }
    }
    return platform::Window::eventFilter(watched, event);
}

} // namespace ui

#include "MainWindow.h"

#include "InitialSettings.h"
#include "SerialSettings.h"
#include "Texts.h"

#include "platform/Pictures.h"

#include <QKeyEvent>

namespace ui {

using namespace platform;
using bridge::Route;

namespace {

constexpr char kBackdropFile[] = "VardeloLinkcopy.png";
constexpr int kColumnGapPx = 2; // between a status label and a text area
constexpr int kLampGapPx = 3;    // between the two channels' line lamps, and above the text areas
constexpr int kLampMarginPx = 9; // from a text area to the lamps: the panel's edge and a little

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
    : ports_(std::make_unique<net::NetworkPortList>(*services.ports)), services_(services)
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
    connect(&controller1, &SerialController::Released, this, &MainWindow::Released);

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
    connect(&controller2, &SerialController::Released, this, &MainWindow::Released);

    Create<Label>("LoopbackTxt", ControlRecord("LoopbackTxt"));
    Create<Label>("LinkedTxt", ControlRecord("LinkedTxt"));
    Create<Label>("RecordingTxt", ControlRecord("RecordingTxt"));
    Create<Label>("LineTxt1", ControlRecord("LineTxt1"));
    Create<Label>("LineTxt2", ControlRecord("LineTxt2"));
    bridge_ = std::make_unique<bridge::Bridge>(controller1, controller2, Ports(), services_.clock,
                                               services_.quickLossMs, this);
    auto *lamps1 = new LineLamps(this);
    auto *lamps2 = new LineLamps(this);
    lamps1->setObjectName(QStringLiteral("LineLamps1"));
    lamps2->setObjectName(QStringLiteral("LineLamps2"));
    views_[0] = std::make_unique<ChannelControls>(ChannelControls {SerialPortsPopupMenu1(), ConnectSerial1(),
                                                                   Serialcomms1(), PortListUpdater1(), Label3(),
                                                                   LineTxt1(), *lamps1});
    views_[1] = std::make_unique<ChannelControls>(ChannelControls {SerialPortsPopupMenu2(), ConnectSerial2(),
                                                                   Serialcomms2(), PortListUpdater2(), Label2(),
                                                                   LineTxt2(), *lamps2});
    for (int channel : {1, 2}) {
        connect(&View(channel).received, &TextArea::ContextMenuAboutToShow, this,
                [this, channel](QMenu *menu) {
                    AddTrafficItems(channel, menu);
                    AddLineItems(channel, menu);
                    AddNetworkItems(channel, menu);
                });
        View(channel).received.SetLargeCopyCheck([this](qsizetype chars) {
            const QString mib = QString::number(double(chars) / (1 << 20), 'f', 0);
            return services_.alerts->Ask(texts::kLargeCopy.arg(mib), texts::kLargeCopyDetail,
                                         {texts::kCopy, texts::kCancel}) == 0;
        });
    }
    connect(&bridge_->Record(), &Recorder::Failed, this, &MainWindow::RecordingFailed);
    ShowBridge();

    ApplyTabOrder();
    DescribeForScreenReaders();
    for (int channel : {1, 2})
        View(channel).menu.installEventFilter(this);
    Draw();
    SerialPortsPopupMenu1().setFocus(); // where a reader of the window starts
}

// What a screen reader says for each control: the channel it belongs to,
// not only its caption ("Connect" is on both sides).
void MainWindow::DescribeForScreenReaders()
{
    for (int channel : {1, 2}) {
        const ChannelControls &view = View(channel);
        const QString heading = view.heading.text();
        // Screen readers on Linux name a menu by its label relation.
        view.heading.setBuddy(&view.menu);
        view.menu.setAccessibleName(tr("%1, port").arg(heading));
        view.connect.SetAccessibleContext(tr(", channel %1").arg(channel));
        view.received.setAccessibleName(tr("Received on channel %1").arg(channel));
        view.lamps.setAccessibleName(tr("Modem lines, channel %1").arg(channel));
        view.lamps.SetContext(tr(", channel %1").arg(channel));
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
        View(channel).heading.SetMaximumTextWidth(View(channel).menu.width());
        View(channel).line.SetMaximumTextWidth(View(channel).line.width());
    }
    // The lamps stand between the channels, each beside its own, from the
    // headings down to the text areas: room no control uses.
    const int inner = Serialcomms1().x() + Serialcomms1().width() + kLampMarginPx;
    const int width = (Serialcomms2().x() - kLampMarginPx - inner - kLampGapPx) / 2;
    const int top = std::min(Label3().y(), Label2().y()) - kLampGapPx;
    const int height = Serialcomms1().y() - kLampGapPx - top;
    View(1).lamps.setGeometry(inner, top, width, height);
    View(2).lamps.setGeometry(inner + width + kLampGapPx, top, width, height);
    SetBackdrop(BackdropPicture());
    ApplySettings(*this, settings::WindowRecord());
}

void MainWindow::ShowBridge()
{
    bridge::Bridge &b = *bridge_;
    connect(&b, &bridge::Bridge::Changed, this, &MainWindow::Draw);
    for (int channel : {1, 2}) {
        View(channel).received.Show(&Own(channel).received);
        connect(&View(channel).received, &TextArea::ClearAsked, this,
                [this, channel] { bridge_->ClearReceived(channel); });
    }
    connect(&b, &bridge::Bridge::Shown, this, [this](int channel) { View(channel).received.Follow(); });
    connect(&b, &bridge::Bridge::Resumed, this, &MainWindow::ShowResumed);
    connect(&b, &bridge::Bridge::ConnectStopped, this, [this](int channel) { View(channel).connect.SetEnabled(true); });
    connect(&b, &bridge::Bridge::WaitGrew, this, &MainWindow::ShowLineSettings);
    connect(&b, &bridge::Bridge::LinesChanged, this, [this](int channel) {
        ShowLines(channel);
        ShowLineSettings(channel);
    });
    connect(&b, &bridge::Bridge::Beep, this, [this] { services_.alerts->Beep(); });
    connect(&b, &bridge::Bridge::Report, this,
            [this](const QString &text, const QString &detail) { services_.alerts->MsgBox(text, detail); });
    connect(&b, &bridge::Bridge::Notice, this,
            [this](const QString &text, const QString &detail) { services_.alerts->Notice(text, detail); });
    connect(&b, &bridge::Bridge::Dismiss, this,
            [this](const QString &text, const QString &detail) { services_.alerts->Dismiss(text, detail); });
}

void MainWindow::Draw()
{
    for (int number : {1, 2}) {
        const bridge::Channel &own = Own(number);
        const ChannelControls &view = View(number);
        const bool holds = own.HoldsPort();
        const bool connecting = own.Connecting();
        view.connect.SetCaption(holds ? texts::kDisconnect : texts::kConnect);
        if (holds)
            view.connect.SetEnabled(true); // a channel holding a port can always let go of it
        else if (connecting)
            view.connect.SetEnabled(false); // for a few seconds at most
        view.menu.SetEnabled(!holds && !connecting);
        // A channel that holds a port keeps its rows; one that waits looks for its device.
        const int mode = holds || connecting ? Timer::kModeOff : Timer::kModeMultiple;
        if (view.portTimer.Mode() != mode)
            view.portTimer.SetMode(mode);
        ShowLineSettings(number);
        ShowLines(number);
    }
    const bool both = Own(1).HoldsPort() && Own(2).HoldsPort();
    const Route route = bridge_->Now();
    LinkBtn().SetCaption(route == Route::None ? texts::kLink : texts::kUnlink);
    LinkBtn().SetEnabled(both);
    LinkBtn().SetVisible(both && route != Route::Loopback);
    LinkedTxt().SetVisible(route != Route::None);
    LoopbackTxt().SetVisible(route == Route::Loopback);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *press = static_cast<QKeyEvent *>(event);
        const int key = press->key();
        for (int channel : {1, 2}) {
            const ChannelControls &view = View(channel);
            if (watched == &view.menu && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
                // A held key presses once: its repeats are swallowed.
                if (!press->isAutoRepeat() && view.connect.isEnabled())
                    view.connect.click();
                return true;
            }
        }
    }
    return platform::Window::eventFilter(watched, event);
}

} // namespace ui

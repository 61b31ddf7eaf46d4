// The bridge's random sequences through the window: its menus, buttons and
// labels, with the device events between them (see BridgeModel.h).
// VARDELO_BRIDGE_SEED and VARDELO_BRIDGE_RUNS pick the sequences.

#include "support/BridgeModel.h"
#include "support/TestSupport.h"

#include "ui/Texts.h"

#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

using namespace platform;

namespace {

constexpr int kDefaultRuns = 120;

class WindowSequence : public testing::BridgeSequence {
public:
    explicit WindowSequence(quint32 seed) : BridgeSequence(seed)
    {
        services_ = {&ports_, &alerts_, nullptr, {}, &lines_, 0};
        window_ = std::make_unique<ui::MainWindow>(services_);
        // Ticks come from the sequence only, so a seed replays exactly.
        w().PortListUpdater1().SetPeriod(1 << 30);
        w().PortListUpdater2().SetPeriod(1 << 30);
    }

private:
    ui::MainWindow &w() { return *window_; }
    PopupMenu &Menu(int c) { return c == 0 ? w().SerialPortsPopupMenu1() : w().SerialPortsPopupMenu2(); }
    PushButton &Button(int c) { return c == 0 ? w().ConnectSerial1() : w().ConnectSerial2(); }

    // A tick of each running list timer.
    void Look() override
    {
        for (int c : {0, 1}) {
            Timer &t = c == 0 ? w().PortListUpdater1() : w().PortListUpdater2();
            if (t.Mode() != Timer::kModeOff)
                emit t.Action(&t);
        }
    }
    SerialController &Controller(int c) override { return c == 0 ? w().SerialController1() : w().SerialController2(); }
    bool ShowsHeld(int c) override { return Button(c).Caption() == ui::texts::kDisconnect; }
    bool CanChoose(int c) override { return Menu(c).isEnabled(); }
    int RowCount(int c) override { return Menu(c).ListCount(); }
    int Row(int c) override { return Menu(c).ListIndex(); }
    QString RowText(int c, int row) override { return Menu(c).RowText(row); }
    void Choose(int c, int row) override { Menu(c).setCurrentIndex(row); }

    bool Press(int c, const std::function<void()> &meanwhile) override
    {
        PushButton &b = Button(c);
        if (!b.isEnabled() || !b.isVisible())
            return false;
        QSignalSpy pressed(&b, &PushButton::Action);
        if (meanwhile) {
            QTest::mousePress(&b, Qt::LeftButton);
            pressing_ = true;
            meanwhile();
            pressing_ = false;
            QTest::mouseRelease(&b, Qt::LeftButton);
        } else {
            QTest::mouseClick(&b, Qt::LeftButton);
        }
        return !pressed.isEmpty();
    }

    bool LinkOffered() override { return w().LinkBtn().isVisible() && w().LinkBtn().isEnabled(); }
    bool LinkReadsLink() override { return w().LinkBtn().Caption() == ui::texts::kLink; }
    void PressLink() override { QTest::mouseClick(&w().LinkBtn(), Qt::LeftButton); }

    void SetLine(int c, const LineSettings &line) override
    {
        lines_.answers = {line};
        QMenu menu;
        (c == 0 ? w().Serialcomms1() : w().Serialcomms2()).FillContextMenu(&menu);
        menu.findChild<QAction *>(QStringLiteral("LineSettingsAction"))->trigger();
    }
    bool ShowsLinked() override { return w().LinkedTxt().Visible(); }
    bool ShowsLoopback() override { return w().LoopbackTxt().Visible(); }
    QString Describe(int c) override
    {
        return QStringLiteral("window \"%1\", rows %2 at %3")
            .arg((c == 0 ? w().LineTxt1() : w().LineTxt2()).text(), testing::Rows(Menu(c)).join(QLatin1Char(',')))
            .arg(Menu(c).ListIndex());
    }

    int OtherReadersTold() override
    {
        return int(std::count_if(alerts_.notices.begin(), alerts_.notices.end(), [](const testing::RecordedMessage &m) {
            return m.text.startsWith(QStringLiteral("Another program also has"));
        }));
    }

    qint64 ShownTo(int c) override { return (c == 0 ? w().Serialcomms1() : w().Serialcomms2()).Content().End(); }

    testing::RecordingAlerts alerts_;
    testing::ScriptedLines lines_;
    ui::MainWindow::Services services_ {};
    std::unique_ptr<ui::MainWindow> window_;
};

} // namespace

class TestBridge : public QObject {
    Q_OBJECT
private slots:
    void userChoicesHoldThroughDeviceEvents()
    {
        // Seeds past the default range that found a fault once.
        const QString failure = testing::RunSequences<WindowSequence>(kDefaultRuns, {884, 1622});
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
};

QTEST_MAIN(TestBridge)
#include "tst_bridge.moc"

// The bridge's random sequences with no window: the same steps and model
// as through the window (see BridgeModel.h), driven by the bridge's own
// calls, so many more sequences run in the same time.
// VARDELO_BRIDGE_SEED and VARDELO_BRIDGE_RUNS pick the sequences.

#include "support/BridgeModel.h"

#include "bridge/Bridge.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace platform;
using bridge::Route;

namespace {

constexpr int kDefaultRuns = 500;

// The choice a port menu would hold: a row of the list as it stood when
// chosen, looked up by name when used.
struct Choice {
    int row = -1;
    QString name;
};

class CoreSequence : public testing::BridgeSequence {
public:
    explicit CoreSequence(quint32 seed) : BridgeSequence(seed), bridge_(port1_, port2_, ports_)
    {
        for (int n : {1, 2}) {
            SerialController &port = Controller(n - 1);
            QObject::connect(&port, &SerialController::Error, &bridge_, [this, n] { bridge_.PortLost(n); });
            QObject::connect(&port, &SerialController::DataAvailable, &bridge_, [this, n] { bridge_.Relay(n); });
        }
        // Every byte shown counts once, however the bridge batches them;
        // a clear starts the received bytes' offsets anew.
        QObject::connect(&bridge_, &bridge::Bridge::Shown, [this](int n) {
            const platform::ReceivedBytes &received = bridge_.Own(n).received;
            Seen &seen = seen_[n - 1];
            if (received.Clears() != seen.clears)
                seen = {received.Clears(), 0};
            shown_[n - 1] += received.End() - seen.end;
            seen.end = received.End();
        });
        QObject::connect(&bridge_, &bridge::Bridge::Notice, [this](const QString &text) {
            otherReaders_ += text.startsWith(QStringLiteral("Another program also has")) ? 1 : 0;
        });
    }

private:
    const bridge::Channel &Own(int c) const { return bridge_.Own(c + 1); }

    // Not while a press is held: the person's press is not overtaken.
    void Look() override
    {
        if (pressing_)
            return;
        for (int c : {0, 1})
            bridge_.TryResume(c + 1);
    }
    SerialController &Controller(int c) override { return c == 0 ? port1_ : port2_; }
    bool ShowsHeld(int c) override { return Own(c).HoldsPort(); }
    bool CanChoose(int c) override { return !Own(c).HoldsPort() && !Own(c).Connecting(); }
    int RowCount(int) override { return ports_.SerialPortCount(); }
    int Row(int c) override { return choice_[c].row; }
    QString RowText(int c, int row) override
    {
        return row == choice_[c].row ? choice_[c].name : ports_.SerialPort(row).value_or(SerialPortInfo {}).Name;
    }
    void Choose(int c, int row) override
    {
        if (row != choice_[c].row)
            bridge_.UserTakesOver(c + 1);
        choice_[c] = {row, ports_.SerialPort(row).value_or(SerialPortInfo {}).Name};
    }

    bool Press(int c, const std::function<void()> &meanwhile) override
    {
        // The press means what the channel showed when it went down.
        const bool held = Own(c).HoldsPort();
        if (meanwhile) {
            pressing_ = true;
            meanwhile();
            pressing_ = false;
        }
        const int n = c + 1;
        bridge_.UserTakesOver(n);
        if (held) {
            bridge_.Disconnect(n);
            return true;
        }
        if (choice_[c].row < 0 && ports_.SerialPortCount() > 0)
            Choose(c, 0);
        std::optional<SerialPortInfo> port;
        if (choice_[c].row >= 0)
            port = ports_.FindByName(choice_[c].name, choice_[c].row).value_or(SerialPortInfo {choice_[c].name, {}});
        bridge_.Connect(n, port);
        return true;
    }

    bool LinkOffered() override { return Own(0).HoldsPort() && Own(1).HoldsPort() && bridge_.Now() != Route::Loopback; }
    bool LinkReadsLink() override { return bridge_.Now() == Route::None; }
    void PressLink() override
    {
        if (LinkReadsLink())
            bridge_.Link();
        else
            bridge_.Unlink();
    }
    void SetLine(int c, const LineSettings &line) override { bridge_.SetLine(c + 1, line); }
    bool ShowsLinked() override { return bridge_.Now() != Route::None; }
    bool ShowsLoopback() override { return bridge_.Now() == Route::Loopback; }
    QString Describe(int c) override
    {
        return QStringLiteral("state %1, choice %2 \"%3\"").arg(int(Own(c).Now())).arg(choice_[c].row).arg(choice_[c].name);
    }

    int OtherReadersTold() override { return otherReaders_; }
    qint64 ShownTo(int c) override { return shown_[c]; }

    qint64 shown_[2] = {};
    struct Seen {
        quint64 clears = 0;
        qsizetype end = 0;
    } seen_[2];
    int otherReaders_ = 0;
    SerialController port1_ {nullptr};
    SerialController port2_ {nullptr};
    bridge::Bridge bridge_;
    Choice choice_[2];
};

} // namespace

class TestBridgeCore : public QObject {
    Q_OBJECT
private slots:
    void userChoicesHoldThroughDeviceEvents()
    {
        QElapsedTimer took;
        took.start();
        int ran = 0;
        const QString failure = testing::RunSequences<CoreSequence>(kDefaultRuns, {}, &ran);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        qInfo("%d sequences, %.0f a second", ran, ran * 1000.0 / double(std::max<qint64>(took.elapsed(), 1)));
    }
};

QTEST_GUILESS_MAIN(TestBridgeCore)
#include "tst_bridgecore.moc"

#pragma once
// Random sequences of what a person does (pick a port, Connect, Disconnect,
// Link, Unlink, line settings, a press held while something happens) and
// what devices do (unplug, the same device back, another device under the
// lost one's name, another with its serial number, a twin present at the
// loss) on real ptys, checked after every step against a small model of
// what the user chose:
// - a channel holds exactly the device the model says, really open;
// - the route shown is the model's;
// - bytes from each device reach exactly the device the user linked it
//   with (itself in loopback), once and in order, and no other;
// - the device's speed is the one last chosen for the channel that opened it;
// - a channel's port is never closed by a step that leaves it as it was:
//   nothing the other channel's loss or resume does reaches its device.
// The same sequences drive the window (its buttons and menus) and the
// bridge alone (its calls); a Surface is how a sequence reaches either.

#include "CoreSupport.h"

#include "bridge/Route.h"
#include "ports/SerialController.h"

#include <QHash>
#include <QSerialPort>

#include <vector>

namespace testing {

using bridge::Route;

inline int EnvInt(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

class BridgeSequence {
public:
    static constexpr int kSteps = 24;
    static constexpr int kMaxDevices = 7;
    static constexpr qint32 kSpeeds[] = {9600, 19200, 57600};

    explicit BridgeSequence(quint32 seed) : rng_(seed) {}
    virtual ~BridgeSequence() = default;

    // Empty while all is well; else what went wrong, and the steps so far.
    QString Run()
    {
        Start();
        return RunSteps(kSteps, [this] { Step(); }, [] {}, failure_, log_);
    }

protected:
    struct Dev {
        QString name;
        QString identity;
        std::unique_ptr<Pty> pty; // none while unplugged
        bool twin = false;        // shares another's identity: never plugged back
        QByteArray got;
        bool heldElsewhere = false; // a second program has it open too
    };

    // What the user chose, and what the bridge must therefore be doing.
    struct Model {
        int held[2] = {-1, -1};
        bool opener[2] = {};
        int waitFor[2] = {-1, -1};
        Route waitRoute[2] = {Route::None, Route::None};
        int partner[2] = {-1, -1};
        // Devices present at the loss, with their paths then: none of them
        // is the lost one coming back, even with its identity, unless a
        // look found it gone or elsewhere since. (Gone and back under the
        // same path between two looks, it was never seen to go.)
        QList<QPair<int, QString>> presentAtLoss[2];
        Route route = Route::None;
        qint32 speed[2] = {9600, 9600};
    };

    // How the sequence reaches what it tests.
    // A look at the port list, where the channel's list would look now.
    virtual void Look() = 0;
    virtual platform::SerialController &Controller(int c) = 0;
    virtual bool ShowsHeld(int c) = 0;
    // The port choice: rows as the chooser shows them, and which is chosen.
    virtual bool CanChoose(int c) = 0;
    virtual int RowCount(int c) = 0;
    virtual int Row(int c) = 0;
    virtual QString RowText(int c, int row) = 0;
    virtual void Choose(int c, int row) = 0;
    // Presses Connect or Disconnect, `meanwhile` while it is held down;
    // false when there was no press.
    virtual bool Press(int c, const std::function<void()> &meanwhile) = 0;
    // The Link control: offered, its caption, pressed.
    virtual bool LinkOffered() = 0;
    virtual bool LinkReadsLink() = 0;
    virtual void PressLink() = 0;
    virtual void SetLine(int c, const platform::LineSettings &line) = 0;
    virtual bool ShowsLinked() = 0;
    virtual bool ShowsLoopback() = 0;
    virtual QString Describe(int c) = 0;
    // How many times "another program also has it open" was said so far.
    virtual int OtherReadersTold() = 0;
    // Bytes shown as the channel's received so far (its view may clear).
    virtual qint64 ShownTo(int c) = 0;
    // Whether a look may bring a device back now: not while a press is held.
    bool pressing_ = false;

    void Start()
    {
        for (const char *n : {"devA", "devB"})
            AddDevice(QString::fromLatin1(n), Identity(QString::fromLatin1(n).toUpper(), int(devs_.size())));
        for (int c : {0, 1})
            QObject::connect(&Controller(c).Serial(), &QSerialPort::aboutToClose, [this, c] { ++closes_[c]; });
        Tick();
    }

    platform::ListPortEnumerator ports_;

private:
    void Step()
    {
        const Model before = m_;
        for (int c : {0, 1})
            shownBefore_[c] = ShownTo(c);
        closes_[0] = closes_[1] = 0;
        pressed_[0] = pressed_[1] = false;
        unplugged_ = -1;
        Act();
        if (failure_.isEmpty())
            CheckUndisturbed(before);
        if (failure_.isEmpty())
            CheckNothingShownWhileIdle(before);
        if (failure_.isEmpty())
            Check();
    }

    int Pick(int n) { return int(rng_.bounded(n)); }
    // A device the step can act on: a present one (held ones twice as
    // likely) or an absent one that may come back; -1 when there is none.
    int PickDevice(bool present)
    {
        QList<int> pool;
        for (int d = 0; d < int(devs_.size()); ++d) {
            if (present && Present(d))
                pool.append(d);
            if (present && Present(d) && (m_.held[0] == d || m_.held[1] == d))
                pool.append(d);
            if (!present && !Present(d) && !devs_[d].twin)
                pool.append(d);
        }
        return pool.isEmpty() ? -1 : pool[Pick(int(pool.size()))];
    }
    bool Present(int d) const { return d >= 0 && devs_[d].pty; }
    QString PathOf(int d) const { return Present(d) ? devs_[d].pty->Path() : QString(); }

    static QString Identity(const QString &serial, int location)
    {
        return platform::DeviceIdentity(0x0403, 0x6001, serial, QStringLiteral("1-%1").arg(location + 1));
    }

    void AddDevice(const QString &name, const QString &identity, bool twin = false)
    {
        devs_.push_back({name, identity, std::make_unique<Pty>(), twin, {}});
        MaybeHoldElsewhere(int(devs_.size()) - 1);
        PublishPorts();
    }

    // One device in four is also open in a second program.
    void MaybeHoldElsewhere(int d)
    {
        devs_[d].heldElsewhere = Pick(4) == 0;
        if (devs_[d].heldElsewhere)
            devs_[d].pty->HoldElsewhere();
    }

    // The channel opened the device itself: a second program on it is told of.
    void ModelOpens(int d)
    {
        if (devs_[d].heldElsewhere)
            ++otherReadersExpected_;
    }

    void PublishPorts()
    {
        QList<platform::SerialPortInfo> list;
        for (const Dev &d : devs_)
            if (d.pty)
                list.append({d.name, d.pty->Path(), d.identity});
        ports_.SetPorts(list);
    }

    // The device a row names, as the window looks it up: the port at that
    // row if it bears the name, else the first of that name.
    int DeviceByName(const QString &name, int row) const
    {
        QList<int> present;
        for (int d = 0; d < int(devs_.size()); ++d)
            if (Present(d))
                present.append(d);
        if (row >= 0 && row < present.size() && devs_[present[row]].name == name)
            return present[row];
        for (int d : present)
            if (devs_[d].name == name)
                return d;
        return -1;
    }

    void Tick()
    {
        Look();
        if (pressing_)
            return;
        for (int c : {0, 1}) {
            m_.presentAtLoss[c].removeIf([this](const QPair<int, QString> &p) { return PathOf(p.first) != p.second; });
            ModelResume(c);
        }
    }

    // The first device in the list with the lost one's identity that was
    // not there at the loss and that the other side does not hold.
    void ModelResume(int c)
    {
        const int o = 1 - c;
        const int lost = m_.waitFor[c];
        if (lost < 0)
            return;
        int d = -1;
        for (int i = 0; i < int(devs_.size()) && d < 0; ++i)
            if (Present(i) && devs_[i].identity == devs_[lost].identity && m_.held[o] != i &&
                !m_.presentAtLoss[c].contains({i, PathOf(i)}))
                d = i;
        if (d < 0)
            return;
        m_.held[c] = d;
        m_.opener[c] = true;
        m_.waitFor[c] = -1;
        ModelOpens(d);
        if (m_.waitRoute[c] == Route::Loopback && m_.waitFor[o] == lost && m_.waitRoute[o] == Route::Loopback) {
            m_.held[o] = d;
            m_.opener[o] = false;
            m_.waitFor[o] = -1;
            m_.route = Route::Loopback;
        } else if (m_.waitRoute[c] == Route::Linked && m_.held[o] >= 0 && m_.opener[o] &&
                   devs_[m_.held[o]].identity == devs_[m_.partner[c]].identity) {
            m_.route = Route::Linked;
        }
    }

    // The user acts: what the bridge would bring back by itself is gone.
    void ModelTakeOver(int c)
    {
        m_.waitFor[c] = -1;
        m_.waitRoute[1 - c] = Route::None;
        m_.partner[1 - c] = -1;
    }

    void Unplug(int d)
    {
        const QString path = devs_[d].pty->Path();
        devs_[d].pty.reset();
        unplugged_ = d;
        PublishPorts();
        QList<QPair<int, QString>> present;
        for (int i = 0; i < int(devs_.size()); ++i)
            if (Present(i))
                present.append({i, PathOf(i)});
        for (int c : {0, 1}) {
            if (m_.held[c] != d || !m_.opener[c])
                continue;
            const int o = 1 - c;
            m_.waitFor[c] = d;
            m_.presentAtLoss[c] = present;
            m_.waitRoute[c] = m_.route;
            m_.partner[c] = m_.route == Route::Linked ? m_.held[o] : -1;
            if (m_.route == Route::None && m_.waitFor[o] >= 0 && m_.waitRoute[o] == Route::Linked && m_.partner[o] == d) {
                m_.waitRoute[c] = Route::Linked; // lost together: the first loss took the link down
                m_.partner[c] = m_.waitFor[o];
            }
            if (m_.held[o] == d) {
                m_.presentAtLoss[o] = present;
                m_.waitFor[o] = d;
                m_.waitRoute[o] = m_.route;
                m_.partner[o] = -1;
                m_.held[o] = -1;
            }
            m_.held[c] = -1;
            m_.route = Route::None;
        }
        // The loss arrives through the event loop.
        const auto stillOpen = [&] {
            for (int c : {0, 1})
                if (Controller(c).IsOpen() && Controller(c).Port()->Path == path)
                    return true;
            return false;
        };
        QDeadlineTimer deadline(3000);
        while (stillOpen())
            if (!Pump(deadline))
                return Fail(QStringLiteral("the loss was not noticed"));
    }

    // The same device back: another pty under its name and identity.
    void Replug(int d)
    {
        devs_[d].pty = std::make_unique<Pty>();
        MaybeHoldElsewhere(d);
        PublishPorts();
    }

    static bool Pump(const QDeadlineTimer &deadline)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (deadline.hasExpired())
            return false;
        QTest::qWait(0);
        return true;
    }

    void PressConnect(int c, const std::function<void()> &meanwhile = {})
    {
        const bool disconnect = ShowsHeld(c);
        if (!Press(c, meanwhile)) {
            log_.append(QStringLiteral("(no press: the button went off meanwhile)"));
            return;
        }
        const int o = 1 - c;
        pressed_[c] = true;
        ModelTakeOver(c);
        if (disconnect && m_.held[c] >= 0) {
            if (m_.opener[c] && m_.held[o] == m_.held[c])
                m_.held[o] = -1;
            m_.held[c] = -1;
            m_.route = Route::None;
        } else if (!disconnect && m_.held[c] < 0) {
            const int row = std::max(Row(c), 0);
            const int d = DeviceByName(RowText(c, row), row);
            if (d < 0) {
                log_.append(QStringLiteral("(open failed)"));
            } else if (m_.held[o] == d) {
                m_.held[c] = d;
                m_.opener[c] = false;
                m_.speed[c] = m_.speed[o];
                m_.route = Route::Loopback;
            } else {
                m_.held[c] = d;
                m_.opener[c] = true;
                m_.route = Route::None;
                ModelOpens(d);
            }
        }
    }

    void ChooseSpeed(int c, qint32 speed)
    {
        platform::LineSettings line = Controller(c).Line();
        const int o = 1 - c;
        if (m_.held[c] >= 0 && !m_.opener[c])
            line = Controller(o).Line();
        line.baud = speed;
        SetLine(c, line);
        m_.speed[c] = speed;
        const bool sharing = m_.held[c] >= 0 && m_.held[o] == m_.held[c];
        const bool waitingAsPair = m_.waitFor[c] >= 0 && m_.waitFor[o] == m_.waitFor[c] &&
                                   m_.waitRoute[c] == Route::Loopback && m_.waitRoute[o] == Route::Loopback;
        if (sharing || waitingAsPair)
            m_.speed[o] = speed;
    }

    void ChooseRow(int c, int row)
    {
        if (row != Row(c))
            ModelTakeOver(c);
        Choose(c, row);
    }

    void PickRow(int c)
    {
        if (!CanChoose(c) || RowCount(c) == 0)
            return;
        const int row = Pick(RowCount(c));
        log_.append(QStringLiteral("pick %1 row %2").arg(c + 1).arg(row));
        ChooseRow(c, row);
    }

    void PressLinkAsShown()
    {
        if (!LinkOffered())
            return;
        const bool on = LinkReadsLink();
        log_.append(on ? QStringLiteral("press Link") : QStringLiteral("press Unlink"));
        PressLink();
        m_.route = on ? Route::Linked : Route::None;
    }

    // What a person does most: two different ports, both connected, Link.
    void SetUpLink()
    {
        log_.append(QStringLiteral("set up a link:"));
        for (int c : {0, 1}) {
            if (ShowsHeld(c))
                PressConnect(c);
            if (CanChoose(c) && RowCount(c) > c)
                ChooseRow(c, c == 0 ? 0 : 1 + Pick(RowCount(c) - 1));
            PressConnect(c);
        }
        if (LinkOffered() && LinkReadsLink())
            PressLinkAsShown();
    }

    void Act()
    {
        const int c = Pick(2);
        switch (Pick(19)) {
        case 18: {
            // Gone and back between two looks: the loss and its box, and the
            // device back, all before the list is looked at again.
            const int d = PickDevice(true);
            if (d < 0 || devs_[d].twin)
                return;
            log_.append(QStringLiteral("unplug and replug %1 within a tick").arg(d));
            Unplug(d);
            QCoreApplication::processEvents();
            Replug(d);
            return Tick();
        }
        case 17:
            return DisconnectWhileItSends(c);
        case 15:
        case 16:
            return SetUpLink();
        case 0:
        case 1:
            return PickRow(c);
        case 2:
            PickRow(c); // as a person does: choose the port, then press
            [[fallthrough]];
        case 3:
        case 4:
            log_.append(QStringLiteral("press %1 (%2)").arg(c + 1).arg(ShowsHeld(c) ? "Disconnect" : "Connect"));
            return PressConnect(c);
        case 5:
        case 13:
        case 14:
            return PressLinkAsShown();
        case 6: {
            const qint32 speed = kSpeeds[Pick(3)];
            log_.append(QStringLiteral("speed %1 %2").arg(c + 1).arg(speed));
            return ChooseSpeed(c, speed);
        }
        case 7:
        case 8: {
            const int d = PickDevice(true);
            if (d < 0)
                return;
            log_.append(QStringLiteral("unplug %1").arg(d));
            Unplug(d);
            return Tick();
        }
        case 9:
        case 10: {
            const int d = PickDevice(false);
            if (d < 0)
                return;
            log_.append(QStringLiteral("replug %1").arg(d));
            Replug(d);
            return Tick();
        }
        case 11: {
            // Another device: under an absent one's name, with its serial
            // number elsewhere on the bus, or a twin of a present one.
            if (devs_.size() >= kMaxDevices)
                return;
            const int d = Pick(int(devs_.size()));
            const int kind = Pick(3);
            log_.append(QStringLiteral("impostor %1 of %2").arg(kind).arg(d));
            if (kind == 0 && !Present(d) && DeviceByName(devs_[d].name, -1) < 0)
                AddDevice(devs_[d].name, Identity(QStringLiteral("Z%1").arg(devs_.size()), int(devs_.size())));
            else if (kind == 1)
                AddDevice(devs_[d].name + QStringLiteral("x"), Identity(devs_[d].name.toUpper(), int(devs_.size())));
            else if (kind == 2 && Present(d))
                AddDevice(devs_[d].name + QStringLiteral("-twin"), devs_[d].identity, true);
            return Tick();
        }
        case 12: {
            // A press held while a device goes or comes back, then let go.
            const int d = Pick(2) ? PickDevice(true) : PickDevice(false);
            if (d < 0)
                return;
            log_.append(QStringLiteral("hold %1 while %2 %3").arg(c + 1).arg(Present(d) ? "unplug" : "replug").arg(d));
            PressConnect(c, [&] {
                if (Present(d)) {
                    Unplug(d);
                } else if (!devs_[d].twin) {
                    Replug(d);
                }
                Tick();
            });
            return Tick();
        }
        }
    }

    // The device goes on sending as its channel lets go of it: what it
    // sent after the press is never that channel's. Whatever nobody read
    // is taken out of the device afterwards, as a real port drops it.
    void DisconnectWhileItSends(int c)
    {
        const int d = m_.held[c];
        if (d < 0 || !m_.opener[c] || !ShowsHeld(c))
            return;
        log_.append(QStringLiteral("disconnect %1 while %2 sends").arg(c + 1).arg(d));
        // Sent while linked or echoed, it may cross before the press, whole
        // or in part.
        const int partner = m_.route == Route::Linked ? m_.held[1 - c] : m_.route == Route::Loopback ? d : -1;
        const QByteArray before("<before the press>");
        devs_[d].pty->Send(before);
        PressConnect(c);
        const qint64 atPress = ShownTo(c);
        devs_[d].pty->Send("<after the press>");
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        if (ShownTo(c) > atPress)
            return Fail(QStringLiteral("channel %1 showed %2 bytes after its Disconnect")
                            .arg(c + 1).arg(ShownTo(c) - atPress));
        if (m_.held[0] != d && m_.held[1] != d)
            devs_[d].pty->DrainDevice();
        if (partner >= 0 && Present(partner)) {
            const QByteArray crossed = devs_[partner].pty->Drain();
            if (!before.startsWith(crossed))
                return Fail(QStringLiteral("device %1 received \"%2\" from a channel being disconnected")
                                .arg(partner).arg(QString::fromLatin1(crossed)));
        }
        shownBefore_[c] = ShownTo(c);
    }

    // A channel that held nothing before the step and holds nothing after
    // it was shown nothing meanwhile.
    void CheckNothingShownWhileIdle(const Model &before)
    {
        for (int c : {0, 1})
            if (before.held[c] < 0 && m_.held[c] < 0 && !pressed_[c] && ShownTo(c) > shownBefore_[c])
                return Fail(QStringLiteral("channel %1 showed %2 bytes while it held no port")
                                .arg(c + 1).arg(ShownTo(c) - shownBefore_[c]));
    }

    void Fail(const QString &what)
    {
        if (!failure_.isEmpty())
            return;
        failure_ = what;
        for (int c : {0, 1})
            failure_ += QStringLiteral("\nchannel %1: model holds %2 waits for %3 (route %4); %5")
                            .arg(c + 1).arg(m_.held[c]).arg(m_.waitFor[c]).arg(int(m_.waitRoute[c]))
                            .arg(Describe(c));
    }

    // A channel the step left holding the same device, opened by itself,
    // unpressed, whose device was not the one unplugged, kept its port
    // open throughout.
    void CheckUndisturbed(const Model &before)
    {
        for (int c : {0, 1})
            if (closes_[c] > 0 && !pressed_[c] && m_.opener[c] && before.opener[c] && m_.held[c] >= 0 &&
                m_.held[c] == before.held[c] && m_.held[c] != unplugged_)
                return Fail(QStringLiteral("channel %1's device was closed %2 times by a step that left it as it was")
                                .arg(c + 1).arg(closes_[c]));
    }

    void Check()
    {
        for (int c : {0, 1}) {
            const bool holds = m_.held[c] >= 0;
            if (ShowsHeld(c) != holds)
                return Fail(QStringLiteral("channel %1 shows it holds %2; the model holds %3")
                                .arg(c + 1).arg(ShowsHeld(c)).arg(m_.held[c]));
            if (!holds) {
                if (Controller(c).IsOpen())
                    return Fail(QStringLiteral("channel %1 has a port open it should not").arg(c + 1));
                continue;
            }
            const int opener = m_.opener[c] ? c : 1 - c;
            if (!Controller(opener).HoldsDevice(devs_[m_.held[c]].pty->Path()))
                return Fail(QStringLiteral("channel %1 does not hold device %2").arg(c + 1).arg(m_.held[c]));
            if (m_.opener[c] && TtyOf(devs_[m_.held[c]].pty->Path()).ospeed != speed_t(m_.speed[c]))
                return Fail(QStringLiteral("device %1 is not at %2").arg(m_.held[c]).arg(m_.speed[c]));
        }
        if (ShowsLinked() != (m_.route != Route::None) || ShowsLoopback() != (m_.route == Route::Loopback))
            return Fail(QStringLiteral("the route shown is not %1").arg(int(m_.route)));
        if (OtherReadersTold() != otherReadersExpected_)
            return Fail(QStringLiteral("a second program was told of %1 times, not %2")
                            .arg(OtherReadersTold()).arg(otherReadersExpected_));
        CheckBytes();
    }

    // Every held device sends a token; each must reach exactly where the
    // model's route takes it. (A pty nobody has open would keep a token
    // for its next opener; a real port drops it.)
    void CheckBytes()
    {
        QHash<int, QByteArray> expected;
        for (int d = 0; d < int(devs_.size()); ++d) {
            if (!Present(d) || (m_.held[0] != d && m_.held[1] != d))
                continue;
            const QByteArray token = QByteArray("<") + QByteArray::number(d) + '.' + QByteArray::number(++tokens_) + '>';
            devs_[d].pty->Send(token);
            int to = -1;
            if (m_.route == Route::Loopback && m_.held[0] == d)
                to = d;
            else if (m_.route == Route::Linked && m_.held[0] == d)
                to = m_.held[1];
            else if (m_.route == Route::Linked && m_.held[1] == d)
                to = m_.held[0];
            if (to >= 0)
                expected[to] += token;
        }
        QDeadlineTimer deadline(3000);
        for (bool all = false; !all;) {
            all = true;
            for (int d = 0; d < int(devs_.size()); ++d)
                if (Present(d)) {
                    devs_[d].got += devs_[d].pty->Drain();
                    all = all && devs_[d].got.size() >= expected.value(d).size();
                }
            if (!all && !Pump(deadline))
                break;
        }
        for (int i = 0; i < 3; ++i) // room for a stray byte to show
            QCoreApplication::processEvents();
        for (int d = 0; d < int(devs_.size()); ++d) {
            if (!Present(d))
                continue;
            devs_[d].got += devs_[d].pty->Drain();
            if (devs_[d].got != expected.value(d))
                return Fail(QStringLiteral("device %1 received \"%2\", expected \"%3\"")
                                .arg(d).arg(QString::fromLatin1(devs_[d].got), QString::fromLatin1(expected.value(d))));
            devs_[d].got.clear();
        }
    }

    QRandomGenerator rng_;
    std::vector<Dev> devs_;
    Model m_;
    int closes_[2] = {};
    qint64 shownBefore_[2] = {};
    int otherReadersExpected_ = 0;
    bool pressed_[2] = {};
    int unplugged_ = -1;
    int tokens_ = 0;
    QString failure_;
    QStringList log_;
};

// Runs the sequences the environment names, or `runs` from seed 1 and the
// seeds that found a fault once; the first failure, or empty.
template <typename Sequence>
QString RunSequences(int defaultRuns, std::initializer_list<int> foundFaults, int *ran = nullptr)
{
    const int first = EnvInt("VARDELO_BRIDGE_SEED", 1);
    const int runs = EnvInt("VARDELO_BRIDGE_RUNS", defaultRuns);
    QList<int> seeds;
    for (int seed = first; seed < first + runs; ++seed)
        seeds.append(seed);
    if (qEnvironmentVariableIsEmpty("VARDELO_BRIDGE_SEED"))
        seeds.append(QList<int>(foundFaults));
    for (int seed : seeds) {
        const QString failure = Sequence(quint32(seed)).Run();
        if (!failure.isEmpty())
            return QStringLiteral("seed %1: %2").arg(seed).arg(failure);
    }
    if (ran)
        *ran = int(seeds.size());
    return {};
}

} // namespace testing

// Port menus following the port list, Loopback, and the Connect buttons.

#include "support/TestSupport.h"

#include <QtTest>

#include <sys/stat.h>

using namespace platform;
using testing::Pty;
using testing::Rig;
using testing::RecordingAlerts;
using testing::Rows;

namespace {

// A port appears while the menu is being filled, after its first row.
class GrowingPorts : public ListPortEnumerator {
public:
    using ListPortEnumerator::ListPortEnumerator;
    std::optional<SerialPortInfo> SerialPort(int index) override
    {
        if (index == 1 && armed) {
            armed = false;
            QList<SerialPortInfo> more;
            for (int i = 0; i < SerialPortCount(); ++i)
                more.append(*ListPortEnumerator::SerialPort(i));
            more.append({QStringLiteral("ttyLate"), QStringLiteral("/dev/ttyLate")});
            SetPorts(more);
        }
        return ListPortEnumerator::SerialPort(index);
    }
    bool armed = false;
};

QList<SerialPortInfo> Ports(std::initializer_list<const char *> names)
{
    QList<SerialPortInfo> list;
    for (const char *n : names)
        list.append({QString::fromLatin1(n), QStringLiteral("/dev/") + QString::fromLatin1(n)});
    return list;
}

} // namespace

class TestDiscovery : public QObject {
    Q_OBJECT
private slots:
    void ticksRebuildWhenThePortsDiffer()
    {
        Rig rig(Ports({"ttyA"}));
        auto &menu = rig.w().SerialPortsPopupMenu1();
        rig.Tick(1);
        QCOMPARE(Rows(menu), QStringList{"ttyA"});
        QCOMPARE(menu.ListIndex(), 0); // one port: the last row is row 0

        // n to n+1: rebuilt in list order, the last row selected even
        // though the user had chosen another.
        rig.ports.SetPorts(Ports({"ttyA", "ttyB", "ttyC"}));
        rig.Tick(1);
        rig.Pick(1, 0);
        rig.ports.SetPorts(Ports({"ttyA", "ttyB", "ttyC", "ttyD"}));
        rig.Tick(1);
        QCOMPARE(Rows(menu), (QStringList{"ttyA", "ttyB", "ttyC", "ttyD"}));
        QCOMPARE(menu.ListIndex(), 3);

        // n to n-1: row 0.
        rig.ports.SetPorts(Ports({"ttyB", "ttyC", "ttyD"}));
        rig.Tick(1);
        QCOMPARE(Rows(menu), (QStringList{"ttyB", "ttyC", "ttyD"}));
        QCOMPARE(menu.ListIndex(), 0);

        // Unchanged: not rebuilt, the user's pick stays.
        rig.Pick(1, 1);
        rig.Tick(1);
        QCOMPARE(menu.ListIndex(), 1);

        // One port swapped for another between two ticks: same count, so
        // not fewer, and the last row is selected.
        rig.ports.SetPorts(Ports({"ttyB", "ttyX", "ttyD"}));
        rig.Tick(1);
        QCOMPARE(Rows(menu), (QStringList{"ttyB", "ttyX", "ttyD"}));
        QCOMPARE(menu.ListIndex(), 2);

        // Only the ticking channel's menu is touched.
        QCOMPARE(rig.w().SerialPortsPopupMenu2().ListCount(), 0);
    }

    void rebuildFollowsAListThatGrowsMeanwhile()
    {
        GrowingPorts ports(Ports({"ttyA", "ttyB"}));
        RecordingAlerts alerts;
        ui::MainWindow w({&ports, &alerts});
        ports.armed = true;
        w.PortListUpdater1_Action(nullptr);
        QCOMPARE(Rows(w.SerialPortsPopupMenu1()), (QStringList{"ttyA", "ttyB", "ttyLate"}));
        QCOMPARE(w.SerialPortsPopupMenu1().ListIndex(), 2);
    }

    void lastPortGoneLeavesNoSelection()
    {
        Rig rig(Ports({"ttyA", "ttyB"}));
        rig.TickBoth();
        QVERIFY(rig.w().ConnectSerial1().Enabled());
        rig.ports.SetPorts({});
        rig.Tick(1);
        QCOMPARE(rig.w().SerialPortsPopupMenu1().ListCount(), 0);
        QCOMPARE(rig.w().SerialPortsPopupMenu1().ListIndex(), -1);
        QVERIFY(!rig.w().ConnectSerial1().Enabled());
        QVERIFY(rig.w().ConnectSerial2().Enabled()); // menu 1 governs only button 1
        rig.Tick(2);
        QVERIFY(!rig.w().ConnectSerial2().Enabled());
        QCOMPARE(rig.w().Loopback(), true); // both -1
    }

    void loopbackChangesOnlyAtATick()
    {
        Rig rig(Ports({"ttyA", "ttyB"}));
        rig.TickBoth();
        QCOMPARE(rig.w().Loopback(), true); // both on the last row
        rig.Pick(1, 0);
        QCOMPARE(rig.w().Loopback(), true);
        rig.Tick(2);
        QCOMPARE(rig.w().Loopback(), false);
        rig.Pick(2, 0);
        QCOMPARE(rig.w().Loopback(), false);
        rig.Tick(1);
        QCOMPARE(rig.w().Loopback(), true);
    }

    void channelTwosMenuGovernsBothButtons()
    {
        Rig rig(Ports({"ttyA", "ttyB"}));
        auto &w = rig.w();
        rig.TickBoth();
        // Menu 1 changing to no selection disables only button 1.
        w.SerialPortsPopupMenu1().SetListIndex(-1);
        QVERIFY(!w.ConnectSerial1().Enabled());
        QVERIFY(w.ConnectSerial2().Enabled());
        // A row chosen in menu 2 enables button 1 as well, although menu 1
        // still has none.
        w.SerialPortsPopupMenu2().SetListIndex(0);
        QVERIFY(w.ConnectSerial1().Enabled());
        // Menu 1's pick enables only its own button.
        w.SerialPortsPopupMenu2().SetListIndex(-1);
        QVERIFY(!w.ConnectSerial1().Enabled() && !w.ConnectSerial2().Enabled());
        rig.Pick(1, 1);
        QVERIFY(w.ConnectSerial1().Enabled());
        QVERIFY(!w.ConnectSerial2().Enabled());
    }

    void connectedChannelsMenuStaysFrozen()
    {
        Pty a, b;
        Rig rig({a.Info(), b.Info()});
        auto &w = rig.w();
        rig.TickBoth();
        rig.Connect(1);
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QCOMPARE(w.PortListUpdater1().Mode(), 0);
        const QStringList frozen = Rows(w.SerialPortsPopupMenu1());
        rig.ports.SetPorts({a.Info(), b.Info(), a.Info(QStringLiteral("extra"))});
        rig.Tick(2);
        QCOMPARE(Rows(w.SerialPortsPopupMenu1()), frozen);
        QCOMPARE(w.SerialPortsPopupMenu2().ListCount(), 3);
        // Both on their last row, but the frozen menu's last is row 1.
        QCOMPARE(w.Loopback(), false);
        // Channel 2's menu losing its selection disables its own Connect,
        // never channel 1's Disconnect: a channel can always let go.
        rig.ports.SetPorts({});
        rig.Tick(2);
        QVERIFY(!w.ConnectSerial2().Enabled());
        QVERIFY(w.ConnectSerial1().Enabled());
        rig.Press(w.ConnectSerial1());
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Connect"));
        QVERIFY(!w.SerialController1().IsOpen());
    }

    void ptyLinksAreTheOnlyVirtualPorts()
    {
        Pty pty;
        QTemporaryDir dir;
        const QString d = dir.path();
        QVERIFY(QFile::link(pty.Path(), d + "/ttyV0"));
        QFile regular(d + "/plain");
        QVERIFY(regular.open(QIODevice::WriteOnly));
        regular.close();
        QVERIFY(QFile::link(d + "/plain", d + "/ttyFile"));
        QVERIFY(QFile::link(d + "/missing", d + "/ttyDangling"));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), d + "/ttyNull"));
        QVERIFY(QFile::link(pty.Path(), d + "/ttyA with space"));
        // Container and sandbox layouts link the multiplexer into /dev.
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/ptmx"), d + "/ptmx"));

        const QList<SerialPortInfo> found = os::ScanVirtualPorts(d);
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].Name, QStringLiteral("ttyA with space")); // sorted by name
        QCOMPARE(found[1].Name, QStringLiteral("ttyV0"));
        QCOMPARE(found[1].Path, d + "/ttyV0");
    }

    void systemListIsRescannedOnlyWhenTheFolderChanges()
    {
        Pty pty;
        QTemporaryDir dir;
        SystemPortEnumerator ports(dir.path(), /*minRescanMs=*/0);
        const int base = ports.SerialPortCount();
        QCOMPARE(ports.ScanCount(), 1);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(ports.SerialPortCount(), base);
        QCOMPARE(ports.ScanCount(), 1);

        QVERIFY(QFile::link(pty.Path(), dir.path() + "/ttyV9"));
        QCOMPARE(ports.SerialPortCount(), base + 1);
        QCOMPARE(ports.ScanCount(), 2);
        QCOMPARE(ports.SerialPort(base)->Name, QStringLiteral("ttyV9"));
        QVERIFY(!ports.SerialPort(base + 1));
        QVERIFY(!ports.SerialPort(-1));

        QVERIFY(QFile::remove(dir.path() + "/ttyV9"));
        QCOMPARE(ports.SerialPortCount(), base);

        // A pty that goes away leaves its link in place, dangling: the
        // folder has not changed, but the port is gone. Tests running
        // beside this one may take the freed pty number at once; then the
        // link is not dangling, and it is tried again with another.
        for (int attempt = 0;; ++attempt) {
            Pty gone;
            const QString link = dir.path() + "/ttyV8";
            QVERIFY(QFile::link(gone.Path(), link));
            QCOMPARE(ports.SerialPortCount(), base + 1);
            const int scans = ports.ScanCount();
            gone.Hangup();
            const int count = ports.SerialPortCount();
            if (QFileInfo::exists(gone.Path()) && attempt < 5) {
                QVERIFY(QFile::remove(link));
                QCOMPARE(ports.SerialPortCount(), base);
                continue;
            }
            QCOMPARE(count, base);
            QCOMPARE(ports.ScanCount(), scans + 1);
            break;
        }
    }
};

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"

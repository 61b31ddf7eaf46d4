// Line settings per channel: what the dialog chooses reaches the device,
// a rate the driver refuses leaves the old one, flow control holds the
// sender, and every open asks for low latency.

#include "support/TestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

#include <sys/ioctl.h>

using namespace platform;
using testing::Pty;
using testing::Rig;
using testing::ScriptedLines;
using testing::TtyOf;
using testing::KernelTermios;

namespace {

struct LineRig {
    ScriptedLines lines;
    Rig rig;
    explicit LineRig(QList<SerialPortInfo> ports)
    {
        rig.ports.SetPorts(std::move(ports));
        rig.window = std::make_unique<ui::MainWindow>(
            ui::MainWindow::Services {&rig.ports, &rig.alerts, nullptr, {}, &lines});
    }
    void Choose(int channel, const LineSettings &line)
    {
        lines.answers = {line};
        QMenu menu;
        (channel == 1 ? rig.w().Serialcomms1() : rig.w().Serialcomms2()).FillContextMenu(&menu);
        menu.findChild<QAction *>(QStringLiteral("LineSettingsAction"))->trigger();
    }
};

} // namespace

class TestLine : public QObject {
    Q_OBJECT
private slots:
    // The defaults are 9600 8N1 without flow control; a choice made on an
    // open port reaches its tty without closing it. A pty keeps 8 bits and
    // no parity whatever it is told: that is refused in words, with the
    // old settings kept, rather than shown as done.
    void choicesReachTheDevice_data()
    {
        QTest::addColumn<LineSettings>("line");
        QTest::addColumn<bool>("ptyTakesIt");
        QTest::addColumn<tcflag_t>("cflags"); // of CSIZE PARENB PARODD CSTOPB CRTSCTS
        QTest::addColumn<bool>("ixon");
        QTest::newRow("115200 8N1") << LineSettings {115200} << true << tcflag_t(CS8) << false;
        QTest::newRow("57600 8N2 RTS/CTS")
            << LineSettings {57600, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::TwoStop,
                             QSerialPort::HardwareControl}
            << true << tcflag_t(CS8 | CSTOPB | CRTSCTS) << false;
        QTest::newRow("460800 8N1 XON/XOFF")
            << LineSettings {460800, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop,
                             QSerialPort::SoftwareControl}
            << true << tcflag_t(CS8) << true;
        QTest::newRow("19200 8E1") << LineSettings {19200, QSerialPort::Data8, QSerialPort::EvenParity} << false
                                   << tcflag_t(CS8) << false;
        QTest::newRow("1200 7N1") << LineSettings {1200, QSerialPort::Data7} << false << tcflag_t(CS8) << false;
    }
    void choicesReachTheDevice()
    {
        QFETCH(LineSettings, line);
        QFETCH(bool, ptyTakesIt);
        QFETCH(tcflag_t, cflags);
        QFETCH(bool, ixon);
        Pty a;
        LineRig t({a.Info()});
        auto &w = t.rig.w();
        t.rig.TickBoth();
        t.rig.Connect(1);
        const KernelTermios before = TtyOf(a.Path());
        QCOMPARE(before.ospeed, speed_t(9600));
        QCOMPARE(before.cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QVERIFY(!(before.iflag & IXON));
        QCOMPARE(w.LineTxt1().text(), QStringLiteral("9600 8N1"));

        t.Choose(1, line);
        const KernelTermios after = TtyOf(a.Path());
        QCOMPARE(t.rig.alerts.messages.size(), ptyTakesIt ? 0 : 1);
        QCOMPARE(after.ospeed, speed_t(ptyTakesIt ? line.baud : 9600));
        QCOMPARE(after.cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS), cflags);
        QCOMPARE(bool(after.iflag & IXON), ixon);
        const QString shown = ptyTakesIt ? line.Summary() : QStringLiteral("9600 8N1");
        QCOMPARE(w.LineTxt1().text(), shown);
        QVERIFY(w.LineTxt1().accessibleName().contains(shown));
        if (!ptyTakesIt)
            QVERIFY(t.rig.alerts.messages[0].detail.contains(QStringLiteral("9600 8N1 stays in force")));
        QVERIFY(w.SerialController1().IsOpen());
        a.Send("still");
        QTRY_COMPARE(w.Serialcomms1().Text(), QByteArray("still"));
    }

    // A rate outside the standard list is set as asked, or refused with
    // a sentence and the old rate kept: never another rate in silence.
    void customRateIsSetOrRefused()
    {
        Pty a;
        LineRig t({a.Info()});
        t.rig.TickBoth();
        t.rig.Connect(1);
        t.Choose(1, LineSettings {250000});
        const KernelTermios now = TtyOf(a.Path());
        if (t.rig.alerts.messages.isEmpty()) {
            QCOMPARE(now.ospeed, speed_t(250000));
            QCOMPARE(t.rig.w().LineTxt1().text(), QStringLiteral("250000 8N1"));
        } else {
            QVERIFY(t.rig.alerts.messages[0].detail.contains(QStringLiteral("9600 8N1 stays in force")));
            QCOMPARE(now.ospeed, speed_t(9600));
            QCOMPARE(t.rig.w().LineTxt1().text(), QStringLiteral("9600 8N1"));
        }
    }

    // Both sides of a loopback are one port: one setting, shown on both.
    void loopbackPairSharesOneSetting()
    {
        Pty a;
        LineRig t({a.Info()});
        t.rig.ConnectBothShared();
        QVERIFY(t.rig.w().LoopbackTxt().Visible());
        const LineSettings line {38400, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::TwoStop};
        t.Choose(2, line);
        QCOMPARE(TtyOf(a.Path()).ospeed, speed_t(38400));
        QCOMPARE(t.rig.w().LineTxt1().text(), line.Summary());
        QCOMPARE(t.rig.w().LineTxt2().text(), line.Summary());
        QCOMPARE(t.lines.shown.value(0), LineSettings {});
    }

    // With XON/XOFF on the destination, the device's XOFF holds what is
    // relayed to it, and its XON lets it go on, nothing lost.
    void xoffFromTheDestinationHoldsTheSender()
    {
        Pty a, b;
        LineRig t({a.Info(), b.Info()});
        t.rig.ConnectBothLinked();
        t.Choose(2, LineSettings {9600, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop,
                                  QSerialPort::SoftwareControl});
        b.Send("\x13"); // XOFF
        QTest::qWait(50);
        a.Send("held back");
        QTRY_COMPARE(t.rig.w().Serialcomms1().Text(), QByteArray("held back"));
        QCOMPARE(b.Receive(9, 300), QByteArray());
        b.Send("\x11"); // XON
        QCOMPARE(b.Receive(9), QByteArray("held back"));
    }

    // Every open asks the driver for low latency; a driver that refuses
    // (a pty does) opens all the same.
    void everyOpenAsksForLowLatency()
    {
        static QList<os::PortHandle> asked;
        asked.clear();
        SerialController::SetLowLatencyRequest([](os::PortHandle handle) {
            asked.append(handle);
            return false;
        });
        Pty a, b;
        LineRig t({a.Info(), b.Info()});
        t.rig.ConnectBoth();
        SerialController::SetLowLatencyRequest(nullptr);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0], t.rig.w().SerialController1().Serial().handle());
        QCOMPARE(t.rig.w().ConnectSerial2().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(!os::RequestLowLatency(t.rig.w().SerialController1().Serial().handle()));
    }

    // A held source whose line has no flow control may lose bytes in its
    // driver: said once per link, with the driver's count, not at every
    // hold. A pty keeps no count and drops nothing, so is not warned of.
    void holdingADeviceWithoutFlowControlIsToldOfOnce()
    {
        Pty a, b;
        LineRig t({a.Info(), b.Info()});
        t.rig.ConnectBothLinked();
        SerialController &source = t.rig.w().SerialController1();
        // b reads nothing, so the queue to it passes its high-water mark.
        const auto floodUntilHeld = [&] {
            const QByteArray chunk(64 * 1024, 'f');
            QDeadlineTimer deadline(20000);
            while (!source.ReadingHeld() && !deadline.hasExpired()) {
                [[maybe_unused]] const ssize_t n = ::write(a.Master(), chunk.constData(), size_t(chunk.size()));
                QCoreApplication::processEvents();
            }
            return source.ReadingHeld();
        };
        QVERIFY(floodUntilHeld());
        QCOMPARE(t.rig.alerts.notices.size(), 0);

        SerialController::SetOverrunCount([](os::PortHandle) { return std::optional<qint64>(5); });
        for (int episode = 0; episode < 2; ++episode) {
            while (source.ReadingHeld()) { // b drains, reading resumes
                b.Drain();
                QCoreApplication::processEvents();
            }
            QVERIFY(floodUntilHeld());
        }
        SerialController::SetOverrunCount(nullptr);
        QCOMPARE(t.rig.alerts.notices.size(), 1);
        QCOMPARE(t.rig.alerts.notices[0].text, QStringLiteral("Channel 1 receives faster than channel 2 can send on."));
        QVERIFY(t.rig.alerts.notices[0].detail.contains(QStringLiteral("(5 bytes so far)")));
    }

    // The dialog starts on the speed, ready to be typed over, and takes
    // only a whole number there.
    void dialogTakesAnyWholeRate()
    {
        ui::LineSettingsDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.Show(LineSettings {115200, QSerialPort::Data7, QSerialPort::MarkParity});
        auto *speed = dialog.findChild<QComboBox *>(QStringLiteral("Speed"));
        QTRY_COMPARE(QApplication::focusWidget(), speed);
        QCOMPARE(speed->lineEdit()->selectedText(), QStringLiteral("115200"));
        QTest::keyClicks(speed->lineEdit(), QStringLiteral("250000"));
        const std::optional<LineSettings> chosen = dialog.Chosen();
        QVERIFY(chosen);
        QCOMPARE(chosen->Summary(), QStringLiteral("250000 7M1"));
        // What is not a speed stays as typed, and a sentence says why.
        auto *problem = dialog.findChild<QLabel *>(QStringLiteral("SpeedProblem"));
        for (const char *typed : {"fast", "4e6", "2147483647", "99999999999", "0"}) {
            speed->lineEdit()->selectAll();
            QTest::keyClicks(speed->lineEdit(), QString::fromLatin1(typed));
            QCOMPARE(speed->currentText(), QString::fromLatin1(typed));
            QVERIFY2(!dialog.Chosen(), typed);
            QVERIFY2(problem->isVisible() && problem->text().contains(QString::fromLatin1(typed)), typed);
        }
        speed->lineEdit()->selectAll();
        QTest::keyClicks(speed->lineEdit(), QStringLiteral("12000000"));
        QVERIFY(dialog.Chosen());
        QVERIFY(!problem->isVisible());
        // The frame gap: "auto", or milliseconds as typed; nothing else.
        auto *gap = dialog.findChild<QComboBox *>(QStringLiteral("FrameGap"));
        QCOMPARE(gap->currentText(), QStringLiteral("auto"));
        QCOMPARE(dialog.Chosen()->frameGapUs, 0);
        for (const auto &[typed, us] : {std::pair{"2.5", 2500}, {"auto", 0}, {"soon", -1}, {"0", -1}, {"61000", -1}}) {
            gap->lineEdit()->selectAll();
            QTest::keyClicks(gap->lineEdit(), QString::fromLatin1(typed));
            QCOMPARE(dialog.Chosen() ? dialog.Chosen()->frameGapUs : -1, us);
        }
    }
};

QTEST_MAIN(TestLine)
#include "tst_line.moc"

// The window's boxes and the keyboard: a box takes the keyboard when it
// opens, so Return answers it and never presses a control behind it, and a
// held key presses a control once.

#include "support/TestSupport.h"

#include "platform/Alerts.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QtTest>

using namespace platform;
using testing::Pty;

namespace {

// The window on the system's own boxes, with channel 2's Connect focused
// as after a click on it.
struct BoxRig {
    explicit BoxRig(QList<SerialPortInfo> list = {}) : ports(std::move(list))
    {
        window = std::make_unique<ui::MainWindow>(ui::MainWindow::Services {&ports, &alerts});
        window->show();
        window->activateWindow();
        connect2().setFocus();
        QObject::connect(&connect2(), &PushButton::Action, [this] { ++presses; });
    }
    PushButton &connect2() { return window->ConnectSerial2(); }
    bool WindowHasKeyboard() const
    {
        return QApplication::focusWidget() && QApplication::focusWidget()->window() == window.get();
    }

    ListPortEnumerator ports;
    SystemAlerts alerts;
    std::unique_ptr<ui::MainWindow> window;
    int presses = 0;
};

// Return, typed at whatever has the keyboard once a box is up; any box
// still open after that is closed so a failing run ends.
void ReturnOnceABoxIsUp()
{
    QTimer::singleShot(0, [] {
        QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeWindow()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTimer::singleShot(2000, [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                    box->done(QMessageBox::Cancel);
        });
    });
}

QList<QMessageBox *> OpenBoxes()
{
    QList<QMessageBox *> open;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            open.append(box);
    return open;
}

// Sends a key as a held key's repeats arrive.
void HoldKey(QWidget &target, Qt::Key key, int repeats)
{
    for (int i = 0; i < repeats; ++i) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), i > 0);
        QApplication::sendEvent(&target, &press);
    }
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(&target, &release);
}

} // namespace

class TestBoxes : public QObject {
    Q_OBJECT
private slots:
    void returnAnswersEveryKindOfBox_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("message") << "message";
        QTest::newRow("question") << "question";
        QTest::newRow("notice") << "notice";
    }
    void returnAnswersEveryKindOfBox()
    {
        QFETCH(QString, kind);
        BoxRig rig;
        QTRY_VERIFY(rig.WindowHasKeyboard());
        int answer = -2;
        ReturnOnceABoxIsUp();
        if (kind == "message") {
            rig.alerts.MsgBox(QStringLiteral("A message"), QStringLiteral("detail"));
        } else if (kind == "question") {
            answer = rig.alerts.Ask(QStringLiteral("A question"), {}, {QStringLiteral("Copy"), QStringLiteral("Cancel")});
            QCOMPARE(answer, 0); // Return chose the first button, not Escape's
        } else {
            rig.alerts.Notice(QStringLiteral("A notice"), {});
        }
        QTRY_VERIFY(OpenBoxes().isEmpty());
        QCOMPARE(rig.presses, 0);
        QTRY_VERIFY(rig.WindowHasKeyboard());
    }

    // The real path: a device another program holds gives its notice
    // on Connect, and the Return that answers it leaves the channel connected.
    void theAlsoOpenNoticeTakesTheReturnMeantForIt()
    {
        Pty device;
        QProcess holder;
        holder.setStandardInputFile(device.Path());
        holder.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(holder.waitForStarted());
        BoxRig rig({device.Info()});
        emit rig.window->PortListUpdater2().Action(&rig.window->PortListUpdater2());
        QTRY_VERIFY(rig.WindowHasKeyboard());
        QTest::keyClick(&rig.connect2(), Qt::Key_Space);
        QCOMPARE(rig.connect2().Caption(), QStringLiteral("Disconnect"));
        QTRY_COMPARE(OpenBoxes().size(), 1);
        QTRY_VERIFY(!rig.WindowHasKeyboard());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(OpenBoxes().isEmpty());
        QCOMPARE(rig.connect2().Caption(), QStringLiteral("Disconnect"));
        QCOMPARE(rig.presses, 1);
        holder.kill();
        holder.waitForFinished();
    }

    // Each press of Connect opens or closes a device: a held key is one.
    void aHeldKeyPressesOnce_data()
    {
        QTest::addColumn<bool>("onMenu");
        QTest::addColumn<int>("key");
        QTest::newRow("Return on Connect") << false << int(Qt::Key_Return);
        QTest::newRow("Enter on Connect") << false << int(Qt::Key_Enter);
        QTest::newRow("Return on the port menu") << true << int(Qt::Key_Return);
    }
    void aHeldKeyPressesOnce()
    {
        QFETCH(bool, onMenu);
        QFETCH(int, key);
        Pty device;
        BoxRig rig({device.Info()});
        emit rig.window->PortListUpdater2().Action(&rig.window->PortListUpdater2());
        QWidget &target = onMenu ? static_cast<QWidget &>(rig.window->SerialPortsPopupMenu2())
                                 : static_cast<QWidget &>(rig.connect2());
        HoldKey(target, Qt::Key(key), 12);
        QCOMPARE(rig.presses, 1);
        QCOMPARE(rig.connect2().Caption(), QStringLiteral("Disconnect"));
    }

    // A notice said again while its box is open brings that box forward:
    // a device that keeps being opened gives one box, not a stack.
    void aNoticeRepeatedIsOneBox()
    {
        SystemAlerts alerts;
        for (int i = 0; i < 5; ++i)
            alerts.Notice(QStringLiteral("Same words"), QStringLiteral("same detail"));
        alerts.Notice(QStringLiteral("Other words"), QStringLiteral("same detail"));
        QCOMPARE(OpenBoxes().size(), 2);
        for (QMessageBox *box : OpenBoxes())
            box->close();
        QTRY_VERIFY(OpenBoxes().isEmpty());
    }
};

QTEST_MAIN(TestBoxes)
#include "tst_boxes.moc"

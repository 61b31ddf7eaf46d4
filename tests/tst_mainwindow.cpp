// The window right after construction, and its lifetime.

#include "support/LineServer.h"
#include "support/TestSupport.h"

using testing::Pty;

#include "app/App.h"
#include "platform/LineLamps.h"
#include "ui/Texts.h"
#include "platform/Pictures.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QtTest>

using namespace platform;
using testing::Pty;
using testing::Rig;
using testing::LineServer;

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    // Past its smallest face a text too long for its place is cut with an
    // ellipsis inside the label, never at its edge; text() stays whole.
    void aLabelTooLongIsCutWithAnEllipsis()
    {
        QWidget parent;
        Label label(&parent);
        label.setGeometry(0, 0, 60, 40);
        label.SetMaximumTextWidth(60);
        const QString text = QStringLiteral("connecting to rfc2217://127.0.0.1:42717,\nat most 5 s");
        label.SetText(text);
        QCOMPARE(label.text(), text);
        const QStringList shown = label.ShownText().split(QLatin1Char('\n'));
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[0].endsWith(QChar(0x2026)), qPrintable(shown[0]));
        for (const QString &line : shown)
            QVERIFY(label.fontMetrics().horizontalAdvance(line) <= label.contentsRect().width());
        // Drawn as shown: as a plain label holding the cut text draws it.
        QLabel cut(&parent);
        cut.setFont(label.font());
        cut.setGeometry(label.geometry());
        cut.setAlignment(label.alignment());
        cut.setText(label.ShownText());
        QCOMPARE(label.grab().toImage(), cut.grab().toImage());
        label.SetText(QStringLiteral("9600 8N1"));
        QCOMPARE(label.ShownText(), QStringLiteral("9600 8N1"));
    }

    void initialStateWithNoPorts()
    {
        Rig rig;
        auto &w = rig.w();
        QCOMPARE(w.windowTitle(), QStringLiteral("VardeloLink"));
        QCOMPARE(w.size(), QSize(480, 452));
        QCOMPARE(w.minimumSize(), QSize(480, 452)); // fixed
        QCOMPARE(w.maximumSize(), QSize(480, 452));
        QVERIFY(w.isVisible());
        const Qt::WindowFlags f = w.windowFlags();
        QVERIFY(f & Qt::WindowCloseButtonHint);
        QVERIFY(!(f & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(f & Qt::WindowFullscreenButtonHint));

        for (PushButton *b : {&w.ConnectSerial1(), &w.ConnectSerial2()}) {
            QCOMPARE(b->Caption(), QStringLiteral("Connect"));
            QVERIFY(b->Enabled());
            QVERIFY(b->Visible());
        }
        QCOMPARE(w.LinkBtn().Caption(), QStringLiteral("Link"));
        QVERIFY(!w.LinkBtn().Enabled());
        QVERIFY(!w.LinkBtn().Visible());
        QVERIFY(!w.LinkedTxt().Visible());
        QVERIFY(!w.LoopbackTxt().Visible());
        QCOMPARE(w.LinkedTxt().text(), QStringLiteral("<- Linked ->"));
        QCOMPARE(w.LoopbackTxt().text(), QStringLiteral("Loopback mode"));
        QCOMPARE(w.Label2().text(), QStringLiteral("Vardelo 2 Serial Port"));
        QCOMPARE(w.Label3().text(), QStringLiteral("Vardelo 1 Serial Port"));
        for (PopupMenu *m : {&w.SerialPortsPopupMenu1(), &w.SerialPortsPopupMenu2()}) {
            QCOMPARE(m->ListCount(), 0);
            QCOMPARE(m->ListIndex(), -1);
            QVERIFY(m->Enabled());
        }
        QVERIFY(w.Serialcomms1().Text().isEmpty());
        QVERIFY(w.Serialcomms2().Text().isEmpty());
        QVERIFY(!w.SerialController1().IsOpen());
        QVERIFY(!w.SerialController2().IsOpen());
        for (Timer *t : {&w.PortListUpdater1(), &w.PortListUpdater2()}) {
            QCOMPARE(t->Mode(), 2);
            QCOMPARE(t->Period(), 500);
        }
        QCOMPARE(w.Loopback(), false);
        QVERIFY(rig.alerts.messages.isEmpty());

        // The first ticks with no port present change nothing but Loopback.
        QSignalSpy ticks(&w.PortListUpdater1(), &Timer::Action);
        QVERIFY(ticks.wait(2000));
        QCOMPARE(w.SerialPortsPopupMenu1().ListCount(), 0);
        QVERIFY(w.ConnectSerial1().Enabled());
        QCOMPARE(w.Loopback(), true);
    }

    void controlsStandWhereTheTableSays()
    {
        Rig rig;
        auto &w = rig.w();
        const QList<QPair<QWidget *, QRect>> places = {
            {&w.SerialPortsPopupMenu2(), {300, 203, 160, 20}}, {&w.ConnectSerial2(), {300, 235, 69, 20}},
            {&w.Label2(), {300, 171, 129, 20}},                {&w.Serialcomms2(), {300, 292, 160, 123}},
            {&w.SerialPortsPopupMenu1(), {20, 203, 160, 20}},  {&w.Label3(), {20, 171, 107, 20}},
            {&w.ConnectSerial1(), {20, 235, 69, 20}},          {&w.LinkBtn(), {205, 383, 70, 22}},
            {&w.Serialcomms1(), {20, 292, 160, 123}},          {&w.LoopbackTxt(), {187, 342, 105, 20}},
            {&w.LinkedTxt(), {187, 319, 105, 20}},
        };
        for (const auto &[widget, rect] : places) {
            if (auto *label = qobject_cast<QLabel *>(widget)) {
                // Labels keep their place and grow only to show all their text.
                QCOMPARE(widget->pos(), rect.topLeft());
                QCOMPARE(widget->height(), rect.height());
                QVERIFY(widget->width() >= rect.width());
                QVERIFY(widget->width() >= label->fontMetrics().horizontalAdvance(label->text()));
                QVERIFY(widget->width() == rect.width() || widget->width() <= 160);
            } else if (qobject_cast<QPushButton *>(widget)) {
                // Buttons keep their corner and grow only where this
                // machine's font needs more room for the caption.
                QCOMPARE(widget->pos(), rect.topLeft());
                QVERIFY(widget->width() >= rect.width() && widget->height() >= rect.height());
                QVERIFY(widget->height() == rect.height() || widget->height() <= widget->fontMetrics().height() + 8);
            } else {
                QCOMPARE(widget->geometry(), rect);
            }
            QCOMPARE(widget->parentWidget(), &w);
            QVERIFY(w.findChild<QWidget *>(widget->objectName()) == widget);
        }
        // The two status labels are centred on the window and never overlap.
        for (const Label *centred : {&w.LinkedTxt(), &w.LoopbackTxt()})
            QVERIFY2(centred->alignment() & Qt::AlignHCenter, qPrintable(centred->objectName()));
        QVERIFY(!w.LinkedTxt().geometry().intersects(w.LoopbackTxt().geometry()));
        QVERIFY(w.LinkBtn().font().family() != w.ConnectSerial1().font().family() ||
                w.LinkBtn().font().families().contains(QStringLiteral("Consolas")));
    }

    // Larger desktop fonts: every caption fits its control, the centred
    // labels keep their centre, and no two controls overlap.
    void captionsFitAtLargerFonts_data()
    {
        QTest::addColumn<qreal>("points");
        QTest::newRow("9 pt") << 9.0;
        QTest::newRow("11 pt") << 11.0;
        QTest::newRow("13 pt") << 13.0;
    }
    void captionsFitAtLargerFonts()
    {
        QFETCH(qreal, points);
        const QFont before = QApplication::font();
        QFont font = before;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        Rig rig;
        QApplication::setFont(before);
        auto &w = rig.w();
        w.ConnectSerial1().SetCaption(QStringLiteral("Disconnect"));
        w.ConnectSerial2().SetCaption(QStringLiteral("Disconnect"));
        w.LinkBtn().SetCaption(QStringLiteral("Unlink"));
        for (const PushButton *b : {&w.ConnectSerial1(), &w.ConnectSerial2(), &w.LinkBtn()}) {
            QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) + 8 <= b->width(), qPrintable(b->objectName()));
            QVERIFY(b->fontMetrics().height() <= b->height());
        }
        for (const Label *centred : {&w.LinkedTxt(), &w.LoopbackTxt()}) {
            QVERIFY(centred->fontMetrics().horizontalAdvance(centred->text()) <= centred->width());
            QVERIFY2(qAbs(centred->geometry().center().x() - 240) <= 1, qPrintable(centred->objectName()));
        }
        const QList<QWidget *> widgets = w.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        for (QWidget *a : widgets)
            QVERIFY2(w.rect().adjusted(12, 12, -12, -12).contains(a->geometry()),
                     qPrintable(a->objectName() + " leaves its panel"));
        for (QWidget *a : widgets)
            for (QWidget *b : widgets)
                QVERIFY2(a == b || !a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + " overlaps " + b->objectName()));
    }

    // A screen reader names each control with its channel, and the name
    // follows the caption.
    void everyControlHasAnAccessibleName()
    {
        Pty a;
        Rig rig({a.Info()});
        auto &w = rig.w();
        const QList<QPair<QWidget *, QString>> expected = {
            {&w.SerialPortsPopupMenu1(), "Vardelo 1 Serial Port, port"},
            {&w.SerialPortsPopupMenu2(), "Vardelo 2 Serial Port, port"},
            {&w.ConnectSerial1(), "Connect, channel 1"},
            {&w.ConnectSerial2(), "Connect, channel 2"},
            {&w.Serialcomms1(), "Received on channel 1"},
            {&w.Serialcomms2(), "Received on channel 2"},
            {&w.LinkBtn(), "Link"},
            {&w.Label3(), "Vardelo 1 Serial Port"},
            {&w.Label2(), "Vardelo 2 Serial Port"},
            {&w.LinkedTxt(), "<- Linked ->"},
            {&w.LoopbackTxt(), "Loopback mode"},
        };
        for (const auto &[widget, name] : expected)
            QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), name);
        rig.TickBoth();
        rig.Connect(1);
        QCOMPARE(QAccessible::queryAccessibleInterface(&w.ConnectSerial1())->text(QAccessible::Name),
                 QStringLiteral("Disconnect, channel 1"));
    }

    // As the window is read: channel 1, the Link button, channel 2; the
    // keyboard starts on channel 1's menu.
    void tabOrderRunsChannelOneFirst()
    {
        Rig rig;
        auto &w = rig.w();
        QCOMPARE(w.focusWidget(), &w.SerialPortsPopupMenu1());
        const QStringList expected = {"SerialPortsPopupMenu1", "ConnectSerial1", "Serialcomms1", "LinkBtn",
                                      "SerialPortsPopupMenu2", "ConnectSerial2", "Serialcomms2"};
        QStringList chain;
        QWidget *at = &w.SerialPortsPopupMenu1();
        while (chain.size() < expected.size()) {
            if (!at->objectName().isEmpty() && at->parentWidget() == &w && (at->focusPolicy() & Qt::TabFocus))
                chain.append(at->objectName());
            at = at->nextInFocusChain();
        }
        QCOMPARE(chain, expected);
    }

    void channelsStartWithIdenticalLineSettings()
    {
        Rig rig;
        for (SerialController *c : {&rig.w().SerialController1(), &rig.w().SerialController2()}) {
            const QSerialPort &port = c->Serial();
            QCOMPARE(port.baudRate(), 9600);
            QCOMPARE(port.dataBits(), QSerialPort::Data8);
            QCOMPARE(port.parity(), QSerialPort::NoParity);
            QCOMPARE(port.stopBits(), QSerialPort::OneStop);
            QCOMPARE(port.flowControl(), QSerialPort::NoFlowControl);
        }
    }

    void textAreasAreReadOnly()
    {
        Rig rig;
        auto &area = rig.w().Serialcomms1();
        area.setFocus();
        QTest::keyClicks(&area, "typed");
        QVERIFY(area.Text().isEmpty());
    }

    void backdropIsShippedBesideTheProgram()
    {
        Rig rig;
        QVERIFY(!rig.w().Backdrop().isNull());
        QCOMPARE(rig.w().Backdrop().size(), QSize(480, 452));
        // A missing picture gives none, not a failure.
        QVERIFY(OpenShippedPicture({QStringLiteral("no-such-picture.png")}).isNull());
    }

    void closingTheWindowEndsTheEventLoop()
    {
        auto *window = ui::MainWindow::ImplicitInstance();
        QCOMPARE(ui::MainWindow::ImplicitInstance(), window); // one instance
        QPointer<ui::MainWindow> guard(window);
        QTimer::singleShot(50, window, &QWidget::close);
        QElapsedTimer t;
        t.start();
        const int code = QApplication::exec();
        QCOMPARE(code, 0);
        QVERIFY(t.elapsed() < 5000);
        QTRY_VERIFY(guard.isNull()); // nobody holds the window after close
    }

    // Enter on a closed port menu presses its channel's Connect; Shift+F10
    // opens a text area's menu as the Menu key does.
    void keyboardReachesConnectAndTheMenu()
    {
        Pty a;
        Rig rig({a.Info()});
        auto &w = rig.w();
        rig.TickBoth();
        QTest::keyClick(&w.SerialPortsPopupMenu1(), Qt::Key_Return);
        QCOMPARE(w.ConnectSerial1().Caption(), QStringLiteral("Disconnect"));
        QVERIFY(w.SerialController1().IsOpen());

        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QStringList items;
        QTimer::singleShot(100, [&] {
            if (QWidget *popup = QApplication::activePopupWidget()) {
                for (QAction *action : popup->findChildren<QAction *>())
                    items.append(action->objectName());
                popup->close();
            }
        });
        QTest::keyClick(&w.Serialcomms2(), Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY2(items.contains(QStringLiteral("CopyAction")) && items.contains(QStringLiteral("SaveAction")),
                 qPrintable(items.join(' ')));
    }

    // The lamps show only while a channel holds a port; a pty says it has
    // no lines; a port server's lines are drawn as it tells them, and a
    // screen reader hears each lamp's state. The menu's check item makes
    // them cross the link.
    void lampsShowTheLinesAndTheMenuPassesThem()
    {
        Pty device;
        LineServer a, b;
        Rig rig({device.Info(), {a.Address(), a.Address()}, {b.Address(), b.Address()}});
        auto &w = rig.w();
        auto lamps = [&w](int channel) { return w.findChild<LineLamps *>(QStringLiteral("LineLamps%1").arg(channel)); };
        auto said = [&](int channel) {
            QStringList names;
            for (const QLabel *cell : lamps(channel)->findChildren<QLabel *>())
                if (!cell->isHidden())
                    names << cell->accessibleName();
            return names.join(QLatin1Char('|'));
        };
        QVERIFY(lamps(1)->isHidden() && lamps(2)->isHidden());
        rig.TickBoth();
        rig.Pick(1, 0);
        rig.Connect(1);
        QVERIFY(!lamps(1)->isHidden() && lamps(2)->isHidden());
        QCOMPARE(lamps(1)->Text(), ui::texts::kNoLines);
        rig.Connect(1);
        QVERIFY(lamps(1)->isHidden());

        rig.Pick(1, 1);
        rig.Pick(2, 2);
        rig.Connect(1);
        rig.Connect(2);
        QTRY_COMPARE(w.ConnectSerial2().Caption(), ui::texts::kDisconnect);
        QTRY_VERIFY(a.ToldOfInputs() && b.ToldOfInputs());
        QCOMPARE(said(1), QStringLiteral("RTS on, channel 1|DTR on, channel 1|CTS not told yet, channel 1|"
                                         "DSR not told yet, channel 1|DCD not told yet, channel 1|RI not told yet, channel 1"));
        a.SendInputs({false, true, false, false}); // DSR on
        QTRY_VERIFY(said(1).contains(QStringLiteral("DSR on, channel 1")));
        QVERIFY(said(1).contains(QStringLiteral("CTS off, channel 1")));

        rig.Press(w.LinkBtn());
        QMenu context;
        emit w.Serialcomms1().ContextMenuAboutToShow(&context);
        auto *pass = context.findChild<QAction *>(QStringLiteral("PassLinesAction"));
        QVERIFY(pass && pass->isCheckable() && !pass->isChecked());
        QVERIFY(pass->text().contains(QStringLiteral("CTS to RTS, DSR to DTR")));
        pass->trigger();
        QVERIFY(w.Core().LinesCross());
        // B's outputs follow A's inputs: DTR stays on, RTS goes off.
        QTRY_VERIFY(said(2).startsWith(QStringLiteral("RTS off, channel 2|DTR on, channel 2")));
        QTRY_COMPARE(b.Controls().size(), 3);
        QCOMPARE(b.Controls().last().value, LineServer::kRtsOff);

        rig.Press(w.ConnectSerial1());
        QVERIFY(lamps(1)->isHidden());
        QVERIFY(!w.Core().LinesCross());
        QTRY_COMPARE(b.Controls().last().value, LineServer::kRtsOn); // raised again
    }

    // On Linux a screen reader names a combo box by the label that labels
    // it: each menu is labelled by its channel's heading.
    void menusAreLabelledByTheirHeadings()
    {
        Rig rig;
        auto &w = rig.w();
        const std::pair<QWidget *, QWidget *> pairs[] = {{&w.SerialPortsPopupMenu1(), &w.Label3()},
                                                         {&w.SerialPortsPopupMenu2(), &w.Label2()}};
        for (const auto &[menu, heading] : pairs) {
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(menu);
            QStringList labels;
            for (const auto &[other, relation] : iface->relations(QAccessible::Label))
                labels.append(other->text(QAccessible::Name));
            QCOMPARE(labels, QStringList {static_cast<QLabel *>(heading)->text()});
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

// A capture of a relayed exchange, read back by Wireshark's tshark: one
// packet a frame, on an interface named by its port and line settings,
// and Modbus RTU decoded with the README's setting.

#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace platform;
using namespace testing;

namespace {

// The README's option: DLT 147 as Modbus RTU.
const QString kModbusDlt = QStringLiteral("uat:user_dlts:\"User 0 (DLT=147)\",\"mbrtu\",\"0\",\"\",\"0\",\"\"");

QStringList Tshark(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("tshark"), args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qWarning("tshark: %s", p.readAllStandardError().constData());
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class ScriptedFiles : public FileChooser {
public:
    QString SaveFileName(QWidget *, const QString &, Existing) override { return path; }
    QString path;
};

} // namespace

class TestCapture : public QObject {
    Q_OBJECT
private slots:
    void wiresharkReadsEachFrameOfALinkedExchange()
    {
        Pty a, b;
        ScriptedFiles files;
        QTemporaryDir dir;
        files.path = dir.filePath(QStringLiteral("exchange.pcapng"));
        Rig rig({a.Info(), b.Info()});
        rig.window = std::make_unique<ui::MainWindow>(ui::MainWindow::Services {&rig.ports, &rig.alerts, &files});
        ui::MainWindow &w = rig.w();
        rig.ConnectBothLinked();
        w.StartRecording();
        QVERIFY(w.Recording().Active());
        // A Modbus RTU read of two holding registers and its reply, then
        // every byte value; each frame apart from the next by more than its gap.
        QByteArray every(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i)
            every[i] = char(i);
        const QList<std::pair<int, QByteArray>> frames = {
            {1, QByteArray::fromHex("010300000002c40b")},
            {2, QByteArray::fromHex("010304000a000b9bf6")},
            {1, every},
        };
        for (qsizetype i = 0; i < frames.size(); ++i) {
            const auto &[from, bytes] = frames[i];
            (from == 1 ? a : b).Send(bytes);
            QCOMPARE((from == 1 ? b : a).Receive(bytes.size()), bytes);
            // The reply at once, as a device gives it: the question's frame
            // is still open on its side when the answer begins.
            if (i != 0)
                QTest::qWait(30);
        }
        w.StopRecording();

        auto fields = [&](const QStringList &options, const QStringList &names) {
            QStringList args = {QStringLiteral("-r"), files.path, QStringLiteral("-T"), QStringLiteral("fields")};
            for (const QString &name : names)
                args << QStringLiteral("-e") << name;
            return Tshark(options + args);
        };
        // The frames, in the order sent, each on its side's interface.
        const QStringList packets = fields({QStringLiteral("-Y"), QStringLiteral("frame.interface_id > 0")},
                                           {QStringLiteral("frame.interface_name"), QStringLiteral("data")});
        QCOMPARE(packets.size(), frames.size());
        for (qsizetype i = 0; i < packets.size(); ++i) {
            const Pty &from = frames[i].first == 1 ? a : b;
            QCOMPARE(packets[i].section(QLatin1Char('\t'), 0, 0), from.Path() + QStringLiteral(" 9600 8N1"));
            QCOMPARE(QByteArray::fromHex(packets[i].section(QLatin1Char('\t'), 1, 1).toLatin1()), frames[i].second);
        }
        // The window's events, by their comments, on an interface of their own.
        const QStringList events = fields({QStringLiteral("-Y"), QStringLiteral("frame.interface_id == 0")},
                                          {QStringLiteral("frame.comment")});
        QCOMPARE(events.first(), QStringLiteral("recording started"));
        QCOMPARE(events.last(), QStringLiteral("recording stopped"));
        // Modbus RTU, with the README's setting.
        const QStringList modbus = Tshark({QStringLiteral("-r"), files.path, QStringLiteral("-o"), kModbusDlt,
                                           QStringLiteral("-Y"), QStringLiteral("mbrtu")});
        QVERIFY(modbus.size() >= 2);
        QVERIFY2(modbus[0].contains(QStringLiteral("Query: Unit:   1, Func:   3")), qPrintable(modbus[0]));
        QVERIFY2(modbus[1].contains(QStringLiteral("Response: Unit:   1, Func:   3")), qPrintable(modbus[1]));
    }
};

int main(int argc, char **argv)
{
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty()) {
        std::puts("tshark is not installed: skipped");
        return 77;
    }
    QApplication app(argc, argv);
    TestCapture test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_capture.moc"

// Settings records: exact bytes, and refusal of anything malformed.

#include "platform/Controls.h"
#include "ports/SerialController.h"
#include "ui/SerialSettings.h"
#include "platform/SettingsRecord.h"
#include "platform/byteview/TextArea.h"
#include "ui/InitialSettings.h"

#include <QtTest>

using namespace platform;

namespace {

// Records every entry it is given, against a table of each type.
class Probe : public Settable {
public:
    PropertyTable Properties() const override
    {
        static constexpr PropertyDecl kTable[] = {
            {"I", SettingType::Integer}, {"B", SettingType::Boolean}, {"S", SettingType::String},
            {"C", SettingType::Color},   {"F", SettingType::TextSize}, {"D", SettingType::Double},
            {"U", SettingType::TextUnit},
        };
        return kTable;
    }
    void ApplySetting(QByteArrayView name, const QVariant &value) override
    {
        entries.append({name.toByteArray(), value});
    }
    QList<QPair<QByteArray, QVariant>> entries;
};

// Passes entries on to another object, counting them.
class Counting : public Settable {
public:
    explicit Counting(Settable &inner) : inner_(inner) {}
    PropertyTable Properties() const override { return inner_.Properties(); }
    void ApplySetting(QByteArrayView name, const QVariant &value) override
    {
        ++count;
        inner_.ApplySetting(name, value);
    }
    int count = 0;

private:
    Settable &inner_;
};

QByteArray Hex(const char *hex) { return QByteArray::fromHex(hex); }

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void timerAndSerialRecordsHaveExactBytes()
    {
        const QByteArray timer = QByteArray("Mode ") + Hex("0200000000000000") + "Period " + Hex("f401000000000000");
        QCOMPARE(ui::settings::TimerRecord(), timer);

        const QByteArray zero8 = Hex("0000000000000000");
        const QByteArray serial = QByteArray("Baud ") + Hex("0800000000000000") + "Bits " + Hex("0300000000000000") +
                                  "Parity " + zero8 + "Stop " + zero8 + "XON " + Hex("00") + "CTS " + Hex("00") +
                                  "DTR " + Hex("00");
        QCOMPARE(ui::settings::SerialRecord(), serial);
    }

    void controlRecordStartsWithNameIndexAndGeometry()
    {
        const QByteArray r = ui::settings::ControlRecord("LinkBtn");
        const QByteArray head = QByteArray("Name ") + Hex("07000000") + "LinkBtn" + "Index " +
                                Hex("00000080ffffffff") + "Left " + Hex("cd00000000000000") + "Top " +
                                Hex("7f01000000000000") + "Width " + Hex("4600000000000000") + "Height " +
                                Hex("1600000000000000");
        QCOMPARE(r.left(head.size()), head);
        QVERIFY(r.contains(QByteArray("TextFont ") + Hex("08000000") + "Consolas"));
        QVERIFY(ui::settings::ControlRecord("NoSuchControl").isEmpty());
    }

    void valuesDecodeByDeclaredType()
    {
        const QByteArray r = RecordWriter()
                                 .Int("I", -2)
                                 .Bool("B", true)
                                 .Str("S", "a b")
                                 .Color("C", QColor(255, 255, 255))
                                 .TextSize("F", 1.5f)
                                 .Double("D", 0.25)
                                 .TextUnit("U", 7)
                                 .Bytes();
        QVERIFY(r.contains(QByteArray("C ") + Hex("ffffff00")));
        Probe p;
        ApplySettings(p, r);
        QCOMPARE(p.entries.size(), 7);
        QCOMPARE(p.entries[0].second.toLongLong(), -2);
        QCOMPARE(p.entries[1].second.toBool(), true);
        QCOMPARE(p.entries[2].second.toByteArray(), QByteArray("a b"));
        QCOMPARE(p.entries[3].second.value<QColor>(), QColor(Qt::white));
        QCOMPARE(p.entries[4].second.toFloat(), 1.5f);
        QCOMPARE(p.entries[5].second.toDouble(), 0.25);
        QCOMPARE(p.entries[6].second.toInt(), 7);
    }

    void everyTruncationIsRefused()
    {
        // Cut every real record at every length. Only a cut between two
        // entries is a well-formed (shorter) record; every other cut must
        // be refused, and the sanitizer build checks nothing past the end
        // is read.
        QWidget parent;
        Timer timer(nullptr);
        SerialController controller(nullptr);
        ui::SerialSettings serial(controller);
        TextArea area(&parent);
        const QList<QPair<Settable *, QByteArray>> records = {
            {&timer, ui::settings::TimerRecord()},
            {&serial, ui::settings::SerialRecord()},
            {&area, ui::settings::ControlRecord("Serialcomms1")},
        };
        for (const auto &[target, full] : records) {
            Counting whole(*target);
            ApplySettings(whole, full);
            int accepted = 0;
            for (qsizetype cut = 1; cut < full.size(); ++cut) {
                Counting counting(*target);
                try {
                    ApplySettings(counting, full.left(cut));
                    ++accepted;
                } catch (const SettingsError &) {
                }
            }
            QCOMPARE(accepted, whole.count - 1);
        }
    }

    void garbledRecordsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("unknown name") << (QByteArray("Nope ") + Hex("00"));
        QTest::newRow("no space") << QByteArray("I\x01\x02");
        QTest::newRow("no space, whole value after it") << (QByteArray("I") + Hex("01") + Hex("0102030405060708"));
        QTest::newRow("empty name") << (QByteArray(" ") + Hex("0000000000000000"));
        QTest::newRow("name then end") << QByteArray("I");
        QTest::newRow("boolean 2") << (QByteArray("B ") + Hex("02"));
        QTest::newRow("string longer than record") << (QByteArray("S ") + Hex("05000000") + "abc");
        QTest::newRow("string length 4 GiB") << (QByteArray("S ") + Hex("ffffffff") + "abc");
        QTest::newRow("short integer") << (QByteArray("I ") + Hex("01020304"));
        QTest::newRow("short double") << (QByteArray("D ") + Hex("01"));
        QTest::newRow("binary name") << (QByteArray("\xff\xfe ") + Hex("00"));
    }
    void garbledRecordsAreRefused()
    {
        QFETCH(QByteArray, record);
        Probe p;
        QVERIFY_THROWS_EXCEPTION(SettingsError, ApplySettings(p, record));
    }

    void truncationBetweenEntriesIsDetected()
    {
        // Whatever is accepted must have been decoded entry by entry: a cut
        // just after an entry's name must never be accepted.
        const QByteArray full = ui::settings::TimerRecord();
        Timer timer(nullptr);
        QVERIFY_THROWS_EXCEPTION(SettingsError, ApplySettings(timer, full.left(full.indexOf("Period") + 7)));
        QVERIFY_THROWS_EXCEPTION(SettingsError, ApplySettings(timer, full.left(5)));
    }

    void popupMenuIndexThatNamesNoRowLeavesNone()
    {
        QWidget parent;
        PopupMenu menu(&parent);
        ApplySettings(menu, RecordWriter().Str("InitialValue", "").Int("ListIndex", 0).Bytes());
        QCOMPARE(menu.ListIndex(), -1);
        QSignalSpy changes(&menu, &PopupMenu::Change);
        menu.SetListIndex(3);
        QCOMPARE(menu.ListIndex(), -1);
        QCOMPARE(changes.size(), 1);
        menu.AddRow("a");
        menu.AddRow("b");
        QCOMPARE(menu.ListIndex(), -1); // adding rows selects nothing
        menu.SetListIndex(1);
        QCOMPARE(menu.ListIndex(), 1);
        QCOMPARE(changes.size(), 2);
        menu.DeleteAllRows();
        QCOMPARE(menu.ListIndex(), -1);
        QCOMPARE(menu.ListCount(), 0);
        QCOMPARE(changes.size(), 2); // quiet
    }

    void timerModes()
    {
        Timer timer(nullptr);
        ApplySettings(timer, RecordWriter().Int("Mode", 2).Int("Period", 20).Bytes());
        QSignalSpy ticks(&timer, &Timer::Action);
        QTRY_VERIFY(ticks.size() >= 2);
        timer.SetMode(Timer::kModeOff);
        const auto seen = ticks.size();
        QTest::qWait(80);
        QCOMPARE(ticks.size(), seen);
        timer.SetMode(Timer::kModeMultiple);
        QTRY_VERIFY(ticks.size() > seen);
    }

    void unknownLineSettingCodeIsRefused()
    {
        SerialController controller(nullptr);
        ui::SerialSettings serial(controller);
        QVERIFY_THROWS_EXCEPTION(SettingsError, ApplySettings(serial, RecordWriter().Int("Baud", 99).Bytes()));
        QVERIFY_THROWS_EXCEPTION(SettingsError, ApplySettings(serial, RecordWriter().Int("Bits", -1).Bytes()));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"

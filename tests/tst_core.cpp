// The bridge's rules without a window: when a source is held, and which
// listed port is a lost device come back. Links only the core.

#include "bridge/Pacing.h"
#include "bridge/Route.h"

#include "ports/DirectRelay.h"
#include "support/CoreSupport.h"

#include <QtTest>

#include <limits>

#include <sys/socket.h>

using bridge::Loss;
using bridge::Pacing;
using bridge::Route;
using platform::SerialPortInfo;

namespace {

constexpr qint64 kMiB = 1 << 20;
constexpr qint64 kHigh = Pacing::kHighWaterBytes;
constexpr qint64 kBoth = Pacing::kBothWaysHighWaterBytes;

SerialPortInfo Usb(const QString &path, const QString &identity) { return {path.section('/', -1), path, identity}; }

} // namespace

Q_DECLARE_METATYPE(Route)
Q_DECLARE_METATYPE(SerialPortInfo)

namespace {

// The device ends of two ptys, opened as the relay takes them from a port.
class DeviceEnds {
public:
    DeviceEnds(const testing::Pty &a, const testing::Pty &b) : fd_ {Open(a), Open(b)} {}
    ~DeviceEnds()
    {
        for (int fd : fd_)
            if (fd >= 0)
                ::close(fd);
    }
    bool Open() const { return fd_[0] >= 0 && fd_[1] >= 0; }
    int operator[](int side) const { return fd_[side]; }

private:
    static int Open(const testing::Pty &pty)
    {
        return ::open(QFile::encodeName(pty.Path()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    int fd_[2];
};

bool WaitReadable(int fd, int ms)
{
    pollfd p {fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1 && (p.revents & POLLIN);
}

// What `fd` gives until it has `size` bytes or is quiet for `quietMs`.
QByteArray ReadUpTo(int fd, qsizetype size, int quietMs = 2000)
{
    QByteArray got;
    char buf[65536];
    while (got.size() < size && WaitReadable(fd, quietMs))
        if (const ssize_t r = ::read(fd, buf, sizeof buf); r > 0)
            got.append(buf, r);
    return got;
}

} // namespace

class TestCore : public QObject {
    Q_OBJECT
private slots:
    void pacing_data()
    {
        QTest::addColumn<Route>("route");
        // Queued on channel 1's and channel 2's own ports, and whether each reads now.
        QTest::addColumn<qint64>("queued1");
        QTest::addColumn<qint64>("queued2");
        QTest::addColumn<bool>("held1");
        QTest::addColumn<bool>("held2");
        QTest::addColumn<bool>("hold1");
        QTest::addColumn<bool>("hold2");
        QTest::newRow("no route holds nothing") << Route::None << 5 * kBoth << 5 * kBoth << true << true << false << false;
        QTest::newRow("a link at the mark reads on") << Route::Linked << qint64(0) << kHigh << false << false << false << false;
        QTest::newRow("a link past the mark holds its source") << Route::Linked << qint64(0) << kHigh + 1 << false << false << true << false;
        QTest::newRow("a held source stays held above a quarter") << Route::Linked << qint64(0) << kHigh / 4 + 1 << true << false << true << false;
        QTest::newRow("and reads again at a quarter") << Route::Linked << qint64(0) << kHigh / 4 << true << false << false << false;
        QTest::newRow("both due: the one with less queued onward reads") << Route::Linked << 3 * kMiB << 2 * kMiB << false << false << false << true;
        QTest::newRow("both due, the other way round") << Route::Linked << 2 * kMiB << 3 * kMiB << false << false << true << false;
        QTest::newRow("the one reading keeps its turn within the margin") << Route::Linked << 2 * kMiB << 2 * kMiB + kHigh / 8 << false << true << false << true;
        QTest::newRow("and gives it up past the margin") << Route::Linked << 2 * kMiB << 2 * kMiB + kHigh / 2 << false << true << true << false;
        QTest::newRow("both held only when both are past the far mark") << Route::Linked << kBoth + 1 << kBoth + 1 << false << false << true << true;
        QTest::newRow("a loopback reads on past the link's mark") << Route::Loopback << 8 * kMiB << 8 * kMiB << false << false << false << false;
        QTest::newRow("a loopback past the far mark is held") << Route::Loopback << kBoth + 1 << qint64(0) << false << false << true << false;
    }

    // A source reads only as fast as its destination sends, and no sender
    // that reads last is held for good.
    void pacing()
    {
        QFETCH(Route, route);
        QFETCH(qint64, queued1);
        QFETCH(qint64, queued2);
        QFETCH(bool, held1);
        QFETCH(bool, held2);
        const std::array<bool, 2> hold = Pacing::Holds(route, {Pacing::Side {queued1, held1}, Pacing::Side {queued2, held2}});
        QTEST(hold[0], "hold1");
        QTEST(hold[1], "hold2");
    }

    void returned_data()
    {
        QTest::addColumn<SerialPortInfo>("lost");
        QTest::addColumn<QList<SerialPortInfo>>("presentAtLoss");
        QTest::addColumn<QList<SerialPortInfo>>("now");
        QTest::addColumn<QString>("heldByOther"); // a path
        QTest::addColumn<int>("row");             // -1: not back
        const SerialPortInfo lost = Usb("/dev/ttyUSB0", "usb:0403:6001:A1@1-1");
        const SerialPortInfo twin = Usb("/dev/ttyUSB1", "usb:0403:6001:A1@1-1");
        const SerialPortInfo other = Usb("/dev/ttyUSB2", "usb:0403:6001:B2@1-2");
        const SerialPortInfo link = {"ttyV0", "/dev/ttyV0", "link:/dev/ttyV0"};
        QTest::newRow("back under another name") << lost << QList<SerialPortInfo> {other} << QList<SerialPortInfo> {other, twin} << QString() << 1;
        QTest::newRow("not back") << lost << QList<SerialPortInfo> {other} << QList<SerialPortInfo> {other} << QString() << -1;
        QTest::newRow("another device under its path is not it") << lost << QList<SerialPortInfo> {} << QList<SerialPortInfo> {Usb("/dev/ttyUSB0", "usb:0403:6001:C3@1-1")} << QString() << -1;
        QTest::newRow("a twin present at the loss is not it") << lost << QList<SerialPortInfo> {twin} << QList<SerialPortInfo> {twin} << QString() << -1;
        QTest::newRow("a twin the other side holds is not it") << lost << QList<SerialPortInfo> {} << QList<SerialPortInfo> {twin} << twin.Path << -1;
        QTest::newRow("a virtual port by its link") << link << QList<SerialPortInfo> {} << QList<SerialPortInfo> {other, link} << QString() << 1;
    }

    void returned()
    {
        QFETCH(SerialPortInfo, lost);
        QFETCH(QList<SerialPortInfo>, presentAtLoss);
        QFETCH(QList<SerialPortInfo>, now);
        QFETCH(QString, heldByOther);
        Loss loss;
        loss.device = lost;
        loss.presentAtLoss = presentAtLoss;
        const std::optional<int> row = loss.Returned(now, [&](const SerialPortInfo &p) { return p.Path == heldByOther; });
        QTEST(row.value_or(-1), "row");
    }

    // A relay stopped in the middle of a flood both ways hands back what it
    // read and had not yet written: with what reached each device and what
    // it never read, every byte is there once and in order, and what it
    // read is all among its arrivals.
    void aStoppedRelayLosesNoByte()
    {
        using testing::Pty;
        Pty a, b;
        const DeviceEnds fd(a, b);
        QVERIFY(fd.Open());
        int wakes = 0;
        platform::DirectRelay relay([&] { ++wakes; });
        constexpr qint64 kHigh = 256 * 1024;
        QVERIFY(relay.Start(fd[0], fd[1], [](const std::array<qint64, 2> &queued, const std::array<bool, 2> &) {
            return std::array<bool, 2> {queued[1] > kHigh, queued[0] > kHigh};
        }));
        const int master[2] = {a.Master(), b.Master()};
        const QByteArray sent[2] = {testing::RandomBytes(4 << 20, 1), testing::RandomBytes(4 << 20, 2)};
        qsizetype offered[2] = {};
        QByteArray got[2]; // what each device received
        char buf[65536];
        // Both devices send, and read only now and then: the relay holds.
        for (int pass = 0; offered[0] < sent[0].size() / 2 || offered[1] < sent[1].size() / 2; ++pass) {
            for (int side : {0, 1}) {
                const ssize_t n = ::write(master[side], sent[side].constData() + offered[side],
                                          size_t(std::min<qsizetype>(4096, sent[side].size() - offered[side])));
                offered[side] += std::max<ssize_t>(n, 0);
                if (pass % 3 == 0)
                    if (const ssize_t r = ::read(master[side], buf, sizeof buf); r > 0)
                        got[side].append(buf, r);
            }
            QCoreApplication::processEvents();
        }
        const platform::DirectRelay::Left left = relay.Stop();
        const platform::DirectRelay::News news = relay.Take();
        QByteArray arrived[2];
        for (int side : {0, 1})
            for (const platform::DirectRelay::Arrival &arrival : news.arrivals[side])
                arrived[side] += arrival.bytes;
        for (int side : {0, 1}) {
            const int other = 1 - side;
            got[other] += ReadUpTo(master[other], std::numeric_limits<qsizetype>::max(), 50);
            QByteArray unread;
            for (ssize_t r; (r = ::read(fd[side], buf, sizeof buf)) > 0;)
                unread.append(buf, r);
            QVERIFY(got[other] + left.toward[other] == arrived[side]);
            QVERIFY(arrived[side] + unread == sent[side].first(offered[side]));
        }
        QVERIFY(wakes > 0);
    }

    // Toward a port server speaking Telnet a byte 255 goes doubled, and
    // doubled ones from it come back single, also when a read ends between
    // the two. Its first command stops the reading of it: the rest comes
    // back whole, to be decoded from where the relay stopped, while the
    // other way still crosses.
    void aTelnetDeviceIsDecodedAndEscapedAndItsCommandsLeftToItsPort()
    {
        using platform::net::TelnetCodec;
        const testing::Pty a;
        int server[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, server) == 0);
        const int tty = ::open(QFile::encodeName(a.Path()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(tty >= 0);
        platform::DirectRelay relay([] {});
        platform::DirectRelay::Framings framing;
        framing[1].telnet.emplace();
        QVERIFY(relay.Start(tty, server[0], [](const std::array<qint64, 2> &, const std::array<bool, 2> &) {
            return std::array<bool, 2> {};
        }, framing));
        const QByteArray every = testing::EveryValueAndIacRuns();
        QCOMPARE(::write(a.Master(), every.constData(), size_t(every.size())), ssize_t(every.size()));
        const QByteArray escaped = TelnetCodec::Escape(every);
        QCOMPARE(ReadUpTo(server[1], escaped.size()), escaped);

        const QByteArray before = escaped + '\xff'; // and the other half of a 255 in the next read
        QCOMPARE(::write(server[1], before.constData(), size_t(before.size())), ssize_t(before.size()));
        QCOMPARE(ReadUpTo(a.Master(), every.size()), every);
        const QByteArray command = TelnetCodec::Subnegotiation(TelnetCodec::kComPort, QByteArray("\x6b\x30"));
        const QByteArray rest = '\xff' + command + TelnetCodec::Escape(every);
        QCOMPARE(::write(server[1], rest.constData(), size_t(rest.size())), ssize_t(rest.size()));
        QCOMPARE(ReadUpTo(a.Master(), 2, 300), QByteArray("\xff"));
        QCOMPARE(::write(a.Master(), "still", 5), 5);
        QCOMPARE(ReadUpTo(server[1], 5), QByteArray("still"));

        const platform::DirectRelay::Left left = relay.Stop();
        const platform::DirectRelay::News news = relay.Take();
        QVERIFY(news.command[1] && !news.command[0] && !news.failed[1]);
        QByteArray copies;
        for (const platform::DirectRelay::Arrival &arrival : news.arrivals[1])
            copies += arrival.bytes;
        QCOMPARE(copies, every + '\xff');
        QVERIFY(left.framing[1].telnet);
        TelnetCodec port = *left.framing[1].telnet;
        QList<TelnetCodec::Event> events;
        QCOMPARE(port.Decode(left.unread[1], events), every);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].payload, QByteArray("\x6b\x30"));
        QCOMPARE(events[0].at, 0);
        for (int fd : {tty, server[0], server[1]})
            ::close(fd);
    }

    // An owner that takes nothing for a while holds no relay up: every byte
    // crosses, its copies stay within the limit, newest kept and in order,
    // and what was let go is counted to the byte.
    void aRelayWhoseOwnerTakesNothingHoldsNoByteBack()
    {
        using testing::Pty;
        Pty a, b;
        const DeviceEnds fd(a, b);
        QVERIFY(fd.Open());
        platform::DirectRelay relay([] {});
        constexpr qint64 kLimit = 256 * 1024;
        relay.SetHandOverLimit(kLimit);
        QVERIFY(relay.Start(fd[0], fd[1], [](const std::array<qint64, 2> &, const std::array<bool, 2> &) {
            return std::array<bool, 2> {};
        }));
        const QByteArray sent = testing::RandomBytes(8 << 20, 3);
        QByteArray got;
        char buf[65536];
        for (qsizetype offered = 0; got.size() < sent.size();) {
            if (offered < sent.size())
                offered += std::max<ssize_t>(0, ::write(a.Master(), sent.constData() + offered,
                                                        size_t(std::min<qsizetype>(4096, sent.size() - offered))));
            if (const ssize_t r = ::read(b.Master(), buf, sizeof buf); r > 0)
                got.append(buf, r);
            else if (offered == sent.size() && !WaitReadable(b.Master(), 2000))
                break;
        }
        QVERIFY(got == sent);
        relay.Stop();
        const platform::DirectRelay::News news = relay.Take();
        QByteArray copies;
        qint64 cost = 0;
        quint64 order = 0;
        for (const platform::DirectRelay::Arrival &arrival : news.arrivals[0]) {
            QVERIFY(arrival.order >= order);
            order = arrival.order + 1;
            copies += arrival.bytes;
            cost += arrival.bytes.size() + platform::DirectRelay::kArrivalCostBytes;
        }
        QVERIFY(news.arrivals[1].empty());
        QVERIFY2(cost <= kLimit, qPrintable(QString::number(cost)));
        QVERIFY(copies.size() > kLimit / 2);
        QCOMPARE(news.skipped[0] + copies.size(), sent.size());
        QVERIFY(sent.endsWith(copies));
    }

    // A twin that was there at the loss and has gone since is, when it
    // comes back, no longer told apart from the lost one.
    void aTwinGoneSinceTheLossCounts()
    {
        const SerialPortInfo twin = Usb("/dev/ttyUSB1", "usb:0403:6001:A1@1-1");
        Loss loss;
        loss.device = Usb("/dev/ttyUSB0", "usb:0403:6001:A1@1-1");
        loss.presentAtLoss = {twin};
        const auto none = [](const SerialPortInfo &) { return false; };
        QCOMPARE(loss.Returned({twin}, none), std::nullopt);
        QCOMPARE(loss.Returned({}, none), std::nullopt);
        QCOMPARE(loss.Returned({twin}, none), std::optional<int>(0));
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"

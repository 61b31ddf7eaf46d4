#pragma once
// ser2net serving a pty the test owns, on 127.0.0.1 at a port the test picks.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <cstdio>

namespace testing {

inline bool Ser2netInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")})
                .isEmpty();
}

// A test program that needs ser2net: skipped (77) where it is missing.
template <typename Test>
int RunWithSer2net(int argc, char **argv)
{
    if (!Ser2netInstalled()) {
        std::puts("ser2net is not installed: skipped");
        return 77;
    }
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

inline quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// ser2net serving `device` on 127.0.0.1 at `port`, for as long as it lives.
class Ser2net {
public:
    Ser2net(const QString &device, quint16 port, const QString &accepter = QStringLiteral("telnet(rfc2217),tcp"))
    {
        const QString config = QStringLiteral("connection: &c#  accepter: %1,127.0.0.1,%2#  connector: serialdev,%3,"
                                              "9600n81,local#  options:#    kickolduser: true")
                                   .arg(accepter)
                                   .arg(port)
                                   .arg(device);
        process_.start(QStringLiteral("ser2net"), {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                                                    QDir::temp().filePath(QStringLiteral("tst_network_%1.pid").arg(port)),
                                                    QStringLiteral("-Y"), config});
        process_.waitForStarted();
        // Listening once a connection is taken.
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (s.waitForConnected(200))
                return;
            QTest::qWait(50);
        }
    }
    ~Ser2net()
    {
        process_.terminate();
        process_.waitForFinished(3000);
    }

private:
    QProcess process_;
};

} // namespace testing

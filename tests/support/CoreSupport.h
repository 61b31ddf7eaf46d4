#pragma once
// Test support that needs no window: real pseudo-terminals as serial
// ports, random bytes, and random step runs.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QTest>

#include "ports/PortEnumerator.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <csignal>
#include <sys/wait.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace testing {

// Every byte value once, then runs of 255 and what would be a Telnet
// command if 255 were not doubled.
inline QByteArray EveryValueAndIacRuns()
{
    QByteArray b;
    for (int i = 0; i < 256; ++i)
        b += char(i);
    return b + QByteArray(7, char(0xFF)) + "\xFF\xFA\x2C\x01\xFF\xF0" + QByteArray(2, char(0xFF));
}

// `n` bytes of every value, the same for the same seed.
inline QByteArray RandomBytes(qsizetype n, quint32 seed)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32 *>(b.data()), n / 4);
    for (qsizetype i = n / 4 * 4; i < n; ++i)
        b[i] = char(gen.generate());
    return b;
}

// One pseudo-terminal: the test holds the master end, the window opens the
// slave end by path like any serial device.
class Pty {
public:
    Pty()
    {
        termios raw {};
        cfmakeraw(&raw);
        char name[256] = {};
        int slave = -1;
        if (::openpty(&master_, &slave, name, &raw, nullptr) != 0)
            qFatal("openpty failed: %s", strerror(errno));
        ::close(slave);
        path_ = QString::fromLocal8Bit(name);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC); // a program the test starts is not the device
    }
    ~Pty() { Hangup(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    const QString &Path() const { return path_; }
    int Master() const { return master_; }
    platform::SerialPortInfo Info(const QString &name = {}) const
    {
        return {name.isEmpty() ? path_.section(QLatin1Char('/'), -1) : name, path_};
    }
    // Closing the master is what unplugging does to the slave side; a
    // second program that held the device lets go with it.
    void Hangup()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
        if (holder_ > 0) {
            ::kill(holder_, SIGKILL);
            ::waitpid(holder_, nullptr, 0);
        }
        holder_ = -1;
    }

    // A second program keeps the device open as well, as a terminal or a
    // stray reader would; it reads nothing.
    void HoldElsewhere()
    {
        const QByteArray path = QFile::encodeName(path_);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Not the device's other end: none of the test's masters.
            ::close_range(3, ~0U, 0);
            const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY);
            if (fd < 0)
                ::_exit(1);
            for (;;)
                ::pause();
        }
        holder_ = pid;
        // Held once the child has it open: the kernel lists it then.
        for (int i = 0; i < 200 && !HeldElsewhere(); ++i)
            ::usleep(1000);
    }
    bool HeldElsewhere() const
    {
        if (holder_ <= 0)
            return false;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(holder_);
        for (int fd = 0; fd < 8; ++fd)
            if (QFile::symLinkTarget(QStringLiteral("%1/%2").arg(fds).arg(fd)) == path_)
                return true;
        return false;
    }

    // Writes everything, pumping the event loop while the pty is full.
    void Send(QByteArrayView data, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        qsizetype done = 0;
        int stalls = 0;
        while (done < data.size() && !deadline.hasExpired()) {
            const ssize_t n = ::write(master_, data.data() + done, size_t(data.size() - done));
            if (n > 0) {
                done += n;
                stalls = 0;
                continue;
            }
            // Full: let the window read, and rest only if that did not help.
            QCoreApplication::processEvents();
            if (++stalls % 64 == 0)
                QTest::qWait(1);
        }
        QVERIFY2(done == data.size(), "pty did not take all bytes in time");
    }

    // Reads, from the device's own side, what it was sent and nobody took.
    void DrainDevice()
    {
        const int fd = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return;
        char buf[4096];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
        ::close(fd);
    }

    // What has come out so far, without waiting.
    QByteArray Drain()
    {
        QByteArray out;
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, n);
        }
        return out;
    }

    // Collects at least `n` bytes, pumping the event loop meanwhile.
    QByteArray Receive(qsizetype n, int timeoutMs = 5000)
    {
        QByteArray out;
        QDeadlineTimer deadline(timeoutMs);
        while (out.size() < n && !deadline.hasExpired()) {
            out += Drain();
            if (out.size() < n)
                QTest::qWait(1);
        }
        return out;
    }

private:
    int master_ = -1;
    pid_t holder_ = -1;
    QString path_;
};

// A random sequence's run: acts and checks `steps` times, until the first
// failure. Empty while all is well, else what went wrong and the steps so far.
inline QString RunSteps(int steps, const std::function<void()> &act, const std::function<void()> &check,
                        const QString &failure, const QStringList &log)
{
    for (int step = 0; step < steps && failure.isEmpty(); ++step) {
        act();
        if (failure.isEmpty())
            check();
    }
    return failure.isEmpty() ? QString() : failure + QStringLiteral("\nsteps: ") + log.join(QStringLiteral("; "));
}

// The kernel's view of a tty, with the speed as a number (termios2).
struct KernelTermios {
    tcflag_t iflag, oflag, cflag, lflag;
    cc_t line;
    cc_t cc[19];
    speed_t ispeed, ospeed;
};

inline KernelTermios TtyOf(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    KernelTermios t {};
    if (fd >= 0)
        ::ioctl(fd, _IOR('T', 0x2A, KernelTermios), &t); // TCGETS2
    ::close(fd);
    return t;
}

// Runs the event loop for a while without spinning.
inline void Settle(int ms = 50)
{
    QTest::qWait(ms);
}

} // namespace testing

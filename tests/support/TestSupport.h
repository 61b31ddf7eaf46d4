#pragma once
// Shared test rig: real pseudo-terminals as serial ports, an injected port
// list, and alerts that are recorded instead of shown.

#include "platform/Alerts.h"
#include "ports/PortEnumerator.h"
#include "ui/MainWindow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QRandomGenerator>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace testing {

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
    // Closing the master is what unplugging does to the slave side.
    void Hangup()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
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

// Answers the Line Settings dialog with the next of its settings.
class ScriptedLines : public ui::LineSettingsChooser {
public:
    std::optional<platform::LineSettings> Choose(QWidget *, const QString &,
                                                 const platform::LineSettings &current) override
    {
        shown.append(current);
        return answers.isEmpty() ? std::nullopt : std::optional(answers.takeFirst());
    }
    QList<platform::LineSettings> answers;
    QList<platform::LineSettings> shown;
};

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

inline QStringList Rows(const platform::PopupMenu &menu)
{
    QStringList rows;
    for (int i = 0; i < menu.ListCount(); ++i)
        rows.append(menu.RowText(i));
    return rows;
}

struct RecordedMessage {
    QString text;
    QString detail;
};

class RecordingAlerts : public platform::Alerts {
public:
    void Beep() override { ++beeps; }
    void MsgBox(const QString &text, const QString &detail = {}) override
    {
        messages.append({text, detail});
        if (whileOpen) // a person who leaves the box open a while
            whileOpen();
    }
    int Ask(const QString &text, const QString &detail, const QStringList &) override
    {
        questions.append({text, detail});
        return answers.isEmpty() ? -1 : answers.takeFirst();
    }
    void Notice(const QString &text, const QString &detail) override { notices.append({text, detail}); }
    void Dismiss(const QString &text, const QString &detail) override { dismissed.append({text, detail}); }
    QList<RecordedMessage> dismissed;
    int beeps = 0;
    QList<RecordedMessage> messages;
    QList<RecordedMessage> notices;
    QList<RecordedMessage> questions;
    QList<int> answers;
    std::function<void()> whileOpen;
};

// The window with an injected port list and recorded alerts.
struct Rig {
    explicit Rig(QList<platform::SerialPortInfo> list = {}) : ports(std::move(list))
    {
        window = std::make_unique<ui::MainWindow>(ui::MainWindow::Services{&ports, &alerts});
    }
    ui::MainWindow &w() { return *window; }
    // A tick of a channel's refresh timer, as the timer would raise it.
    void Tick(int channel)
    {
        platform::Timer &t = channel == 1 ? w().PortListUpdater1() : w().PortListUpdater2();
        emit t.Action(&t);
    }
    void TickBoth()
    {
        Tick(1);
        Tick(2);
    }
    void Press(platform::PushButton &button) { QTest::mouseClick(&button, Qt::LeftButton); }
    // A press as the handler sees it, also where the button is disabled.
    void Connect(int channel)
    {
        platform::PushButton &b = channel == 1 ? w().ConnectSerial1() : w().ConnectSerial2();
        emit b.Action(&b);
    }
    void Pick(int channel, int row)
    {
        (channel == 1 ? w().SerialPortsPopupMenu1() : w().SerialPortsPopupMenu2()).setCurrentIndex(row);
    }
    // Channel 1 on the first port, channel 2 on the second: ready to link.
    void ConnectBoth()
    {
        TickBoth();
        Pick(1, 0);
        Tick(2);
        Connect(1);
        Connect(2);
    }
    void ConnectBothLinked()
    {
        ConnectBoth();
        Press(w().LinkBtn());
    }
    // Both on the one port: channel 1 opens it, channel 2 shares it.
    void ConnectBothShared()
    {
        TickBoth();
        Connect(1);
        Connect(2);
    }

    platform::ListPortEnumerator ports;
    RecordingAlerts alerts;
    std::unique_ptr<ui::MainWindow> window;
};

} // namespace testing

#pragma once
// Shared test rig: real pseudo-terminals as serial ports, an injected port
// list, and alerts that are recorded instead of shown.

#include "CoreSupport.h"

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

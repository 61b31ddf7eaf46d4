#pragma once
// Ends the program in order on SIGTERM, SIGINT and SIGHUP (logout, Ctrl+C,
// the terminal closing): every open port is closed, so no lock file stays
// behind, and the event loop quits with status 0. The signal handler only
// writes a byte to a socket; the work happens on the event loop.

#include <QObject>

class QSocketNotifier;

namespace platform {

class SignalExit : public QObject {
    Q_OBJECT
public:
    explicit SignalExit(QObject *parent = nullptr);
    ~SignalExit() override;

signals:
    void Received(int signal);

private:
    void OnSignal();
    QSocketNotifier *notifier_ = nullptr;
};

// Closes every serial port of every window and quits the event loop.
void CloseAllPortsAndQuit();

} // namespace platform

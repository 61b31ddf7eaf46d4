#include "SignalExit.h"

#include "ports/SerialController.h"
#include "Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <algorithm>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

constexpr int kPollMs = 20;
// Past the ports' own drain time, the program ends whatever is left.
constexpr int kGiveUpMs = SerialController::kDrainMs + 1000;

void CloseTheRestAndQuit()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        for (SerialController *controller : window->findChildren<SerialController *>())
            controller->Close();
    QCoreApplication::exit(0);
}

} // namespace

void CloseAllPortsAndQuit()
{
    // Closing a window ends what it does in order (its record, too); one
    // whose ports still deliver what they were given closes when done.
    QList<QPointer<QWidget>> open;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (qobject_cast<Window *>(window) && !window->close())
            open.append(window);
    if (open.isEmpty())
        return CloseTheRestAndQuit();
    // The last window closing may end the event loop first; the poll goes
    // with the application then.
    auto *poll = new QTimer(qApp);
    QElapsedTimer since;
    since.start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, since, open] {
        const bool closed = std::all_of(open.cbegin(), open.cend(),
                                        [](const QPointer<QWidget> &w) { return !w || !w->isVisible(); });
        if (!closed && !since.hasExpired(kGiveUpMs))
            return;
        poll->deleteLater();
        CloseTheRestAndQuit();
    });
    poll->start(kPollMs);
}

#ifdef Q_OS_WIN
// Windows ends a GUI program with WM_CLOSE and WM_ENDSESSION, which close
// the window the ordinary way.
SignalExit::SignalExit(QObject *parent) : QObject(parent) {}
SignalExit::~SignalExit() = default;
void SignalExit::OnSignal() {}

#else
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1}; // [0] read by the event loop, [1] written by the handler

extern "C" void OnPosixSignal(int signal)
{
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
}

} // namespace

SignalExit::SignalExit(QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalExit::OnSignal);
    struct sigaction action {};
    action.sa_handler = OnPosixSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

SignalExit::~SignalExit()
{
    if (!notifier_)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SignalExit::OnSignal()
{
    unsigned char byte = 0;
    if (::read(g_pipe[0], &byte, 1) == 1)
        emit Received(byte);
}
#endif

} // namespace platform

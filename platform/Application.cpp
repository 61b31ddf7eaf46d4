#include "Application.h"

#include "Alerts.h"

#include <cstdio>

namespace platform {

namespace {

QString Describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

int &ChooseEventLoop(int &argc)
{
    // A relayed byte waits for the event loop to notice its port; Qt's own
    // Unix dispatcher notices sooner than the GLib one. Set before the
    // application object makes its dispatcher.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    return argc;
}

} // namespace

Application::Application(int &argc, char **argv) : QApplication(ChooseEventLoop(argc), argv) {}

void Application::SetVersionData(const VersionData &data)
{
    version_ = data;
    setApplicationVersion(QStringLiteral("%1.%2.%3.%4").arg(data.major).arg(data.minor).arg(data.fix).arg(data.build));
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleUnhandledError(std::current_exception());
        return true;
    }
}

void Application::HandleUnhandledError(std::exception_ptr error)
{
    const QString what = Describe(error);
    std::fprintf(stderr, "%s: unhandled error: %s\n", qPrintable(applicationName()), qPrintable(what));
    // Errors that come while the first one's box is open (a timer ticks on
    // inside its loop) are only recorded: ending the loops now would take
    // the box away before anyone read it.
    if (unhandledSeen_)
        return;
    unhandledSeen_ = true;
    if (alerts_)
        alerts_->MsgBox(tr("An unexpected error occurred, and %1 will close.").arg(applicationDisplayName()), what);
    exit(kUnhandledErrorExitCode);
}

int Application::Shutdown(int loopResult) const
{
    return unhandledSeen_ ? kUnhandledErrorExitCode : loopResult;
}

} // namespace platform

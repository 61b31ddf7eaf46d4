#include "Startup.h"

#include "App.h"
#include "Version.h"

#include "platform/SignalExit.h"
#include "platform/byteview/TextAreaAccessible.h"

#include <QTimer>

#include <memory>

namespace startup {

namespace {

// The program takes no arguments: Qt gets the program name alone, so no
// option such as -reverse or -stylesheet reaches it. Qt keeps a reference
// to the count for the application's life.
int g_qtArgc = 1;
char *g_qtArgv[2] = {};

void EarlyStartup(std::unique_ptr<App> &app, char *programName, platform::Alerts &alerts)
{
    // High-density display support is on by default in Qt 6; keep pixmaps crisp too.
    QApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication::setApplicationName(QStringLiteral("vardelolink"));
    QApplication::setApplicationDisplayName(QStringLiteral("VardeloLink"));
    QApplication::setOrganizationName(QStringLiteral(VARDELO_MAKER));
    // Lets desktops match the window to its installed entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VARDELO_APP_ID));
    // No document file types and no application menu handlers.
    g_qtArgv[0] = programName;
    app = std::make_unique<App>(g_qtArgc, g_qtArgv);
    app->SetVersionData({VARDELO_VERSION_MAJOR, VARDELO_VERSION_MINOR, VARDELO_VERSION_FIX, VARDELO_VERSION_BUILD,
                         VARDELO_VERSION_STAGE, QStringLiteral(VARDELO_MAKER), QString(), QString()});
    app->SetAlerts(&alerts);
    // Screen readers see the byte views through their own interface.
    platform::TextAreaAccessible::Install();
}

} // namespace

int Run(int argc, char **argv, platform::Alerts &alerts, const MakeDefaultView &makeDefaultView)
{
    std::unique_ptr<App> app;
    int loopResult = 0;
    try {
        static char fallbackName[] = "vardelolink";
        EarlyStartup(app, argc > 0 && argv[0] ? argv[0] : fallbackName, alerts);
        const platform::SignalExit signalExit;
        QObject::connect(&signalExit, &platform::SignalExit::Received, &platform::CloseAllPortsAndQuit);
        // Late start-up: make the default window once the framework is ready.
        makeDefaultView();
        if (!app->UnhandledErrorSeen())
            loopResult = App::exec();
    } catch (...) {
        if (!app)
            return platform::Application::kUnhandledErrorExitCode;
        app->HandleUnhandledError(std::current_exception());
    }
    return app->Shutdown(loopResult);
}

} // namespace startup

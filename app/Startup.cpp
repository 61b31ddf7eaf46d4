#include "Startup.h"

#include "App.h"
#include "Version.h"

#include <QTimer>

#include <memory>

namespace startup {

namespace {

void EarlyStartup(std::unique_ptr<App> &app, int &argc, char **argv, platform::Alerts &alerts)
{
    // High-density display support is on by default in Qt 6; keep pixmaps crisp too.
    QApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication::setApplicationName(QStringLiteral("vardelolink"));
    QApplication::setApplicationDisplayName(QStringLiteral("VardeloLink"));
    QApplication::setOrganizationName(QStringLiteral(VARDELO_MAKER));
    // Lets desktops match the window to its installed entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vardelolink.VardeloLink"));
    // No document file types and no application menu handlers.
    app = std::make_unique<App>(argc, argv);
    app->SetVersionData({VARDELO_VERSION_MAJOR, VARDELO_VERSION_MINOR, VARDELO_VERSION_FIX, VARDELO_VERSION_BUILD,
                         VARDELO_VERSION_STAGE, QStringLiteral(VARDELO_MAKER), QString(), QString()});
    app->SetAlerts(&alerts);
}

} // namespace

int Run(int argc, char **argv, platform::Alerts &alerts, const MakeDefaultView &makeDefaultView)
{
    std::unique_ptr<App> app;
    int loopResult = 0;
    try {
        EarlyStartup(app, argc, argv, alerts);
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

#include "Startup.h"

#include "platform/Alerts.h"
#include "ui/MainWindow.h"

namespace {

int RunVardeloLink(int argc, char **argv)
{
    static platform::SystemAlerts alerts;
    return startup::Run(argc, argv, alerts, [] { ui::MainWindow::ImplicitInstance(); });
}

} // namespace

#ifdef _WIN32
#include <windows.h>

// Qt reads the wide command line itself, and the program takes no
// arguments, so only the program name is passed on.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    static char name[] = "VardeloLinkWin";
    char *argv[] = {name, nullptr};
    return RunVardeloLink(1, argv);
}
#else
int main(int argc, char **argv)
{
    return RunVardeloLink(argc, argv);
}
#endif

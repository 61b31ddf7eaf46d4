#pragma once
// Start-up and shutdown, from process entry to exit code.

#include <functional>

namespace platform {
class Alerts;
}
class App;

namespace startup {

// What late start-up makes once the application is ready; the program's
// is MainWindow's implicit instance.
using MakeDefaultView = std::function<void()>;

// Initialises, runs the event loop and shuts down; returns the exit code.
int Run(int argc, char **argv, platform::Alerts &alerts, const MakeDefaultView &makeDefaultView);

} // namespace startup

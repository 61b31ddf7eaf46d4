#pragma once
// The application object: event loop, version data, and the handling of
// an error that escapes an event handler.

#include <QApplication>

#include <exception>

namespace platform {

class Alerts;

struct VersionData {
    int major = 0;
    int minor = 0;
    int fix = 0;
    int build = 0;
    int stage = 0; // 0 development, 1 alpha, 2 beta, 3 final
    QString longVersion;
    QString second;
    QString third;
};

class Application : public QApplication {
    Q_OBJECT
public:
    static constexpr int kUnhandledErrorExitCode = 70; // EX_SOFTWARE

    Application(int &argc, char **argv);

    void SetVersionData(const VersionData &data);
    const VersionData &Version() const { return version_; }

    void SetAlerts(Alerts *alerts) { alerts_ = alerts; }

    // Routes an error escaping any event handler to HandleUnhandledError.
    bool notify(QObject *receiver, QEvent *event) override;

    // Tells the user once and, after the box is closed, ends the event loop.
    void HandleUnhandledError(std::exception_ptr error);
    bool UnhandledErrorSeen() const { return unhandledSeen_; }

    // The exit code: the event loop's, or the unhandled-error code.
    int Shutdown(int loopResult) const;

private:
    VersionData version_;
    Alerts *alerts_ = nullptr;
    bool unhandledSeen_ = false;
};

} // namespace platform

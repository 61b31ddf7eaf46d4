#pragma once
// Alerts for benchmarks: nobody to dismiss a box, so a message is only
// printed to stderr, where a run that went wrong shows why.

#include "platform/Alerts.h"

#include <cstdio>

namespace bench {

class QuietAlerts : public platform::Alerts {
public:
    void Beep() override {}
    void Dismiss(const QString &, const QString &) override {}
    void Notice(const QString &, const QString &) override {}
    int Ask(const QString &, const QString &, const QStringList &) override { return -1; }
    void MsgBox(const QString &text, const QString &detail) override
    {
        std::fprintf(stderr, "window: %s %s\n", qPrintable(text), qPrintable(detail));
    }
};

} // namespace bench

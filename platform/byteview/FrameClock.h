#pragma once
// One frame timer for every byte view: views due in the same frame are
// brought up to date together, in one paint of the window.
//
// Contract: Schedule(view, flush, dueInMs) calls flush() once, no later
// than dueInMs from now, unless the view is gone by then. A view asks
// once per frame; asking again before the call adds another.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace platform {

class FrameClock : public QObject {
public:
    static void Schedule(QObject *view, std::function<void()> flush, int dueInMs);

private:
    FrameClock();
    struct Due {
        QPointer<QObject> view;
        std::function<void()> flush;
    };
    QTimer timer_;
    QList<Due> pending_;
};

} // namespace platform

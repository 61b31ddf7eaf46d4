#pragma once
// What a widget looks like on the screen, and what a full paint of it
// would look like: the two pictures the screen tests compare.

#include <QImage>
#include <QScreen>
#include <QWidget>

namespace testing {

inline QImage OnScreen(QWidget *window, QWidget *widget)
{
    const QRect where(widget->mapTo(window, QPoint()), widget->size());
    return window->screen()->grabWindow(window->winId()).toImage().copy(where).convertToFormat(QImage::Format_RGB32);
}

inline QImage FullPaint(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace testing

#include "ViewScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace platform {

ViewScrollBar::ViewScrollBar(QWidget *parent) : QScrollBar(Qt::Vertical, parent)
{
    setSingleStep(1);
    setAttribute(Qt::WA_OpaquePaintEvent);
    due_.setSingleShot(true);
    due_.setInterval(kPictureMs);
    // A range grown past the value changes the picture until the value
    // follows: only where it ends up counts.
    connect(&due_, &QTimer::timeout, this, [this] {
        if (Look() != painted_)
            update();
    });
}

// What the picture shows is what was last painted, whatever asked for the
// paint (an expose, the window, a change the user made).
void ViewScrollBar::paintEvent(QPaintEvent *event)
{
    painted_ = Look();
    QScrollBar::paintEvent(event);
}

void ViewScrollBar::sliderChange(SliderChange change)
{
    if (change != SliderOrientationChange && Look() == painted_)
        return;
    if (quiet_ && !isSliderDown()) {
        if (!due_.isActive())
            due_.start();
        return;
    }
    due_.stop();
    QScrollBar::sliderChange(change); // repaints
}

ViewScrollBar::Picture ViewScrollBar::Look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            value() == minimum(), value() == maximum()};
}

} // namespace platform

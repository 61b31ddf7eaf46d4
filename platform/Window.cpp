#include "Window.h"

#include "Controls.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace platform {

namespace {

using T = SettingType;
constexpr PropertyDecl kWindowProperties[] = {
    {"Title", T::String},          {"Width", T::Integer},          {"Height", T::Integer},
    {"MinWidth", T::Integer},      {"MinHeight", T::Integer},      {"MaxWidth", T::Integer},
    {"MaxHeight", T::Integer},     {"Frame", T::Integer},          {"Placement", T::Integer},
    {"Resizeable", T::Boolean},    {"CloseButton", T::Boolean},    {"MinimizeButton", T::Boolean},
    {"MaximizeButton", T::Boolean}, {"FullScreenButton", T::Boolean}, {"Visible", T::Boolean},
    {"FullScreen", T::Boolean},    {"LiveResize", T::Boolean},     {"Composite", T::Boolean},
    {"HasBackColor", T::Boolean},  {"BackColor", T::Color},        {"MenuBarVisible", T::Boolean},
};

constexpr char kImplicitClassProperty[] = "implicitClassName";

} // namespace

Window::Window(QWidget *parent) : QWidget(parent) {}

void Window::RegisterControl(const QString &name, QObject *control)
{
    control->setObjectName(name);
    controls_.insert(name, control);
    order_.append(control);
}

void Window::SetBackdrop(const QPixmap &picture)
{
    backdrop_ = picture;
    update();
}

void Window::ApplyTabOrder()
{
    QList<QWidget *> chain;
    for (QObject *o : order_) {
        auto *w = qobject_cast<QWidget *>(o);
        const RectControl *rc = dynamic_cast<RectControl *>(o);
        if (w && rc && rc->TabIndex() >= 0)
            chain.append(w);
    }
    std::stable_sort(chain.begin(), chain.end(), [](QWidget *a, QWidget *b) {
        return dynamic_cast<RectControl *>(a)->TabIndex() < dynamic_cast<RectControl *>(b)->TabIndex();
    });
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

Window *Window::FindImplicit(const QString &className)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *window = qobject_cast<Window *>(w);
        if (window && window->property(kImplicitClassProperty).toString() == className)
            return window;
    }
    return nullptr;
}

void Window::RegisterImplicit(const QString &className)
{
    setProperty(kImplicitClassProperty, className);
}

PropertyTable Window::Properties() const { return kWindowProperties; }

void Window::ApplySetting(QByteArrayView name, const QVariant &value)
{
    if (name == "Title") {
        setWindowTitle(QString::fromUtf8(value.toByteArray()));
    } else if (name == "Width") {
        resize(value.toInt(), height());
        FixSizeUnlessResizeable();
    } else if (name == "Height") {
        resize(width(), value.toInt());
        FixSizeUnlessResizeable();
    } else if (name == "MinWidth") {
        setMinimumWidth(value.toInt());
    } else if (name == "MinHeight") {
        setMinimumHeight(value.toInt());
    } else if (name == "MaxWidth") {
        setMaximumWidth(std::min(value.toInt(), QWIDGETSIZE_MAX));
    } else if (name == "MaxHeight") {
        setMaximumHeight(std::min(value.toInt(), QWIDGETSIZE_MAX));
    } else if (name == "Resizeable") {
        resizeable_ = value.toBool();
        FixSizeUnlessResizeable();
        UpdateFlags();
    } else if (name == "CloseButton") {
        closeButton_ = value.toBool();
        UpdateFlags();
    } else if (name == "MinimizeButton") {
        minimizeButton_ = value.toBool();
        UpdateFlags();
    } else if (name == "MaximizeButton") {
        maximizeButton_ = value.toBool();
        UpdateFlags();
    } else if (name == "Visible") {
        setVisible(value.toBool());
    } else {
        setProperty(name.toByteArray().constData(), value);
    }
}

void Window::FixSizeUnlessResizeable()
{
    if (!resizeable_)
        setFixedSize(size());
}

void Window::UpdateFlags()
{
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (closeButton_)
        flags |= Qt::WindowCloseButtonHint;
    if (minimizeButton_)
        flags |= Qt::WindowMinimizeButtonHint;
    if (maximizeButton_ && resizeable_)
        flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
}

void Window::paintEvent(QPaintEvent *event)
{
    if (backdrop_.isNull())
        return;
    // Only the part asked for: a control's repaint need not cost the picture.
    QPainter painter(this);
    const QRect part = event->rect();
    const qreal ratio = backdrop_.devicePixelRatio();
    painter.drawPixmap(part, backdrop_,
                       QRectF(part.topLeft() * ratio, part.size() * ratio).toRect());
}

} // namespace platform

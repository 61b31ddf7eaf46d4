#pragma once
// A fixed top-level window: controls registered by name, a backdrop
// picture drawn behind them, attributes applied from a settings record.

#include "SettingsRecord.h"

#include <QHash>
#include <QPixmap>
#include <QWidget>

#include <stdexcept>

namespace platform {

class ControlNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Window : public QWidget, public Settable {
    Q_OBJECT
public:
    explicit Window(QWidget *parent = nullptr);

    void RegisterControl(const QString &name, QObject *control);
    template <typename C>
    C &Control(const QString &name) const
    {
        C *c = qobject_cast<C *>(controls_.value(name));
        if (!c)
            throw ControlNotFound("no control named " + name.toStdString());
        return *c;
    }

    void SetBackdrop(const QPixmap &picture);
    const QPixmap &Backdrop() const { return backdrop_; }

    // Orders the focus chain by the controls' TabIndex settings.
    void ApplyTabOrder();

    // The open window registered under that class name, if any.
    static Window *FindImplicit(const QString &className);
    void RegisterImplicit(const QString &className);

    PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void UpdateFlags();
    void FixSizeUnlessResizeable();

    QHash<QString, QObject *> controls_;
    QList<QObject *> order_;
    QPixmap backdrop_;
    bool resizeable_ = true;
    bool closeButton_ = true;
    bool minimizeButton_ = true;
    bool maximizeButton_ = true;
};

} // namespace platform

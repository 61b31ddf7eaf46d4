#pragma once
// A channel's modem lines as small lamps, one above the other, in the
// room between the two channels beside its own: lit for a line that is on. Each lamp is a label
// whose accessible name says its line and state ("CTS on"). A port without
// lines shows a short text instead of lamps that would all read off.

#include <QLabel>
#include <QList>
#include <QWidget>

namespace platform {

class LineLamps : public QWidget {
    Q_OBJECT
public:
    struct Lamp {
        QString name;  // "RTS"
        bool on = false;
        bool output = false; // driven from here: lit in another colour
        bool known = true;   // false: the port has not told it yet
        bool operator==(const Lamp &) const = default;
    };
    explicit LineLamps(QWidget *parent);
    // What a screen reader says after each state, e.g. ", channel 1".
    void SetContext(const QString &context) { context_ = context; }
    void ShowLamps(const QList<Lamp> &lamps, const QString &toolTip);
    // In place of the lamps.
    void ShowText(const QString &text);
    const QList<Lamp> &Lamps() const { return lamps_; }
    QString Text() const { return text_.text(); }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void Place();
    QList<QLabel *> cells_;
    QLabel text_;
    QList<Lamp> lamps_;
    QString context_;
};

} // namespace platform

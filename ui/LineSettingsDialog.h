#pragma once
// The Line Settings dialog of one channel: speed (a standard rate or any
// whole number), data bits, parity, stop bits and flow control.

#include "ports/LineSettings.h"

#include <QDialog>

#include <optional>

class QComboBox;
class QLabel;

namespace ui {

// Asks for a channel's line settings; nothing when cancelled.
class LineSettingsChooser {
public:
    virtual ~LineSettingsChooser() = default;
    virtual std::optional<platform::LineSettings> Choose(QWidget *parent, const QString &channel,
                                                         const platform::LineSettings &current) = 0;
};

// The dialog, modal over the window.
class DialogLineSettingsChooser : public LineSettingsChooser {
public:
    std::optional<platform::LineSettings> Choose(QWidget *parent, const QString &channel,
                                                 const platform::LineSettings &current) override;
};

class LineSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit LineSettingsDialog(QWidget *parent = nullptr);

    void Show(const platform::LineSettings &line);
    // What the dialog holds now; nothing while the speed is not a rate.
    std::optional<platform::LineSettings> Chosen() const;

private:
    // Why the typed speed is not one, or nothing when it is.
    QString SpeedProblem() const;
    // The typed gap in microseconds, 0 for auto; nothing when it is not
    // one, and then the sentence why.
    std::optional<qint32> TypedGapUs() const;
    QString GapProblem() const;
    QComboBox *speed_;
    QLabel *speedProblem_;
    QComboBox *gap_;
    QLabel *gapProblem_;
    QComboBox *dataBits_;
    QComboBox *parity_;
    QComboBox *stopBits_;
    QComboBox *flow_;
};

} // namespace ui

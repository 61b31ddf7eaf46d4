#pragma once
// A byte view's scroll bar, repainted only when its picture changes: in a
// long text a new line moves the slider by less than a pixel, and a styled
// bar costs more to paint than the new text.
//
// Contract: range and value are always current. Changes made inside
// Quietly() (arrivals moving the range and value) reach the picture within
// kPictureMs; any other change, and anything the user does with the bar,
// shows at once.

#include <QScrollBar>
#include <QTimer>

namespace platform {

class ViewScrollBar : public QScrollBar {
public:
    static constexpr int kPictureMs = 250;

    explicit ViewScrollBar(QWidget *parent);

    template <typename Change> void Quietly(Change &&change)
    {
        quiet_ = true;
        change();
        quiet_ = false;
    }

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // What the picture shows: where the slider is, and which ends it is at.
    struct Picture {
        QRect slider;
        bool atTop = false, atBottom = false;
        bool operator==(const Picture &) const = default;
    };
    Picture Look() const;

    QTimer due_;
    Picture painted_; // as last painted
    bool quiet_ = false;
};

} // namespace platform

#pragma once
// The strip left of a byte view's rows that shows, on each row a frame
// begins, the time its first byte came (hh:mm:ss.mmm, local time).

#include <QWidget>

namespace platform {

class TextArea;

class TimeGutter : public QWidget {
public:
    explicit TimeGutter(TextArea &area);
    // Pixels wide for the view's font.
    int WidthFor(const QFont &font) const;
    static QString TimeText(qint64 wallUs);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TextArea &area_;
};

} // namespace platform

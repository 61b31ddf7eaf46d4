#pragma once
// The strip left of a byte view's rows that shows, on each row a frame
// begins, the time its first byte came: seconds and milliseconds, so the
// bytes keep most of the width; the whole local time is its tooltip, and
// the record's. The strip is part of the view: same menu, same scrolling.

#include <QWidget>

namespace platform {

class TextArea;

class TimeGutter : public QWidget {
public:
    explicit TimeGutter(TextArea &area);
    // Pixels wide for the view's font.
    int WidthFor(const QFont &font) const;
    // "07.412" on the strip; "2026-12-08 14:03:07.412" in full.
    static QString TimeText(qint64 wallUs);
    static QString FullTimeText(qint64 wallUs);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    int RowsTop() const;
    TextArea &area_;
};

} // namespace platform

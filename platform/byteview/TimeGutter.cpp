#include "TimeGutter.h"

#include "TextArea.h"

#include <QDateTime>
#include <QPainter>
#include <QPaintEvent>

namespace platform {

namespace {

constexpr int kPaddingPx = 4; // each side of the time

} // namespace

TimeGutter::TimeGutter(TextArea &area) : QWidget(&area), area_(area)
{
    setObjectName(QStringLiteral("TimeGutter"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int TimeGutter::WidthFor(const QFont &font) const
{
    return QFontMetrics(font).horizontalAdvance(QStringLiteral("00:00:00.000")) + 2 * kPaddingPx;
}

QString TimeGutter::TimeText(qint64 wallUs)
{
    return QDateTime::fromMSecsSinceEpoch(wallUs / 1000).toString(QStringLiteral("HH:mm:ss.zzz"));
}

void TimeGutter::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QPalette &colours = palette();
    painter.fillRect(event->rect(), colours.color(QPalette::Window));
    painter.setFont(area_.font());
    painter.setPen(colours.color(QPalette::WindowText));
    const ByteText &text = area_.Content();
    const int height = area_.LineHeight();
    const int ascent = QFontMetrics(area_.font()).ascent();
    // The rows are where the view draws them: the same top, the same step.
    const int top = area_.viewport()->geometry().top() - geometry().top() + RowPainter::kMarginPx;
    const qsizetype first = area_.FirstVisibleLine();
    const qsizetype last = std::min(text.LineCount(), first + area_.VisibleLines() + 1);
    for (qsizetype line = first; line < last; ++line) {
        const int y = top + int(line - first) * height;
        if (y > event->rect().bottom() || y + height <= event->rect().top())
            continue;
        if (const std::optional<qint64> at = text.FrameAt(text.LineStart(line)))
            painter.drawText(kPaddingPx, y + ascent, TimeText(*at));
    }
}

} // namespace platform

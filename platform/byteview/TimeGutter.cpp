#include "TimeGutter.h"

#include "TextArea.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QHelpEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QToolTip>
#include <QWheelEvent>

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
    return QFontMetrics(font).horizontalAdvance(QStringLiteral("00.000")) + 2 * kPaddingPx;
}

QString TimeGutter::TimeText(qint64 wallUs)
{
    return QDateTime::fromMSecsSinceEpoch(wallUs / 1000).toString(QStringLiteral("ss.zzz"));
}

QString TimeGutter::FullTimeText(qint64 wallUs)
{
    return QDateTime::fromMSecsSinceEpoch(wallUs / 1000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

// The rows are where the view draws them: the same top, the same step.
int TimeGutter::RowsTop() const
{
    return area_.viewport()->geometry().top() - geometry().top() + RowPainter::kMarginPx;
}

bool TimeGutter::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const ByteText &text = area_.Content();
    const int y = help->pos().y() - RowsTop();
    const qsizetype line = y < 0 ? -1 : area_.FirstVisibleLine() + y / std::max(1, area_.LineHeight());
    const std::optional<qint64> at =
        line >= 0 && line < text.LineCount() ? text.FrameAt(text.LineStart(line)) : std::nullopt;
    if (at)
        QToolTip::showText(help->globalPos(), FullTimeText(*at), this);
    else
        QToolTip::hideText();
    return true;
}

void TimeGutter::contextMenuEvent(QContextMenuEvent *event)
{
    QWidget *rows = area_.viewport();
    QContextMenuEvent forwarded(event->reason(), rows->mapFromGlobal(event->globalPos()), event->globalPos(),
                                event->modifiers());
    QCoreApplication::sendEvent(rows, &forwarded);
}

void TimeGutter::wheelEvent(QWheelEvent *event)
{
    QCoreApplication::sendEvent(area_.viewport(), event);
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
    const int top = RowsTop();
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

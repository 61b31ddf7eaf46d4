#include "TextArea.h"

#include "FrameClock.h"
#include "TimeGutter.h"
#include "ViewScrollBar.h"

#include <QAccessible>
#include <QMetaMethod>
#include <QPaintEvent>
#include <QPainter>
#include <QSignalBlocker>

#include <cmath>

namespace platform {

namespace {

constexpr int kMarginPx = RowPainter::kMarginPx;
constexpr int kUnits = ByteMetrics::kUnitsPerPixel;

} // namespace

TextArea::TextArea(QWidget *parent)
    : QAbstractScrollArea(parent), RectControl(static_cast<QWidget &>(*this)), bar_(new ViewScrollBar(this)),
      gutter_(new TimeGutter(*this))
{
    gutter_->hide();
    setVerticalScrollBar(bar_);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    // The view and its scroll bar paint every pixel themselves: nothing
    // beneath them (frame, window backdrop) is repainted with them.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
    announce_.setSingleShot(true);
    announce_.setInterval(kAnnounceMs);
    connect(&announce_, &QTimer::timeout, this, &TextArea::AnnounceNewText);
    layoutSteps_.setInterval(0);
    connect(&layoutSteps_, &QTimer::timeout, this, &TextArea::ContinueLayout);
    floodOver_.setSingleShot(true);
    floodOver_.setInterval(kFloodOverMs);
    connect(&floodOver_, &QTimer::timeout, this, [this] {
        if (text_.LayoutPending())
            layoutSteps_.start();
    });
    font_ = layoutFont_ = ByteFont::From(font());
    Relayout();
}

// ---- What is repainted -------------------------------------------------
// The rule: once the pending paint is done, the viewport shows exactly what
// a full paint of the present state would; trimming that takes the first
// line in view waits for the next flush, so that a flood into a full area
// viewed from its top repaints once a frame, not at every arrival. shown_
// says what the picture was painted from, and only the two functions
// below touch the picture:
//  - RepaintAll(), for any change but the three CatchUp() knows: new
//    selection, focus, font, hex, width, replaced text;
//  - CatchUp(), for the first line moving (scrolling, following the
//    bottom, lines trimmed away), bytes trimmed off the first line, and
//    bytes appended. Rows still in view are moved; only what changed is
//    painted.
// Scrolling is told by where the first line now is, never by how far the
// bar says it moved: trimming renumbers the lines under the bar. The bar
// counts from the lines trimmed when it was last set, so between a trim
// and the next flush the view stays on the same lines.

void TextArea::RepaintAll()
{
    shown_ = {ShownTop(), text_.Begin(), text_.LaidEnd(), -1, false};
    viewport()->update();
    if (timestamps_)
        gutter_->update();
}

void TextArea::CatchUp()
{
    if (shown_.stale)
        return RepaintAll();
    const qsizetype top = ShownTop();
    // The times are few and cheap: drawn again whenever the rows change.
    if (timestamps_ && (top != shown_.top || text_.Begin() != shown_.begin || text_.LaidEnd() != shown_.end))
        gutter_->update();
    if (top != shown_.top) {
        const QRect rows = RowsRect();
        const qsizetype shift = (shown_.top - top) * font_.lineHeight;
        // On a scaled screen Qt moves a part of a widget to the wrong place
        // (seen at a scale of 2 under X11), so there the view is painted anew.
        if (std::abs(shift) >= rows.height() || !WholePixels())
            return RepaintAll();
        viewport()->scroll(0, int(shift), rows); // paints the rows scrolled in
        // The margins and what lies below the last whole row do not move.
        viewport()->update(QRect(0, rows.bottom() + 1, rows.width(), viewport()->height() - rows.bottom() - 1));
        shown_.top = top;
        shown_.nextStart = -1;
    }
    if (text_.Begin() != shown_.begin) {
        // The first kept line may have lost bytes from its start.
        if (FirstVisibleLine() == 0)
            viewport()->update(QRect(0, 0, viewport()->width(), kMarginPx + font_.lineHeight));
        shown_.begin = text_.Begin();
    }
    if (text_.LaidEnd() != shown_.end) {
        // From where the new bytes begin in their row, taking in the ink a
        // new glyph lays over the last, and the rows below.
        const qsizetype from = std::max(shown_.end, text_.Begin());
        const qsizetype row = text_.LineOf(from) - FirstVisibleLine();
        if (row < 0)
            return RepaintAll();
        const qsizetype rowTop = kMarginPx + row * font_.lineHeight;
        if (rowTop < viewport()->height()) { // a row cut off at the bottom shows too
            const int left = std::max(0, RowPainter::Column(text_.XOf(from)) - font_.InkReach());
            const int y = int(rowTop);
            QRegion dirty(left, y, viewport()->width() - left, font_.lineHeight);
            dirty += QRect(0, y + font_.lineHeight, viewport()->width(), viewport()->height() - y - font_.lineHeight);
            viewport()->update(dirty);
        }
        shown_.end = text_.LaidEnd();
    }
}

void TextArea::scrollContentsBy(int, int)
{
    CatchUp();
}

// ---- Layout and scrolling ----------------------------------------------

// Lays every kept byte out again for the width, font and mode: at once
// when there are few, else in steps between events, the newest bytes
// shown in the new layout meanwhile if the view follows them.
void TextArea::Relayout()
{
    // The scroll bar is always on, so the width is known before showing.
    const int gutter = timestamps_ ? gutter_->width() : 0; // as PlaceGutter() made it
    const int width = contentsRect().width() - gutter - verticalScrollBar()->sizeHint().width() - 2 * kMarginPx;
    const bool follow = AtBottom();
    const qsizetype top = text_.LineStart(FirstVisibleLine());
    text_.SetLayout(hex_ ? layoutFont_.hex : layoutFont_.text, std::max(1, width) * kUnits, hex_, follow,
                    timestamps_);
    if (text_.LayoutPending())
        layoutSteps_.start();
    else
        layoutSteps_.stop();
    if (text_.ShowsLastLayout())
        ShowNewLayout(follow, top);
    else
        UpdateScrollRange(follow); // the old layout stays until the new one is done
    RepaintAll();
}

void TextArea::ContinueLayout()
{
    QElapsedTimer slice;
    slice.start();
    while (!text_.LayOutSome(kLayoutStepBytes)) {
        if (!text_.LayoutPending() || slice.elapsed() >= kLayoutSliceMs)
            return;
    }
    layoutSteps_.stop();
    if (framePending_)
        Flush();
    const bool follow = AtBottom();
    const qsizetype top = text_.LineStart(FirstVisibleLine());
    text_.FinishLayout();
    ShowNewLayout(follow, top);
    RepaintAll();
}

void TextArea::ShowNewLayout(bool followBottom, qsizetype topOffset)
{
    font_ = layoutFont_;
    droppedSeen_ = text_.DroppedLines();
    UpdateScrollRange(followBottom, text_.LineOf(topOffset));
}

QRect TextArea::RowsRect() const
{
    return QRect(0, kMarginPx, viewport()->width(), int(VisibleLines()) * font_.lineHeight);
}

qsizetype TextArea::VisibleLines() const
{
    return std::max(1, (viewport()->height() - 2 * kMarginPx) / font_.lineHeight);
}

qsizetype TextArea::FirstVisibleLine() const
{
    return std::max<qsizetype>(0, droppedSeen_ + bar_->value() - text_.DroppedLines());
}

bool TextArea::AtBottom() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void TextArea::ScrollToLine(qsizetype line)
{
    if (framePending_)
        Flush();
    verticalScrollBar()->setValue(int(std::clamp<qsizetype>(line, 0, verticalScrollBar()->maximum())));
}

void TextArea::UpdateScrollRange(bool followBottom, qsizetype topLine)
{
    // Lines trimmed off the top move the bytes in view up by as many.
    const int value = int(std::min<qsizetype>(topLine >= 0 ? topLine : FirstVisibleLine(),
                                              std::numeric_limits<int>::max()));
    droppedSeen_ = text_.DroppedLines();
    const qsizetype visible = VisibleLines();
    const int max = int(std::min<qsizetype>(std::max<qsizetype>(0, text_.LineCount() - visible),
                                            std::numeric_limits<int>::max()));
    bar_->Quietly([&] {
        if (max != bar_->maximum()) {
            // Nothing to lay out when the range grows by a line: the bar is
            // always there. A value the new range moves is caught up with
            // by where the first line is.
            const QSignalBlocker unannounced(bar_);
            bar_->setRange(0, max);
        }
        if (bar_->pageStep() != visible)
            bar_->setPageStep(int(visible));
        bar_->setValue(followBottom ? max : value);
    });
}

bool TextArea::WholePixels() const
{
    return viewport()->devicePixelRatio() == 1.0;
}

// ---- Text coming in ----------------------------------------------------

void TextArea::SetText(QByteArrayView bytes)
{
    text_.Clear();
    text_.Append(bytes);
    ShowFromStart();
}

void TextArea::Show(const ReceivedBytes *bytes)
{
    text_.Show(bytes);
    ShowFromStart();
}

void TextArea::ShowFromStart()
{
    framePending_ = false;
    layoutSteps_.stop();
    font_ = layoutFont_;
    anchor_ = cursor_ = text_.Begin();
    announcedEnd_ = text_.End();
    UpdateScrollRange(true);
    RepaintAll();
}

void TextArea::SetKeepBytes(qsizetype bytes)
{
    text_.SetKeepBytes(bytes);
    Flush();
}

void TextArea::AppendText(QByteArrayView bytes, std::span<const FrameStart> frames)
{
    if (bytes.isEmpty())
        return;
    if (text_.Append(bytes, frames))
        return ShowFromStart();
    Arrived();
}

void TextArea::Follow()
{
    const qsizetype begin = text_.Begin();
    const qsizetype end = text_.End();
    if (text_.Follow())
        return ShowFromStart();
    if (text_.Begin() != begin || text_.End() != end)
        Arrived();
}

void TextArea::Arrived()
{
    if (text_.Restarted())
        return Flush(); // so that the view counts lines as the layout does
    // Trimmed past the first line in view: what it shows changes, all of
    // it at the next flush.
    if (!shown_.stale && TopTrimmed())
        shown_.stale = true;
    // A frame's time has passed: painted in this pass of the event loop.
    // Else the frame waits, at most until kLatestMs, for a later arrival.
    const qint64 since = sinceFlush_.isValid() ? sinceFlush_.elapsed() : kFrameMs;
    if (since >= kFrameMs || !framePending_) {
        framePending_ = true;
        FrameClock::Schedule(this, [this] { if (framePending_) Flush(); },
                             since >= kFrameMs ? 0 : int(kLatestMs - since));
    }
}

bool TextArea::TopTrimmed()
{
    // Only trimming moves the top between catch-ups: the top line goes
    // once the line after it begins to.
    if (droppedSeen_ + bar_->value() == shown_.top) {
        if (shown_.nextStart < 0) {
            const qsizetype next = shown_.top + 1 - text_.DroppedLines();
            // The last line's start may still move: an LF joins its CR.
            if (next > 0 && next + 1 < text_.LineCount())
                shown_.nextStart = text_.LineStart(next);
        }
        if (shown_.nextStart >= 0)
            return text_.Begin() >= shown_.nextStart;
    }
    return ShownTop() != shown_.top;
}

void TextArea::Flush()
{
    framePending_ = false;
    sinceFlush_.start();
    // The range has not moved since the last flush, so this is where the
    // user left the view: at the bottom, the view follows the new lines.
    const bool follow = AtBottom();
    if (text_.LayOutArrivals(follow ? VisibleLines() + 1 : 0)) {
        // A flood, shown from a layout of its newest bytes: the whole one
        // waits until it is over, so that it does not slow the relay.
        layoutSteps_.stop();
        floodOver_.start();
        UpdateScrollRange(true);
        RepaintAll(); // lines are counted anew
    } else {
        UpdateScrollRange(follow);
        CatchUp();
    }
    if (!announce_.isActive() && SomeoneListens())
        announce_.start();
}

// A screen reader, or whoever watches Announced; nobody else pays for it.
bool TextArea::SomeoneListens() const
{
    return QAccessible::isActive() || isSignalConnected(QMetaMethod::fromSignal(&TextArea::Announced));
}

void TextArea::AnnounceNewText()
{
    const qsizetype to = text_.End();
    const qsizetype from = std::max({announcedEnd_, text_.Begin(), to - kAnnounceBytes});
    announcedEnd_ = to;
    if (from >= to)
        return;
    const QString shown = text_.DisplayText(from, to);
    emit Announced(shown);
    if (!QAccessible::isActive())
        return;
    const int at = int(std::min<qsizetype>(text_.CharsBefore(from), std::numeric_limits<int>::max()));
    QAccessibleTextInsertEvent inserted(this, at, shown);
    QAccessible::updateAccessibility(&inserted);
    QAccessibleTextCursorEvent caret(this, at + int(shown.size()));
    QAccessible::updateAccessibility(&caret);
}

// ---- Painting and events -------------------------------------------------

void TextArea::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const QPalette &colours = palette();
    const bool showSelection = hasFocus() || !hideSelection_;
    const RowPainter::Selection selection {showSelection ? SelectionStart() : 0, showSelection ? SelectionEnd() : 0};
    const bool wholePixels = WholePixels();
    rows_.Begin(font_, colours, viewport()->width(), wholePixels);
    const int height = font_.lineHeight;
    for (const QRect &dirty : event->region()) {
        // Only the rows, and the part of them, the update touches.
        const qsizetype first = FirstVisibleLine() + std::max(0, (dirty.top() - kMarginPx) / height);
        const qsizetype last = std::min(text_.LineCount(), FirstVisibleLine() + (dirty.bottom() - kMarginPx) / height + 1);
        // Rows composed from cells paint every pixel of theirs; the rest is background.
        QRegion background(dirty);
        if (wholePixels && last > first)
            background -= QRect(dirty.left(), kMarginPx + int(first - FirstVisibleLine()) * height, dirty.width(),
                                int(last - first) * height);
        // Each part of the update in its own clip, the fill too.
        painter.setClipRect(dirty);
        for (const QRect &part : background)
            painter.fillRect(part, colours.color(QPalette::Base));
        for (qsizetype line = first; line < last; ++line)
            rows_.Paint(painter, text_, line, kMarginPx + int(line - FirstVisibleLine()) * height, selection,
                        {std::max(0, dirty.left()), std::min(viewport()->width(), dirty.right() + 1)});
    }
    painter.setClipping(false);
    if (hasFocus()) {
        painter.setPen(QPen(colours.color(QPalette::Highlight), 1));
        painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
    }
}

void TextArea::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    PlaceGutter();
    Relayout();
}

void TextArea::SetTimestamps(bool on)
{
    if (on == timestamps_)
        return;
    timestamps_ = on;
    PlaceGutter();
    Relayout();
}

void TextArea::PlaceGutter()
{
    const int width = timestamps_ ? gutter_->WidthFor(font()) : 0;
    setViewportMargins(width, 0, 0, 0);
    const QRect inside = contentsRect();
    gutter_->setGeometry(inside.left(), inside.top(), width, inside.height());
    gutter_->setVisible(timestamps_);
}

void TextArea::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        layoutFont_ = ByteFont::From(font());
        PlaceGutter();
        Relayout();
    } else if (event->type() == QEvent::PaletteChange) {
        RepaintAll();
    }
}

} // namespace platform

#include "Controls.h"
#include "ControlProperties.h"

#include <QEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>

namespace platform {

namespace {


constexpr PropertyDecl kPushButtonProperties[] = {
    VISUAL_CONTROL_PROPERTIES,
    {"Caption", T::String}, {"Default", T::Boolean}, {"Cancel", T::Boolean}, {"ButtonStyle", T::Integer},
};

constexpr PropertyDecl kLabelProperties[] = {
    VISUAL_CONTROL_PROPERTIES,
    {"Text", T::String}, {"Multiline", T::Boolean}, {"Selectable", T::Boolean},
    {"TextAlign", T::Integer}, {"TextColor", T::Color},
};

constexpr PropertyDecl kPopupMenuProperties[] = {
    VISUAL_CONTROL_PROPERTIES,
    {"InitialValue", T::String}, {"ListIndex", T::Integer},
};

constexpr PropertyDecl kTimerProperties[] = {
    {"Mode", T::Integer}, {"Period", T::Integer},
};

// The framework's name for the platform's default user-interface font.
constexpr QByteArrayView kSystemFontName = "System";

// Room around a caption inside a push button's frame.
constexpr int kCaptionPaddingPx = 6;
constexpr int kCaptionLeadingPx = 6;
// The smallest face a label shrinks to where it has no room to grow.
constexpr qreal kMinShrunkPoints = 6;

bool IsGeometry(QByteArrayView name)
{
    return name == "Left" || name == "Top" || name == "Width" || name == "Height";
}

Qt::Alignment LabelAlignment(qlonglong code)
{
    switch (code) {
    case 1: return Qt::AlignHCenter | Qt::AlignVCenter;
    case 2: return Qt::AlignRight | Qt::AlignVCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

} // namespace

bool RectControl::ApplyRectSetting(QByteArrayView name, const QVariant &value)
{
    QWidget &w = self_;
    if (name == "Name") {
        w.setObjectName(QString::fromLatin1(value.toByteArray()));
    } else if (name == "Left") {
        declared_.moveLeft(value.toInt());
        w.move(value.toInt(), w.y());
    } else if (name == "Top") {
        declared_.moveTop(value.toInt());
        w.move(w.x(), value.toInt());
    } else if (name == "Width") {
        declared_.setWidth(value.toInt());
        w.resize(value.toInt(), w.height());
    } else if (name == "Height") {
        declared_.setHeight(value.toInt());
        w.resize(w.width(), value.toInt());
    } else if (name == "TabIndex") {
        tabIndex_ = value.toInt();
    } else if (name == "TabStop") {
        if (!value.toBool())
            w.setFocusPolicy(Qt::NoFocus);
    } else if (name == "Visible") {
        SetVisible(value.toBool());
    } else if (name == "Enabled") {
        SetEnabled(value.toBool());
    } else if (name == "HelpTag") {
        w.setToolTip(QString::fromUtf8(value.toByteArray()));
    } else if (name == "TextFont") {
        const QByteArray family = value.toByteArray();
        QFont font = w.font();
        if (family != kSystemFontName) {
            font.setFamilies({QString::fromUtf8(family)});
            // Where the named face is missing, fall back to one of its kind.
            font.setStyleHint(QFont::Monospace);
        }
        w.setFont(font);
    } else if (name == "TextSize") {
        const float size = value.toFloat();
        if (size > 0) {
            QFont font = w.font();
            font.setPointSizeF(size);
            w.setFont(font);
        }
    } else if (name == "Bold" || name == "Italic" || name == "Underline") {
        QFont font = w.font();
        if (name == "Bold")
            font.setBold(value.toBool());
        else if (name == "Italic")
            font.setItalic(value.toBool());
        else
            font.setUnderline(value.toBool());
        w.setFont(font);
    } else {
        return false;
    }
    return true;
}

void KeepAsProperty(QObject &object, QByteArrayView name, const QVariant &value)
{
    object.setProperty(name.toByteArray().constData(), value);
}

PushButton::PushButton(QWidget *parent) : QPushButton(parent), RectControl(static_cast<QWidget &>(*this))
{
    // Enter presses a focused button, as Space does.
    setAutoDefault(true);
    connect(this, &QPushButton::pressed, this, [this] { pressedCaption_ = text(); });
    connect(this, &QPushButton::clicked, this, [this] { emit Action(this); });
    // Released comes just before clicked; a press dragged off the button
    // ends with no click, and must not leave its caption behind.
    connect(this, &QPushButton::released, this, [this] {
        QMetaObject::invokeMethod(this, [this] { pressedCaption_ = QString(); }, Qt::QueuedConnection);
    });
}

void PushButton::SetCaption(const QString &caption)
{
    setText(caption);
    setAccessibleName(caption + context_);
    FitCaption();
}

void PushButton::SetAccessibleContext(const QString &context)
{
    context_ = context;
    setAccessibleName(text() + context_);
}

void PushButton::FitCaption()
{
    // Sizes were chosen for another platform's font; where this one's is
    // larger, grow right and down rather than cut the caption off.
    const QFontMetrics fm = fontMetrics();
    const QRect declared = DeclaredGeometry();
    const int needWidth = fm.horizontalAdvance(text()) + 2 * kCaptionPaddingPx;
    const int needHeight = fm.height() + kCaptionLeadingPx;
    resize(std::max(declared.width(), needWidth), std::max(declared.height(), needHeight));
}

void PushButton::changeEvent(QEvent *event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitCaption();
}

// A held key is one decision, not a press at every repeat: a held Return
// would otherwise open and close a device many times a second.
void PushButton::keyPressEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat() && IsPressKey(event->key())) {
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

PropertyTable PushButton::Properties() const { return kPushButtonProperties; }

void PushButton::ApplySetting(QByteArrayView name, const QVariant &value)
{
    if (ApplyRectSetting(name, value)) {
        if (IsGeometry(name)) // a font change refits through changeEvent
            FitCaption();
        return;
    }
    if (name == "Caption")
        SetCaption(QString::fromUtf8(value.toByteArray()));
    else if (name == "Default")
        setDefault(value.toBool());
    else
        KeepAsProperty(*this, name, value);
}

Label::Label(QWidget *parent) : QLabel(parent), RectControl(static_cast<QWidget &>(*this)), unshrunk_(font())
{
    setTextFormat(Qt::PlainText);
}

PropertyTable Label::Properties() const { return kLabelProperties; }

void Label::ApplySetting(QByteArrayView name, const QVariant &value)
{
    if (ApplyRectSetting(name, value)) {
        if (IsGeometry(name)) // a font change refits through changeEvent
            FitText();
        return;
    }
    if (name == "Text") {
        setText(QString::fromUtf8(value.toByteArray()));
        FitText();
    } else if (name == "Multiline") {
        setWordWrap(value.toBool());
    } else if (name == "Selectable") {
        setTextInteractionFlags(value.toBool() ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
    } else if (name == "TextAlign") {
        setAlignment(LabelAlignment(value.toLongLong()));
        FitText();
    } else if (name == "TextColor") {
        QPalette p = palette();
        p.setColor(QPalette::WindowText, value.value<QColor>());
        setPalette(p);
    } else {
        KeepAsProperty(*this, name, value);
    }
}

void Label::FitText()
{
    // Widths were chosen for another platform's font; where this one's is
    // wider, grow rather than cut the text off: to the right, or for a
    // centred label equally on both sides, so its centre stays put.
    if (wordWrap() || text().isEmpty())
        return;
    const QRect declared = DeclaredGeometry();
    auto neededFor = [&](const QFont &f) {
        return QFontMetrics(f).boundingRect(QRect(), 0, text()).width() + 2 * margin() + 2;
    };
    int needed = neededFor(font());
    if (needed > maximumWidth()) {
        // Boxed in by its neighbours: a smaller face rather than a cut.
        QFont smaller = font();
        while (needed > maximumWidth() && smaller.pointSizeF() > kMinShrunkPoints) {
            smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
            needed = neededFor(smaller);
        }
        fitting_ = true;
        setFont(smaller);
        fitting_ = false;
    }
    const int grow = std::max(0, std::min(needed, maximumWidth()) - declared.width());
    const int left = alignment() & Qt::AlignHCenter ? declared.x() - (grow + 1) / 2 : declared.x();
    const int lines = int(text().count(QLatin1Char('\n'))) + 1;
    setGeometry(left, declared.y(), declared.width() + grow, std::max(declared.height(), lines * fontMetrics().height()));
}

QString Label::ShownText() const
{
    if (wordWrap())
        return text();
    const int width = contentsRect().width() - 2 * margin();
    const QFontMetrics fm = fontMetrics();
    QStringList lines = text().split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = fm.elidedText(line, Qt::ElideRight, width);
    return lines.join(QLatin1Char('\n'));
}

void Label::paintEvent(QPaintEvent *event)
{
    const QString shown = ShownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect inside = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, inside, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
}

void Label::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange && !fitting_) {
        unshrunk_ = font();
        FitText();
    }
}

void Label::SetText(const QString &text)
{
    if (text == this->text())
        return;
    setText(text);
    fitting_ = true;
    setFont(unshrunk_);
    fitting_ = false;
    FitText();
}

void Label::SetMaximumTextWidth(int pixels)
{
    setMaximumWidth(pixels);
    FitText();
}

PopupMenu::PopupMenu(QWidget *parent) : QComboBox(parent), RectControl(static_cast<QWidget &>(*this))
{
    // A user's pick; programmatic changes report themselves in SetListIndex.
    connect(this, &QComboBox::currentIndexChanged, this, [this] { emit Change(this); });
}

void PopupMenu::SetListIndex(int index)
{
    {
        const QSignalBlocker quiet(this);
        setCurrentIndex(index >= 0 && index < count() ? index : -1);
    }
    emit Change(this);
}

void PopupMenu::AddRow(const QString &text)
{
    const QSignalBlocker quiet(this);
    const int selected = currentIndex();
    addItem(text);
    // Adding to an empty combo box selects the row; a menu does not.
    setCurrentIndex(selected);
}

void PopupMenu::DeleteAllRows()
{
    const QSignalBlocker quiet(this);
    clear();
}

PropertyTable PopupMenu::Properties() const { return kPopupMenuProperties; }

void PopupMenu::ApplySetting(QByteArrayView name, const QVariant &value)
{
    if (ApplyRectSetting(name, value))
        return;
    if (name == "InitialValue") {
        const QString rows = QString::fromUtf8(value.toByteArray());
        if (!rows.isEmpty()) {
            for (const QString &row : rows.split(QLatin1Char('\r')))
                AddRow(row);
        }
    } else if (name == "ListIndex") {
        // Quiet at creation: handlers are attached after the settings.
        const QSignalBlocker quiet(this);
        const qlonglong index = value.toLongLong();
        setCurrentIndex(index >= 0 && index < count() ? int(index) : -1);
    } else {
        KeepAsProperty(*this, name, value);
    }
}

Timer::Timer(QObject *parent) : QObject(parent)
{
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (mode_ == kModeSingle)
            mode_ = kModeOff;
        emit Action(this);
    });
}

void Timer::SetMode(int mode)
{
    mode_ = mode;
    Restart();
}

void Timer::SetPeriod(int periodMs)
{
    timer_.setInterval(periodMs);
    Restart();
}

void Timer::Restart()
{
    if (mode_ == kModeOff) {
        timer_.stop();
        return;
    }
    timer_.setSingleShot(mode_ == kModeSingle);
    timer_.start();
}

PropertyTable Timer::Properties() const { return kTimerProperties; }

void Timer::ApplySetting(QByteArrayView name, const QVariant &value)
{
    if (name == "Mode")
        SetMode(value.toInt());
    else if (name == "Period")
        SetPeriod(value.toInt());
}

} // namespace platform

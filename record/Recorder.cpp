#include "Recorder.h"

#include "Capture.h"

#include "FileChecks.h"
#include "ports/OsSeam.h"
#include "ports/SerialController.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

namespace ui {

Recorder::Recorder(Clock clock, QObject *parent)
    : QObject(parent), clock_(clock ? std::move(clock) : Clock(&LocalNow))
{
    flush_.setInterval(kFlushMs);
    connect(&flush_, &QTimer::timeout, this, &Recorder::Flush);
}

Recorder::~Recorder() { Stop(); }

QDateTime Recorder::LocalNow()
{
    static qint64 zoneSecond = std::numeric_limits<qint64>::min();
    static int offset = 0;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms / 1000 != zoneSecond) {
        zoneSecond = ms / 1000;
        offset = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset);
}

Recorder::Format Recorder::FormatOf(const QString &path)
{
    return path.endsWith(QStringLiteral(".pcapng"), Qt::CaseInsensitive) ? Format::Capture : Format::Text;
}

bool Recorder::Start(const QString &path, Mode mode, QString *error)
{
    Stop();
    if (const QString refused = platform::NotARegularFile(path); !refused.isEmpty()) {
        *error = refused;
        return false;
    }
    format_ = FormatOf(path);
    if (format_ == Format::Capture && mode == Mode::Append) {
        *error = tr("A capture is not appended to: choose Replace or another name.");
        return false;
    }
    file_.setFileName(path);
    // Unbuffered: the lines gather in pending_, and a failed write tells
    // the system's reason at once.
    const QIODevice::OpenMode how = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                    (mode == Mode::Append ? QIODevice::Append : QIODevice::Truncate);
    if (!file_.open(how)) {
        *error = platform::FailureReason(file_, errno);
        return false;
    }
    flush_.start();
    interface_[0] = interface_[1] = eventInterface_ = -1;
    interfaces_ = 0;
    if (format_ == Format::Capture) {
        pending_ += capture::SectionHeader(QCoreApplication::applicationName() + QLatin1Char(' ') +
                                               QCoreApplication::applicationVersion(),
                                           tr("Both sides of the window; each frame as received."));
        eventInterface_ = interfaces_++;
        pending_ += capture::Interface(capture::kLinkTypeUser1, tr("events"), tr("The window's events"));
    }
    Event(QStringLiteral("recording started"));
    return true;
}

void Recorder::Stop()
{
    if (!Active())
        return;
    Event(QStringLiteral("recording stopped")); // writes the open frames first
    flush_.stop();
    Flush();
    file_.close();
}

void Recorder::Arrival(int channel, Route route, QByteArrayView bytes, const platform::ReadFrames &frames)
{
    if (!Active())
        return;
    // The other side's frame, over by now, goes first: the file keeps the
    // order of an exchange.
    if (!frames.starts.isEmpty())
        WriteSilentFrame(3 - channel);
    qsizetype from = 0;
    qint64 wallUs = platform::WallUs(frames.readUs); // of a frame going on from an earlier read
    for (const platform::FrameStart &start : frames.starts) {
        Add(channel, route, bytes.sliced(from, start.offset - from), wallUs);
        WriteFrame(channel);
        from = start.offset;
        wallUs = start.wallUs;
    }
    Add(channel, route, bytes.sliced(from), wallUs);
    OpenFrame &f = frames_[channel - 1];
    f.lastUs = frames.readUs;
    f.gapUs = frames.gapUs;
}

// Bytes of the open frame; a new route (Link, Unlink) begins a new line.
void Recorder::Add(int channel, Route route, QByteArrayView piece, qint64 wallUs)
{
    OpenFrame &f = frames_[channel - 1];
    if (piece.isEmpty())
        return;
    if (f.open && f.route != route)
        WriteFrame(channel);
    if (!f.open) {
        f.open = true;
        f.route = route;
        f.wallUs = wallUs;
    }
    f.bytes.append(piece);
}

void Recorder::WriteFrame(int channel)
{
    OpenFrame &f = frames_[channel - 1];
    if (!f.open)
        return;
    f.open = false;
    if (!f.bytes.isEmpty()) {
        Done done {channel, f.route, f.wallUs, std::move(f.bytes)};
        f.bytes = QByteArray();
        auto at = done_.end();
        while (at != done_.begin() && std::prev(at)->wallUs > done.wallUs)
            --at;
        heldBytes_ += done.bytes.size();
        done_.insert(at, std::move(done));
    }
    WriteDone();
}

// In the order the frames began: a reply that ends before its question is
// over on the other side still comes after it. A frame that goes on and on
// while the other side floods is written in parts rather than hold more
// than kMaxHeldBytes back.
void Recorder::WriteDone()
{
    while (!done_.empty()) {
        const qint64 first = done_.front().wallUs;
        const auto holdsBack = [first](const OpenFrame &f) { return f.open && f.wallUs < first; };
        if (holdsBack(frames_[0]) || holdsBack(frames_[1])) {
            if (heldBytes_ <= kMaxHeldBytes)
                return;
            for (int channel : {1, 2})
                if (holdsBack(frames_[channel - 1]))
                    WriteFrame(channel); // writes what it can itself
            continue;
        }
        Done d = std::move(done_.front());
        done_.pop_front();
        heldBytes_ -= d.bytes.size();
        if (format_ == Format::Capture)
            WriteFramePacket(d);
        else
            WriteFrameLine(d);
        if (pending_.size() >= kFlushBytes) {
            Flush();
            if (!Active())
                return;
        }
    }
}

void Recorder::WriteSilentFrame(int channel)
{
    const OpenFrame &f = frames_[channel - 1];
    if (f.open && platform::MonotonicUs() - f.lastUs > f.gapUs)
        WriteFrame(channel);
}

void Recorder::WriteSilentFrames()
{
    WriteSilentFrame(1);
    WriteSilentFrame(2);
}

namespace {

constexpr const char *kRoutes[] = {"only shown", "> %1", "echoed"};

QByteArray RouteText(int channel, Recorder::Route route)
{
    return QByteArray(kRoutes[int(route)]).replace("%1", QByteArray::number(3 - channel));
}

} // namespace

void Recorder::WriteFrameLine(const Done &f)
{
    const int channel = f.channel;
    // Each byte's "XX " at once.
    static const std::array<std::array<char, 4>, 256> kPairs = [] {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::array<std::array<char, 4>, 256> pairs {};
        for (int b = 0; b < 256; ++b)
            pairs[b] = {kDigits[b >> 4], kDigits[b & 15], ' ', ' '};
        return pairs;
    }();
    const QByteArray &bytes = f.bytes;
    // Written straight into what gathers, with no copies of its own.
    StampInto(pending_, f.wallUs);
    pending_ += "  ";
    pending_ += QByteArray::number(channel) + ' ' + RouteText(channel, f.route);
    pending_ += "  ";
    const qsizetype hexChars = std::max<qsizetype>(0, 3 * bytes.size() - 1);
    const qsizetype at = pending_.size();
    pending_.resize(at + hexChars + 2 + bytes.size() + 1);
    char *out = pending_.data() + at;
    for (const char c : bytes) {
        std::memcpy(out, kPairs[std::uint8_t(c)].data(), 3);
        out += 3;
    }
    // The last pair's space and one more separate the printable form.
    out = pending_.data() + at + hexChars;
    *out++ = ' ';
    *out++ = ' ';
    for (const char c : bytes)
        *out++ = c >= 0x20 && c < 0x7F ? c : '.';
    *out = '\n';
}

// A channel's frames go to its interface, a new one whenever its port or
// line settings change, so each interface's name says what it carried.
void Recorder::WriteFramePacket(const Done &f)
{
    const int channel = f.channel;
    const QString name = describe_ ? describe_(channel) : tr("channel %1").arg(channel);
    if (interface_[channel - 1] < 0 || name != interfaceName_[channel - 1]) {
        interface_[channel - 1] = interfaces_++;
        interfaceName_[channel - 1] = name;
        pending_ += capture::Interface(capture::kLinkTypeUser0, name, tr("received on channel %1").arg(channel));
    }
    const QString route = f.route == Route::Forwarded ? QString() : QString::fromLatin1(RouteText(channel, f.route));
    pending_ += capture::Packet(quint32(interface_[channel - 1]), f.wallUs, f.bytes, true, route);
}

// "yyyy-MM-dd HH:mm:ss.zzzzzz" in local time, the part up to the second
// made once a second.
void Recorder::StampInto(QByteArray &out, qint64 wallUs)
{
    const qint64 second = wallUs / 1'000'000 - (wallUs % 1'000'000 < 0);
    if (second != stampSecond_ || stampPrefix_.isEmpty()) {
        stampSecond_ = second;
        stampPrefix_ =
            QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")).toLatin1();
    }
    int micro = int(wallUs - second * 1'000'000);
    out += stampPrefix_;
    char digits[6];
    for (int i = 5; i >= 0; --i, micro /= 10)
        digits[i] = char('0' + micro % 10);
    out.append(digits, 6);
}

// Events are rare and say most: each is on disk at once.
void Recorder::Event(const QString &text)
{
    if (!Active())
        return;
    // What was received before it comes first.
    WriteFrame(1);
    WriteFrame(2);
    if (!Active())
        return;
    const qint64 wallUs = clock_().toMSecsSinceEpoch() * 1000;
    if (format_ == Format::Capture) {
        pending_ += capture::Packet(quint32(eventInterface_), wallUs, text.toUtf8(), false, text);
    } else {
        StampInto(pending_, wallUs);
        pending_ += "  -- " + text.toUtf8() + '\n';
    }
    Flush();
}

void Recorder::Connected(int channel, const QString &path, const QString &line)
{
    Event(tr("%1 connected to %2 at %3").arg(channel).arg(path, line));
}

void Recorder::ConnectedSharing(int channel, const QString &path)
{
    Event(tr("%1 connected, sharing %2 (loopback)").arg(channel).arg(path));
}

void Recorder::Disconnected(int channel) { Event(tr("%1 disconnected").arg(channel)); }
void Recorder::Lost(int channel, const QString &reason) { Event(tr("%1 lost: %2").arg(channel).arg(reason)); }
void Recorder::Waiting(int channel, const QString &path) { Event(tr("%1 waiting for %2").arg(channel).arg(path)); }
void Recorder::Resumed(int channel, const QString &path) { Event(tr("%1 resumed on %2").arg(channel).arg(path)); }

void Recorder::ResumedSharing(int channel, const QString &path)
{
    Event(tr("%1 resumed, sharing %2 (loopback)").arg(channel).arg(path));
}

void Recorder::GaveUp(int channel, const QString &path)
{
    Event(tr("%1 no longer waits for %2: it failed right after each of the last resumes").arg(channel).arg(path));
}

void Recorder::NotDelivered(qint64 bytes, const QString &from, const QString &to)
{
    Event(tr("%1 bytes from %2 not delivered to %3 while it was away").arg(bytes).arg(from, to));
}

void Recorder::NotRecorded(int channel, qint64 bytes)
{
    Event(tr("%1: %2 bytes crossed unrecorded while the window did not keep up").arg(channel).arg(bytes));
}

void Recorder::DroppedAtRelease(int channel, qint64 bytes, const QString &path)
{
    Event(tr("%1: %2 bytes queued for %3 not delivered: it took none for %4 s after the disconnect")
              .arg(channel)
              .arg(bytes)
              .arg(path)
              .arg(platform::SerialController::kDrainMs / 1000));
}

void Recorder::UnreadAtRelease(int channel, qint64 bytes, const QString &path)
{
    Event(tr("%1: %2 bytes from %3 after the disconnect were not shown").arg(channel).arg(bytes).arg(path));
}

void Recorder::Linked() { Event(tr("linked")); }
void Recorder::Unlinked() { Event(tr("unlinked")); }
void Recorder::LineChanged(int channel, const QString &line) { Event(tr("%1 line settings: %2").arg(channel).arg(line)); }

void Recorder::LineAnswered(int channel, const QString &line, const QString &refusal)
{
    Event(refusal.isEmpty() ? tr("%1 line settings: %2").arg(channel).arg(line)
                            : tr("%1 line settings: %2: %3").arg(channel).arg(line, refusal));
}

void Recorder::LineInputs(int channel, const QString &states) { Event(tr("%1 lines: %2").arg(channel).arg(states)); }
void Recorder::LineSignal(int channel, const QString &what) { Event(tr("%1: %2").arg(channel).arg(what)); }
void Recorder::LinesPass(const QString &mapping) { Event(tr("lines cross the link: %1").arg(mapping)); }
void Recorder::LinesStop() { Event(tr("lines no longer cross the link")); }

void Recorder::AlsoOpen(int channel, const QString &text, const QString &who)
{
    Event(tr("%1: %2 %3").arg(channel).arg(text, who));
}

void Recorder::Held(int channel, const QString &text, const QString &detail)
{
    Event(tr("%1 held: %2 %3").arg(channel).arg(text, detail));
}

void Recorder::Flush()
{
    if (!Active())
        return;
    WriteSilentFrames(); // may flush again; then nothing is left here
    if (!Active())
        return;
    if (!platform::os::SameFile(file_.handle(), file_.fileName())) {
        Fail(tr("%1 was removed or replaced.").arg(file_.fileName()));
        return;
    }
    if (pending_.isEmpty())
        return;
    errno = 0;
    if (file_.write(pending_) != pending_.size()) {
        Fail(platform::FailureReason(file_, errno));
        return;
    }
    pending_.resize(0); // keeps its room for what comes next
}

void Recorder::Fail(const QString &error)
{
    flush_.stop();
    file_.close();
    pending_.clear();
    for (OpenFrame &f : frames_) {
        f.open = false;
        f.bytes.clear();
    }
    done_.clear();
    heldBytes_ = 0;
    emit Failed(error);
}

} // namespace ui

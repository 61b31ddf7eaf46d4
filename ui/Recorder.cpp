#include "Recorder.h"

#include "platform/Files.h"
#include "platform/OsSeam.h"
#include "platform/SerialController.h"

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

bool Recorder::Start(const QString &path, Mode mode, QString *error)
{
    Stop();
    if (const QString refused = platform::NotARegularFile(path); !refused.isEmpty()) {
        *error = refused;
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
    Event(QStringLiteral("recording started"));
    return true;
}

void Recorder::Stop()
{
    if (!Active())
        return;
    Event(QStringLiteral("recording stopped"));
    flush_.stop();
    Flush();
    file_.close();
}

void Recorder::Arrival(int channel, Route route, QByteArrayView bytes)
{
    if (!Active())
        return;
    static constexpr const char *kRoutes[] = {"only shown", "> %1", "echoed"};
    // Each byte's "XX " at once.
    static const std::array<std::array<char, 4>, 256> kPairs = [] {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::array<std::array<char, 4>, 256> pairs {};
        for (int b = 0; b < 256; ++b)
            pairs[b] = {kDigits[b >> 4], kDigits[b & 15], ' ', ' '};
        return pairs;
    }();
    // Written straight into what gathers: a flood records at the speed it
    // relays, with no copies of its own.
    StampInto(pending_, clock_());
    pending_ += "  ";
    pending_ += QByteArray::number(channel) + ' ' +
                QByteArray(kRoutes[int(route)]).replace("%1", QByteArray::number(3 - channel));
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
    if (pending_.size() >= kFlushBytes)
        Flush();
}

// "yyyy-MM-dd HH:mm:ss.zzz", the part up to the second made once a second.
void Recorder::StampInto(QByteArray &out, const QDateTime &t)
{
    const qint64 ms = t.toMSecsSinceEpoch();
    const qint64 second = ms / 1000 - (ms % 1000 < 0);
    if (second != stampSecond_ || stampPrefix_.isEmpty()) {
        stampSecond_ = second;
        stampPrefix_ = t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")).toLatin1();
    }
    const int milli = int(ms - second * 1000);
    out += stampPrefix_;
    out += char('0' + milli / 100);
    out += char('0' + milli / 10 % 10);
    out += char('0' + milli % 10);
}

// Events are rare and say most: each is on disk at once.
void Recorder::Event(const QString &text)
{
    if (!Active())
        return;
    StampInto(pending_, clock_());
    pending_ += "  -- " + text.toUtf8() + '\n';
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

void Recorder::DroppedAtRelease(int channel, qint64 bytes, const QString &path)
{
    Event(tr("%1: %2 bytes queued for %3 not delivered: it took none for %4 s after the disconnect")
              .arg(channel)
              .arg(bytes)
              .arg(path)
              .arg(platform::SerialController::kDrainMs / 1000));
}

void Recorder::Linked() { Event(tr("linked")); }
void Recorder::Unlinked() { Event(tr("unlinked")); }
void Recorder::LineChanged(int channel, const QString &line) { Event(tr("%1 line settings: %2").arg(channel).arg(line)); }

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
    emit Failed(error);
}

} // namespace ui

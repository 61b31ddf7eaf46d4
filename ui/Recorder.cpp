#include "Recorder.h"

#include "platform/Files.h"
#include "platform/OsSeam.h"

#include <cerrno>

namespace ui {

namespace {

QByteArray Stamp(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
}

QByteArray Printable(QByteArrayView bytes)
{
    QByteArray out(bytes.size(), '.');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F)
            out[i] = bytes[i];
    return out;
}

} // namespace

Recorder::Recorder(Clock clock, QObject *parent) : QObject(parent), clock_(std::move(clock))
{
    flush_.setInterval(kFlushMs);
    connect(&flush_, &QTimer::timeout, this, &Recorder::Flush);
}

Recorder::~Recorder() { Stop(); }

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
    const QByteArray what = QByteArray::number(channel) + ' ' +
                            QByteArray(kRoutes[int(route)]).replace("%1", QByteArray::number(3 - channel));
    Add(Stamp(clock_()) + "  " + what + "  " + QByteArray(bytes.data(), bytes.size()).toHex(' ').toUpper() + "  " +
        Printable(bytes) + '\n');
}

// Events are rare and say most: each is on disk at once.
void Recorder::Event(const QString &text)
{
    if (!Active())
        return;
    pending_ += Stamp(clock_()) + "  -- " + text.toUtf8() + '\n';
    Flush();
}

void Recorder::Add(const QByteArray &line)
{
    pending_ += line;
    if (pending_.size() >= kFlushBytes)
        Flush();
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
    pending_.clear();
}

void Recorder::Fail(const QString &error)
{
    flush_.stop();
    file_.close();
    pending_.clear();
    emit Failed(error);
}

} // namespace ui

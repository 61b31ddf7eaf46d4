#include "Recorder.h"

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

bool Recorder::Start(const QString &path, QString *error)
{
    Stop();
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *error = file_.errorString();
        return false;
    }
    flush_.start();
    Event(QStringLiteral("recording started"));
    return true;
}

void Recorder::Stop()
{
    if (!file_.isOpen())
        return;
    Event(QStringLiteral("recording stopped"));
    flush_.stop();
    if (file_.isOpen()) {
        file_.flush();
        file_.close();
    }
}

void Recorder::Arrival(int channel, Route route, QByteArrayView bytes)
{
    if (!Active())
        return;
    static constexpr const char *kRoutes[] = {"only shown", "> %1", "echoed"};
    const QByteArray what = QByteArray::number(channel) + ' ' +
                            QByteArray(kRoutes[int(route)]).replace("%1", QByteArray::number(3 - channel));
    Write(Stamp(clock_()) + "  " + what + "  " + QByteArray(bytes.data(), bytes.size()).toHex(' ').toUpper() + "  " +
          Printable(bytes) + '\n');
}

void Recorder::Event(const QString &text)
{
    if (Active())
        Write(Stamp(clock_()) + "  -- " + text.toUtf8() + '\n');
}

void Recorder::Write(const QByteArray &line)
{
    if (file_.write(line) != line.size()) {
        const QString error = file_.errorString();
        flush_.stop();
        file_.close();
        emit Failed(error);
    }
}

void Recorder::Flush()
{
    if (file_.isOpen() && !file_.flush()) {
        const QString error = file_.errorString();
        flush_.stop();
        file_.close();
        emit Failed(error);
    }
}

} // namespace ui

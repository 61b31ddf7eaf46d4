#pragma once
// A text record of both sides: one line per arrival (time to the
// millisecond, channel and route, hex, printable text) and one per event
// (ports opened and closed, unplugs, Link and Unlink). Written as bytes
// arrive and flushed at least once a second; nothing is kept in memory.

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <functional>

namespace ui {

class Recorder : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    static constexpr int kFlushMs = 1000;

    explicit Recorder(Clock clock = &QDateTime::currentDateTime, QObject *parent = nullptr);

    // False with the reason when the file cannot be opened for appending.
    bool Start(const QString &path, QString *error);
    void Stop();
    bool Active() const { return file_.isOpen(); }

    enum class Route { Shown, Forwarded, Echoed };
    void Arrival(int channel, Route route, QByteArrayView bytes);
    void Event(const QString &text);

signals:
    // The file could not be written (disk full, removed): recording stopped.
    void Failed(const QString &error);

private:
    void Write(const QByteArray &line);
    void Flush();

    Clock clock_;
    QFile file_;
    QTimer flush_;
};

} // namespace ui

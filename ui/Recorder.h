#pragma once
// A text record of both sides: one line per arrival (time to the
// millisecond, channel and route, hex, printable text) and one per event
// (ports opened and closed, unplugs, Link and Unlink). Lines gather in
// memory for at most a second (or 64 KiB) and are then written; a file
// that is removed or replaced meanwhile, or a write that fails, stops the
// recording and is reported once through Failed.

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
    static constexpr qsizetype kFlushBytes = 64 * 1024;

    // Stamps with `clock`, or the local time when it is empty.
    explicit Recorder(Clock clock = {}, QObject *parent = nullptr);
    // The local time; the zone is looked up once a second, not each call
    // (the C library reads the zone file each time), as every arrival is
    // stamped.
    static QDateTime LocalNow();
    ~Recorder() override;

    enum class Mode { Append, Replace };
    // False with the reason when the file cannot be opened: only a regular
    // file, new or existing, is written.
    bool Start(const QString &path, Mode mode, QString *error);
    // Writes "recording stopped" and everything still gathered.
    void Stop();
    bool Active() const { return file_.isOpen(); }

    enum class Route { Shown, Forwarded, Echoed };
    void Arrival(int channel, Route route, QByteArrayView bytes);

    // The window's events, each worded here and nowhere else.
    void Connected(int channel, const QString &path, const QString &line);
    void ConnectedSharing(int channel, const QString &path);
    void Disconnected(int channel);
    void Lost(int channel, const QString &reason);
    void Waiting(int channel, const QString &path);
    void Resumed(int channel, const QString &path);
    void ResumedSharing(int channel, const QString &path);
    void GaveUp(int channel, const QString &path);
    void NotDelivered(qint64 bytes, const QString &from, const QString &to);
    void DroppedAtRelease(int channel, qint64 bytes, const QString &path);
    void Linked();
    void Unlinked();
    void LineChanged(int channel, const QString &line);
    void AlsoOpen(int channel, const QString &text, const QString &who);
    void Held(int channel, const QString &text, const QString &detail);
    // Writes what has gathered now, and checks the file is still there.
    void Flush();

signals:
    // The file could not be written (disk full, removed): recording stopped.
    void Failed(const QString &error);

private:
    void Event(const QString &text);
    void StampInto(QByteArray &out, const QDateTime &t);
    void Fail(const QString &error);

    Clock clock_;
    QFile file_;
    QByteArray pending_;
    qint64 stampSecond_ = 0;
    QByteArray stampPrefix_;
    QTimer flush_;
};

} // namespace ui

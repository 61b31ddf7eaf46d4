#pragma once
// A record of both sides: one line per received frame (the time of its
// first byte to the microsecond, channel and route, hex, printable text)
// and one per event (ports opened and closed, unplugs, Link and Unlink);
// or the same as a pcapng capture. What is written gathers in memory for
// at most a second (or 64 KiB); a file that is removed or replaced
// meanwhile, or a write that fails, stops the recording and is reported
// once through Failed.

#include "record/Frames.h"

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <deque>
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
    enum class Format { Text, Capture };
    // A name ending in .pcapng asks for a capture.
    static Format FormatOf(const QString &path);
    // False with the reason when the file cannot be opened: only a regular
    // file, new or existing, is written, and a capture is never appended to.
    bool Start(const QString &path, Mode mode, QString *error);
    // How a channel's capture interface is named now ("/dev/ttyUSB0 9600 8N1").
    using Describer = std::function<QString(int channel)>;
    void SetDescriber(Describer describe) { describe_ = std::move(describe); }
    // Writes "recording stopped" and everything still gathered.
    void Stop();
    bool Active() const { return file_.isOpen(); }

    enum class Route { Shown, Forwarded, Echoed };
    // A read, and where frames begin in it; a frame is written once the
    // next begins, its silence has passed the gap, or an event comes.
    void Arrival(int channel, Route route, QByteArrayView bytes, const platform::ReadFrames &frames);

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
    // Bytes that crossed while the window did not keep up with copying them.
    void NotRecorded(int channel, qint64 bytes);
    void DroppedAtRelease(int channel, qint64 bytes, const QString &path);
    void UnreadAtRelease(int channel, qint64 bytes, const QString &path);
    void Linked();
    void Unlinked();
    void LineChanged(int channel, const QString &line);
    // A port server's answer to the line asked of it; `refusal` says why
    // it did not take it, empty when it did.
    void LineAnswered(int channel, const QString &line, const QString &refusal);
    // The modem lines: their states as a port told them, a break or a
    // line error, and whether they cross the link.
    void LineInputs(int channel, const QString &states);
    void LineSignal(int channel, const QString &what);
    void LinesPass(const QString &mapping);
    void LinesStop();
    void AlsoOpen(int channel, const QString &text, const QString &who);
    void Held(int channel, const QString &text, const QString &detail);
    // Writes what has gathered now, and checks the file is still there.
    void Flush();

signals:
    // The file could not be written (disk full, removed): recording stopped.
    void Failed(const QString &error);

private:
    struct OpenFrame {
        bool open = false;
        Route route = Route::Shown;
        qint64 wallUs = 0; // its first byte
        qint64 lastUs = 0; // monotonic, its last read
        qint64 gapUs = 0;
        QByteArray bytes;
    };
    void Event(const QString &text);
    void Add(int channel, Route route, QByteArrayView piece, qint64 wallUs);
    void WriteFrame(int channel);
    void WriteSilentFrame(int channel);
    void WriteSilentFrames();
    // A frame over, waiting until no open frame began before it.
    struct Done {
        int channel;
        Route route;
        qint64 wallUs;
        QByteArray bytes;
    };
    void WriteDone();
    void WriteFrameLine(const Done &f);
    void WriteFramePacket(const Done &f);
    void StampInto(QByteArray &out, qint64 wallUs);
    void Fail(const QString &error);

    Clock clock_;
    Describer describe_;
    Format format_ = Format::Text;
    OpenFrame frames_[2];
    std::deque<Done> done_; // oldest first
    qint64 heldBytes_ = 0;  // in done_
    static constexpr qint64 kMaxHeldBytes = 256 * 1024;
    // Capture interfaces: each channel's current one and its name, and the events'.
    qint32 interface_[2] = {-1, -1};
    QString interfaceName_[2];
    qint32 interfaces_ = 0;
    qint32 eventInterface_ = -1;
    QFile file_;
    QByteArray pending_;
    qint64 stampSecond_ = 0;
    QByteArray stampPrefix_;
    QTimer flush_;
};

} // namespace ui

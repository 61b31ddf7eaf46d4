#pragma once
// What one channel has received and keeps: the bytes, newest last, and
// where its frames begin. This is what the channel's view shows and Save
// writes; the view shares its bytes rather than copying them.

#include "ByteStore.h"
#include "Frames.h"

#include <span>

namespace platform {

class ReceivedBytes {
public:
    // Past this the oldest bytes go, as a terminal's scrollback.
    static constexpr qsizetype kDefaultKeepBytes = qsizetype(64) << 20;

    explicit ReceivedBytes(qsizetype keepBytes = kDefaultKeepBytes) : keep_(std::max<qsizetype>(1, keepBytes)) {}
    // `frames`: where frames begin in `data`, and when.
    void Append(QByteArrayView data, std::span<const FrameStart> frames = {});
    void Clear();
    void SetKeepBytes(qsizetype keepBytes);
    qsizetype KeepBytes() const { return keep_; }
    // Frames are kept with their bytes, but at most this many: a frame costs
    // 16 bytes, so a flood of one-byte frames lets older bytes go sooner.
    qsizetype MaxFrames() const { return std::max<qsizetype>(1024, keep_ / 128); }

    const ByteStore &Store() const { return store_; }
    const FrameMarks &Frames() const { return frames_; }
    qsizetype Begin() const { return store_.Begin(); }
    qsizetype End() const { return store_.End(); }
    qsizetype Size() const { return store_.Size(); }
    QByteArray Bytes() const { return store_.Bytes(); }
    // Counts Clear()s, so that a view following these bytes sees that it
    // must start anew even when as much has arrived again.
    quint64 Clears() const { return clears_; }

private:
    void Trim();

    ByteStore store_;
    FrameMarks frames_;
    qsizetype keep_;
    quint64 clears_ = 0;
};

} // namespace platform

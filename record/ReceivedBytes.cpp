#include "ReceivedBytes.h"

namespace platform {

void ReceivedBytes::Append(QByteArrayView data, std::span<const FrameStart> frames)
{
    for (const FrameStart &f : frames)
        frames_.push_back({store_.End() + f.offset, f.wallUs});
    store_.Append(data);
    Trim();
}

void ReceivedBytes::Clear()
{
    store_.Clear();
    frames_.clear();
    ++clears_;
}

void ReceivedBytes::SetKeepBytes(qsizetype keepBytes)
{
    keep_ = std::max<qsizetype>(1, keepBytes);
    Trim();
}

void ReceivedBytes::Trim()
{
    const qsizetype tooMany = qsizetype(frames_.size()) - MaxFrames();
    if (store_.Size() <= keep_ && tooMany <= 0)
        return;
    qsizetype begin = std::max(store_.Begin(), store_.End() - keep_);
    if (tooMany > 0)
        begin = std::max(begin, frames_[std::size_t(tooMany)].offset);
    store_.DropBefore(begin);
    while (!frames_.empty() && frames_.front().offset < begin)
        frames_.pop_front();
}

} // namespace platform

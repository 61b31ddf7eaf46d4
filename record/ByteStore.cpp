#include "ByteStore.h"

#include <cstring>

namespace platform {

void ByteStore::Append(QByteArrayView data)
{
    const char *p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const qsizetype in = end_ % kChunkBytes;
        if (in == 0) {
            if (chunks_.empty())
                firstChunk_ = end_ / kChunkBytes;
            chunks_.emplace_back(new char[std::size_t(kChunkBytes)]);
        }
        const qsizetype n = std::min(left, kChunkBytes - in);
        std::memcpy(chunks_.back().get() + in, p, std::size_t(n));
        p += n;
        left -= n;
        end_ += n;
    }
}

bool ByteStore::Follow(const ByteStore &source)
{
    if (end_ == 0) { // new, or cleared
        begin_ = end_ = source.begin_;
        firstChunk_ = begin_ / kChunkBytes;
    }
    if (end_ < source.begin_ || end_ > source.end_)
        return false;
    const qsizetype last = firstChunk_ + qsizetype(chunks_.size()) - 1;
    // The chunk both hold a part of must be the very same one.
    if (end_ % kChunkBytes != 0 && !chunks_.empty() &&
        chunks_.back() != source.chunks_[std::size_t(last - source.firstChunk_)])
        return false;
    for (qsizetype c = std::max(last + 1, end_ / kChunkBytes); c * kChunkBytes < source.end_; ++c) {
        if (chunks_.empty())
            firstChunk_ = c;
        chunks_.push_back(source.chunks_[std::size_t(c - source.firstChunk_)]);
    }
    end_ = source.end_;
    return true;
}

void ByteStore::Clear()
{
    chunks_.clear();
    firstChunk_ = begin_ = end_ = 0;
}

void ByteStore::DropBefore(qsizetype offset)
{
    begin_ = std::clamp(offset, begin_, end_);
    while (!chunks_.empty() && (firstChunk_ + 1) * kChunkBytes <= begin_) {
        chunks_.pop_front();
        ++firstChunk_;
    }
}

QByteArray ByteStore::Mid(qsizetype offset, qsizetype length) const
{
    offset = std::clamp<qsizetype>(offset, begin_, end_);
    length = std::clamp<qsizetype>(length, 0, end_ - offset);
    QByteArray out;
    out.reserve(length);
    ForEachPiece(offset, length, [&](const char *p, qsizetype n) { out.append(p, n); });
    return out;
}

} // namespace platform

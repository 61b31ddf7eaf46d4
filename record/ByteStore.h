#pragma once
// Received bytes in fixed-size chunks.

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>

namespace platform {

// Storage that grows at the end and may let go of its oldest bytes.
// Offsets count every byte ever appended, so an offset names the same byte
// for as long as it is kept: [Begin(), End()). Chunks are shared, so a
// copy is a snapshot that costs no copying of bytes: appends write only
// past the copy's end, and a chunk lives while either holds it. Only the
// store that wrote a chunk appends to it: copies and followers only read.
class ByteStore {
public:
    static constexpr qsizetype kChunkBytes = 64 * 1024;

    void Append(QByteArrayView data);
    // Takes in what `source` holds past End(), sharing its chunks rather
    // than copying them: a view of another's bytes costs no second copy.
    // An empty store starts at source's Begin(). False, and nothing taken,
    // when this store is not a follower of `source` (source was cleared or
    // let go of bytes this one has not yet taken).
    bool Follow(const ByteStore &source);
    void Clear();
    // Lets go of the bytes before `offset`; chunks wholly before it are freed.
    void DropBefore(qsizetype offset);
    qsizetype Begin() const { return begin_; }
    qsizetype End() const { return end_; }
    qsizetype Size() const { return end_ - begin_; }
    std::uint8_t At(qsizetype offset) const { return std::uint8_t(*Locate(offset)); }
    QByteArray Mid(qsizetype offset, qsizetype length) const;
    QByteArray Bytes() const { return Mid(begin_, Size()); }
    // Calls f(const char*, qsizetype) for each contiguous piece of a range.
    template <typename F>
    void ForEachPiece(qsizetype offset, qsizetype length, F &&f) const
    {
        while (length > 0) {
            const qsizetype n = std::min(length, kChunkBytes - offset % kChunkBytes);
            f(Locate(offset), n);
            offset += n;
            length -= n;
        }
    }

private:
    const char *Locate(qsizetype offset) const
    {
        return chunks_[std::size_t(offset / kChunkBytes - firstChunk_)].get() + offset % kChunkBytes;
    }
    std::deque<std::shared_ptr<char[]>> chunks_;
    qsizetype firstChunk_ = 0; // number of chunks_.front() since the first byte
    qsizetype begin_ = 0;
    qsizetype end_ = 0;
};

} // namespace platform

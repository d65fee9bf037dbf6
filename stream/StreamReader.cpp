#include "stream/StreamReader.h"

#include "stream/AlignedBlock.h"
#include "stream/Errors.h"

#include <algorithm>
#include <cstring>

namespace pelbrisk {

TMPStreamReader::TMPStreamReader(int32_t capacity) : capacity_(capacity) {
    MP3Assert(capacity > 0);
}

TMPStreamReader::~TMPStreamReader() {
    Detach();
}

void TMPStreamReader::Attach(TMPStream* stream, bool seekable) {
    MP3Assert(stream != nullptr);
    Detach();
    active_ = true;
    stream_ = stream;
    seekable_ = seekable;
    position_ = 0;
    head_ = 0;
    available_ = 0;
    contiguous_ = 0;
    try {
        buffer_ = AllocateAlignedBlock(capacity_);
        if (seekable) size_ = stream->Size();
    } catch (...) {
        Detach();
        throw;
    }
}

void TMPStreamReader::Detach() {
    if (!active_) return;
    stream_ = nullptr;
    contiguous_ = 0;
    size_ = 0;
    FreeAlignedBlock(buffer_);
    buffer_ = nullptr;
    active_ = false;
}

bool TMPStreamReader::Fill(int32_t count) {
    MP3Assert(active_);
    MP3Assert(count >= 0 && count <= capacity_);
    MP3Assert(buffer_ != nullptr);
    while (available_ < count) {
        int32_t size;
        if (count - available_ >= kReadChunk)
            size = count - available_;
        else if (capacity_ - available_ >= kReadChunk)
            size = kReadChunk;
        else
            size = capacity_ - available_;
        // One read never runs past the ring's end, so it lands in one piece of memory.
        const int32_t writeIndex = (head_ + available_) % capacity_;
        size = std::min(size, capacity_ - writeIndex);
        const int32_t got = stream_->Read(buffer_ + writeIndex, size);
        if (got <= 0) break;
        available_ += got;
    }
    contiguous_ = head_ + available_ > capacity_ ? capacity_ - head_ : available_;
    return available_ >= count;
}

bool TMPStreamReader::Require(int32_t count) {
    if (!Fill(count)) return false;
    if (contiguous_ < count) Linearize();
    MP3Assert(contiguous_ >= count);
    return true;
}

void TMPStreamReader::Linearize() {
    const int32_t wrap = head_ + available_ - capacity_;
    const int32_t tail = capacity_ - head_;
    if (wrap <= 0) {
        std::memmove(buffer_, buffer_ + head_, static_cast<size_t>(available_));
    } else if (head_ > available_) {
        // tail + wrap = Available < Head: the first move cannot reach the tail bytes.
        std::memmove(buffer_ + tail, buffer_, static_cast<size_t>(wrap));
        std::memmove(buffer_, buffer_ + head_, static_cast<size_t>(tail));
    } else {
        // The two pieces overlap once moved; rotating the whole ring in place brings the tail
        // to the front and the wrapped bytes behind it without a temporary block.
        std::rotate(buffer_, buffer_ + head_, buffer_ + capacity_);
    }
    head_ = 0;
    contiguous_ = available_;
}

bool TMPStreamReader::ReadAhead() {
    MP3Assert(active_);
    if (available_ == capacity_) return false;
    return Fill(available_ + std::min(capacity_ - available_, kReadChunk));
}

void TMPStreamReader::ConsumeBuffered(int32_t count) {
    available_ -= count;
    head_ = (head_ + count) % capacity_;
    position_ += count;
}

void TMPStreamReader::EmptyRing() {
    head_ = 0;
    available_ = 0;
    contiguous_ = 0;
}

bool TMPStreamReader::Skip(int32_t count) {
    MP3Assert(active_);
    MP3Assert(count >= 0);
    if (count <= available_) {
        ConsumeBuffered(count);
        return true;
    }
    if (seekable_) {
        if (static_cast<int64_t>(position_) + count <= size_) {
            Seek(position_ + count, msoFromBeginning);
            return true;
        }
        Seek(0, msoFromEnd);
        return false;
    }
    int32_t remaining = count;
    for (;;) {
        if (!Fill(1)) return false;
        Fill(capacity_);
        if (remaining <= available_) {
            ConsumeBuffered(remaining);
            return true;
        }
        remaining -= available_;
        position_ += available_;
        available_ = 0;
        head_ = 0;
    }
}

int32_t TMPStreamReader::Seek(int32_t offset, int32_t origin) {
    MP3Assert(active_);
    MP3Assert(seekable_);
    // The stream stands Available bytes beyond the logical position.
    const int32_t streamOffset =
        origin == msoFromCurrent ? static_cast<int32_t>(static_cast<int64_t>(offset) - available_)
                                 : offset;
    position_ = stream_->Seek(streamOffset, origin);
    EmptyRing();
    return position_;
}

} // namespace pelbrisk

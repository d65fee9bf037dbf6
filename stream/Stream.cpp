#include "stream/Stream.h"

#include "stream/Errors.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelbrisk {

namespace {

[[noreturn]] void RaiseSystemError(const std::string& context, int error) {
    throw EMP3Error(context + ". " + std::strerror(error));
}

int32_t CheckedPosition(int64_t position) {
    if (position < 0 || position > INT32_MAX)
        throw EMP3Error("Stream position out of range (" + std::to_string(position) + ")");
    return static_cast<int32_t>(position);
}

int32_t ReadDescriptor(int descriptor, void* destination, int32_t count, const char* context) {
    if (count <= 0) return 0;
    for (;;) {
        const ssize_t got = ::read(descriptor, destination, static_cast<size_t>(count));
        if (got >= 0) return static_cast<int32_t>(got);
        if (errno != EINTR) RaiseSystemError(context, errno);
    }
}

} // namespace

TMPFileStream::TMPFileStream(const std::string& fileName) : fileName_(fileName) {
    descriptor_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0) RaiseSystemError("Cannot open file \"" + fileName + "\"", errno);
    struct stat status {};
    if (::fstat(descriptor_, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(descriptor_);
        RaiseSystemError("Cannot open file \"" + fileName + "\"", EISDIR);
    }
    if (::flock(descriptor_, LOCK_SH | LOCK_NB) != 0) {
        const int error = errno;
        // File systems without locks still let us read; only a writer's lock refuses us.
        if (error == EWOULDBLOCK) {
            ::close(descriptor_);
            RaiseSystemError("Cannot open file \"" + fileName + "\"", error);
        }
    }
}

TMPFileStream::~TMPFileStream() {
    ::close(descriptor_);
}

int32_t TMPFileStream::Read(void* destination, int32_t count) {
    return ReadDescriptor(descriptor_, destination, count, "Stream read error");
}

int32_t TMPFileStream::Seek(int32_t offset, int32_t origin) {
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin < 0 || origin > 2) RaiseSystemError("Stream seek error", EINVAL);
    const off_t position = ::lseek(descriptor_, offset, kWhence[origin]);
    if (position < 0) RaiseSystemError("Stream seek error", errno);
    return CheckedPosition(position);
}

int32_t TMPFileStream::Size() {
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0) RaiseSystemError("Stream size error", errno);
    if (status.st_size > INT32_MAX)
        throw EMP3Error("File \"" + fileName_ + "\" is larger than 2 GiB");
    return static_cast<int32_t>(status.st_size);
}

TMPMemoryStream::TMPMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    if (bytes_.size() > static_cast<size_t>(INT32_MAX))
        throw EMP3Error("Memory stream larger than 2 GiB");
}

TMPMemoryStream::TMPMemoryStream(const uint8_t* bytes, size_t count)
    : TMPMemoryStream(std::vector<uint8_t>(bytes, bytes + count)) {}

int32_t TMPMemoryStream::Read(void* destination, int32_t count) {
    const int64_t size = static_cast<int64_t>(bytes_.size());
    if (count <= 0 || position_ >= size) return 0;
    const int32_t taken = static_cast<int32_t>(std::min<int64_t>(count, size - position_));
    std::memcpy(destination, bytes_.data() + position_, static_cast<size_t>(taken));
    position_ += taken;
    return taken;
}

int32_t TMPMemoryStream::Seek(int32_t offset, int32_t origin) {
    int64_t base = 0;
    switch (origin) {
    case msoFromBeginning:
        break;
    case msoFromCurrent:
        base = position_;
        break;
    case msoFromEnd:
        base = static_cast<int64_t>(bytes_.size());
        break;
    default:
        RaiseSystemError("Stream seek error", EINVAL);
    }
    position_ = CheckedPosition(base + offset);
    return static_cast<int32_t>(position_);
}

int32_t TMPMemoryStream::Size() {
    return static_cast<int32_t>(bytes_.size());
}

TMPPipeStream::TMPPipeStream(int descriptor, bool ownsDescriptor)
    : descriptor_(descriptor), ownsDescriptor_(ownsDescriptor) {}

TMPPipeStream::~TMPPipeStream() {
    if (ownsDescriptor_) ::close(descriptor_);
}

int32_t TMPPipeStream::Read(void* destination, int32_t count) {
    return ReadDescriptor(descriptor_, destination, count, "Stream read error");
}

int32_t TMPPipeStream::Seek(int32_t, int32_t) {
    throw EMP3Error("Stream seek error. The stream cannot seek");
}

int32_t TMPPipeStream::Size() {
    throw EMP3Error("Stream size error. The stream has no size");
}

} // namespace pelbrisk

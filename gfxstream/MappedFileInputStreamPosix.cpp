#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "gfxstream/Exception.h"
#include "gfxstream/MappedFileInputStream.h"
#include "gfxstream/MappedViewGuard.h"

namespace GFXStream {

namespace {
// Pages already read are released in steps of this size, so that a large
// file does not stay resident once it has been decoded.
constexpr std::size_t kReleaseStep = std::size_t{8} << 20;

std::size_t PageSize() {
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

MappedFileInputStream::~MappedFileInputStream() {
    Close();
}

bool MappedFileInputStream::Open(const char* fileName) {
    if (IsOpen() || fileName == nullptr) {
        return false;
    }
    // Without O_NONBLOCK, opening a FIFO would wait for a writer for ever.
    int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat named {};
    if (fd < 0 && errno == EWOULDBLOCK && ::stat(fileName, &named) == 0 && S_ISREG(named.st_mode)) {
        // A regular file another program holds a lease on: its open waits,
        // for a bounded time, until that program lets go.
        fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<std::uint64_t>(info.st_size) > SIZE_MAX) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    ::madvise(view, size, MADV_SEQUENTIAL);
    fileHandle = fd;
    mappedSize = size;
    SetRange(static_cast<const std::uint8_t*>(view), size);
    retainedFrom = viewBase;
    guard = GuardView(view, size);
    return true;
}

void MappedFileInputStream::Consumed() {
    if (ViewLost(guard)) {
        throw Exception(kFileChangedText);
    }
    if (static_cast<std::size_t>(position - retainedFrom) < kReleaseStep) {
        return;
    }
    // Hand back whole pages that lie entirely behind the read position.
    const auto offset = static_cast<std::size_t>(position - viewBase);
    const std::size_t releaseEnd = offset - offset % PageSize();
    const auto releaseStart = static_cast<std::size_t>(retainedFrom - viewBase);
    if (releaseEnd > releaseStart) {
        ::madvise(const_cast<std::uint8_t*>(retainedFrom), releaseEnd - releaseStart,
                  MADV_DONTNEED);
        retainedFrom = viewBase + releaseEnd;
    }
}

void MappedFileInputStream::Close() {
    if (!IsOpen()) {
        return;
    }
    ReleaseGuard(guard);
    guard = nullptr;
    ::munmap(const_cast<std::uint8_t*>(viewBase), mappedSize);
    ::close(fileHandle);
    fileHandle = kInvalidFileHandle;
    mappedSize = 0;
    // Reads after Close report the end of the data instead of touching the
    // released view.
    ClearRange();
    retainedFrom = nullptr;
}

}  // namespace GFXStream

#include <unistd.h>

#include <cerrno>

#include "files/FileCopy.h"

namespace Files {

std::int64_t ReadSomeAt(FileHandle file, std::uint64_t offset, std::uint8_t* buffer,
                        std::size_t n) {
    for (;;) {
        const ssize_t read = ::pread(file, buffer, n, static_cast<off_t>(offset));
        if (read >= 0 || errno != EINTR) {
            return read;
        }
    }
}

std::int64_t CopySome(FileHandle from, std::uint64_t offset, FileHandle to, std::size_t n) {
    auto at = static_cast<off_t>(offset);
    for (;;) {
        const ssize_t copied = ::copy_file_range(from, &at, to, nullptr, n, 0);
        if (copied >= 0) {
            return copied;
        }
        switch (errno) {
            case EINTR:
                continue;
            // Files on different file systems, a file system or kernel
            // without the call, or files it will not copy between.
            case EXDEV:
            case EINVAL:
            case ENOSYS:
            case EOPNOTSUPP:
                return kCopyNotSupported;
            default:
                return -1;
        }
    }
}

}  // namespace Files

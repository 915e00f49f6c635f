#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <system_error>

#include "files/FileCopy.h"
#include "files/FileSystem.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MappedFileInputStream.h"
#include "gfxstream/MappedViewGuard.h"
#include "gfxstream/PageOffset.h"

namespace GFXStream {

namespace {
std::size_t PageSize() {
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

MappedFileInputStream::~MappedFileInputStream() {
    Close();
}

bool MappedFileInputStream::Open(const char* fileName, const Files::KnownDestination* known,
                                 Files::FolderCache* folders) {
    if (IsOpen()) {
        return false;
    }
    Files::OpenedInput opened = Files::OpenInput(fileName, known, folders);
    whyNot = std::move(opened.whyNot);
    if (opened.file == Files::kInvalidFileHandle) {
        return false;
    }
    asOpened = opened;
    fileHandle = opened.file;
    fileSize = opened.size;
    if (fileSize <= kReadWholeUpTo) {
        if (ReadWhole()) {
            return true;
        }
        whyNot = std::generic_category().message(errno);
        Close();
        return false;
    }
    // Often only the header, image ID and colour map are read through the
    // first window (the pixels go by position), so its pages come in as they
    // are read rather than all at once.
    if (!MapWindow(0, false)) {
        whyNot = std::generic_category().message(errno);
        ::close(fileHandle);
        fileHandle = Files::kInvalidFileHandle;
        asOpened = {};
        return false;
    }
    return true;
}

bool MappedFileInputStream::MapWindow(std::uint64_t start, bool populate) {
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, fileSize - start));
    // A window the reader moves to is read on from there, so its pages are
    // mapped in one call rather than fault by fault.
    // The old window goes first, so that at most one is ever resident.
    UnmapWindow();
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | (populate ? MAP_POPULATE : 0),
                        fileHandle, static_cast<off_t>(start));
    if (view == MAP_FAILED) {
        ClearRange();
        return false;
    }
    mappedView = view;
    mappedSize = length;
    guard = GuardView(view, length);
    SetWindow(static_cast<const std::uint8_t*>(view), length, start, fileSize);
    return true;
}

bool MappedFileInputStream::ReadWhole() {
    if (!whole) {
        // A page more, so that the file starts on one (see PageOffset.h).
        whole.reset(new (std::nothrow) std::uint8_t[kReadWholeUpTo + kPageSize]);
        if (!whole) {
            errno = ENOMEM;
            return false;
        }
    }
    std::uint8_t* const start = AtPageOffset(whole.get(), 0);
    const auto size = static_cast<std::size_t>(fileSize);
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t read = Files::ReadSomeAt(fileHandle, done, start + done, size - done);
        if (read < 0) {
            return false;
        }
        if (read == 0) {
            break;
        }
        done += static_cast<std::size_t>(read);
    }
    cutShort = done < size;
    std::fill(start + done, start + size, std::uint8_t{0});
    readWhole = true;
    SetRange(start, size);
    return true;
}

void MappedFileInputStream::UnmapWindow() {
    if (mappedView != nullptr) {
        ReleaseGuard(guard);
        guard = nullptr;
        ::munmap(mappedView, mappedSize);
        mappedView = nullptr;
        mappedSize = 0;
    }
}

void MappedFileInputStream::MoveWindow(std::uint64_t offset, std::size_t n, bool backward) {
    if (ViewLost(guard)) {
        throw Exception(kFileChangedText);
    }
    if (!MapWindow(WindowStart(offset, n, backward, PageSize()), true)) {
        throw std::bad_alloc();
    }
}

void MappedFileInputStream::Consumed() {
    if (cutShort || ViewLost(guard)) {
        throw Exception(kFileChangedText);
    }
}

void MappedFileInputStream::Close() {
    if (!IsOpen()) {
        return;
    }
    UnmapWindow();
    ::close(fileHandle);
    fileHandle = Files::kInvalidFileHandle;
    asOpened = {};
    fileSize = 0;
    readWhole = false;
    cutShort = false;
    // Reads after Close report the end of the data instead of touching the
    // released view.
    ClearRange();
}

}  // namespace GFXStream

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
#include "gfxstream/PositionalFileInputStream.h"

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

bool MappedFileInputStream::Open(const char* fileName, std::uint64_t wholeUpTo) {
    if (IsOpen()) {
        return false;
    }
    Files::OpenedInput opened = Files::OpenInput(fileName);
    whyNot = std::move(opened.whyNot);
    if (opened.file == Files::kInvalidFileHandle) {
        return false;
    }
    fileHandle = opened.file;
    fileSize = opened.size;
    if (ReadsWhole(fileSize, wholeUpTo)) {
        // Nothing in view: the first read brings the whole file in.
        wholeSize = fileSize;
        SetWindow(nullptr, 0, 0, fileSize);
        return true;
    }
    // Often only the header, image ID and colour map are read through the
    // first window (the pixels go by position), so its pages come in as they
    // are read rather than all at once.
    if (!MapWindow(0, false)) {
        whyNot = std::generic_category().message(errno);
        ::close(fileHandle);
        fileHandle = Files::kInvalidFileHandle;
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

void MappedFileInputStream::UnmapWindow() {
    if (mappedView != nullptr) {
        ReleaseGuard(guard);
        guard = nullptr;
        ::munmap(mappedView, mappedSize);
        mappedView = nullptr;
        mappedSize = 0;
    }
}

void MappedFileInputStream::ReadWhole() {
    const auto size = static_cast<std::size_t>(wholeSize);
    if (wholeCapacity < size) {
        whole.reset();
        wholeCapacity = 0;
        whole = std::make_unique_for_overwrite<std::uint8_t[]>(size);
        wholeCapacity = size;
    }
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t read =
            Files::ReadSomeAt(fileHandle, done, whole.get() + done, size - done);
        if (read < 0) {
            throw Exception(kUnableToReadText);
        }
        if (read == 0) {
            throw Exception(kFileChangedText);  // cut short since it was opened
        }
        done += static_cast<std::size_t>(read);
    }
    SetWindow(whole.get(), size, 0, wholeSize);
}

void MappedFileInputStream::MoveWindow(std::uint64_t offset, std::size_t n, bool backward) {
    if (wholeSize != 0) {
        ReadWhole();
        return;
    }
    if (ViewLost(guard)) {
        throw Exception(kFileChangedText);
    }
    if (!MapWindow(WindowStart(offset, n, backward, PageSize()), true)) {
        throw std::bad_alloc();
    }
}

void MappedFileInputStream::Consumed() {
    if (ViewLost(guard)) {
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
    fileSize = 0;
    wholeSize = 0;
    // Reads after Close report the end of the data instead of touching the
    // released view.
    ClearRange();
}

}  // namespace GFXStream
